// Small helpers shared by the CFString tests: owning a string, reading its
// units or its UTF-8 text back, and making one from units or bytes.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

namespace string_test {

struct Releaser {
  void operator()(const void *cf) const { CFRelease(cf); }
};
// Holds one reference (Create rule) and gives it up at the end of scope.
using Owned = std::unique_ptr<std::remove_pointer_t<CFStringRef>, Releaser>;

inline std::u16string UnitsOf(CFStringRef s) {
  std::u16string units(static_cast<std::size_t>(CFStringGetLength(s)), u'\0');
  CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)),
                        reinterpret_cast<UniChar *>(units.data()));
  return units;
}

// UTF-8 for people: what the encoding cannot hold shows as '?'.
inline std::string TextOf(CFStringRef s) {
  const CFRange all = CFRangeMake(0, CFStringGetLength(s));
  CFIndex needed = 0;
  CFStringGetBytes(s, all, kCFStringEncodingUTF8, '?', false, nullptr, 0, &needed);
  std::string text(static_cast<std::size_t>(needed), '\0');
  CFStringGetBytes(s, all, kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(text.data()), needed, &needed);
  text.resize(static_cast<std::size_t>(needed));
  return text;
}

inline Owned FromUnits(const std::u16string &units) {
  return Owned(CFStringCreateWithCharacters(nullptr,
                                            reinterpret_cast<const UniChar *>(units.data()),
                                            static_cast<CFIndex>(units.size())));
}

// Readable form of units for failure messages: ASCII as is, others as \uXXXX.
inline std::string Escaped(const std::u16string &units) {
  std::string out;
  static const char kHex[] = "0123456789ABCDEF";
  for (char16_t u : units) {
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(static_cast<char>(u));
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kHex[(u >> shift) & 0xF]);
    }
  }
  return out;
}

// Names each row of a parameterized table after its `name` field.
struct RowName {
  template <class Row> std::string operator()(const ::testing::TestParamInfo<Row> &row) const {
    return row.param.name;
  }
};

} // namespace string_test
