// CFData: a block of bytes, copied in at creation; mutable data grows by
// appending. The bytes of FSRef data, property lists and the like.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cf_collection_internal.h"

struct __CFData final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDData;

  __CFData(bool isMutable, CFIndex cap) noexcept : mutable_(isMutable), capacity(cap) {}

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    const auto &o = static_cast<const __CFData &>(other);
    return o.bytes.size() == bytes.size() &&
           (bytes.empty() || std::memcmp(bytes.data(), o.bytes.data(), bytes.size()) == 0);
  }
  CFHashCode Hash() const noexcept override {
    std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a
    for (UInt8 b : bytes)
      h = (h ^ b) * 0x100000001b3ULL;
    return static_cast<CFHashCode>(h);
  }
  // "<data 3 bytes: 01 02 03>"; long blocks show their first bytes only.
  vp::String16 Describe() const override {
    constexpr std::size_t kShown = 64;
    char buf[64];
    std::snprintf(buf, sizeof buf, "<data %zu byte%s", bytes.size(), bytes.size() == 1 ? "" : "s");
    vp::String16 out;
    vp::AppendASCII(out, buf);
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
      std::snprintf(buf, sizeof buf, "%s%02x", i ? " " : ": ", bytes[i]);
      vp::AppendASCII(out, buf);
    }
    if (bytes.size() > kShown) vp::AppendASCII(out, " ...");
    out.push_back(u'>');
    return out;
  }

  vp::Vector<UInt8> bytes;
  bool mutable_;
  CFIndex capacity; // mutable data: 0 means unbounded
};

extern "C" {

CFTypeID CFDataGetTypeID(void) noexcept {
  return vp::kTypeIDData;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) noexcept {
  if (length < 0 || (length > 0 && !bytes)) return nullptr;
  return vp::Edge<CFDataRef>(nullptr, [&] {
    vp::Ref<__CFData> made(new __CFData(false, 0));
    __CFData *d = const_cast<__CFData *>(made.get());
    d->bytes.assign(bytes, bytes + length);
    return made.release();
  });
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) noexcept {
  if (capacity < 0) return nullptr;
  return vp::Edge<CFMutableDataRef>(nullptr, [&] { return new __CFData(true, capacity); });
}

CFIndex CFDataGetLength(CFDataRef theData) noexcept {
  const __CFData *d = vp::Cast<__CFData>(theData);
  return d ? static_cast<CFIndex>(d->bytes.size()) : 0;
}

const UInt8 *CFDataGetBytePtr(CFDataRef theData) noexcept {
  static const UInt8 kNoBytes[1] = {0};
  const __CFData *d = vp::Cast<__CFData>(theData);
  if (!d) return nullptr;
  // Empty data still answers a valid pointer, so memcmp(p, q, 0) and the
  // like stay well defined for the caller.
  return d->bytes.empty() ? kNoBytes : d->bytes.data();
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes, CFIndex length) noexcept {
  __CFData *d = vp::CastMutable<__CFData>(theData);
  if (!d || !d->mutable_ || length <= 0 || !bytes) return;
  std::size_t n = static_cast<std::size_t>(length);
  std::size_t old = d->bytes.size();
  if (d->capacity > 0 && n > static_cast<std::size_t>(d->capacity) - old) return;
  vp::EdgeVoid([&] {
    if (d->bytes.capacity() - old < n) {
      // The source may lie inside this very block: copy into a new one
      // before the old one goes away.
      vp::Vector<UInt8> grown;
      std::size_t want = old * 2 > old + n ? old * 2 : old + n;
      grown.reserve(want);
      grown.assign(d->bytes.begin(), d->bytes.end());
      grown.insert(grown.end(), bytes, bytes + n);
      d->bytes.swap(grown);
      return;
    }
    d->bytes.resize(old + n); // fits: no allocation, the old bytes stay put
    std::memmove(d->bytes.data() + old, bytes, n);
  });
}

} // extern "C"
