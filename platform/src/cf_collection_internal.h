// What arrays, dictionaries and sets share: the element callbacks a
// collection keeps a copy of, and the insertion-ordered hash table behind
// dictionaries and sets. A null callbacks pointer, or a null field in a
// callbacks record, means raw pointers: identity equality, the address as
// hash, nothing retained or released.
#pragma once

#include <cstddef>
#include <string_view>

#include <CoreFoundation/CFCollections.h>

#include "object.h"

namespace vp {

struct ElementCallbacks {
  CFRetainCallBack retain = nullptr;
  CFReleaseCallBack release = nullptr;
  CFCopyDescriptionCallBack copyDescription = nullptr;
  CFEqualCallBack equal = nullptr;
  CFHashCallBack hash = nullptr;

  // Copies the fields of a public callbacks record (null: raw pointers).
  static ElementCallbacks From(const CFArrayCallBacks *cb) noexcept;
  static ElementCallbacks From(const CFDictionaryKeyCallBacks *cb) noexcept; // also sets
  static ElementCallbacks From(const CFDictionaryValueCallBacks *cb) noexcept;

  // A collection that retains its elements cannot hold null: the retain
  // callback would be handed a null object.
  bool Refuses(const void *value) const noexcept { return !value && retain; }
  // What the collection stores for value (the retain callback's answer).
  const void *Retain(const void *value) const noexcept {
    return retain ? retain(kCFAllocatorDefault, value) : value;
  }
  void Release(const void *value) const noexcept {
    if (release) release(kCFAllocatorDefault, value);
  }
  bool Equal(const void *a, const void *b) const noexcept {
    return a == b || (equal && equal(a, b));
  }
  CFHashCode Hash(const void *value) const noexcept {
    return hash ? hash(value) : reinterpret_cast<CFHashCode>(value);
  }
  // Appends the element's description to out. Throws std::bad_alloc.
  void Describe(String16 &out, const void *value) const;
};

// Appends ASCII text to UTF-16 text. Throws std::bad_alloc.
void AppendASCII(String16 &out, std::string_view text);

// Grows v so that `extra` more elements fit without another allocation
// (geometrically, so repeated appends stay linear). Throws std::bad_alloc
// and then leaves v as it was.
template <class T> void MakeRoom(Vector<T> &v, std::size_t extra) {
  std::size_t need = v.size() + extra;
  if (v.capacity() >= need) return;
  std::size_t grown = v.capacity() * 2;
  v.reserve(grown > need ? grown : need);
}

struct HashEntry {
  CFHashCode hash;
  const void *key;
  const void *value;
};

// Entries kept in insertion order, found through an open-addressing index
// of positions. Lookups cost one hash and a few probes; removing an entry
// rebuilds the index in place (no allocation), which keeps the order and
// leaves no tombstones behind.
class HashTable {
public:
  explicit HashTable(const ElementCallbacks &keys) noexcept : keys_(keys) {}

  const ElementCallbacks &keyCallbacks() const noexcept { return keys_; }
  std::size_t size() const noexcept { return entries_.size(); }
  const Vector<HashEntry> &entries() const noexcept { return entries_; }
  HashEntry &at(std::size_t i) noexcept { return entries_[i]; }

  // Position of the entry whose key equals key, or -1. A key the table
  // refuses cannot be present, so the callbacks never see it.
  std::ptrdiff_t Find(const void *key) const noexcept {
    return keys_.Refuses(key) ? -1 : Find(key, keys_.Hash(key));
  }
  std::ptrdiff_t Find(const void *key, CFHashCode hash) const noexcept;
  // Makes room for `count` entries in all. Throws std::bad_alloc, and then
  // the table is as it was.
  void Reserve(std::size_t count);
  // Appends an entry Reserve made room for; never allocates.
  void AppendReserved(const HashEntry &entry) noexcept;
  // Removes entry i; the others keep their order.
  void Erase(std::size_t i) noexcept;

  // True when other holds as many entries and, for each of these, one with
  // an equal key; with values given (a dictionary's value callbacks), the
  // two values must be equal too.
  bool SameEntries(const HashTable &other, const ElementCallbacks *values) const noexcept;
  // The entries in insertion order between braces, separated by ", ":
  // each key's description, with values given followed by " = " and the
  // value's. Throws std::bad_alloc.
  String16 Describe(const ElementCallbacks *values) const;

private:
  void Place(std::size_t i) noexcept;
  void Rebuild() noexcept;

  ElementCallbacks keys_;
  Vector<HashEntry> entries_;
  Vector<std::ptrdiff_t> slots_; // a power of two in size, -1 for empty
};

} // namespace vp
