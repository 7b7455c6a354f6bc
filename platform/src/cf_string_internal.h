// What other platform modules may use of CFString's insides: the record, and
// conversions between CFStrings and UTF-8 text or file-name bytes.
#pragma once

#include <string_view>

#include "object.h"

struct __CFString final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDString;
  explicit __CFString(vp::String16 text, bool isMutable = false)
      : units(std::move(text)), mutable_(isMutable) {}
  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override;
  CFHashCode Hash() const noexcept override;
  vp::String16 Describe() const override { return units; }

  vp::String16 units;
  bool mutable_;
  CFIndex maxLength = 0; // mutable strings: 0 means unbounded
};

namespace vp {

// A new string owning the units (Create rule). Throws std::bad_alloc.
CFStringRef NewString(String16 units);
// Decodes valid UTF-8; invalid input throws std::invalid_argument.
CFStringRef NewStringFromUTF8(std::string_view utf8);
// The lossless file-name mapping: bytes -> UTF-16 with U+DC80..U+DCFF for
// bytes of invalid sequences, and back.
String16 DecodeFileName(std::string_view bytes);
String8 EncodeFileName(const String16 &units);
// Text for people: UTF-8 with lone surrogates replaced by '?'.
String8 ToUTF8Lossy(const String16 &units);
// The units of a string, or null when cf is not a string.
inline const String16 *Units(CFTypeRef cf) noexcept {
  const __CFString *s = Cast<__CFString>(cf);
  return s ? &s->units : nullptr;
}

} // namespace vp
