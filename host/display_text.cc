// Text as the host shows it (see display_text.h): raw bytes to valid UTF-8,
// with U+FFFD for what is not text, and Linux line ends.
#include "display_text.h"

#include <cstdint>

namespace vantlow::host {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when
// the first byte does not begin one. The ranges of the second byte rule
// out overlong forms, surrogates and values above U+10FFFF.
size_t ValidSequenceLength(std::string_view bytes) {
  auto at = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  uint8_t b0 = at(0);
  if (b0 < 0x80) return 1;
  size_t length;
  uint8_t low = 0x80, high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  return length;
}

} // namespace

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t length = ValidSequenceLength(bytes);
    if (length == 0) {
      out.append(kReplacement);
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  return out;
}

std::string UnixLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string PrintableText(std::string_view text, std::string_view keep) {
  std::string in = ValidUtf8(text);
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if ((c < 0x20 || c == 0x7F) && keep.find(static_cast<char>(c)) == std::string_view::npos) {
      out += ' ';
    } else if (c == 0xC2 && i + 1 < in.size() && static_cast<unsigned char>(in[i + 1]) <= 0x9F) {
      out += ' '; // U+0080..U+009F
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

} // namespace vantlow::host
