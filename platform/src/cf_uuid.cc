// CFUUID: 16 bytes naming a plug-in type, factory or interface. Constant
// UUIDs are interned, one object per distinct value for the life of the
// process; created UUIDs are ordinary objects. Both compare by their bytes,
// and their text is the upper-case "8-4-4-4-12" form.
#include <CoreFoundation/CFScalars.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "cf_collection_internal.h"
#include "cf_string_internal.h"

namespace {

constexpr std::size_t kTextLength = 36; // "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"

bool HyphenAt(std::size_t i) noexcept {
  return i == 8 || i == 13 || i == 18 || i == 23;
}

// The upper-case text of the bytes, with hyphens.
void Format(const CFUUIDBytes &bytes, char16_t out[kTextLength]) noexcept {
  static const char kDigits[] = "0123456789ABCDEF";
  const UInt8 *b = &bytes.byte0;
  std::size_t at = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (HyphenAt(at)) out[at++] = u'-';
    out[at++] = static_cast<char16_t>(kDigits[b[i] >> 4]);
    out[at++] = static_cast<char16_t>(kDigits[b[i] & 0xF]);
  }
}

int HexValue(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Reads the "8-4-4-4-12" form, hex digits of either case; false for any
// other text.
bool Parse(const vp::String16 &text, CFUUIDBytes *out) noexcept {
  if (text.size() != kTextLength) return false;
  UInt8 *b = &out->byte0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < kTextLength;) {
    if (HyphenAt(i)) {
      if (text[i] != u'-') return false;
      ++i;
      continue;
    }
    int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    b[n++] = static_cast<UInt8>(hi << 4 | lo);
    i += 2;
  }
  return true;
}

std::uint64_t Half(const CFUUIDBytes &bytes, std::size_t which) noexcept {
  std::uint64_t v;
  std::memcpy(&v, &bytes.byte0 + 8 * which, sizeof v);
  return v;
}

} // namespace

struct __CFUUID final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDUUID;

  explicit __CFUUID(const CFUUIDBytes &b) noexcept : bytes(b) {}

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    return std::memcmp(&bytes, &static_cast<const __CFUUID &>(other).bytes, sizeof bytes) == 0;
  }
  CFHashCode Hash() const noexcept override {
    return static_cast<CFHashCode>(Half(bytes, 0) ^ (Half(bytes, 1) * 0x9e3779b97f4a7c15ULL));
  }
  vp::String16 Describe() const override {
    char16_t text[kTextLength];
    Format(bytes, text);
    return vp::String16(text, kTextLength);
  }

  const CFUUIDBytes bytes;
};

namespace {

struct BytesKey {
  std::uint64_t lo, hi;
  bool operator==(const BytesKey &) const = default;
};
struct BytesKeyHash {
  std::size_t operator()(const BytesKey &k) const noexcept {
    return static_cast<std::size_t>(k.lo ^ (k.hi * 0x9e3779b97f4a7c15ULL));
  }
};

// The interned constants. Everything here is allocated inside a permanent
// allocation scope: constants never fail under fault injection and never
// count as an operation's leak.
class ConstantTable {
public:
  const __CFUUID *Get(const CFUUIDBytes &bytes) {
    BytesKey key{Half(bytes, 0), Half(bytes, 1)};
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = map_.find(key);
    if (found != map_.end()) return found->second;
    vp::PermanentAllocationScope permanent;
    auto *made = new __CFUUID(bytes);
    made->MakeImmortal();
    try {
      map_.emplace(key, made);
    } catch (...) {
      delete made;
      throw;
    }
    return made;
  }

private:
  using Pair = std::pair<const BytesKey, const __CFUUID *>;
  std::mutex mutex_;
  std::unordered_map<BytesKey, const __CFUUID *, BytesKeyHash, std::equal_to<BytesKey>,
                     vp::SeamAllocator<Pair>>
      map_;
};

ConstantTable &Constants() {
  // Made on first use and never destroyed, so constants outlive every user.
  static ConstantTable *table = [] {
    vp::PermanentAllocationScope permanent;
    return vp::New<ConstantTable>();
  }();
  return *table;
}

} // namespace

extern "C" {

CFTypeID CFUUIDGetTypeID(void) noexcept {
  return vp::kTypeIDUUID;
}

CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef, UInt8 byte0, UInt8 byte1, UInt8 byte2,
                                         UInt8 byte3, UInt8 byte4, UInt8 byte5, UInt8 byte6,
                                         UInt8 byte7, UInt8 byte8, UInt8 byte9, UInt8 byte10,
                                         UInt8 byte11, UInt8 byte12, UInt8 byte13, UInt8 byte14,
                                         UInt8 byte15) noexcept {
  CFUUIDBytes bytes = {byte0, byte1, byte2,  byte3,  byte4,  byte5,  byte6,  byte7,
                       byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15};
  // Only a machine truly out of memory makes this null.
  return vp::Edge<CFUUIDRef>(nullptr, [&] { return Constants().Get(bytes); });
}

CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef, CFUUIDBytes bytes) noexcept {
  return vp::Edge<CFUUIDRef>(nullptr, [&] { return new __CFUUID(bytes); });
}

CFUUIDRef CFUUIDCreateFromString(CFAllocatorRef, CFStringRef uuidStr) noexcept {
  const vp::String16 *text = vp::Units(uuidStr);
  CFUUIDBytes bytes;
  if (!text || !Parse(*text, &bytes)) return nullptr;
  return vp::Edge<CFUUIDRef>(nullptr, [&] { return new __CFUUID(bytes); });
}

CFStringRef CFUUIDCreateString(CFAllocatorRef, CFUUIDRef uuid) noexcept {
  const __CFUUID *u = vp::Cast<__CFUUID>(uuid);
  if (!u) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] { return vp::NewString(u->Describe()); });
}

CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) noexcept {
  const __CFUUID *u = vp::Cast<__CFUUID>(uuid);
  return u ? u->bytes : CFUUIDBytes{};
}

} // extern "C"
