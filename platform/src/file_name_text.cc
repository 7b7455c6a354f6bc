// File names as text and back. Linux file names are bytes that need not be
// UTF-8, and paths must survive a trip through a CFString unchanged, so every
// name and path goes through one lossless mapping: valid UTF-8 decodes as
// usual, each byte of an invalid sequence becomes the lone surrogate
// U+DC00 + byte, and encoding turns those back into the bytes. Text for
// people (ToUTF8Lossy) shows such a byte as '?' instead.
#include <cstring>

#include "cf_string_internal.h"
#include "text_codec.h"

namespace {

using vp::text::IsSurrogate;

// The file-system bytes of one character (a code point, or a lone surrogate
// when width is 1) written to out (room for 4); returns their count.
std::size_t EncodeFileNameCharacter(char32_t c, unsigned char *out) noexcept {
  if (c >= 0xDC80 && c <= 0xDCFF) {
    out[0] = static_cast<unsigned char>(c - 0xDC00);
    return 1;
  }
  if (IsSurrogate(c)) {
    // Generalized UTF-8: the 3-byte pattern applied to the surrogate's value.
    // Decoding reads these bytes back as three mapped bytes, not as this
    // unit, but nothing is dropped and the bytes never collide with a valid
    // character's.
    out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 3;
  }
  return vp::text::EncodeCharacter(kCFStringEncodingUTF8, c, out);
}

// Calls sink(bytes, count) for each character's file-system bytes; stops and
// returns false as soon as sink does.
template <class Sink> bool ForEachFileNameChunk(const vp::String16 &units, Sink &&sink) {
  const std::size_t n = units.size();
  for (std::size_t i = 0; i < n;) {
    std::size_t width = 1;
    const char32_t c = vp::text::CharacterAt(units.data(), n, i, &width);
    unsigned char bytes[4];
    const std::size_t count = EncodeFileNameCharacter(c, bytes);
    if (!sink(bytes, count)) return false;
    i += width;
  }
  return true;
}

} // namespace

namespace vp {

String16 DecodeFileName(std::string_view bytes) {
  String16 out;
  out.reserve(bytes.size());
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    char32_t cp = 0;
    const std::size_t len = text::DecodeUTF8Sequence(p + i, n - i, &cp);
    if (len == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 + p[i]));
      ++i;
    } else {
      text::AppendCodePoint(out, cp);
      i += len;
    }
  }
  return out;
}

String8 EncodeFileName(const String16 &units) {
  String8 out;
  out.reserve(units.size());
  ForEachFileNameChunk(units, [&](const unsigned char *bytes, std::size_t count) {
    out.append(reinterpret_cast<const char *>(bytes), count);
    return true;
  });
  return out;
}

String8 ToUTF8Lossy(const String16 &units) {
  String8 out;
  out.reserve(units.size());
  const std::size_t n = units.size();
  for (std::size_t i = 0; i < n;) {
    std::size_t width = 1;
    const char32_t c = text::CharacterAt(units.data(), n, i, &width);
    unsigned char bytes[4];
    const std::size_t count = text::EncodeCharacter(kCFStringEncodingUTF8, c, bytes);
    if (count == 0)
      out.push_back('?');
    else
      out.append(reinterpret_cast<const char *>(bytes), count);
    i += width;
  }
  return out;
}

} // namespace vp

extern "C" {

CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef,
                                                       const char *buffer) noexcept {
  if (!buffer) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    return vp::NewString(vp::DecodeFileName(std::string_view(buffer, std::strlen(buffer))));
  });
}

CFStringRef VPStringCreateWithFileSystemBytes(CFAllocatorRef, const UInt8 *bytes,
                                              CFIndex numBytes) noexcept {
  if (numBytes < 0 || (!bytes && numBytes > 0)) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    const std::string_view view = numBytes == 0
                                      ? std::string_view()
                                      : std::string_view(reinterpret_cast<const char *>(bytes),
                                                         static_cast<std::size_t>(numBytes));
    return vp::NewString(vp::DecodeFileName(view));
  });
}

Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char *buffer,
                                            CFIndex maxBufLen) noexcept {
  const vp::String16 *units = vp::Units(string);
  if (!buffer || maxBufLen <= 0) return false;
  buffer[0] = '\0';
  if (!units) return false;
  // A zero byte would cut the name short: such a string names no file.
  if (units->find(char16_t{0}) != vp::String16::npos) return false;
  const std::size_t room = static_cast<std::size_t>(maxBufLen) - 1; // keep one for the zero
  std::size_t used = 0;
  const bool fits =
      ForEachFileNameChunk(*units, [&](const unsigned char *bytes, std::size_t count) {
        if (count > room - used) return false;
        std::memcpy(buffer + used, bytes, count);
        used += count;
        return true;
      });
  if (!fits) {
    buffer[0] = '\0';
    return false;
  }
  buffer[used] = '\0';
  return true;
}

CFIndex VPStringGetFileSystemRepresentationLength(CFStringRef string) noexcept {
  const vp::String16 *units = vp::Units(string);
  if (!units) return 0;
  std::size_t total = 0;
  ForEachFileNameChunk(*units, [&](const unsigned char *, std::size_t count) {
    total += count;
    return true;
  });
  return static_cast<CFIndex>(total);
}

} // extern "C"
