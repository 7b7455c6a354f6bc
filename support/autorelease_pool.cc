// The autorelease pool stack. sPools is one CFMutableArray of pool arrays,
// made on first use and kept for the life of the process; the last element
// is the current pool. Each pool array holds one reference to an object per
// time the object was handed over, so removing the array from the stack
// releases everything in it.
#include "autorelease_pool.h"

#include <cstdlib>

#include "log.h"

namespace {

CFMutableArrayRef sPools = nullptr;

CFMutableArrayRef GetPools() {
  if (sPools) return sPools;
  sPools = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  if (!sPools) MyLogMessage("MyCFAutoreleasePool GetPools() cannot alloc data\n");
  return sPools;
}

CFMutableArrayRef GetCurrentPool() {
  CFMutableArrayRef pools = GetPools();
  if (!pools) return nullptr;
  CFIndex count = CFArrayGetCount(pools);
  if (count > 0) {
    return static_cast<CFMutableArrayRef>(
        const_cast<void *>(CFArrayGetValueAtIndex(pools, count - 1)));
  }
  MyLogMessage("MyCFAutoreleasePool GetCurrentPool: no pool\n");
  return nullptr;
}

void RemoveCurrentPool() {
  CFMutableArrayRef pools = GetPools();
  if (!pools) return;
  CFIndex count = CFArrayGetCount(pools);
  if (count > 0) {
    CFArrayRemoveValueAtIndex(pools, count - 1);
  } else {
    MyLogMessage("MyCFAutoreleasePool RemoveCurrentPool: no pool\n");
  }
}

} // namespace

MyCFAutoreleasePool *MyCFAutoreleasePoolCreate(void) {
  CFMutableArrayRef pools = GetPools();
  if (!pools) return nullptr;
  MyCFAutoreleasePool *pool =
      static_cast<MyCFAutoreleasePool *>(calloc(1, sizeof(MyCFAutoreleasePool)));
  if (!pool) return nullptr;
  CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  // Pushing can run out of memory too; a pool that is not on the stack
  // would be destroyed by the release below while the record still named
  // it, so that case is the same failure as an array that cannot be made.
  if (!array || !VPArrayAppendValue(pools, array)) {
    if (array) CFRelease(array);
    MyLogMessage("MyCFAutoreleasePoolCreate: cannot alloc data\n");
    free(pool);
    return nullptr;
  }
  CFRelease(array); // the stack now holds the only reference
  pool->array = array;
  return pool;
}

void MyCFAutoreleasePoolDispose(MyCFAutoreleasePool *pool) {
  if (!pool) return;
  CFMutableArrayRef current = GetCurrentPool();
  if (pool->array && pool->array == current) {
    RemoveCurrentPool();
    free(pool);
  } else {
    MyLogMessage("MyCFAutoreleasePoolDispose: illegal dispose\n");
  }
}

CFTypeRef MyCFAutorelease(CFTypeRef obj) {
  if (!obj) return nullptr;
  CFMutableArrayRef current = GetCurrentPool();
  if (!current) return obj;
  bool taken = VPArrayAppendValue(current, obj);
  // Either the pool holds its own reference now, or it could not take one:
  // in both cases the caller's reference goes. Handing back an object that
  // nothing keeps alive past this call would leave the caller a dangling
  // pointer, so a refused object reads as one that could not be made.
  CFRelease(obj);
  return taken ? obj : nullptr;
}
