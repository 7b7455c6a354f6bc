// The autorelease pool: a process-wide stack of pools that take over
// CoreFoundation objects whose lifetime is one call from the host, and
// release them together when the pool is disposed. Creating a pool pushes
// it, disposing it pops it; an object always goes to the pool on top. Used
// from the host's main thread only (nothing is locked).
#pragma once

#include <CoreFoundation/CoreFoundation.h>

// One pool as its creator holds it. The stack holds the only reference to
// `array`, which lives exactly as long as it stays on the stack.
typedef struct MyCFAutoreleasePool {
  CFMutableArrayRef array; // lent: owned by the stack
} MyCFAutoreleasePool;

// Makes a new pool and makes it the current one. Null when the stack, the
// pool's array or the record cannot be made (a line is logged for the
// first two). A pool that was made must be disposed with
// MyCFAutoreleasePoolDispose, in the reverse order of creation.
MyCFAutoreleasePool *MyCFAutoreleasePoolCreate(void);

// Disposes the pool on top of the stack: every object handed to it is
// released once per hand-over, and the record is freed. A pool that is not
// the one on top is left alone (nothing released, the record kept) and the
// line "illegal dispose" is logged. Null does nothing.
void MyCFAutoreleasePoolDispose(MyCFAutoreleasePool *pool);

// Hands the caller's reference to obj over to the current pool and returns
// obj, valid until that pool is disposed. Null gives null, silently.
// Without a current pool, obj comes back untouched and still belongs to the
// caller (a line is logged). When the pool cannot take the object because
// memory ran out, the caller's reference is released and null is returned,
// as if the object had never been made: use only the returned pointer.
CFTypeRef MyCFAutorelease(CFTypeRef obj);
