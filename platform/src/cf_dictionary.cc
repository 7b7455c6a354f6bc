// CFDictionary: key-value pairs found by key equality, kept in insertion
// order. Keys and values go through their own callbacks. Every mutation
// either completes or leaves the dictionary as it was: room is made before
// anything is retained.
#include "cf_collection_internal.h"

struct __CFDictionary final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDDictionary;

  __CFDictionary(const vp::ElementCallbacks &keyCb, const vp::ElementCallbacks &valueCb,
                 bool isMutable, CFIndex cap) noexcept
      : values(valueCb), table(keyCb), mutable_(isMutable), capacity(cap) {}
  ~__CFDictionary() override {
    for (const vp::HashEntry &e : table.entries()) {
      table.keyCallbacks().Release(e.key);
      values.Release(e.value);
    }
  }

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    return table.SameEntries(static_cast<const __CFDictionary &>(other).table, &values);
  }
  CFHashCode Hash() const noexcept override { return table.size(); }
  vp::String16 Describe() const override { return table.Describe(&values); }

  // Adds the pair, or with `replace` replaces the value of an equal key
  // already present (the key already held is kept). Throws std::bad_alloc
  // with the dictionary unchanged.
  void Put(const void *key, const void *value, bool replace) {
    const vp::ElementCallbacks &keys = table.keyCallbacks();
    if (keys.Refuses(key) || values.Refuses(value)) return;
    CFHashCode hash = keys.Hash(key);
    std::ptrdiff_t at = table.Find(key, hash);
    if (at >= 0) {
      if (!replace) return;
      vp::HashEntry &e = table.at(static_cast<std::size_t>(at));
      const void *old = e.value;
      e.value = values.Retain(value); // before the release: they may be the same
      values.Release(old);
      return;
    }
    if (capacity > 0 && table.size() >= static_cast<std::size_t>(capacity)) return;
    table.Reserve(table.size() + 1);
    table.AppendReserved(vp::HashEntry{hash, keys.Retain(key), values.Retain(value)});
  }

  vp::ElementCallbacks values;
  vp::HashTable table;
  bool mutable_;
  CFIndex capacity; // mutable dictionaries: 0 means unbounded
};

namespace {

__CFDictionary *Mutable(CFMutableDictionaryRef dict) noexcept {
  __CFDictionary *d = vp::CastMutable<__CFDictionary>(dict);
  return d && d->mutable_ ? d : nullptr;
}

// A new dictionary with the given callbacks, holding a copy of `from`'s
// pairs when given. Throws std::bad_alloc (nothing is then retained).
__CFDictionary *NewDictionary(const vp::ElementCallbacks &keyCb,
                              const vp::ElementCallbacks &valueCb, bool isMutable, CFIndex capacity,
                              const __CFDictionary *from) {
  vp::Ref<__CFDictionary> made(new __CFDictionary(keyCb, valueCb, isMutable, capacity));
  __CFDictionary *d = const_cast<__CFDictionary *>(made.get());
  if (from) {
    d->table.Reserve(from->table.size());
    for (const vp::HashEntry &e : from->table.entries())
      d->table.AppendReserved(vp::HashEntry{e.hash, keyCb.Retain(e.key), valueCb.Retain(e.value)});
  }
  return const_cast<__CFDictionary *>(made.release());
}

} // namespace

extern "C" {

CFTypeID CFDictionaryGetTypeID(void) noexcept {
  return vp::kTypeIDDictionary;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void **keys, const void **values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks) noexcept {
  if (numValues < 0 || (numValues > 0 && (!keys || !values))) return nullptr;
  vp::ElementCallbacks keyCb = vp::ElementCallbacks::From(keyCallBacks);
  vp::ElementCallbacks valueCb = vp::ElementCallbacks::From(valueCallBacks);
  for (CFIndex i = 0; i < numValues; ++i)
    if (keyCb.Refuses(keys[i]) || valueCb.Refuses(values[i])) return nullptr;
  return vp::Edge<CFDictionaryRef>(nullptr, [&]() -> CFDictionaryRef {
    vp::Ref<__CFDictionary> made(NewDictionary(keyCb, valueCb, false, 0, nullptr));
    __CFDictionary *d = const_cast<__CFDictionary *>(made.get());
    d->table.Reserve(static_cast<std::size_t>(numValues));
    // A key given twice keeps the value given last, as repeated
    // CFDictionarySetValue calls would.
    for (CFIndex i = 0; i < numValues; ++i)
      d->Put(keys[i], values[i], true);
    return made.release();
  });
}

CFMutableDictionaryRef
CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                          const CFDictionaryKeyCallBacks *keyCallBacks,
                          const CFDictionaryValueCallBacks *valueCallBacks) noexcept {
  if (capacity < 0) return nullptr;
  return vp::Edge<CFMutableDictionaryRef>(nullptr, [&] {
    return NewDictionary(vp::ElementCallbacks::From(keyCallBacks),
                         vp::ElementCallbacks::From(valueCallBacks), true, capacity, nullptr);
  });
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex capacity,
                                                     CFDictionaryRef theDict) noexcept {
  const __CFDictionary *from = vp::Cast<__CFDictionary>(theDict);
  if (!from || capacity < 0) return nullptr;
  // A bound smaller than the pairs to copy cannot be honoured.
  if (capacity > 0 && from->table.size() > static_cast<std::size_t>(capacity)) return nullptr;
  return vp::Edge<CFMutableDictionaryRef>(nullptr, [&] {
    return NewDictionary(from->table.keyCallbacks(), from->values, true, capacity, from);
  });
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) noexcept {
  const __CFDictionary *d = vp::Cast<__CFDictionary>(theDict);
  return d ? static_cast<CFIndex>(d->table.size()) : 0;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                      const void **value) noexcept {
  const __CFDictionary *d = vp::Cast<__CFDictionary>(theDict);
  if (!d) return false;
  std::ptrdiff_t at = d->table.Find(key);
  if (at < 0) return false;
  if (value) *value = d->table.entries()[static_cast<std::size_t>(at)].value;
  return true;
}

const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) noexcept {
  const void *value = nullptr;
  return CFDictionaryGetValueIfPresent(theDict, key, &value) ? value : nullptr;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key) noexcept {
  return CFDictionaryGetValueIfPresent(theDict, key, nullptr);
}

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept {
  __CFDictionary *d = Mutable(theDict);
  if (d) vp::EdgeVoid([&] { d->Put(key, value, false); });
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept {
  __CFDictionary *d = Mutable(theDict);
  if (d) vp::EdgeVoid([&] { d->Put(key, value, true); });
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) noexcept {
  __CFDictionary *d = Mutable(theDict);
  if (!d) return;
  std::ptrdiff_t at = d->table.Find(key);
  if (at < 0) return;
  vp::HashEntry gone = d->table.entries()[static_cast<std::size_t>(at)];
  d->table.Erase(static_cast<std::size_t>(at));
  // Released once the dictionary no longer holds them: releasing the key
  // may free the very object the caller passed in.
  d->table.keyCallbacks().Release(gone.key);
  d->values.Release(gone.value);
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                  const void **values) noexcept {
  const __CFDictionary *d = vp::Cast<__CFDictionary>(theDict);
  if (!d) return;
  std::size_t i = 0;
  for (const vp::HashEntry &e : d->table.entries()) {
    if (keys) keys[i] = e.key;
    if (values) values[i] = e.value;
    ++i;
  }
}

} // extern "C"
