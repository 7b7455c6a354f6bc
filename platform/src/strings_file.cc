// The strings-file parser (see strings_file.h): the bytes are first decoded
// whole into UTF-16, strictly, then parsed; every fault stops the parse with
// the line where it lies.
#include "strings_file.h"

#include <algorithm>
#include <cstdio>

#include <vantlow/platform_testing.h>

namespace {

using vp::String16;
using vp::StringsFault;

// The line (from 1) on which text[pos] stands: LF, CRLF and a lone CR each
// end one line.
long LineAt(const String16 &text, size_t pos) {
  long line = 1;
  for (size_t i = 0; i < pos && i < text.size(); ++i) {
    if (text[i] == u'\n' || (text[i] == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n')))
      ++line;
  }
  return line;
}

bool Fail(StringsFault *fault, long line, const char *reason) {
  fault->line = line;
  fault->reason = reason;
  return false;
}

bool DecodeUTF8(std::string_view bytes, String16 *out, StringsFault *fault) {
  out->reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    unsigned c0 = static_cast<unsigned char>(bytes[i]);
    if (c0 == 0) {
      // Never part of UTF-8 text (\0 writes U+0000); most likely UTF-16.
      return Fail(fault, LineAt(*out, out->size()),
                  "NUL byte in UTF-8 text (UTF-16 text needs a byte-order mark)");
    }
    if (c0 < 0x80) {
      out->push_back(static_cast<char16_t>(c0));
      ++i;
      continue;
    }
    unsigned need, cp, min;
    if (c0 >= 0xC2 && c0 <= 0xDF) {
      need = 1, cp = c0 & 0x1F, min = 0x80;
    } else if (c0 >= 0xE0 && c0 <= 0xEF) {
      need = 2, cp = c0 & 0x0F, min = 0x800;
    } else if (c0 >= 0xF0 && c0 <= 0xF4) {
      need = 3, cp = c0 & 0x07, min = 0x10000;
    } else {
      return Fail(fault, LineAt(*out, out->size()), "invalid UTF-8");
    }
    if (n - i <= need) return Fail(fault, LineAt(*out, out->size()), "invalid UTF-8");
    for (unsigned k = 1; k <= need; ++k) {
      unsigned c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return Fail(fault, LineAt(*out, out->size()), "invalid UTF-8");
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return Fail(fault, LineAt(*out, out->size()), "invalid UTF-8");
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += need + 1;
  }
  return true;
}

bool DecodeUTF16(std::string_view bytes, bool bigEndian, String16 *out, StringsFault *fault) {
  if (bytes.size() % 2 != 0) {
    // Decode what there is first, so that the fault names the last line.
    DecodeUTF16(bytes.substr(0, bytes.size() - 1), bigEndian, out, fault);
    return Fail(fault, LineAt(*out, out->size()), "UTF-16 text with an odd number of bytes");
  }
  out->reserve(bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    unsigned a = static_cast<unsigned char>(bytes[i]);
    unsigned b = static_cast<unsigned char>(bytes[i + 1]);
    char16_t unit = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    out->push_back(unit);
  }
  // A surrogate must come as a high unit followed by a low one.
  for (size_t i = 0; i < out->size(); ++i) {
    char16_t u = (*out)[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < out->size() && (*out)[i + 1] >= 0xDC00 &&
        (*out)[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) return Fail(fault, LineAt(*out, i), "invalid UTF-16");
  }
  return true;
}

bool Decode(std::string_view bytes, String16 *out, StringsFault *fault) {
  auto starts = [&](const char *bom, size_t len) {
    return bytes.size() >= len && bytes.compare(0, len, bom, len) == 0;
  };
  if (starts("\xEF\xBB\xBF", 3)) return DecodeUTF8(bytes.substr(3), out, fault);
  if (starts("\xFF\xFE", 2)) return DecodeUTF16(bytes.substr(2), false, out, fault);
  if (starts("\xFE\xFF", 2)) return DecodeUTF16(bytes.substr(2), true, out, fault);
  return DecodeUTF8(bytes, out, fault);
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v';
}

bool IsUnquoted(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'.' || c == u'-';
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

struct Pair {
  String16 key;
  String16 value;
};

class Parser {
public:
  Parser(const String16 &text, StringsFault *fault)
      : p_(text.data()), end_(text.data() + text.size()), fault_(fault) {}

  // Appends the entries in the order they stand.
  bool Run(vp::Vector<Pair> *pairs) {
    for (;;) {
      if (!SkipSpace()) return false;
      if (AtEnd()) return true;
      Pair pair;
      if (!ReadToken(&pair.key, "expected a key")) return false;
      long keyLine = line_;
      if (!SkipSpace()) return false;
      if (!AtEnd() && *p_ == u';') {
        Advance();
        pair.value = pair.key;
      } else if (!AtEnd() && *p_ == u'=') {
        Advance();
        if (!SkipSpace()) return false;
        if (!ReadToken(&pair.value, "expected a value after '='")) return false;
        long valueLine = line_;
        if (!SkipSpace()) return false;
        if (AtEnd() || *p_ != u';') return Fail(fault_, valueLine, "missing ';' after the value");
        Advance();
      } else {
        return Fail(fault_, keyLine, "missing '=' or ';' after the key");
      }
      pairs->push_back(std::move(pair));
    }
  }

private:
  bool AtEnd() const { return p_ == end_; }
  void Advance() {
    char16_t c = *p_++;
    if (c == u'\n' || (c == u'\r' && (p_ == end_ || *p_ != u'\n'))) ++line_;
  }
  bool Next(char16_t c) const { return end_ - p_ >= 2 && p_[1] == c; }

  // Skips whitespace and comments; false on an unterminated comment.
  bool SkipSpace() {
    while (!AtEnd()) {
      if (IsSpace(*p_)) {
        Advance();
      } else if (*p_ == u'/' && Next(u'/')) {
        while (!AtEnd() && *p_ != u'\n' && *p_ != u'\r')
          Advance();
      } else if (*p_ == u'/' && Next(u'*')) {
        long start = line_;
        Advance();
        Advance();
        for (;;) {
          if (AtEnd()) return Fail(fault_, start, "unterminated comment");
          if (*p_ == u'*' && Next(u'/')) {
            Advance();
            Advance();
            break;
          }
          Advance();
        }
      } else {
        break;
      }
    }
    return true;
  }

  bool ReadToken(String16 *out, const char *missing) {
    if (!AtEnd() && *p_ == u'"') return ReadQuoted(out);
    if (!AtEnd() && IsUnquoted(*p_)) {
      while (!AtEnd() && IsUnquoted(*p_)) {
        out->push_back(*p_);
        Advance();
      }
      return true;
    }
    return Fail(fault_, line_, missing);
  }

  bool ReadQuoted(String16 *out) {
    long start = line_;
    Advance();
    for (;;) {
      if (AtEnd()) return Fail(fault_, start, "unterminated string");
      char16_t c = *p_;
      if (c == u'"') {
        Advance();
        return true;
      }
      if (c == u'\\') {
        if (!ReadEscape(out, start)) return false;
        continue;
      }
      out->push_back(c);
      Advance();
    }
  }

  // Four hexadecimal digits after "\u"; -1 when they are not there.
  int ReadHex4() {
    if (end_ - p_ < 4) return -1;
    int value = 0;
    for (int k = 0; k < 4; ++k) {
      int d = HexValue(p_[k]);
      if (d < 0) return -1;
      value = value * 16 + d;
    }
    for (int k = 0; k < 4; ++k)
      Advance();
    return value;
  }

  bool ReadEscape(String16 *out, long stringStart) {
    long line = line_;
    Advance(); // the backslash
    if (AtEnd()) return Fail(fault_, stringStart, "unterminated string");
    char16_t c = *p_;
    static const struct {
      char16_t letter, value;
    } kSimple[] = {{u'"', u'"'},  {u'\\', u'\\'}, {u'\'', u'\''}, {u'n', u'\n'}, {u't', u'\t'},
                   {u'r', u'\r'}, {u'a', u'\a'},  {u'b', u'\b'},  {u'f', u'\f'}, {u'v', u'\v'}};
    for (const auto &s : kSimple) {
      if (c == s.letter) {
        Advance();
        out->push_back(s.value);
        return true;
      }
    }
    if (c >= u'0' && c <= u'7') {
      unsigned value = 0;
      for (int k = 0; k < 3 && !AtEnd() && *p_ >= u'0' && *p_ <= u'7'; ++k) {
        value = value * 8 + (*p_ - u'0');
        Advance();
      }
      if (value > 0xFF) return Fail(fault_, line, "octal escape above \\377");
      out->push_back(static_cast<char16_t>(value));
      return true;
    }
    if (c == u'u' || c == u'U') {
      Advance();
      int unit = ReadHex4();
      if (unit < 0) return Fail(fault_, line, "\\u needs four hexadecimal digits");
      if (unit >= 0xDC00 && unit <= 0xDFFF)
        return Fail(fault_, line, "unpaired surrogate in a \\u escape");
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        // The low half must follow at once, as an escape of its own.
        if (end_ - p_ < 2 || p_[0] != u'\\' || (p_[1] != u'u' && p_[1] != u'U'))
          return Fail(fault_, line, "unpaired surrogate in a \\u escape");
        Advance();
        Advance();
        int low = ReadHex4();
        if (low < 0) return Fail(fault_, line, "\\u needs four hexadecimal digits");
        if (low < 0xDC00 || low > 0xDFFF)
          return Fail(fault_, line, "unpaired surrogate in a \\u escape");
        out->push_back(static_cast<char16_t>(unit));
        out->push_back(static_cast<char16_t>(low));
        return true;
      }
      out->push_back(static_cast<char16_t>(unit));
      return true;
    }
    return Fail(fault_, line, "unknown escape sequence");
  }

  const char16_t *p_;
  const char16_t *end_;
  long line_ = 1;
  StringsFault *fault_;
};

} // namespace

namespace vp {

bool ParseStringsTable(std::string_view bytes, StringsTable *table, StringsFault *fault) {
  table->clear();
  *fault = StringsFault();
  if (bytes.size() > kMaxStringsFileBytes)
    return Fail(fault, 0, "larger than the 4 MiB a strings table may hold");
  String16 text;
  if (!Decode(bytes, &text, fault)) return false;
  Vector<Pair> pairs;
  if (!Parser(text, fault).Run(&pairs)) return false;

  // Sorted by key, stably, so that of equal keys the later definition is
  // the last of its run and the one kept.
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const Pair &a, const Pair &b) { return a.key < b.key; });
  size_t kept = 0;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i + 1 < pairs.size() && pairs[i + 1].key == pairs[i].key) continue;
    ++kept;
  }
  try {
    table->reserve(kept);
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (i + 1 < pairs.size() && pairs[i + 1].key == pairs[i].key) continue;
      Ref<__CFString> made(NewString(std::move(pairs[i].value)));
      table->push_back(StringsEntry{std::move(pairs[i].key), std::move(made)});
    }
  } catch (...) {
    table->clear();
    throw;
  }
  return true;
}

CFStringRef FindInStringsTable(const StringsTable &table, const String16 &key) noexcept {
  auto it = std::lower_bound(table.begin(), table.end(), key,
                             [](const StringsEntry &e, const String16 &k) { return e.key < k; });
  if (it == table.end() || it->key != key) return nullptr;
  return it->text.get();
}

} // namespace vp

extern "C" CFDictionaryRef VPStringsTableCreateFromData(const UInt8 *bytes, CFIndex length,
                                                        CFStringRef *error) noexcept {
  if (error) *error = nullptr;
  if (length < 0 || (!bytes && length != 0)) return nullptr;
  return vp::Edge<CFDictionaryRef>(nullptr, [&]() -> CFDictionaryRef {
    vp::StringsTable table;
    vp::StringsFault fault;
    std::string_view data(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
    if (!vp::ParseStringsTable(data, &table, &fault)) {
      if (error) {
        char text[160];
        if (fault.line > 0)
          std::snprintf(text, sizeof text, "line %ld: %s", fault.line, fault.reason);
        else
          std::snprintf(text, sizeof text, "%s", fault.reason);
        *error = vp::NewStringFromUTF8(text);
      }
      return nullptr;
    }
    vp::Vector<vp::Ref<__CFString>> keys;
    vp::Vector<const void *> keyPtrs, valuePtrs;
    keys.reserve(table.size());
    keyPtrs.reserve(table.size());
    valuePtrs.reserve(table.size());
    for (const vp::StringsEntry &e : table) {
      keys.emplace_back(vp::NewString(e.key));
      keyPtrs.push_back(keys.back().get());
      valuePtrs.push_back(e.text.get());
    }
    CFDictionaryRef dict = CFDictionaryCreate(
        nullptr, keyPtrs.data(), valuePtrs.data(), static_cast<CFIndex>(table.size()),
        &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (!dict) throw std::bad_alloc();
    return dict;
  });
}
