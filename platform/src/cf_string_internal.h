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
  // Equal units; constants and created strings of the same text are equal
  // and hash equally.
  bool Equal(const vp::Object &other) const noexcept override;
  CFHashCode Hash() const noexcept override;
  vp::String16 Describe() const override { return units; }

  vp::String16 units;
  bool mutable_;         // only CFStringCreateMutable* strings may change
  CFIndex maxLength = 0; // mutable strings: 0 means unbounded
};

namespace vp {

// A new string owning the units (Create rule). Throws std::bad_alloc.
CFStringRef NewString(String16 units);
// Decodes valid UTF-8; invalid input throws std::invalid_argument.
CFStringRef NewStringFromUTF8(std::string_view utf8);
// The lossless file-name mapping. Decoding: valid UTF-8 as usual, and each
// byte of an invalid sequence (overlong forms, encoded surrogates and values
// above U+10FFFF included) becomes the lone surrogate U+DC00 + byte, which is
// always in U+DC80..U+DCFF. Encoding: a lone surrogate U+DC80..U+DCFF becomes
// its byte again; any other lone surrogate becomes its 3-byte generalized
// UTF-8 form (ED A0 80 for U+D800), so no unit is dropped; U+0000 becomes a
// zero byte, which a caller making a path must refuse. Decoding then encoding
// gives back every byte string exactly. Both throw std::bad_alloc.
String16 DecodeFileName(std::string_view bytes);
String8 EncodeFileName(const String16 &units);
// Text for people: UTF-8 with every lone surrogate (file-name bytes
// included) replaced by '?'. Throws std::bad_alloc.
String8 ToUTF8Lossy(const String16 &units);
// The units of a string, or null when cf is not a string.
inline const String16 *Units(CFTypeRef cf) noexcept {
  const __CFString *s = Cast<__CFString>(cf);
  return s ? &s->units : nullptr;
}

} // namespace vp
