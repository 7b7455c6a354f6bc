// CFSet: distinct elements found by equality, kept in insertion order.
// Adding either completes or leaves the set as it was: room is made before
// the element is retained.
#include "cf_collection_internal.h"

struct __CFSet final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDSet;

  __CFSet(const vp::ElementCallbacks &cb, CFIndex cap) noexcept : table(cb), capacity(cap) {}
  ~__CFSet() override {
    for (const vp::HashEntry &e : table.entries())
      table.keyCallbacks().Release(e.key);
  }

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    return table.SameEntries(static_cast<const __CFSet &>(other).table, nullptr);
  }
  CFHashCode Hash() const noexcept override { return table.size(); }
  vp::String16 Describe() const override { return table.Describe(nullptr); }

  vp::HashTable table; // keys only; the value field is unused
  CFIndex capacity;    // 0 means unbounded
};

extern "C" {

CFTypeID CFSetGetTypeID(void) noexcept {
  return vp::kTypeIDSet;
}

CFMutableSetRef CFSetCreateMutable(CFAllocatorRef, CFIndex capacity,
                                   const CFSetCallBacks *callBacks) noexcept {
  if (capacity < 0) return nullptr;
  return vp::Edge<CFMutableSetRef>(
      nullptr, [&] { return new __CFSet(vp::ElementCallbacks::From(callBacks), capacity); });
}

CFIndex CFSetGetCount(CFSetRef theSet) noexcept {
  const __CFSet *s = vp::Cast<__CFSet>(theSet);
  return s ? static_cast<CFIndex>(s->table.size()) : 0;
}

void CFSetAddValue(CFMutableSetRef theSet, const void *value) noexcept {
  __CFSet *s = vp::CastMutable<__CFSet>(theSet);
  if (!s) return;
  const vp::ElementCallbacks &cb = s->table.keyCallbacks();
  if (cb.Refuses(value)) return;
  CFHashCode hash = cb.Hash(value);
  if (s->table.Find(value, hash) >= 0) return;
  if (s->capacity > 0 && s->table.size() >= static_cast<std::size_t>(s->capacity)) return;
  vp::EdgeVoid([&] {
    s->table.Reserve(s->table.size() + 1);
    s->table.AppendReserved(vp::HashEntry{hash, cb.Retain(value), nullptr});
  });
}

Boolean CFSetContainsValue(CFSetRef theSet, const void *value) noexcept {
  const __CFSet *s = vp::Cast<__CFSet>(theSet);
  return s && s->table.Find(value) >= 0;
}

void CFSetRemoveValue(CFMutableSetRef theSet, const void *value) noexcept {
  __CFSet *s = vp::CastMutable<__CFSet>(theSet);
  if (!s) return;
  std::ptrdiff_t at = s->table.Find(value);
  if (at < 0) return;
  const void *gone = s->table.entries()[static_cast<std::size_t>(at)].key;
  s->table.Erase(static_cast<std::size_t>(at));
  s->table.keyCallbacks().Release(gone); // once the set no longer holds it
}

void CFSetGetValues(CFSetRef theSet, const void **values) noexcept {
  const __CFSet *s = vp::Cast<__CFSet>(theSet);
  if (!s || !values) return;
  std::size_t i = 0;
  for (const vp::HashEntry &e : s->table.entries())
    values[i++] = e.key;
}

} // extern "C"
