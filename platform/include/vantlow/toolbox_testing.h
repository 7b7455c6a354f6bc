/* Test seams of the small Carbon services (keyboard, aliases): what a test
 * sets in place of user input. Production code never calls these. */
#ifndef VANTLOW_TOOLBOX_TESTING_H
#define VANTLOW_TOOLBOX_TESTING_H

#include <Carbon/Keyboard.h>

VP_EXTERN_C_BEGIN

/* Holds exactly the keys set in keys (KeyMap byte layout: key k is bit
 * (k mod 8) of byte (k div 8)) until the next call; GetKeys reports them
 * together with the cancel latch. Null releases every key. */
VP_EXPORT void VPTestSetKeyMap(const KeyMapByteArray keys) VP_NOEXCEPT;

/* Presses (down true) or releases one key by its virtual key code, keeping the
 * others; codes above 127 are ignored. */
VP_EXPORT void VPTestSetKeyDown(UInt16 keyCode, Boolean down) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
