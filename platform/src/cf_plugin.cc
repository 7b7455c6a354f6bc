// CFPlugIn instance registration: a process-wide table, keyed by factory
// UUID, of how many instances each factory's objects have alive and which
// bundle declares the factory. We never unload a bundle, so the counts are
// what a host checks ("does anything of this plug-in still live?") rather
// than what keeps code mapped.
#include "cf_plugin_internal.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "cf_string_internal.h"

namespace {

struct Key {
  unsigned char bytes[16];
  bool operator<(const Key &o) const noexcept { return std::memcmp(bytes, o.bytes, 16) < 0; }
};

struct Entry {
  CFBundleRef bundle = nullptr; // the declaring bundle, lent (bundles live for the process)
  CFIndex instances = 0;
};

using Table = std::map<Key, Entry, std::less<Key>, vp::SeamAllocator<std::pair<const Key, Entry>>>;

struct Registry {
  std::mutex mutex;
  // Entries of declared factories stay; an entry made only by
  // CFPlugInAddInstanceForFactory goes when its count is back at 0, so that
  // counting an undeclared factory holds no memory once it is done.
  Table table;
};

// Never destroyed: instances may be released from static destructors of
// other modules, after ours would have run.
Registry &TheRegistry() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry *registry = ::new (storage) Registry();
  return *registry;
}

Key KeyOf(const CFUUIDBytes &b) noexcept {
  Key k;
  static_assert(sizeof(CFUUIDBytes) == 16);
  std::memcpy(k.bytes, &b, 16);
  return k;
}

bool KeyOfUUID(CFUUIDRef uuid, Key *out) noexcept {
  if (!uuid || CFGetTypeID(uuid) != vp::kTypeIDUUID) return false;
  *out = KeyOf(CFUUIDGetUUIDBytes(uuid));
  return true;
}

int HexDigit(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

} // namespace

namespace vp {

bool ParseUUIDText(const String16 &text, CFUUIDBytes *out) noexcept {
  if (text.size() != 36) return false;
  unsigned char bytes[16];
  size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != u'-') return false;
      ++pos;
    }
    int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<unsigned char>(hi * 16 + lo);
    pos += 2;
  }
  std::memcpy(out, bytes, 16);
  return true;
}

void RegisterPlugInFactories(CFBundleRef bundle, CFDictionaryRef factories) {
  if (!bundle || !factories || CFGetTypeID(factories) != kTypeIDDictionary) return;
  CFIndex count = CFDictionaryGetCount(factories);
  if (count <= 0) return;
  Vector<const void *> names(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(factories, names.data(), nullptr);
  Vector<Key> keys;
  keys.reserve(names.size());
  for (const void *name : names) {
    CFUUIDBytes bytes;
    const String16 *units = Units(name);
    if (units && ParseUUIDText(*units, &bytes)) keys.push_back(KeyOf(bytes));
  }

  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  // What this call changed, so that a failure half-way can be undone.
  Vector<std::pair<Key, bool /* made here */>> changed;
  changed.reserve(keys.size());
  try {
    for (const Key &k : keys) {
      auto it = r.table.find(k);
      if (it == r.table.end()) {
        r.table.emplace(k, Entry{bundle, 0});
        changed.emplace_back(k, true);
      } else if (!it->second.bundle) {
        it->second.bundle = bundle;
        changed.emplace_back(k, false);
      }
    }
  } catch (...) {
    for (const auto &c : changed) {
      auto it = r.table.find(c.first);
      if (c.second)
        r.table.erase(it);
      else
        it->second.bundle = nullptr;
    }
    throw;
  }
}

void UnregisterPlugInFactories(CFBundleRef bundle) noexcept {
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.table.begin(); it != r.table.end();) {
    if (it->second.bundle == bundle) {
      it->second.bundle = nullptr;
      if (it->second.instances == 0) {
        it = r.table.erase(it);
        continue;
      }
    }
    ++it;
  }
}

} // namespace vp

extern "C" {

void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID) noexcept {
  Key k;
  if (!KeyOfUUID(factoryID, &k)) return;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.table.find(k);
  if (it != r.table.end()) {
    ++it->second.instances;
    return;
  }
  // A factory no registered bundle declares (a plug-in linked into the
  // host, a test): counted all the same. Without memory for its entry the
  // instance goes uncounted, and its later removal is then ignored.
  vp::EdgeVoid([&] { r.table.emplace(k, Entry{nullptr, 1}); });
}

void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) noexcept {
  Key k;
  if (!KeyOfUUID(factoryID, &k)) return;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.table.find(k);
  if (it == r.table.end() || it->second.instances == 0) return; // never added: no underflow
  if (--it->second.instances == 0 && !it->second.bundle) r.table.erase(it);
}

CFIndex VPPlugInGetInstanceCount(CFUUIDRef factoryID) noexcept {
  Key k;
  if (!KeyOfUUID(factoryID, &k)) return 0;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.table.find(k);
  return it == r.table.end() ? 0 : it->second.instances;
}

CFBundleRef VPPlugInGetBundleForFactory(CFUUIDRef factoryID) noexcept {
  Key k;
  if (!KeyOfUUID(factoryID, &k)) return nullptr;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.table.find(k);
  return it == r.table.end() ? nullptr : it->second.bundle;
}

} // extern "C"
