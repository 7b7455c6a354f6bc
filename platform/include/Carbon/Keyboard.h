/* The keyboard state the plug-in polls while it works: GetKeys, and the
 * process-wide cancel latch that stands in for "a cancel key is held".
 *
 * There is no physical keyboard to read on Linux, so a host watches its own
 * input (a lone Escape, Ctrl-C or Ctrl-period on a terminal, key events on a
 * desktop) and sets the latch; while it is set GetKeys reports Escape (virtual
 * key code 53) held. A host clears the latch before each call into a plug-in.
 * Tests can also hold any keys through vantlow/toolbox_testing.h. */
#ifndef VANTLOW_CARBON_KEYBOARD_H
#define VANTLOW_CARBON_KEYBOARD_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* 128 keys, one bit each: the key with virtual key code k is bit (k mod 8)
 * of byte (k div 8). KeyMap is declared as four words so that it keeps its
 * traditional type; its 16 bytes are always filled in the byte layout above,
 * which is why callers should look at it through KeyMapByteArray. */
typedef UInt8 KeyMapByteArray[16];
typedef UInt32 KeyMap[4];

/* Fills all 16 bytes of theKeys with the keys held now: Escape while the
 * cancel latch is set, plus the keys a test holds. Null is ignored. */
VP_EXPORT void GetKeys(KeyMap theKeys) VP_NOEXCEPT;

/* The cancel latch. All three are async-signal-safe and thread-safe (one
 * lock-free atomic flag): a host may set the latch from a SIGINT handler or
 * from a thread that reads the terminal while the plug-in works. */
VP_EXPORT void VPCancelLatchSet(void) VP_NOEXCEPT;
VP_EXPORT void VPCancelLatchClear(void) VP_NOEXCEPT;
VP_EXPORT Boolean VPCancelLatchIsSet(void) VP_NOEXCEPT;

/* A host that can read the keyboard itself while a calculation blocks its
 * event loop (a desktop host asking the display server whether Escape is
 * down) registers a provider: GetKeys then calls it, on the thread that
 * calls GetKeys, and when it answers true sets the cancel latch, so the
 * cancel holds until the host clears the latch even after the key is
 * released. Null removes the provider. The provider must not call GetKeys. */
typedef Boolean (*VPKeyStateProvider)(void);
VP_EXPORT void VPKeyStateSetProvider(VPKeyStateProvider provider) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
