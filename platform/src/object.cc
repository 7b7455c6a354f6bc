// Reference counting, equality, hashing and descriptions for every object.
#include "object.h"

#include <cstdio>

#include <vantlow/platform_testing.h>

#include "one_thread.h"

namespace {
std::atomic<long> gLiveObjects{0};
constexpr CFIndex kImmortalCount = 0x7fffffff;
} // namespace

namespace vp {

Object::Object() noexcept { CountAdd(gLiveObjects, 1L); }

Object::~Object() {
  if (!immortal_) CountAdd(gLiveObjects, -1L);
}

void Object::MakeImmortal() noexcept {
  if (immortal_) return;
  immortal_ = true;
  refs = kImmortalCount;
  CountAdd(gLiveObjects, -1L);
}

String16 Object::Describe() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "<object %p, type %lu>", static_cast<const void *>(this),
                TypeID());
  String16 out;
  for (const char *c = buf; *c; ++c) out.push_back(static_cast<char16_t>(*c));
  return out;
}

void *Object::operator new(std::size_t size) {
  void *p = Allocate(size);
  if (!p) throw std::bad_alloc();
  return p;
}

void Object::operator delete(void *p) noexcept { Free(p); }

} // namespace vp

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) noexcept {
  if (!cf) return nullptr;
  const vp::Object *o = vp::AsObject(cf);
  if (!o->immortal()) vp::CountAdd<CFIndex>(const_cast<vp::Object *>(o)->refs, 1);
  return cf;
}

void CFRelease(CFTypeRef cf) noexcept {
  if (!cf) return;
  vp::Object *o = const_cast<vp::Object *>(vp::AsObject(cf));
  if (o->immortal()) return;
  if (vp::CountAdd<CFIndex>(o->refs, -1, std::memory_order_acq_rel) == 1) delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) noexcept {
  return cf ? vp::AsObject(cf)->refs.load(std::memory_order_relaxed) : 0;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) noexcept {
  if (cf1 == cf2) return true;
  if (!cf1 || !cf2) return false;
  const vp::Object *a = vp::AsObject(cf1);
  const vp::Object *b = vp::AsObject(cf2);
  if (a->TypeID() != b->TypeID()) return false;
  return a->Equal(*b);
}

CFHashCode CFHash(CFTypeRef cf) noexcept { return cf ? vp::AsObject(cf)->Hash() : 0; }

CFTypeID CFGetTypeID(CFTypeRef cf) noexcept { return cf ? vp::AsObject(cf)->TypeID() : 0; }

long VPLiveObjectCount(void) noexcept { return gLiveObjects; }

} // extern "C"
