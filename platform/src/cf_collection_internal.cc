// The element callbacks of the collections, the kCFType callback records,
// and the hash table behind dictionaries and sets (see
// cf_collection_internal.h).
#include "cf_collection_internal.h"

#include <cstdint>
#include <cstdio>

#include "cf_string_internal.h"

namespace {

const void *RetainObject(CFAllocatorRef, const void *value) noexcept {
  return CFRetain(value);
}
void ReleaseObject(CFAllocatorRef, const void *value) noexcept {
  CFRelease(value);
}

// Spreads the bits of a hash over the whole word: identity hashes are
// addresses whose low bits are always zero.
std::size_t Mix(CFHashCode h) noexcept {
  std::uint64_t x = h;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return static_cast<std::size_t>(x);
}

template <class CB> vp::ElementCallbacks CopyFields(const CB *cb) noexcept {
  vp::ElementCallbacks out;
  if (!cb) return out;
  out.retain = cb->retain;
  out.release = cb->release;
  out.copyDescription = cb->copyDescription;
  out.equal = cb->equal;
  if constexpr (requires { cb->hash; }) out.hash = cb->hash;
  return out;
}

} // namespace

extern "C" {
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, RetainObject, ReleaseObject, CFCopyDescription,
                                                CFEqual};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, RetainObject, ReleaseObject, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, RetainObject, ReleaseObject,
                                                                    CFCopyDescription, CFEqual};
const CFSetCallBacks kCFTypeSetCallBacks = {0,       RetainObject, ReleaseObject, CFCopyDescription,
                                            CFEqual, CFHash};
}

namespace vp {

ElementCallbacks ElementCallbacks::From(const CFArrayCallBacks *cb) noexcept {
  return CopyFields(cb);
}
ElementCallbacks ElementCallbacks::From(const CFDictionaryKeyCallBacks *cb) noexcept {
  return CopyFields(cb);
}
ElementCallbacks ElementCallbacks::From(const CFDictionaryValueCallBacks *cb) noexcept {
  return CopyFields(cb);
}

void ElementCallbacks::Describe(String16 &out, const void *value) const {
  // The object's own description directly: the same text CFCopyDescription
  // gives, without a string object per element.
  if (copyDescription == CFCopyDescription && value) {
    out += AsObject(value)->Describe();
    return;
  }
  if (copyDescription) {
    if (CFStringRef text = copyDescription(value)) {
      Ref<__CFString> held(text);
      if (const String16 *units = Units(text)) {
        out += *units;
        return;
      }
    }
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "<%p>", value);
  AppendASCII(out, buf);
}

void AppendASCII(String16 &out, std::string_view text) {
  for (char c : text)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

std::ptrdiff_t HashTable::Find(const void *key, CFHashCode hash) const noexcept {
  if (slots_.empty()) return -1;
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Mix(hash) & mask;; i = (i + 1) & mask) {
    std::ptrdiff_t at = slots_[i];
    if (at < 0) return -1;
    const HashEntry &e = entries_[static_cast<std::size_t>(at)];
    if (e.hash == hash && keys_.Equal(e.key, key)) return at;
  }
}

void HashTable::Reserve(std::size_t count) {
  MakeRoom(entries_, count > entries_.size() ? count - entries_.size() : 0);
  // At most half the slots in use, so probe runs stay short and one is
  // always empty.
  std::size_t want = 8;
  while (want < count * 2)
    want *= 2;
  if (slots_.size() >= want) return;
  Vector<std::ptrdiff_t> fresh(want, -1);
  slots_.swap(fresh);
  Rebuild();
}

void HashTable::AppendReserved(const HashEntry &entry) noexcept {
  entries_.push_back(entry); // capacity was reserved: no allocation
  Place(entries_.size() - 1);
}

void HashTable::Erase(std::size_t i) noexcept {
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
  Rebuild();
}

bool HashTable::SameEntries(const HashTable &other, const ElementCallbacks *values) const noexcept {
  if (other.size() != size()) return false;
  for (const HashEntry &e : entries_) {
    std::ptrdiff_t j = other.Find(e.key);
    if (j < 0) return false;
    if (values && !values->Equal(e.value, other.entries_[static_cast<std::size_t>(j)].value))
      return false;
  }
  return true;
}

String16 HashTable::Describe(const ElementCallbacks *values) const {
  String16 out(1, u'{');
  bool first = true;
  for (const HashEntry &e : entries_) {
    if (!first) AppendASCII(out, ", ");
    first = false;
    keys_.Describe(out, e.key);
    if (values) {
      AppendASCII(out, " = ");
      values->Describe(out, e.value);
    }
  }
  out.push_back(u'}');
  return out;
}

void HashTable::Place(std::size_t i) noexcept {
  std::size_t mask = slots_.size() - 1;
  std::size_t s = Mix(entries_[i].hash) & mask;
  while (slots_[s] >= 0)
    s = (s + 1) & mask;
  slots_[s] = static_cast<std::ptrdiff_t>(i);
}

void HashTable::Rebuild() noexcept {
  for (std::ptrdiff_t &s : slots_)
    s = -1;
  for (std::size_t i = 0; i < entries_.size(); ++i)
    Place(i);
}

} // namespace vp
