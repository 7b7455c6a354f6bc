// Property lists through libplist: XML and binary input is scanned first
// (property_list_scan.h), then parsed by libplist and mapped onto our
// objects; objects are mapped the other way and written as XML. Every
// refusal says why in a CFError.
#include <locale.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cf_error_internal.h"
#include "cf_property_list_internal.h"
#include "cf_string_internal.h"
#include "property_list_scan.h"

namespace {

using vp::plist::Failure;
using vp::plist::kMaxDepth;

constexpr const char *kMalformed = "the property list is malformed";

// A refusal on its way out of the recursive readers and writers.
struct Refusal {
  CFStringRef domain;
  CFIndex code;
  const char *message;
};

[[noreturn]] void Corrupt(const char *message) {
  throw Refusal{kCFErrorDomainCocoa, kCFPropertyListReadCorruptError, message};
}

[[noreturn]] void Invalid(const char *message) {
  throw Refusal{kCFErrorDomainCocoa, kCFPropertyListWriteInvalidError, message};
}

struct PlistFree {
  void operator()(void *p) const noexcept { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// For what libplist hands out to be freed with free(): iterators, keys.
struct CFree {
  void operator()(void *p) const noexcept { std::free(p); }
};

PlistPtr Made(plist_t node) {
  if (!node) throw std::bad_alloc();
  return PlistPtr(node);
}

// libplist reads numbers with the C library's locale-dependent functions:
// under a locale whose decimal mark is a comma, "2.5" would read as 2. Every
// call into it runs under the C locale, on this thread only.
class CLocaleScope {
public:
  CLocaleScope() noexcept {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (c) saved_ = uselocale(c);
  }
  ~CLocaleScope() {
    if (saved_) uselocale(saved_);
  }
  CLocaleScope(const CLocaleScope &) = delete;
  CLocaleScope &operator=(const CLocaleScope &) = delete;

private:
  locale_t saved_ = static_cast<locale_t>(0);
};

// ------------------------------------------------------------ reading ----

// libplist 2.2 keeps every integer as 64 unsigned bits and a width: 8 bytes
// for values in the signed range (negative ones included), 16 for values
// read as unsigned above it. The public API shows the width only when two
// nodes are compared, so compare with a node of width 8.
bool HasSignedWidth(plist_t node, std::uint64_t value) {
  PlistPtr probe = Made(plist_new_uint(value));
  return plist_compare_node_value(node, probe.get()) != 0;
}

class Reader {
public:
  Reader(const vp::plist::Shape &shape, bool mutableContainers)
      : shape_(shape), mutable_(mutableContainers) {}

  std::size_t dictionariesSeen() const { return dicts_; }

  vp::Ref<> Convert(plist_t node, int depth) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return vp::Ref<>::Retain(b ? kCFBooleanTrue : kCFBooleanFalse);
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      if (v > static_cast<std::uint64_t>(INT64_MAX) && !HasSignedWidth(node, v))
        Corrupt("an integer is above the largest signed 64-bit value");
      SInt64 s = static_cast<SInt64>(v);
      return Number(kCFNumberSInt64Type, &s);
    }
    case PLIST_REAL: {
      Float64 d = 0;
      plist_get_real_val(node, &d);
      return Number(kCFNumberFloat64Type, &d);
    }
    case PLIST_STRING: {
      std::uint64_t n = 0;
      const char *p = plist_get_string_ptr(node, &n);
      return Text(p, n);
    }
    case PLIST_DATA: {
      std::uint64_t n = 0;
      const char *p = plist_get_data_ptr(node, &n);
      static const UInt8 kNone = 0;
      CFDataRef data = CFDataCreate(nullptr, p ? reinterpret_cast<const UInt8 *>(p) : &kNone,
                                    static_cast<CFIndex>(p ? n : 0));
      if (!data) throw std::bad_alloc();
      return vp::Ref<>(data);
    }
    case PLIST_ARRAY:
      return Array(node, depth);
    case PLIST_DICT:
      return Dictionary(node, depth);
    case PLIST_DATE:
      Corrupt("date values are not supported");
    case PLIST_UID:
      Corrupt("UID values are not supported");
    default:
      Corrupt(kMalformed);
    }
  }

private:
  static vp::Ref<> Number(CFNumberType type, const void *value) {
    CFNumberRef n = CFNumberCreate(nullptr, type, value);
    if (!n) throw std::bad_alloc();
    return vp::Ref<>(n);
  }

  static vp::Ref<> Text(const char *p, std::uint64_t n) {
    std::string_view text(p ? p : "", p ? n : 0);
    if (!vp::plist::IsValidUTF8(text)) Corrupt("a string is not valid UTF-8");
    return vp::Ref<>(vp::NewStringFromUTF8(text));
  }

  vp::Ref<> Array(plist_t node, int depth) {
    if (depth > kMaxDepth) Corrupt("containers are nested more than 512 levels deep");
    vp::Vector<vp::Ref<>> items;
    items.reserve(plist_array_get_size(node));
    plist_array_iter it = nullptr;
    plist_array_new_iter(node, &it);
    if (!it) throw std::bad_alloc();
    std::unique_ptr<void, CFree> itHeld(it);
    for (;;) {
      plist_t item = nullptr;
      plist_array_next_item(node, it, &item);
      if (!item) break;
      items.push_back(Convert(item, depth + 1));
    }
    vp::Vector<const void *> values;
    values.reserve(items.size());
    for (const vp::Ref<> &item : items)
      values.push_back(item.get());
    vp::Ref<> made(CFArrayCreate(nullptr, values.data(), static_cast<CFIndex>(values.size()),
                                 &kCFTypeArrayCallBacks));
    if (!made) throw std::bad_alloc();
    if (!mutable_) return made;
    vp::Ref<> copy(CFArrayCreateMutableCopy(nullptr, 0, static_cast<CFArrayRef>(made.get())));
    if (!copy) throw std::bad_alloc();
    return copy;
  }

  vp::Ref<> Dictionary(plist_t node, int depth) {
    if (depth > kMaxDepth) Corrupt("containers are nested more than 512 levels deep");
    // The scan counted this dictionary's pairs in the text; libplist lets a
    // repeated key replace the first, so fewer pairs here mean a repeat.
    if (dicts_ >= shape_.dictPairs.size()) Corrupt(kMalformed);
    std::size_t expected = shape_.dictPairs[dicts_++];
    vp::Vector<vp::Ref<>> keys, values;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    if (!it) throw std::bad_alloc();
    std::unique_ptr<void, CFree> itHeld(it);
    for (;;) {
      char *key = nullptr;
      plist_t value = nullptr;
      plist_dict_next_item(node, it, &key, &value);
      std::unique_ptr<char, CFree> keyHeld(key);
      if (!value) break;
      if (!key) throw std::bad_alloc();
      keys.push_back(Text(key, std::strlen(key)));
      values.push_back(Convert(value, depth + 1));
    }
    vp::Vector<const void *> k, v;
    k.reserve(keys.size());
    v.reserve(values.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      k.push_back(keys[i].get());
      v.push_back(values[i].get());
    }
    vp::Ref<> made(CFDictionaryCreate(nullptr, k.data(), v.data(), static_cast<CFIndex>(k.size()),
                                      &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks));
    if (!made) throw std::bad_alloc();
    std::size_t pairs =
        static_cast<std::size_t>(CFDictionaryGetCount(static_cast<CFDictionaryRef>(made.get())));
    if (pairs != keys.size() || pairs != expected) Corrupt("a dictionary names the same key twice");
    if (!mutable_) return made;
    vp::Ref<> copy(
        CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(made.get())));
    if (!copy) throw std::bad_alloc();
    return copy;
  }

  const vp::plist::Shape &shape_;
  bool mutable_;
  std::size_t dicts_ = 0;
};

// ------------------------------------------------------------ writing ----

// UTF-8 for a string's UTF-16 units; refuses what XML text cannot carry.
vp::String8 ToUTF8(CFTypeRef string) {
  const vp::String16 &u = *vp::Units(string);
  vp::String8 out;
  out.reserve(u.size());
  for (std::size_t i = 0; i < u.size(); ++i) {
    char32_t c = u[i];
    if (c == 0) Invalid("a string holds U+0000, which XML cannot hold");
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      Invalid("a string holds an unpaired surrogate, which UTF-8 cannot hold");
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Maps an object onto libplist nodes, or (build false) only checks that it
// could be: CFPropertyListIsValid and CFPropertyListCreateData share it.
class Writer {
public:
  explicit Writer(bool build) : build_(build) {}

  PlistPtr Node(CFTypeRef cf, int depth) {
    if (!cf) Invalid("a value is null");
    switch (CFGetTypeID(cf)) {
    case vp::kTypeIDString: {
      vp::String8 text = ToUTF8(cf);
      return Make([&] { return plist_new_string(text.c_str()); });
    }
    case vp::kTypeIDNumber: {
      auto n = static_cast<CFNumberRef>(cf);
      if (CFNumberIsFloatType(n)) {
        Float64 d = 0;
        CFNumberGetValue(n, kCFNumberFloat64Type, &d);
        return Make([&] { return plist_new_real(d); });
      }
      SInt64 v = 0;
      CFNumberGetValue(n, kCFNumberSInt64Type, &v);
      return Make([&] { return plist_new_uint(static_cast<std::uint64_t>(v)); });
    }
    case vp::kTypeIDBoolean: {
      bool b = CFBooleanGetValue(static_cast<CFBooleanRef>(cf));
      return Make([&] { return plist_new_bool(b); });
    }
    case vp::kTypeIDData: {
      auto d = static_cast<CFDataRef>(cf);
      return Make([&] {
        return plist_new_data(reinterpret_cast<const char *>(CFDataGetBytePtr(d)),
                              static_cast<std::uint64_t>(CFDataGetLength(d)));
      });
    }
    case vp::kTypeIDArray:
      return Array(static_cast<CFArrayRef>(cf), depth);
    case vp::kTypeIDDictionary:
      return Dictionary(static_cast<CFDictionaryRef>(cf), depth);
    default:
      Invalid("an object is not a string, number, boolean, data, array or dictionary");
    }
  }

private:
  template <class F> PlistPtr Make(F &&make) {
    if (!build_) return PlistPtr();
    return Made(make());
  }

  static void CheckDepth(int depth) {
    if (depth > kMaxDepth)
      Invalid("containers are nested more than 512 levels deep, or contain themselves");
  }

  PlistPtr Array(CFArrayRef a, int depth) {
    CheckDepth(depth);
    PlistPtr node = Make([] { return plist_new_array(); });
    CFIndex n = CFArrayGetCount(a);
    for (CFIndex i = 0; i < n; ++i) {
      PlistPtr child = Node(CFArrayGetValueAtIndex(a, i), depth + 1);
      if (build_) plist_array_append_item(node.get(), child.release());
    }
    return node;
  }

  PlistPtr Dictionary(CFDictionaryRef d, int depth) {
    CheckDepth(depth);
    std::size_t n = static_cast<std::size_t>(CFDictionaryGetCount(d));
    vp::Vector<const void *> keys(n), values(n);
    CFDictionaryGetKeysAndValues(d, keys.data(), values.data());
    struct Entry {
      vp::String8 key;
      CFTypeRef value;
    };
    vp::Vector<Entry> entries;
    entries.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (!keys[i] || CFGetTypeID(keys[i]) != vp::kTypeIDString)
        Invalid("a dictionary key is not a string");
      entries.push_back(Entry{ToUTF8(keys[i]), values[i]});
    }
    // Sorted keys make the output depend on the contents alone.
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.key < b.key; });
    PlistPtr node = Make([] { return plist_new_dict(); });
    for (const Entry &e : entries) {
      PlistPtr child = Node(e.value, depth + 1);
      if (build_) plist_dict_set_item(node.get(), e.key.c_str(), child.release());
    }
    return node;
  }

  bool build_;
};

} // namespace

namespace vp::plist {

CFPropertyListRef Read(std::string_view bytes, CFOptionFlags options, CFPropertyListFormat *format,
                       Failure &failure) {
  try {
    if (options & ~static_cast<CFOptionFlags>(kCFPropertyListMutableContainers))
      throw Refusal{kCFErrorDomainOSStatus, paramErr, "an option is not known"};
    if (bytes.size() > UINT32_MAX) Corrupt("the input is larger than 4 GiB");
    bool binary = bytes.starts_with("bplist");
    if (binary && !bytes.starts_with("bplist00"))
      throw Refusal{kCFErrorDomainCocoa, kCFPropertyListReadUnknownVersionError,
                    "the binary property list is of a version other than 00"};
    if (!binary && bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);

    Shape shape;
    if (const char *e = binary ? ScanBinary(bytes, shape) : ScanXML(bytes, shape)) Corrupt(e);
    plist_t root = nullptr;
    {
      CLocaleScope c;
      auto length = static_cast<std::uint32_t>(bytes.size());
      if (binary)
        plist_from_bin(bytes.data(), length, &root);
      else
        plist_from_xml(bytes.data(), length, &root);
    }
    if (!root) Corrupt(kMalformed);
    PlistPtr tree(root);
    Reader reader(shape, (options & kCFPropertyListMutableContainers) != 0);
    Ref<> result = reader.Convert(root, 1);
    if (reader.dictionariesSeen() != shape.dictPairs.size()) Corrupt(kMalformed);
    if (format) *format = binary ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0;
    return result.release();
  } catch (const Refusal &r) {
    failure = Failure{r.domain, r.code, r.message};
    return nullptr;
  }
}

CFDataRef WriteXML(CFPropertyListRef plist, Failure &failure) {
  try {
    PlistPtr root = Writer(true).Node(plist, 1);
    char *xml = nullptr;
    std::uint32_t length = 0;
    {
      CLocaleScope c;
      plist_to_xml(root.get(), &xml, &length);
    }
    if (!xml) throw std::bad_alloc();
    std::unique_ptr<char, void (*)(char *)> held(xml, plist_to_xml_free);
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml), length);
    if (!data) throw std::bad_alloc();
    return data;
  } catch (const Refusal &r) {
    failure = Failure{r.domain, r.code, r.message};
    return nullptr;
  }
}

bool IsPropertyList(CFPropertyListRef plist) {
  try {
    Writer(false).Node(plist, 1);
    return true;
  } catch (const Refusal &) {
    return false;
  }
}

} // namespace vp::plist

extern "C" {

CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data,
                                               CFOptionFlags options, CFPropertyListFormat *format,
                                               CFErrorRef *error) noexcept {
  if (CFGetTypeID(data) != vp::kTypeIDData) {
    vp::SetError(error, kCFErrorDomainOSStatus, paramErr, "no data was given");
    return nullptr;
  }
  if (error) *error = nullptr;
  return vp::Edge<CFPropertyListRef>(nullptr, [&]() -> CFPropertyListRef {
    vp::plist::Failure f;
    std::string_view bytes(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                           static_cast<std::size_t>(CFDataGetLength(data)));
    CFPropertyListRef result = vp::plist::Read(bytes, options, format, f);
    if (!result) vp::SetError(error, f.domain, f.code, f.message);
    return result;
  });
}

CFDataRef CFPropertyListCreateData(CFAllocatorRef, CFPropertyListRef propertyList,
                                   CFPropertyListFormat format, CFOptionFlags options,
                                   CFErrorRef *error) noexcept {
  if (format != kCFPropertyListXMLFormat_v1_0 || options != 0) {
    vp::SetError(error, kCFErrorDomainOSStatus, paramErr,
                 format != kCFPropertyListXMLFormat_v1_0 ? "only the XML format is written"
                                                         : "an option is not known");
    return nullptr;
  }
  if (error) *error = nullptr;
  return vp::Edge<CFDataRef>(nullptr, [&]() -> CFDataRef {
    vp::plist::Failure f;
    CFDataRef result = vp::plist::WriteXML(propertyList, f);
    if (!result) vp::SetError(error, f.domain, f.code, f.message);
    return result;
  });
}

Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format) noexcept {
  if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0)
    return false;
  return vp::Edge<Boolean>(false, [&] { return Boolean(vp::plist::IsPropertyList(plist)); });
}

} // extern "C"
