// The checks property-list input passes before libplist reads it (see
// property_list_scan.h): a small XML scanner that knows the property-list
// elements, and a walk over a binary list's offset table and objects.
#include "property_list_scan.h"

#include <cstring>

namespace {

using vp::plist::kMaxDepth;
using vp::plist::Shape;

constexpr const char *kTooDeep = "containers are nested more than 512 levels deep";
constexpr const char *kEndsEarly = "the document ends too early";
constexpr const char *kDate = "date values are not supported";

// ---------------------------------------------------------------- XML ----

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '.' || c == '-';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back()))
    s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An integer as Apple's writer and ours produce it: optional sign, then
// decimal digits without a leading zero, or 0x and hex digits. Surrounding
// white space is allowed. The value must fit in 64 bits (unsigned values
// above the signed range are refused later, with their own reason).
const char *CheckInteger(std::string_view raw) {
  std::string_view s = Trim(raw);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return "an integer has no digits";
  if (base == 10 && s.size() > 1 && s.front() == '0')
    return "an integer has a leading zero (octal is not accepted)";
  std::uint64_t value = 0;
  for (char c : s) {
    int d = HexValue(c);
    if (d < 0 || d >= base) return "an integer holds a character that is not a digit";
    if (value > (UINT64_MAX - static_cast<unsigned>(d)) / static_cast<unsigned>(base))
      return "an integer does not fit in 64 bits";
    value = value * base + static_cast<unsigned>(d);
  }
  if (negative && value > (std::uint64_t{1} << 63)) return "an integer does not fit in 64 bits";
  return nullptr;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// A decimal real with optional fraction and exponent, or nan / inf /
// infinity with an optional sign, surrounded by optional white space.
const char *CheckReal(std::string_view raw) {
  constexpr const char *kBad = "a real number is malformed";
  std::string_view s = Trim(raw);
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  if (EqualsNoCase(s, "nan") || EqualsNoCase(s, "inf") || EqualsNoCase(s, "infinity"))
    return nullptr;
  size_t i = 0, digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return kBad;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i;
    if (i == expStart) return kBad;
  }
  return i == s.size() ? nullptr : kBad;
}

// Base64 with white space anywhere, padded to a multiple of four.
const char *CheckBase64(std::string_view raw) {
  constexpr const char *kBad = "a data value is not valid base64";
  size_t count = 0, padding = 0;
  for (char c : raw) {
    if (IsSpace(c)) continue;
    bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/';
    if (c == '=') {
      if (++padding > 2) return kBad;
    } else if (!alphabet || padding > 0) {
      return kBad;
    }
    ++count;
  }
  return count % 4 == 0 ? nullptr : kBad;
}

enum class TagKind { kStart, kEmpty, kEnd };

struct Tag {
  std::string_view name;
  TagKind kind = TagKind::kStart;
};

class XmlScan {
public:
  XmlScan(std::string_view text, Shape &shape) : s_(text), shape_(shape) {}

  const char *Run() {
    if (!s_.empty() && std::memchr(s_.data(), 0, s_.size())) return "the document holds a NUL byte";
    if (const char *e = Prolog()) return e;
    if (pos_ >= s_.size()) return "the document holds no value";
    Tag tag;
    if (const char *e = ReadTag(tag)) return e;
    if (tag.name == "plist") {
      if (tag.kind != TagKind::kStart) return "the plist element holds no value";
      Tag inner;
      if (const char *e = SkipMisc(); e || (e = ReadTag(inner))) return e;
      if (inner.kind == TagKind::kEnd) return "the plist element holds no value";
      if (const char *e = Value(inner, 1)) return e;
      Tag close;
      if (const char *e = SkipMisc(); e || (e = ReadTag(close))) return e;
      if (close.kind != TagKind::kEnd || close.name != "plist")
        return "the plist element holds more than one value";
    } else if (const char *e = Value(tag, 1)) {
      return e;
    }
    if (const char *e = SkipMisc()) return e;
    return pos_ == s_.size() ? nullptr : "something follows the end of the property list";
  }

private:
  bool At(std::string_view prefix) const { return s_.substr(pos_).starts_with(prefix); }

  void SkipSpace() {
    while (pos_ < s_.size() && IsSpace(s_[pos_]))
      ++pos_;
  }

  // Moves past the next occurrence of end; false when there is none.
  bool SkipPast(std::string_view end) {
    size_t at = s_.find(end, pos_);
    if (at == std::string_view::npos) return false;
    pos_ = at + end.size();
    return true;
  }

  // White space, comments and processing instructions.
  const char *SkipMisc() {
    for (;;) {
      SkipSpace();
      if (At("<!--")) {
        pos_ += 4;
        if (!SkipPast("-->")) return "a comment is not closed";
      } else if (At("<?")) {
        if (!SkipPast("?>")) return "a processing instruction is not closed";
      } else {
        return nullptr;
      }
    }
  }

  // Before the first element: the XML declaration, comments and a DOCTYPE.
  const char *Prolog() {
    for (;;) {
      if (const char *e = SkipMisc()) return e;
      if (!At("<!DOCTYPE")) return nullptr;
      char quote = 0;
      int brackets = 0;
      for (pos_ += 9;; ++pos_) {
        if (pos_ >= s_.size()) return "the DOCTYPE is not closed";
        char c = s_[pos_];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '[') {
          ++brackets;
        } else if (c == ']') {
          --brackets;
        } else if (c == '>' && brackets <= 0) {
          ++pos_;
          break;
        }
      }
    }
  }

  const char *ReadTag(Tag &tag) {
    if (pos_ >= s_.size()) return kEndsEarly;
    if (s_[pos_] != '<') return "text stands where an element belongs";
    ++pos_;
    bool end = pos_ < s_.size() && s_[pos_] == '/';
    if (end) ++pos_;
    size_t start = pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_]))
      ++pos_;
    if (pos_ == start) return "a tag is malformed";
    tag.name = s_.substr(start, pos_ - start);
    if (end) {
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '>') return "an end tag is malformed";
      ++pos_;
      tag.kind = TagKind::kEnd;
      return nullptr;
    }
    for (;;) {
      size_t before = pos_;
      SkipSpace();
      if (pos_ >= s_.size()) return kEndsEarly;
      if (s_[pos_] == '>') {
        ++pos_;
        tag.kind = TagKind::kStart;
        return nullptr;
      }
      if (At("/>")) {
        pos_ += 2;
        tag.kind = TagKind::kEmpty;
        return nullptr;
      }
      // An attribute, which must be set apart from what precedes it.
      constexpr const char *kBadAttribute = "an attribute is malformed";
      if (pos_ == before) return kBadAttribute;
      size_t nameStart = pos_;
      while (pos_ < s_.size() && IsNameChar(s_[pos_]))
        ++pos_;
      if (pos_ == nameStart) return kBadAttribute;
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '=') return kBadAttribute;
      ++pos_;
      SkipSpace();
      if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) return kBadAttribute;
      char quote = s_[pos_++];
      size_t close = s_.find(quote, pos_);
      if (close == std::string_view::npos) return kEndsEarly;
      if (s_.substr(pos_, close - pos_).find('<') != std::string_view::npos) return kBadAttribute;
      pos_ = close + 1;
    }
  }

  // A character or entity reference, pos_ at '&'.
  const char *Reference() {
    constexpr const char *kBad = "a character reference is malformed";
    size_t semicolon = s_.find(';', pos_);
    if (semicolon == std::string_view::npos || semicolon - pos_ > 12) return kBad;
    std::string_view body = s_.substr(pos_ + 1, semicolon - pos_ - 1);
    pos_ = semicolon + 1;
    if (body == "amp" || body == "lt" || body == "gt" || body == "quot" || body == "apos")
      return nullptr;
    if (body.size() < 2 || body[0] != '#') return kBad;
    int base = 10;
    body.remove_prefix(1);
    if (body[0] == 'x') {
      base = 16;
      body.remove_prefix(1);
    }
    if (body.empty()) return kBad;
    std::uint32_t cp = 0;
    for (char c : body) {
      int d = HexValue(c);
      if (d < 0 || d >= base || cp > 0x10FFFF) return kBad;
      cp = cp * base + static_cast<unsigned>(d);
    }
    bool ok = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
              (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    return ok ? nullptr : "a character reference names a character XML cannot hold";
  }

  // The content of a scalar element up to its end tag. Text values (string,
  // key) may hold references, comments and CDATA sections; the others must
  // be plain characters, which *raw receives.
  const char *Content(const Tag &tag, bool text, std::string_view *raw) {
    if (tag.kind == TagKind::kEmpty) {
      if (raw) *raw = {};
      return nullptr;
    }
    size_t start = pos_;
    for (;;) {
      if (pos_ >= s_.size()) return kEndsEarly;
      char c = s_[pos_];
      if (c == '<') {
        if (At("</")) break;
        if (!text) return "markup inside a number or data value";
        if (At("<!--")) {
          pos_ += 4;
          if (!SkipPast("-->")) return "a comment is not closed";
        } else if (At("<![CDATA[")) {
          if (!SkipPast("]]>")) return "a CDATA section is not closed";
        } else {
          return "an element inside a string";
        }
      } else if (c == '&') {
        if (!text) return "a reference inside a number or data value";
        if (const char *e = Reference()) return e;
      } else {
        ++pos_;
      }
    }
    if (raw) *raw = s_.substr(start, pos_ - start);
    Tag close;
    if (const char *e = ReadTag(close)) return e;
    return close.name == tag.name ? nullptr : "an end tag does not match its element";
  }

  const char *Container(const Tag &tag, int depth) {
    if (depth > kMaxDepth) return kTooDeep;
    bool dict = tag.name == "dict";
    size_t slot = shape_.dictPairs.size();
    if (dict) shape_.dictPairs.push_back(0);
    if (tag.kind == TagKind::kEmpty) return nullptr;
    std::uint32_t pairs = 0;
    for (;;) {
      Tag item;
      if (const char *e = SkipMisc(); e || (e = ReadTag(item))) return e;
      if (item.kind == TagKind::kEnd) {
        if (item.name != tag.name) return "an end tag does not match its element";
        break;
      }
      if (!dict) {
        if (const char *e = Value(item, depth + 1)) return e;
        continue;
      }
      if (item.name != "key") return "a dictionary value has no key";
      Tag value;
      if (const char *e = Content(item, true, nullptr)) return e;
      if (const char *e = SkipMisc(); e || (e = ReadTag(value))) return e;
      if (value.kind == TagKind::kEnd || value.name == "key")
        return "a dictionary key has no value";
      if (const char *e = Value(value, depth + 1)) return e;
      ++pairs;
    }
    if (dict) shape_.dictPairs[slot] = pairs;
    return nullptr;
  }

  const char *Value(const Tag &tag, int depth) {
    if (tag.kind == TagKind::kEnd) return "an end tag without its element";
    std::string_view name = tag.name, raw;
    if (name == "array" || name == "dict") return Container(tag, depth);
    if (name == "string") return Content(tag, true, nullptr);
    if (name == "key") return "a key outside a dictionary";
    if (name == "date") return kDate;
    if (name == "true" || name == "false") {
      if (const char *e = Content(tag, false, &raw)) return e;
      return Trim(raw).empty() ? nullptr : "a boolean element holds text";
    }
    if (name == "integer" || name == "real") {
      if (tag.kind == TagKind::kEmpty) return "a number element is empty";
      if (const char *e = Content(tag, false, &raw)) return e;
      return name == "integer" ? CheckInteger(raw) : CheckReal(raw);
    }
    if (name == "data") {
      if (const char *e = Content(tag, false, &raw)) return e;
      return CheckBase64(raw);
    }
    return "an element that is not a property-list value";
  }

  std::string_view s_;
  size_t pos_ = 0;
  Shape &shape_;
};

// ------------------------------------------------------------- binary ----

std::uint64_t ReadBE(const unsigned char *p, size_t size) {
  std::uint64_t v = 0;
  for (size_t i = 0; i < size; ++i)
    v = (v << 8) | p[i];
  return v;
}

bool IsIntSize(unsigned n) {
  return n == 1 || n == 2 || n == 4 || n == 8;
}

class BinaryScan {
public:
  BinaryScan(std::string_view bytes, Shape &shape)
      : b_(reinterpret_cast<const unsigned char *>(bytes.data())), n_(bytes.size()), shape_(shape) {
  }

  const char *Run() {
    // "bplist00", at least one object byte and one offset byte, the trailer.
    if (n_ < 8 + 1 + 1 + 32) return "the binary property list is truncated";
    const unsigned char *t = b_ + n_ - 32;
    offSize_ = t[6];
    refSize_ = t[7];
    count_ = ReadBE(t + 8, 8);
    std::uint64_t top = ReadBE(t + 16, 8);
    table_ = ReadBE(t + 24, 8);
    if (!IsIntSize(offSize_) || !IsIntSize(refSize_))
      return "the binary property list's trailer is malformed";
    if (count_ == 0 || top >= count_ || table_ < 9 || table_ > n_ - 32 ||
        count_ > (n_ - 32 - table_) / offSize_)
      return "the binary property list's trailer is malformed";
    checked_.assign(count_, 0);
    return Walk(top);
  }

private:
  struct Obj {
    unsigned type = 0, info = 0;
    std::uint64_t count = 0; // elements, bytes or UTF-16 units
    std::uint64_t data = 0;  // where the payload begins
  };

  std::uint64_t Ref(std::uint64_t at) const { return ReadBE(b_ + at, refSize_); }

  // Decodes an object's marker and length and checks that it lies before
  // the offset table; says nothing yet about its content.
  const char *Header(std::uint64_t index, Obj &o) const {
    std::uint64_t off = ReadBE(b_ + table_ + index * offSize_, offSize_);
    if (off < 8 || off >= table_) return "an object offset is out of range";
    std::uint64_t pos = off + 1, limit = table_;
    o.type = b_[off] >> 4;
    o.info = b_[off] & 15;
    std::uint64_t bytes = 0;
    switch (o.type) {
    case 0x0:
      if (o.info == 8 || o.info == 9) break;
      return o.info == 0 ? "null values are not supported" : "an object of unknown kind";
    case 0x1:
      if (o.info > 4) return "an integer has an unsupported width";
      bytes = o.count = std::uint64_t{1} << o.info;
      break;
    case 0x2:
      if (o.info != 2 && o.info != 3) return "a real has an unsupported width";
      bytes = o.count = std::uint64_t{1} << o.info;
      break;
    case 0x3:
      return kDate;
    case 0x8:
      return "UID values are not supported";
    case 0xC:
      return "sets are not supported";
    case 0x4:
    case 0x5:
    case 0x6:
    case 0xA:
    case 0xD: {
      o.count = o.info;
      if (o.info == 15) {
        if (pos >= limit) return "the binary property list is truncated";
        unsigned marker = b_[pos++];
        if ((marker >> 4) != 1 || (marker & 15) > 3) return "an object's length is malformed";
        unsigned size = 1u << (marker & 15);
        if (size > limit - pos) return "the binary property list is truncated";
        o.count = ReadBE(b_ + pos, size);
        pos += size;
      }
      std::uint64_t unit = o.type == 0x6   ? 2
                           : o.type == 0xA ? refSize_
                           : o.type == 0xD ? 2u * refSize_
                                           : 1;
      if (o.count > (limit - pos) / unit) return "an object runs past the end of its table";
      bytes = o.count * unit;
      break;
    }
    default:
      return "an object of unknown kind";
    }
    if (bytes > limit - pos) return "an object runs past the end of its table";
    o.data = pos;
    return nullptr;
  }

  // Header plus content: text that is valid, references in range,
  // dictionary keys that are strings. Each object is checked once.
  const char *Check(std::uint64_t index, Obj &o) {
    if (const char *e = Header(index, o)) return e;
    if (checked_[index]) return nullptr;
    const unsigned char *p = b_ + o.data;
    switch (o.type) {
    case 0x1:
      if (o.count == 16 && ReadBE(p, 8) != 0) return "an integer does not fit in 64 bits";
      break;
    case 0x5:
      for (std::uint64_t i = 0; i < o.count; ++i) {
        if (p[i] >= 0x80) return "an ASCII string holds a byte above 127";
        if (p[i] == 0) return "a string holds a NUL character";
      }
      break;
    case 0x6:
      for (std::uint64_t i = 0; i < o.count; ++i) {
        unsigned u = static_cast<unsigned>(ReadBE(p + 2 * i, 2));
        if (u == 0) return "a string holds a NUL character";
        if (u >= 0xDC00 && u <= 0xDFFF) return "a string holds an unpaired surrogate";
        if (u >= 0xD800 && u <= 0xDBFF) {
          unsigned next = i + 1 < o.count ? static_cast<unsigned>(ReadBE(p + 2 * i + 2, 2)) : 0;
          if (next < 0xDC00 || next > 0xDFFF) return "a string holds an unpaired surrogate";
          ++i;
        }
      }
      break;
    case 0xA:
    case 0xD:
      for (std::uint64_t i = 0; i < (o.type == 0xD ? 2 : 1) * o.count; ++i)
        if (Ref(o.data + i * refSize_) >= count_) return "an object reference is out of range";
      if (o.type == 0xD) {
        for (std::uint64_t i = 0; i < o.count; ++i) {
          // The kind first: a key that is a container must not lead the
          // check from one dictionary into the next.
          std::uint64_t keyIndex = Ref(o.data + i * refSize_);
          Obj key;
          if (const char *e = Header(keyIndex, key)) return e;
          if (key.type != 0x5 && key.type != 0x6) return "a dictionary key is not a string";
          if (const char *e = Check(keyIndex, key)) return e;
        }
      }
      break;
    default:
      break;
    }
    checked_[index] = 1;
    return nullptr;
  }

  // Depth-first over the values as libplist will expand them (an object
  // referred to twice becomes two values), bounded in depth and in the
  // number of values so that shared references cannot multiply without end.
  const char *Walk(std::uint64_t top) {
    struct Frame {
      std::uint64_t refs; // where the child references begin
      std::uint64_t next, count;
    };
    vp::Vector<Frame> stack;
    const std::uint64_t budget = n_ > (1u << 20) ? n_ : (1u << 20);
    std::uint64_t values = 0;
    auto enter = [&](std::uint64_t index) -> const char * {
      Obj o;
      if (const char *e = Check(index, o)) return e;
      values += 1 + (o.type == 0xD ? o.count : 0);
      if (values > budget) return "the binary property list expands to too many values";
      if (o.type != 0xA && o.type != 0xD) return nullptr;
      if (stack.size() >= static_cast<size_t>(kMaxDepth)) return kTooDeep;
      if (o.type == 0xD) {
        if (o.count > UINT32_MAX) return "a dictionary is too large";
        shape_.dictPairs.push_back(static_cast<std::uint32_t>(o.count));
      }
      std::uint64_t refs = o.data + (o.type == 0xD ? o.count * refSize_ : 0);
      stack.push_back(Frame{refs, 0, o.count});
      return nullptr;
    };
    if (const char *e = enter(top)) return e;
    while (!stack.empty()) {
      Frame &f = stack.back();
      if (f.next == f.count) {
        stack.pop_back();
        continue;
      }
      std::uint64_t child = Ref(f.refs + f.next * refSize_);
      ++f.next;
      if (const char *e = enter(child)) return e;
    }
    return nullptr;
  }

  const unsigned char *b_;
  std::uint64_t n_;
  unsigned offSize_ = 0, refSize_ = 0;
  std::uint64_t count_ = 0, table_ = 0;
  vp::Vector<unsigned char> checked_;
  Shape &shape_;
};

} // namespace

namespace vp::plist {

const char *ScanXML(std::string_view text, Shape &shape) {
  return XmlScan(text, shape).Run();
}

const char *ScanBinary(std::string_view bytes, Shape &shape) {
  return BinaryScan(bytes, shape).Run();
}

bool IsValidUTF8(std::string_view text) noexcept {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  size_t n = text.size(), i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    std::uint32_t cp, min;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned cc = p[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

} // namespace vp::plist
