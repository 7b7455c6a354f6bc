// Fuzzes the strings-table parser (<lang>.lproj/Localizable.strings) with
// arbitrary bytes. Every input gives a table or a reason, never both and
// never neither; a table that was read is written back in the same format,
// once as escaped ASCII and once as raw UTF-16 with a byte-order mark, and
// each must read back to an equal table.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

using fuzz::Owned;

// The table as key/value pairs of UTF-16 text.
std::vector<std::pair<std::u16string, std::u16string>> Pairs(CFDictionaryRef table) {
  const CFIndex count = CFDictionaryGetCount(table);
  std::vector<const void *> keys(static_cast<std::size_t>(count)),
      values(static_cast<std::size_t>(count));
  CFDictionaryGetKeysAndValues(table, keys.data(), values.data());
  std::vector<std::pair<std::u16string, std::u16string>> out;
  for (CFIndex i = 0; i < count; ++i) {
    FUZZ_CHECK(CFGetTypeID(keys[i]) == CFStringGetTypeID());
    FUZZ_CHECK(CFGetTypeID(values[i]) == CFStringGetTypeID());
    out.emplace_back(fuzz::Units(static_cast<CFStringRef>(keys[i])),
                     fuzz::Units(static_cast<CFStringRef>(values[i])));
  }
  return out;
}

// A quoted string in plain ASCII: printable characters as they are, the
// quote and backslash escaped, every other unit as \uXXXX.
void AppendEscaped(const std::u16string &text, std::string &out) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (char16_t u : text) {
    if (u == u'"' || u == u'\\') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u >= 0x20 && u < 0x7F) {
      out += static_cast<char>(u);
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(u >> shift) & 0xF];
    }
  }
  out += '"';
}

void AppendUnitBE(char16_t u, std::string &out) {
  out += static_cast<char>(u >> 8);
  out += static_cast<char>(u & 0xFF);
}

// A quoted string in UTF-16BE: every unit as it is but the quote and the
// backslash.
void AppendQuotedUTF16BE(const std::u16string &text, std::string &out) {
  AppendUnitBE(u'"', out);
  for (char16_t u : text) {
    if (u == u'"' || u == u'\\') AppendUnitBE(u'\\', out);
    AppendUnitBE(u, out);
  }
  AppendUnitBE(u'"', out);
}

Owned<CFDictionaryRef> Read(const std::string &bytes) {
  CFStringRef error = nullptr;
  Owned<CFDictionaryRef> table(VPStringsTableCreateFromData(
      reinterpret_cast<const UInt8 *>(bytes.data()), static_cast<CFIndex>(bytes.size()), &error));
  Owned<CFStringRef> reason(error);
  return table;
}

void CheckRoundTrips(CFDictionaryRef table) {
  const auto pairs = Pairs(table);
  std::string ascii = "/* written back */\n";
  std::string utf16 = "\xFE\xFF";
  for (const auto &[key, value] : pairs) {
    AppendEscaped(key, ascii);
    ascii += " = ";
    AppendEscaped(value, ascii);
    ascii += ";\n";
    AppendQuotedUTF16BE(key, utf16);
    AppendUnitBE(u'=', utf16);
    AppendQuotedUTF16BE(value, utf16);
    AppendUnitBE(u';', utf16);
    AppendUnitBE(u'\n', utf16);
  }

  Owned<CFDictionaryRef> fromAscii = Read(ascii);
  FUZZ_CHECK(fromAscii != nullptr);
  FUZZ_CHECK(CFEqual(fromAscii.get(), table));
  Owned<CFDictionaryRef> fromUTF16 = Read(utf16);
  FUZZ_CHECK(fromUTF16 != nullptr);
  FUZZ_CHECK(CFEqual(fromUTF16.get(), table));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::RunWithoutLeaks([&] {
    CFStringRef error = nullptr;
    Owned<CFDictionaryRef> table(
        VPStringsTableCreateFromData(data, static_cast<CFIndex>(size), &error));
    Owned<CFStringRef> reason(error);
    // A table or a reason, never both, never neither (nothing fails to
    // allocate here).
    FUZZ_CHECK((table != nullptr) != (reason != nullptr));
    if (reason) {
      FUZZ_CHECK(CFStringGetLength(reason.get()) > 0);
      return;
    }
    CheckRoundTrips(table.get());
  });
  return 0;
}
