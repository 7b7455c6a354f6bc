// Property lists: XML and binary reading (binary input made by libplist's
// own writer, or by hand where a fault must be planted), XML writing, the
// refusals and their errors, nesting limits, and failing allocations.
#include <locale.h>
#include <plist/plist.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "cf_objects.h"
#include "test_support.h"

namespace {

using cf_test::Owned;

// Names each parameterized test after its row.
struct RowNamer {
  template <class P> std::string operator()(const ::testing::TestParamInfo<P> &row) const {
    return row.param.name;
  }
};
constexpr RowNamer RowName;

// ---- Making values (each helper returns a new reference) ----

CFTypeRef I64(SInt64 v) {
  return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
}
CFTypeRef F64(double v) {
  return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
}
CFTypeRef S(const char *utf8) {
  return cf_test::Str(utf8);
}
CFTypeRef U16(std::u16string units) {
  return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(units.data()),
                                      static_cast<CFIndex>(units.size()));
}
CFTypeRef B(bool v) {
  return CFRetain(v ? kCFBooleanTrue : kCFBooleanFalse);
}
CFTypeRef D(const std::string &bytes) {
  return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                      static_cast<CFIndex>(bytes.size()));
}
// Takes over the items' references.
CFTypeRef Arr(std::vector<CFTypeRef> items) {
  CFArrayRef a = CFArrayCreate(nullptr, items.data(), static_cast<CFIndex>(items.size()),
                               &kCFTypeArrayCallBacks);
  for (CFTypeRef item : items)
    CFRelease(item);
  return a;
}
CFTypeRef Dict(std::vector<std::pair<CFTypeRef, CFTypeRef>> pairs) {
  std::vector<const void *> keys, values;
  for (auto &[k, v] : pairs)
    keys.push_back(k), values.push_back(v);
  CFDictionaryRef d =
      CFDictionaryCreate(nullptr, keys.data(), values.data(), static_cast<CFIndex>(keys.size()),
                         &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  for (auto &[k, v] : pairs)
    CFRelease(k), CFRelease(v);
  return d;
}

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i)
    s.push_back(static_cast<char>(i));
  return s;
}

// ---- Reading and writing ----

std::string Text(CFStringRef s) {
  if (!s) return "<none>";
  CFIndex used = 0;
  CFIndex n = CFStringGetLength(s);
  CFStringGetBytes(s, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false, nullptr, 0, &used);
  std::string out(static_cast<size_t>(used), '\0');
  CFStringGetBytes(s, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(out.data()), used, &used);
  return out;
}

std::string Describe(CFErrorRef e) {
  if (!e) return "<no error>";
  Owned<CFStringRef> d(CFErrorCopyDescription(e));
  return Text(d.get());
}

struct Parsed {
  Owned<CFTypeRef> value;
  Owned<CFErrorRef> error;
  CFPropertyListFormat format = CFPropertyListFormat(0);
};

Parsed Parse(const std::string &bytes, CFOptionFlags options = kCFPropertyListImmutable) {
  Owned<CFTypeRef> data(D(bytes));
  Parsed p;
  CFErrorRef error = nullptr;
  p.value.reset(CFPropertyListCreateWithData(nullptr, static_cast<CFDataRef>(data.get()), options,
                                             &p.format, &error));
  p.error.reset(error);
  return p;
}

std::string XmlOf(CFTypeRef plist) {
  CFErrorRef error = nullptr;
  Owned<CFDataRef> data(
      CFPropertyListCreateData(nullptr, plist, kCFPropertyListXMLFormat_v1_0, 0, &error));
  Owned<CFErrorRef> held(error);
  EXPECT_TRUE(data) << Describe(error);
  if (!data) return "";
  return std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data.get())),
                     static_cast<size_t>(CFDataGetLength(data.get())));
}

// The binary form of an XML document, made by libplist's own writer.
std::string BinaryFrom(const std::string &xml) {
  plist_t tree = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &tree);
  EXPECT_NE(tree, nullptr) << "libplist could not read the test's own XML";
  if (!tree) return "";
  char *bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(tree, &bin, &length);
  std::string out(bin, length);
  plist_to_bin_free(bin);
  plist_free(tree);
  return out;
}

std::string Doc(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">" +
         body + "</plist>\n";
}

// A binary list made by hand: the objects' encoded bytes in order, one-byte
// offsets and references.
std::string Bplist(const std::vector<std::string> &objects, unsigned top = 0) {
  std::string out = "bplist00";
  std::vector<size_t> offsets;
  for (const std::string &o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  size_t table = out.size();
  for (size_t off : offsets)
    out.push_back(static_cast<char>(off));
  std::string trailer(32, '\0');
  trailer[6] = 1; // offset width
  trailer[7] = 1; // reference width
  trailer[15] = static_cast<char>(objects.size());
  trailer[23] = static_cast<char>(top);
  trailer[31] = static_cast<char>(table);
  return out + trailer;
}

// Equal values, and numbers of the same kind (integer or real) throughout:
// CFEqual alone finds 60 and 60.0 equal.
bool SameValue(CFTypeRef a, CFTypeRef b) {
  if (!CFEqual(a, b)) return false;
  CFTypeID t = CFGetTypeID(a);
  if (t == CFNumberGetTypeID())
    return CFNumberIsFloatType(static_cast<CFNumberRef>(a)) ==
           CFNumberIsFloatType(static_cast<CFNumberRef>(b));
  if (t == CFArrayGetTypeID()) {
    for (CFIndex i = 0; i < CFArrayGetCount(static_cast<CFArrayRef>(a)); ++i)
      if (!SameValue(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(a), i),
                     CFArrayGetValueAtIndex(static_cast<CFArrayRef>(b), i)))
        return false;
  }
  if (t == CFDictionaryGetTypeID()) {
    auto da = static_cast<CFDictionaryRef>(a), db = static_cast<CFDictionaryRef>(b);
    std::vector<const void *> keys(static_cast<size_t>(CFDictionaryGetCount(da))),
        values(keys.size());
    CFDictionaryGetKeysAndValues(da, keys.data(), values.data());
    for (size_t i = 0; i < keys.size(); ++i)
      if (!SameValue(values[i], CFDictionaryGetValue(db, keys[i]))) return false;
  }
  return true;
}

// ---- Round trips of every supported type ----

struct RoundTripCase {
  const char *name;
  std::function<CFTypeRef()> make;
};

std::vector<RoundTripCase> RoundTripCases() {
  return {
      {"AsciiString", [] { return S("hello"); }},
      {"EmptyString", [] { return S(""); }},
      {"NonAsciiString", [] { return S("Gr\u00fc\u00dfe \u65e5\u672c \U0001F600"); }},
      {"MarkupAndControlCharacters", [] { return S("<a> & \"b\" ]]> \t\r\n\x01 end"); }},
      {"Zero", [] { return I64(0); }},
      {"MinusOne", [] { return I64(-1); }},
      {"LargestInteger", [] { return I64(INT64_MAX); }},
      {"SmallestInteger", [] { return I64(INT64_MIN); }},
      {"Real", [] { return F64(0.1); }},
      {"TinyReal", [] { return F64(-2.5e-310); }},
      {"HugeReal", [] { return F64(1.7976931348623157e308); }},
      {"Infinity", [] { return F64(-INFINITY); }},
      {"WholeReal", [] { return F64(60.0); }},
      {"True", [] { return B(true); }},
      {"False", [] { return B(false); }},
      {"EmptyData", [] { return D(""); }},
      {"EveryByte", [] { return D(AllBytes()); }},
      {"EmptyArray", [] { return Arr({}); }},
      {"EmptyDictionary", [] { return Dict({}); }},
      {"MixedArray",
       [] {
         return Arr({S("x"), I64(7), F64(7.5), B(false), D("\x00\xff")});
       }},
      {"NestedContainers",
       [] {
         return Dict({{S("list"), Arr({I64(1), Dict({{S("deep"), B(true)}}), Arr({})})},
                      {S("data"), D("abc")},
                      {S("\u00e9t\u00e9 key"), S("value")},
                      {S(""), I64(-60)}});
       }},
  };
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, XmlWrittenThenReadGivesTheSameValue) {
  Owned<CFTypeRef> original(GetParam().make());
  ASSERT_TRUE(original);
  Parsed back = Parse(XmlOf(original.get()));
  ASSERT_TRUE(back.value) << Describe(back.error.get());
  EXPECT_EQ(back.format, kCFPropertyListXMLFormat_v1_0);
  EXPECT_TRUE(SameValue(original.get(), back.value.get()));
}

TEST_P(RoundTrip, BinaryFromLibplistReadsAsTheSameValue) {
  Owned<CFTypeRef> original(GetParam().make());
  ASSERT_TRUE(original);
  std::string binary = BinaryFrom(XmlOf(original.get()));
  ASSERT_EQ(binary.substr(0, 8), "bplist00");
  Parsed back = Parse(binary);
  ASSERT_TRUE(back.value) << Describe(back.error.get());
  EXPECT_EQ(back.format, kCFPropertyListBinaryFormat_v1_0);
  EXPECT_TRUE(SameValue(original.get(), back.value.get()));
}

INSTANTIATE_TEST_SUITE_P(EveryType, RoundTrip, ::testing::ValuesIn(RoundTripCases()), RowName);

// ---- XML that is valid though not what we write ----

struct LenientCase {
  const char *name;
  std::string bytes;
  std::function<CFTypeRef()> expected;
};

std::vector<LenientCase> LenientCases() {
  return {
      {"ByteOrderMark", "\xEF\xBB\xBF<plist><true/></plist>", [] { return B(true); }},
      {"NoPlistElement", "<string>x</string>", [] { return S("x"); }},
      {"SpacesAndAttributes", "<plist version = '1.0' ><true /></plist>", [] { return B(true); }},
      {"CommentsEverywhere",
       "<!-- a --><plist><!-- b --><array><!-- c --></array></plist><!-- d -->",
       [] { return Arr({}); }},
      {"CommentAndCdataInString", Doc("<string>a<!-- c -->b<![CDATA[<c>&]]></string>"),
       [] { return S("ab<c>&"); }},
      {"References", Doc("<string>&lt;&amp;&gt;&quot;&apos;&#65;&#x1F600;</string>"),
       [] { return S("<&>\"'A\U0001F600"); }},
      {"SignedIntegerInSpaces", Doc("<integer> -42 </integer>"), [] { return I64(-42); }},
      {"HexInteger", Doc("<integer>0x10</integer>"), [] { return I64(16); }},
      {"NegativeHexInteger", Doc("<integer>-0x10</integer>"), [] { return I64(-16); }},
      {"RealWithExponent", Doc("<real>-1.5E+3</real>"), [] { return F64(-1500); }},
      {"InfinityWord", Doc("<real>+infinity</real>"), [] { return F64(INFINITY); }},
      {"DataOverLines", Doc("<data>\n\tQUJD\n\tREVG\n</data>"), [] { return D("ABCDEF"); }},
      {"EmptyForms", Doc("<array><string/><data/><dict/><array/><string></string></array>"),
       [] {
         return Arr({S(""), D(""), Dict({}), Arr({}), S("")});
       }},
  };
}

class LenientXml : public ::testing::TestWithParam<LenientCase> {};

TEST_P(LenientXml, IsRead) {
  Parsed p = Parse(GetParam().bytes);
  ASSERT_TRUE(p.value) << Describe(p.error.get());
  Owned<CFTypeRef> expected(GetParam().expected());
  EXPECT_TRUE(SameValue(p.value.get(), expected.get()));
}

INSTANTIATE_TEST_SUITE_P(Forms, LenientXml, ::testing::ValuesIn(LenientCases()), RowName);

// ---- Input that is refused ----

struct RefusedCase {
  const char *name;
  std::string bytes;
  CFIndex code;
  const char *words; // part of the error's description, or null
};

std::string WithDate() {
  plist_t a = plist_new_array();
  plist_array_append_item(a, plist_new_date(100, 0));
  char *bin = nullptr;
  uint32_t n = 0;
  plist_to_bin(a, &bin, &n);
  std::string out(bin, n);
  plist_to_bin_free(bin);
  plist_free(a);
  return out;
}

std::string WithUid() {
  plist_t d = plist_new_dict();
  plist_dict_set_item(d, "$top", plist_new_uid(1));
  char *bin = nullptr;
  uint32_t n = 0;
  plist_to_bin(d, &bin, &n);
  std::string out(bin, n);
  plist_to_bin_free(bin);
  plist_free(d);
  return out;
}

std::vector<RefusedCase> RefusedCases() {
  const CFIndex kCorrupt = kCFPropertyListReadCorruptError;
  std::string valid = BinaryFrom(Doc("<array><string>abc</string><integer>5</integer></array>"));
  std::string badWidth = valid;
  badWidth[badWidth.size() - 26] = 3; // offset width 3
  std::string badOffset = valid;
  badOffset[badOffset.size() - 33] = static_cast<char>(0xF0); // last offset past the table
  std::string otherVersion = valid;
  otherVersion[7] = '1';
  // 40 arrays, each holding the next one twice: 2^40 values once expanded.
  std::vector<std::string> bomb;
  for (int i = 0; i < 39; ++i)
    bomb.push_back({'\xA2', static_cast<char>(i + 1), static_cast<char>(i + 1)});
  bomb.push_back("\x09");
  return {
      {"Empty", "", kCorrupt, nullptr},
      {"OnlySpace", " \n\t", kCorrupt, nullptr},
      {"Truncated", "<plist><array><string>x</string>", kCorrupt, "ends"},
      {"IntegerWithLetters", Doc("<integer>12abc</integer>"), kCorrupt, "digit"},
      {"OctalLookingInteger", Doc("<integer>010</integer>"), kCorrupt, "leading zero"},
      {"IntegerPast64Bits", Doc("<integer>18446744073709551616</integer>"), kCorrupt, "64 bits"},
      {"UnsignedAboveSignedRange", Doc("<integer>9223372036854775808</integer>"), kCorrupt,
       "largest signed"},
      {"MalformedReal", Doc("<real>1.5x</real>"), kCorrupt, "real"},
      {"EmptyInteger", Doc("<integer></integer>"), kCorrupt, nullptr},
      {"DataNotBase64", Doc("<data>!!!!</data>"), kCorrupt, "base64"},
      {"DataUnpadded", Doc("<data>QUJ</data>"), kCorrupt, "base64"},
      {"KeyWithoutValue", Doc("<dict><key>a</key></dict>"), kCorrupt, "no value"},
      {"ValueWithoutKey", Doc("<dict><true/></dict>"), kCorrupt, "no key"},
      {"RepeatedKey", Doc("<dict><key>a</key><true/><key>a</key><false/></dict>"), kCorrupt,
       "twice"},
      {"KeyOutsideDictionary", Doc("<array><key>a</key></array>"), kCorrupt, "key"},
      {"UnknownElement", Doc("<array><foo/></array>"), kCorrupt, "not a property-list value"},
      {"MismatchedEndTag", Doc("<array><string>x</array></string>"), kCorrupt, nullptr},
      {"InvalidUtf8", Doc("<string>\xff\xfe</string>"), kCorrupt, "UTF-8"},
      {"SurrogateReference", Doc("<string>&#xD800;</string>"), kCorrupt, nullptr},
      {"UnknownEntity", Doc("<string>&bogus;</string>"), kCorrupt, nullptr},
      {"ElementInString", Doc("<string>a<b/>c</string>"), kCorrupt, nullptr},
      {"NulByte", std::string("<plist><string>a\0b</string></plist>", 35), kCorrupt, "NUL"},
      {"Date", Doc("<date>2020-01-01T00:00:00Z</date>"), kCorrupt, "date"},
      {"TwoValues", "<plist><true/><false/></plist>", kCorrupt, "more than one"},
      {"TextAfterTheEnd", Doc("<true/>") + "junk", kCorrupt, "follows"},
      {"BinaryTruncated", valid.substr(0, valid.size() / 2), kCorrupt, nullptr},
      {"BinaryOffsetWidth", badWidth, kCorrupt, "trailer"},
      {"BinaryOffsetOutOfRange", badOffset, kCorrupt, nullptr},
      {"BinaryUnknownVersion", otherVersion, kCFPropertyListReadUnknownVersionError, "version"},
      {"BinaryDate", WithDate(), kCorrupt, "date"},
      {"BinaryUid", WithUid(), kCorrupt, "UID"},
      {"BinaryNull", Bplist({"\xA1\x01", std::string(1, '\0')}), kCorrupt, "null"},
      {"BinarySet", Bplist({"\xC1\x01", "\x09"}), kCorrupt, "set"},
      {"BinaryArrayHoldsItself", Bplist({std::string("\xA1\x00", 2)}), kCorrupt, "512"},
      {"BinaryExpandsWithoutEnd", Bplist(bomb), kCorrupt, "too many"},
      {"BinaryKeyNotString", Bplist({"\xD1\x01\x02", "\x10\x01", "\x09"}), kCorrupt, "key"},
      {"BinaryReferenceOutOfRange", Bplist({"\xA1\x07"}), kCorrupt, "reference"},
      {"BinaryUnpairedSurrogate", Bplist({std::string("\x61\xD8\x00", 3)}), kCorrupt, "surrogate"},
      {"BinaryAsciiAbove127", Bplist({"\x51\xE9"}), kCorrupt, "127"},
      {"BinaryNulInString", Bplist({std::string("\x52\x61\x00", 3)}), kCorrupt, "NUL"},
      {"BinaryUnsigned128",
       Bplist({std::string("\x14") + std::string(8, '\0') + std::string(8, '\xff')}), kCorrupt,
       "largest signed"},
      {"BinaryRepeatedKey", Bplist({"\xD2\x01\x01\x02\x02", "\x51\x61", "\x09"}), kCorrupt,
       "twice"},
  };
}

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, GivesNullAndAnErrorThatSaysWhy) {
  const RefusedCase &c = GetParam();
  CFPropertyListFormat format = kCFPropertyListOpenStepFormat;
  Owned<CFTypeRef> data(D(c.bytes));
  CFErrorRef raw = nullptr;
  Owned<CFTypeRef> value(CFPropertyListCreateWithData(nullptr, static_cast<CFDataRef>(data.get()),
                                                      kCFPropertyListImmutable, &format, &raw));
  Owned<CFErrorRef> error(raw);
  EXPECT_FALSE(value);
  ASSERT_TRUE(error);
  EXPECT_TRUE(CFEqual(CFErrorGetDomain(error.get()), kCFErrorDomainCocoa));
  EXPECT_EQ(CFErrorGetCode(error.get()), c.code) << Describe(error.get());
  if (c.words) {
    EXPECT_NE(Describe(error.get()).find(c.words), std::string::npos) << Describe(error.get());
  }
  EXPECT_EQ(format, kCFPropertyListOpenStepFormat) << "the format is left alone on failure";
}

INSTANTIATE_TEST_SUITE_P(Input, Refused, ::testing::ValuesIn(RefusedCases()), RowName);

TEST(PropertyListRead, HandMadeBinaryWithSharedObjectsIsRead) {
  // {"a": [true, 5, 5]} where both 5s are one object referred to twice: the
  // kind of sharing binary writers use for repeated values.
  std::string bytes = Bplist({"\xD1\x01\x02", "\x51\x61", "\xA3\x03\x04\x04", "\x09", "\x10\x05"});
  Parsed p = Parse(bytes);
  ASSERT_TRUE(p.value) << Describe(p.error.get());
  Owned<CFTypeRef> expected(Dict({{S("a"), Arr({B(true), I64(5), I64(5)})}}));
  EXPECT_TRUE(SameValue(p.value.get(), expected.get()));
}

TEST(PropertyListRead, BadArgumentsAreParamErrors) {
  CFErrorRef raw = nullptr;
  EXPECT_EQ(CFPropertyListCreateWithData(nullptr, nullptr, 0, nullptr, &raw), nullptr);
  Owned<CFErrorRef> noData(raw);
  ASSERT_TRUE(noData);
  EXPECT_TRUE(CFEqual(CFErrorGetDomain(noData.get()), kCFErrorDomainOSStatus));
  EXPECT_EQ(CFErrorGetCode(noData.get()), paramErr);

  Parsed unknownOption = Parse(Doc("<true/>"), 2);
  EXPECT_FALSE(unknownOption.value);
  ASSERT_TRUE(unknownOption.error);
  EXPECT_EQ(CFErrorGetCode(unknownOption.error.get()), paramErr);

  // The accessors answer "nothing" for an object that is not an error.
  Owned<CFTypeRef> notAnError(S("x"));
  auto wrong = static_cast<CFErrorRef>(const_cast<void *>(notAnError.get()));
  EXPECT_EQ(CFErrorGetCode(wrong), 0);
  EXPECT_EQ(CFErrorGetDomain(wrong), nullptr);
  EXPECT_EQ(CFErrorCopyDescription(wrong), nullptr);
}

TEST(PropertyListRead, MutableContainersOptionMakesEveryContainerMutable) {
  struct Case {
    const char *name;
    CFOptionFlags options;
    bool mutableExpected;
  } cases[] = {{"immutable", kCFPropertyListImmutable, false},
               {"mutable containers", kCFPropertyListMutableContainers, true}};
  for (const Case &c : cases) {
    Parsed p = Parse(Doc("<dict><key>list</key><array><true/></array></dict>"), c.options);
    ASSERT_TRUE(p.value) << c.name;
    auto top = static_cast<CFMutableDictionaryRef>(const_cast<void *>(p.value.get()));
    auto list = static_cast<CFMutableArrayRef>(
        const_cast<void *>(CFDictionaryGetValue(top, CFSTR("list"))));
    ASSERT_TRUE(list) << c.name;
    CFDictionarySetValue(top, CFSTR("added"), kCFBooleanTrue);
    CFArrayAppendValue(list, kCFBooleanFalse);
    EXPECT_EQ(CFDictionaryGetCount(top), c.mutableExpected ? 2 : 1) << c.name;
    EXPECT_EQ(CFArrayGetCount(list), c.mutableExpected ? 2 : 1) << c.name;
  }
}

// libplist reads numbers with locale-dependent C functions; a locale whose
// decimal mark is a comma must not change what "2.5" means.
TEST(PropertyListRead, RealsReadTheSameUnderACommaLocale) {
  vantlow_test::TempDir dir;
  std::string command = "localedef -i de_DE -f UTF-8 '" + dir.path() + "/de' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "cannot build a German locale here";
  const char *saved = std::getenv("LOCPATH");
  std::string savedValue = saved ? saved : "";
  setenv("LOCPATH", dir.path().c_str(), 1);
  // glibc's newlocale does not free the folder list it makes from LOCPATH;
  // that is no leak of ours.
#ifdef __SANITIZE_ADDRESS__
  __lsan_disable();
#endif
  locale_t german = newlocale(LC_ALL_MASK, "de", static_cast<locale_t>(0));
#ifdef __SANITIZE_ADDRESS__
  __lsan_enable();
#endif
  if (saved)
    setenv("LOCPATH", savedValue.c_str(), 1);
  else
    unsetenv("LOCPATH");
  if (!german) GTEST_SKIP() << "the German locale did not load";
  locale_t previous = uselocale(german);
  Parsed p = Parse(Doc("<real>2.5</real>"));
  std::string written = p.value ? XmlOf(p.value.get()) : "";
  uselocale(previous);
  freelocale(german);
  ASSERT_TRUE(p.value) << Describe(p.error.get());
  double v = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(p.value.get()), kCFNumberFloat64Type, &v);
  EXPECT_EQ(v, 2.5);
  EXPECT_NE(written.find("<real>2.5</real>"), std::string::npos) << written;
}

// ---- Nesting ----

std::string NestedArraysXml(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i)
    s += "<array>";
  for (int i = 0; i < depth; ++i)
    s += "</array>";
  return Doc(s);
}

CFTypeRef NestedArrays(int depth) {
  CFTypeRef v = Arr({});
  for (int i = 1; i < depth; ++i)
    v = Arr({v});
  return v;
}

struct DepthCase {
  const char *name;
  int depth;
  bool accepted;
};

class Nesting : public ::testing::TestWithParam<DepthCase> {};

TEST_P(Nesting, XmlReadStopsPastTheLimit) {
  Parsed p = Parse(NestedArraysXml(GetParam().depth));
  EXPECT_EQ(static_cast<bool>(p.value), GetParam().accepted) << Describe(p.error.get());
}

TEST_P(Nesting, BinaryReadStopsPastTheLimit) {
  Parsed p = Parse(BinaryFrom(NestedArraysXml(GetParam().depth)));
  EXPECT_EQ(static_cast<bool>(p.value), GetParam().accepted) << Describe(p.error.get());
}

TEST_P(Nesting, WritingStopsPastTheLimit) {
  Owned<CFTypeRef> nested(NestedArrays(GetParam().depth));
  CFErrorRef raw = nullptr;
  Owned<CFDataRef> xml(
      CFPropertyListCreateData(nullptr, nested.get(), kCFPropertyListXMLFormat_v1_0, 0, &raw));
  Owned<CFErrorRef> error(raw);
  EXPECT_EQ(static_cast<bool>(xml), GetParam().accepted) << Describe(raw);
  EXPECT_EQ(CFPropertyListIsValid(nested.get(), kCFPropertyListXMLFormat_v1_0),
            GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Depths, Nesting,
                         ::testing::Values(DepthCase{"AtTheLimit", 512, true},
                                           DepthCase{"OnePast", 513, false},
                                           DepthCase{"FarPast", 20000, false}),
                         RowName);

TEST(PropertyListWrite, AContainerThatHoldsItselfIsRefused) {
  CFMutableArrayRef loop = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  CFArrayAppendValue(loop, loop);
  CFErrorRef raw = nullptr;
  Owned<CFDataRef> xml(
      CFPropertyListCreateData(nullptr, loop, kCFPropertyListXMLFormat_v1_0, 0, &raw));
  Owned<CFErrorRef> error(raw);
  Boolean valid = CFPropertyListIsValid(loop, kCFPropertyListXMLFormat_v1_0);
  CFArrayRemoveAllValues(loop); // breaks the cycle so the array can go
  CFRelease(loop);
  EXPECT_FALSE(xml);
  EXPECT_FALSE(valid);
  ASSERT_TRUE(error);
  EXPECT_EQ(CFErrorGetCode(error.get()), kCFPropertyListWriteInvalidError);
}

// ---- Writing ----

struct WriteRefusedCase {
  const char *name;
  std::function<CFTypeRef()> make;
  CFPropertyListFormat format;
  CFOptionFlags options;
  CFIndex code;
};

std::vector<WriteRefusedCase> WriteRefusedCases() {
  const auto xml = kCFPropertyListXMLFormat_v1_0;
  const CFIndex invalid = kCFPropertyListWriteInvalidError;
  return {
      {"Uuid",
       [] {
         return CFTypeRef(CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                         12, 13, 14, 15, 16));
       },
       xml, 0, invalid},
      {"UuidInsideArray",
       [] {
         return Arr(
             {S("ok"), CFRetain(CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                                               10, 11, 12, 13, 14, 15, 16))});
       },
       xml, 0, invalid},
      {"NumberKey",
       [] {
         return Dict({{I64(1), B(true)}});
       },
       xml, 0, invalid},
      {"NulInString", [] { return U16(std::u16string(u"a\0b", 3)); }, xml, 0, invalid},
      {"UnpairedSurrogate", [] { return U16(u"a\xD800"); }, xml, 0, invalid},
      {"NullObject", [] { return CFTypeRef(nullptr); }, xml, 0, invalid},
      {"BinaryFormat", [] { return B(true); }, kCFPropertyListBinaryFormat_v1_0, 0, paramErr},
      {"OpenStepFormat", [] { return B(true); }, kCFPropertyListOpenStepFormat, 0, paramErr},
      {"UnknownOption", [] { return B(true); }, xml, 1, paramErr},
  };
}

class WriteRefused : public ::testing::TestWithParam<WriteRefusedCase> {};

TEST_P(WriteRefused, GivesNullAndAnError) {
  const WriteRefusedCase &c = GetParam();
  Owned<CFTypeRef> object(c.make());
  CFErrorRef raw = nullptr;
  Owned<CFDataRef> out(CFPropertyListCreateData(nullptr, object.get(), c.format, c.options, &raw));
  Owned<CFErrorRef> error(raw);
  EXPECT_FALSE(out);
  ASSERT_TRUE(error);
  EXPECT_EQ(CFErrorGetCode(error.get()), c.code) << Describe(raw);
  EXPECT_TRUE(CFEqual(CFErrorGetDomain(error.get()),
                      c.code == paramErr ? kCFErrorDomainOSStatus : kCFErrorDomainCocoa));
  if (c.code != paramErr) {
    EXPECT_FALSE(CFPropertyListIsValid(object.get(), c.format));
  }
}

INSTANTIATE_TEST_SUITE_P(Objects, WriteRefused, ::testing::ValuesIn(WriteRefusedCases()), RowName);

TEST(PropertyListWrite, OutputDependsOnContentsNotInsertionOrder) {
  auto build = [](bool reversed) {
    const char *keys[] = {"b", "\u00e9", "a", "B"};
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    for (int i = 0; i < 4; ++i) {
      int k = reversed ? 3 - i : i;
      Owned<CFTypeRef> key(S(keys[k]));
      Owned<CFTypeRef> value(I64(k));
      CFDictionarySetValue(d, key.get(), value.get());
    }
    return Owned<CFTypeRef>(d);
  };
  std::string forward = XmlOf(build(false).get());
  std::string backward = XmlOf(build(true).get());
  EXPECT_EQ(forward, backward);
  // Keys in the order of their UTF-8 bytes.
  size_t upperB = forward.find("<key>B</key>"), a = forward.find("<key>a</key>"),
         b = forward.find("<key>b</key>"), e = forward.find("<key>\u00e9</key>");
  ASSERT_NE(e, std::string::npos) << forward;
  EXPECT_LT(upperB, a);
  EXPECT_LT(a, b);
  EXPECT_LT(b, e);
}

TEST(PropertyListWrite, IsValidAcceptsPropertyListsInBothFormats) {
  Owned<CFTypeRef> plist(Dict({{S("k"), Arr({I64(1), F64(0.5), D("x"), B(true)})}}));
  EXPECT_TRUE(CFPropertyListIsValid(plist.get(), kCFPropertyListXMLFormat_v1_0));
  EXPECT_TRUE(CFPropertyListIsValid(plist.get(), kCFPropertyListBinaryFormat_v1_0));
  EXPECT_FALSE(CFPropertyListIsValid(plist.get(), kCFPropertyListOpenStepFormat));
}

// ---- Failing allocations ----

TEST(PropertyListSweep, ReadingEndsInTheValueOrAnOutOfMemoryFailure) {
  Owned<CFTypeRef> expected(Dict({{S("list"), Arr({I64(-3), F64(2.5), S("text \u00e9")})},
                                  {S("flag"), B(true)},
                                  {S("bytes"), D("\x01\x02\x03")},
                                  {S("inner"), Dict({{S("x"), Arr({})}})}}));
  std::string xml = XmlOf(expected.get());
  struct Case {
    const char *name;
    std::string bytes;
  } cases[] = {{"xml", xml}, {"binary", BinaryFrom(xml)}};
  for (const Case &c : cases) {
    Owned<CFTypeRef> data(D(c.bytes));
    for (CFOptionFlags options : {kCFPropertyListImmutable, kCFPropertyListMutableContainers}) {
      int runs = vantlow_test::SweepAllocationFailures(
          [&](long n) {
            CFErrorRef error = nullptr;
            CFPropertyListRef got = CFPropertyListCreateWithData(
                nullptr, static_cast<CFDataRef>(data.get()), options, nullptr, &error);
            if (got) {
              EXPECT_TRUE(SameValue(got, expected.get())) << c.name << " at " << n;
            } else {
              EXPECT_EQ(error, nullptr) << c.name << ": a lack of memory at " << n
                                        << " was reported as " << Describe(error);
            }
            if (got) CFRelease(got);
            if (error) CFRelease(error);
          },
          false);
      // Every allocation of the read was made to fail once.
      EXPECT_GT(runs, 20) << c.name;
    }
  }
}

TEST(PropertyListSweep, WritingEndsInTheTextOrAnOutOfMemoryFailure) {
  Owned<CFTypeRef> plist(
      Dict({{S("b"), Arr({I64(1), S("two")})}, {S("a"), D("xyz")}, {S("c"), B(false)}}));
  std::string reference = XmlOf(plist.get());
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long n) {
        CFErrorRef error = nullptr;
        CFDataRef out = CFPropertyListCreateData(nullptr, plist.get(),
                                                 kCFPropertyListXMLFormat_v1_0, 0, &error);
        if (out) {
          EXPECT_EQ(std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(out)),
                                static_cast<size_t>(CFDataGetLength(out))),
                    reference)
              << n;
          CFRelease(out);
        } else {
          EXPECT_EQ(error, nullptr)
              << "a lack of memory at " << n << " was reported as " << Describe(error);
        }
        if (error) CFRelease(error);
      },
      false);
  // The write allocates at several points (the text, its pieces, the data
  // that holds the result), and each was made to fail once.
  EXPECT_GE(runs, 5);
}

} // namespace
