// CFNumber: an integer (held as 64 bits) or a floating-point value (held as
// a double). Equality and hashing go by value across types, so 3 as SInt32,
// 3 as SInt64 and 3.0 are one key in a dictionary or a set. Reading a value
// back as another type converts, and says whether the conversion was exact.
#include <CoreFoundation/CFScalars.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "cf_collection_internal.h"

namespace {

enum class Kind { kInvalid, kInteger, kFloat32, kFloat64 };

struct TypeInfo {
  Kind kind;
  int bytes;             // integers: width in bytes
  CFNumberType storedAs; // what CFNumberGetType answers
};

TypeInfo Info(CFNumberType type) noexcept {
  switch (type) {
  case kCFNumberSInt8Type:
  case kCFNumberCharType:
    return {Kind::kInteger, 1, kCFNumberSInt8Type};
  case kCFNumberSInt16Type:
  case kCFNumberShortType:
    return {Kind::kInteger, 2, kCFNumberSInt16Type};
  case kCFNumberSInt32Type:
  case kCFNumberIntType:
    return {Kind::kInteger, 4, kCFNumberSInt32Type};
  case kCFNumberLongType:
    return {Kind::kInteger, sizeof(long),
            sizeof(long) == 8 ? kCFNumberSInt64Type : kCFNumberSInt32Type};
  case kCFNumberCFIndexType:
    return {Kind::kInteger, sizeof(CFIndex),
            sizeof(CFIndex) == 8 ? kCFNumberSInt64Type : kCFNumberSInt32Type};
  case kCFNumberSInt64Type:
  case kCFNumberLongLongType:
    return {Kind::kInteger, 8, kCFNumberSInt64Type};
  case kCFNumberFloat32Type:
  case kCFNumberFloatType:
    return {Kind::kFloat32, 4, kCFNumberFloat32Type};
  case kCFNumberFloat64Type:
  case kCFNumberDoubleType:
    return {Kind::kFloat64, 8, kCFNumberFloat64Type};
  }
  return {Kind::kInvalid, 0, CFNumberType(0)};
}

constexpr double kTwo63 = 9223372036854775808.0; // 2^63, exactly

// The double d as an integer when it is one within SInt64's range.
bool AsExactInt64(double d, std::int64_t *out) noexcept {
  if (!(d >= -kTwo63 && d < kTwo63) || d != std::trunc(d)) return false;
  *out = static_cast<std::int64_t>(d);
  return true;
}

std::uint64_t MixBits(std::uint64_t x) noexcept {
  x ^= x >> 31;
  x *= 0x9e3779b97f4a7c15ULL;
  x ^= x >> 29;
  return x;
}

} // namespace

struct __CFNumber final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDNumber;

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override {
    const auto &o = static_cast<const __CFNumber &>(other);
    if (!isFloat && !o.isFloat) return i == o.i;
    if (isFloat && o.isFloat) return d == o.d || (std::isnan(d) && std::isnan(o.d));
    std::int64_t whole;
    return AsExactInt64(isFloat ? d : o.d, &whole) && whole == (isFloat ? o.i : i);
  }
  // Integral values hash as the integer whatever their type, so equal
  // numbers hash equally (0.0 and -0.0 included).
  CFHashCode Hash() const noexcept override {
    std::int64_t whole = i;
    if (!isFloat || AsExactInt64(d, &whole)) return MixBits(static_cast<std::uint64_t>(whole));
    if (std::isnan(d)) return 0x7ff8;
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return MixBits(bits);
  }
  vp::String16 Describe() const override {
    char buf[64];
    std::to_chars_result r = !isFloat ? std::to_chars(buf, buf + sizeof buf, i)
                             : type == kCFNumberFloat32Type
                                 ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                                 : std::to_chars(buf, buf + sizeof buf, d);
    vp::String16 out;
    vp::AppendASCII(out, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    return out;
  }

  CFNumberType type = kCFNumberSInt32Type; // as stored: SInt8..SInt64, Float32, Float64
  bool isFloat = false;
  std::int64_t i = 0; // integers
  double d = 0;       // floating-point values
};

namespace {

// The integer as the nearest value that fits `bytes` bytes; false when it
// had to be clamped.
bool FitInteger(std::int64_t v, int bytes, std::int64_t *out) noexcept {
  std::int64_t hi = bytes >= 8 ? INT64_MAX : (std::int64_t(1) << (bytes * 8 - 1)) - 1;
  std::int64_t lo = -hi - 1;
  *out = v < lo ? lo : v > hi ? hi : v;
  return *out == v;
}

// The double as the nearest integer that fits `bytes` bytes (NaN reads as
// 0); true only when it was already that integer.
bool DoubleToInteger(double d, int bytes, std::int64_t *out) noexcept {
  if (std::isnan(d)) {
    *out = 0;
    return false;
  }
  double limit = std::ldexp(1.0, bytes * 8 - 1);
  double r = std::round(d);
  std::int64_t v;
  bool inside = true;
  if (r >= limit) {
    v = bytes >= 8 ? INT64_MAX : static_cast<std::int64_t>(limit) - 1;
    inside = false;
  } else if (r < -limit) {
    v = bytes >= 8 ? INT64_MIN : -static_cast<std::int64_t>(limit);
    inside = false;
  } else {
    v = static_cast<std::int64_t>(r);
  }
  *out = v;
  return inside && r == d;
}

void StoreInteger(std::int64_t v, int bytes, void *to) noexcept {
  switch (bytes) {
  case 1: {
    std::int8_t x = static_cast<std::int8_t>(v);
    std::memcpy(to, &x, 1);
    break;
  }
  case 2: {
    std::int16_t x = static_cast<std::int16_t>(v);
    std::memcpy(to, &x, 2);
    break;
  }
  case 4: {
    std::int32_t x = static_cast<std::int32_t>(v);
    std::memcpy(to, &x, 4);
    break;
  }
  default:
    std::memcpy(to, &v, 8);
    break;
  }
}

std::int64_t LoadInteger(const void *from, int bytes) noexcept {
  switch (bytes) {
  case 1: {
    std::int8_t x;
    std::memcpy(&x, from, 1);
    return x;
  }
  case 2: {
    std::int16_t x;
    std::memcpy(&x, from, 2);
    return x;
  }
  case 4: {
    std::int32_t x;
    std::memcpy(&x, from, 4);
    return x;
  }
  default: {
    std::int64_t x;
    std::memcpy(&x, from, 8);
    return x;
  }
  }
}

// The value as a float: the nearest one, with finite values beyond the
// float range held at the largest float rather than becoming infinite.
bool ToFloat(const __CFNumber &n, float *out) noexcept {
  if (!n.isFloat) {
    *out = static_cast<float>(n.i);
    double back = *out;
    std::int64_t whole;
    return AsExactInt64(back, &whole) && whole == n.i;
  }
  if (std::isnan(n.d) || std::isinf(n.d)) {
    *out = static_cast<float>(n.d);
    return true;
  }
  if (std::fabs(n.d) > FLT_MAX) {
    *out = std::copysign(FLT_MAX, static_cast<float>(n.d));
    return false;
  }
  *out = static_cast<float>(n.d);
  return static_cast<double>(*out) == n.d;
}

bool ToDouble(const __CFNumber &n, double *out) noexcept {
  if (n.isFloat) {
    *out = n.d;
    return true;
  }
  *out = static_cast<double>(n.i);
  std::int64_t whole;
  return AsExactInt64(*out, &whole) && whole == n.i;
}

} // namespace

extern "C" {

CFTypeID CFNumberGetTypeID(void) noexcept {
  return vp::kTypeIDNumber;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void *valuePtr) noexcept {
  TypeInfo info = Info(theType);
  if (info.kind == Kind::kInvalid || !valuePtr) return nullptr;
  return vp::Edge<CFNumberRef>(nullptr, [&] {
    __CFNumber *n = new __CFNumber;
    n->type = info.storedAs;
    switch (info.kind) {
    case Kind::kInteger:
      n->i = LoadInteger(valuePtr, info.bytes);
      break;
    case Kind::kFloat32: {
      float f;
      std::memcpy(&f, valuePtr, sizeof f);
      n->isFloat = true;
      n->d = f;
      break;
    }
    case Kind::kFloat64:
      n->isFloat = true;
      std::memcpy(&n->d, valuePtr, sizeof n->d);
      break;
    case Kind::kInvalid:
      break;
    }
    return n;
  });
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) noexcept {
  const __CFNumber *n = vp::Cast<__CFNumber>(number);
  TypeInfo info = Info(theType);
  if (!n || !valuePtr || info.kind == Kind::kInvalid) return false;
  switch (info.kind) {
  case Kind::kInteger: {
    std::int64_t v;
    bool exact =
        n->isFloat ? DoubleToInteger(n->d, info.bytes, &v) : FitInteger(n->i, info.bytes, &v);
    StoreInteger(v, info.bytes, valuePtr);
    return exact;
  }
  case Kind::kFloat32: {
    float f;
    bool exact = ToFloat(*n, &f);
    std::memcpy(valuePtr, &f, sizeof f);
    return exact;
  }
  case Kind::kFloat64: {
    double dd;
    bool exact = ToDouble(*n, &dd);
    std::memcpy(valuePtr, &dd, sizeof dd);
    return exact;
  }
  case Kind::kInvalid:
    break;
  }
  return false;
}

CFNumberType CFNumberGetType(CFNumberRef number) noexcept {
  const __CFNumber *n = vp::Cast<__CFNumber>(number);
  return n ? n->type : CFNumberType(0);
}

Boolean CFNumberIsFloatType(CFNumberRef number) noexcept {
  const __CFNumber *n = vp::Cast<__CFNumber>(number);
  return n && n->isFloat;
}

} // extern "C"
