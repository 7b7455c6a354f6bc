// Numbers, data, booleans and UUIDs: values in and out, conversions between
// number types, equality across types, byte blocks that grow, constant
// objects, UUID text, and what a failed allocation leaves behind.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "cf_objects.h"
#include "test_support.h"

namespace {

// Test cases print as their name in failure messages.
template <class Case>
requires requires(const Case &c) {
  c.name;
}
void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

using cf_test::Owned;
using cf_test::Text;

class NumberTest : public cf_test::LeakCheckedTest {};
class DataTest : public cf_test::LeakCheckedTest {};
class UUIDTest : public cf_test::LeakCheckedTest {};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo63 = 9223372036854775808.0;

bool IsFloat(CFNumberType t) {
  return t == kCFNumberFloat32Type || t == kCFNumberFloat64Type || t == kCFNumberFloatType ||
         t == kCFNumberDoubleType;
}

// A value as the C type that a CFNumberType names, in an 8-byte buffer.
struct Raw {
  alignas(8) unsigned char bytes[8];
};

template <class T> Raw Pack(T v) {
  Raw r{};
  std::memcpy(r.bytes, &v, sizeof v);
  return r;
}

Raw Encode(CFNumberType t, SInt64 i, double d) {
  switch (t) {
  case kCFNumberSInt8Type:
  case kCFNumberCharType:
    return Pack(static_cast<int8_t>(i));
  case kCFNumberSInt16Type:
  case kCFNumberShortType:
    return Pack(static_cast<int16_t>(i));
  case kCFNumberSInt32Type:
  case kCFNumberIntType:
    return Pack(static_cast<int32_t>(i));
  case kCFNumberFloat32Type:
  case kCFNumberFloatType:
    return Pack(static_cast<float>(d));
  case kCFNumberFloat64Type:
  case kCFNumberDoubleType:
    return Pack(d);
  default:
    return Pack(static_cast<int64_t>(i));
  }
}

template <class T> T Unpack(const Raw &r) {
  T v;
  std::memcpy(&v, r.bytes, sizeof v);
  return v;
}

// The buffer read back as t: integers in i, floating-point values in d.
struct Decoded {
  SInt64 i = 0;
  double d = 0;
};
Decoded Decode(CFNumberType t, const Raw &r) {
  Decoded out;
  switch (t) {
  case kCFNumberSInt8Type:
  case kCFNumberCharType:
    out.i = Unpack<int8_t>(r);
    break;
  case kCFNumberSInt16Type:
  case kCFNumberShortType:
    out.i = Unpack<int16_t>(r);
    break;
  case kCFNumberSInt32Type:
  case kCFNumberIntType:
    out.i = Unpack<int32_t>(r);
    break;
  case kCFNumberFloat32Type:
  case kCFNumberFloatType:
    out.d = Unpack<float>(r);
    break;
  case kCFNumberFloat64Type:
  case kCFNumberDoubleType:
    out.d = Unpack<double>(r);
    break;
  default:
    out.i = Unpack<int64_t>(r);
    break;
  }
  return out;
}

CFNumberRef Make(CFNumberType t, SInt64 i, double d) {
  Raw r = Encode(t, i, d);
  return CFNumberCreate(nullptr, t, r.bytes);
}

// ---- Every number type in and out ----

struct RoundTripCase {
  const char *name;
  CFNumberType type;
  SInt64 i;
  double d;
  CFNumberType storedAs;
  const char *text;
};

const RoundTripCase kRoundTrips[] = {
    {"sint8_min", kCFNumberSInt8Type, -128, 0, kCFNumberSInt8Type, "-128"},
    {"char", kCFNumberCharType, 65, 0, kCFNumberSInt8Type, "65"},
    {"sint16_min", kCFNumberSInt16Type, -32768, 0, kCFNumberSInt16Type, "-32768"},
    {"short_max", kCFNumberShortType, 32767, 0, kCFNumberSInt16Type, "32767"},
    {"sint32", kCFNumberSInt32Type, -60, 0, kCFNumberSInt32Type, "-60"},
    {"int_max", kCFNumberIntType, INT32_MAX, 0, kCFNumberSInt32Type, "2147483647"},
    {"long_min", kCFNumberLongType, INT64_MIN, 0, kCFNumberSInt64Type, "-9223372036854775808"},
    {"long_long_max", kCFNumberLongLongType, INT64_MAX, 0, kCFNumberSInt64Type,
     "9223372036854775807"},
    {"sint64", kCFNumberSInt64Type, 1 << 20, 0, kCFNumberSInt64Type, "1048576"},
    {"cfindex", kCFNumberCFIndexType, -1, 0, kCFNumberSInt64Type, "-1"},
    {"float32_tenth", kCFNumberFloat32Type, 0, 0.1, kCFNumberFloat32Type, "0.1"},
    {"float", kCFNumberFloatType, 0, 1.5, kCFNumberFloat32Type, "1.5"},
    {"float64_tenth", kCFNumberFloat64Type, 0, 0.1, kCFNumberFloat64Type, "0.1"},
    {"double", kCFNumberDoubleType, 0, -2.25, kCFNumberFloat64Type, "-2.25"},
};

class NumberRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(NumberRoundTrip, GivesBackTheValueItWasMadeWith) {
  const RoundTripCase &c = GetParam();
  Raw in = Encode(c.type, c.i, c.d);
  Owned<CFNumberRef> n(CFNumberCreate(nullptr, c.type, in.bytes));
  ASSERT_NE(n, nullptr);
  Raw out{};
  EXPECT_TRUE(CFNumberGetValue(n.get(), c.type, out.bytes));
  EXPECT_EQ(std::memcmp(in.bytes, out.bytes, sizeof in.bytes), 0);
  EXPECT_EQ(CFNumberGetType(n.get()), c.storedAs);
  EXPECT_EQ(CFNumberIsFloatType(n.get()), IsFloat(c.type));
  EXPECT_EQ(Text(n.get()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         cf_test::CaseName());

// ---- Conversions ----

struct ConversionCase {
  const char *name;
  CFNumberType from;
  SInt64 i;
  double d;
  CFNumberType to;
  bool exact;
  SInt64 wantI; // integer targets
  double wantD; // floating-point targets
};

const ConversionCase kConversions[] = {
    {"sint32_above_sint8", kCFNumberSInt32Type, 300, 0, kCFNumberSInt8Type, false, 127, 0},
    {"sint32_below_sint8", kCFNumberSInt32Type, -300, 0, kCFNumberSInt8Type, false, -128, 0},
    {"sint64_fits_sint32", kCFNumberSInt64Type, -5, 0, kCFNumberSInt32Type, true, -5, 0},
    {"sint64_max_to_sint32", kCFNumberSInt64Type, INT64_MAX, 0, kCFNumberSInt32Type, false,
     INT32_MAX, 0},
    {"sint32_to_float64", kCFNumberSInt32Type, 3, 0, kCFNumberFloat64Type, true, 0, 3.0},
    {"sint64_past_double_precision", kCFNumberSInt64Type, (SInt64(1) << 53) + 1, 0,
     kCFNumberFloat64Type, false, 0, kTwo53},
    {"sint64_max_to_float64", kCFNumberSInt64Type, INT64_MAX, 0, kCFNumberFloat64Type, false, 0,
     kTwo63},
    {"sint32_past_float_precision", kCFNumberSInt32Type, 16777217, 0, kCFNumberFloat32Type, false,
     0, 16777216.0},
    {"integral_double_to_sint32", kCFNumberFloat64Type, 0, 3.0, kCFNumberSInt32Type, true, 3, 0},
    {"fraction_to_nearest_integer", kCFNumberFloat64Type, 0, 2.7, kCFNumberSInt32Type, false, 3, 0},
    {"negative_fraction_to_nearest", kCFNumberFloat64Type, 0, -2.7, kCFNumberSInt32Type, false, -3,
     0},
    {"huge_double_to_sint64", kCFNumberFloat64Type, 0, 1e20, kCFNumberSInt64Type, false, INT64_MAX,
     0},
    {"two_to_63_to_sint64", kCFNumberFloat64Type, 0, kTwo63, kCFNumberSInt64Type, false, INT64_MAX,
     0},
    {"minus_two_to_63_to_sint64", kCFNumberFloat64Type, 0, -kTwo63, kCFNumberSInt64Type, true,
     INT64_MIN, 0},
    {"negative_huge_to_sint16", kCFNumberFloat64Type, 0, -1e9, kCFNumberSInt16Type, false, -32768,
     0},
    {"nan_to_sint32", kCFNumberFloat64Type, 0, kNaN, kCFNumberSInt32Type, false, 0, 0},
    {"negative_zero_to_sint32", kCFNumberFloat64Type, 0, -0.0, kCFNumberSInt32Type, true, 0, 0},
    {"half_to_float32", kCFNumberFloat64Type, 0, 0.5, kCFNumberFloat32Type, true, 0, 0.5},
    {"tenth_to_float32", kCFNumberFloat64Type, 0, 0.1, kCFNumberFloat32Type, false, 0,
     static_cast<double>(0.1f)},
    {"beyond_float32_range", kCFNumberFloat64Type, 0, 1e300, kCFNumberFloat32Type, false, 0,
     static_cast<double>(FLT_MAX)},
    {"float32_to_float64", kCFNumberFloat32Type, 0, 0.1, kCFNumberFloat64Type, true, 0,
     static_cast<double>(0.1f)},
};

class NumberConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(NumberConversion, ConvertsToTheNearestValueAndSaysWhetherItWasExact) {
  const ConversionCase &c = GetParam();
  Owned<CFNumberRef> n(Make(c.from, c.i, c.d));
  ASSERT_NE(n, nullptr);
  Raw out{};
  EXPECT_EQ(CFNumberGetValue(n.get(), c.to, out.bytes), c.exact);
  Decoded got = Decode(c.to, out);
  if (IsFloat(c.to))
    EXPECT_EQ(got.d, c.wantD);
  else
    EXPECT_EQ(got.i, c.wantI);
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberConversion, ::testing::ValuesIn(kConversions),
                         cf_test::CaseName());

// ---- Equality across types ----

struct EqualityCase {
  const char *name;
  CFNumberType typeA;
  SInt64 iA;
  double dA;
  CFNumberType typeB;
  SInt64 iB;
  double dB;
  bool equal;
};

const EqualityCase kEqualities[] = {
    {"sint32_and_sint64", kCFNumberSInt32Type, 3, 0, kCFNumberSInt64Type, 3, 0, true},
    {"sint8_and_double", kCFNumberSInt8Type, 3, 0, kCFNumberFloat64Type, 0, 3.0, true},
    {"integer_and_fraction", kCFNumberSInt32Type, 3, 0, kCFNumberFloat64Type, 0, 3.5, false},
    {"different_integers", kCFNumberSInt32Type, 3, 0, kCFNumberSInt32Type, 4, 0, false},
    {"zero_and_negative_zero", kCFNumberFloat64Type, 0, 0.0, kCFNumberFloat64Type, 0, -0.0, true},
    {"integer_zero_and_negative_zero", kCFNumberSInt32Type, 0, 0, kCFNumberFloat32Type, 0, -0.0,
     true},
    {"nan_and_nan", kCFNumberFloat64Type, 0, kNaN, kCFNumberFloat32Type, 0, kNaN, true},
    {"large_integer_and_nearby_double", kCFNumberSInt64Type, (SInt64(1) << 53) + 1, 0,
     kCFNumberFloat64Type, 0, kTwo53, false},
    {"float_tenth_and_double_tenth", kCFNumberFloat32Type, 0, 0.1, kCFNumberFloat64Type, 0, 0.1,
     false},
    {"float_half_and_double_half", kCFNumberFloat32Type, 0, 0.5, kCFNumberFloat64Type, 0, 0.5,
     true},
    {"sint64_max_and_two_to_63", kCFNumberSInt64Type, INT64_MAX, 0, kCFNumberFloat64Type, 0, kTwo63,
     false},
};

class NumberEquality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(NumberEquality, ComparesByValueAndEqualNumbersHashEqually) {
  const EqualityCase &c = GetParam();
  Owned<CFNumberRef> a(Make(c.typeA, c.iA, c.dA)), b(Make(c.typeB, c.iB, c.dB));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(CFEqual(a.get(), b.get()), c.equal);
  EXPECT_EQ(CFEqual(b.get(), a.get()), c.equal);
  if (c.equal) {
    EXPECT_EQ(CFHash(a.get()), CFHash(b.get()));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberEquality, ::testing::ValuesIn(kEqualities),
                         cf_test::CaseName());

TEST_F(NumberTest, RefusesUnknownTypesMissingValuesAndWrongHandles) {
  SInt64 v = 1;
  EXPECT_EQ(CFNumberCreate(nullptr, CFNumberType(0), &v), nullptr);
  EXPECT_EQ(CFNumberCreate(nullptr, CFNumberType(15), &v), nullptr);
  EXPECT_EQ(CFNumberCreate(nullptr, kCFNumberSInt32Type, nullptr), nullptr);

  Owned<CFNumberRef> n(cf_test::Int(5));
  Owned<CFDataRef> notANumber(CFDataCreate(nullptr, nullptr, 0));
  SInt64 out = 77;
  EXPECT_FALSE(CFNumberGetValue(n.get(), CFNumberType(99), &out));
  EXPECT_FALSE(CFNumberGetValue(n.get(), kCFNumberSInt32Type, nullptr));
  EXPECT_FALSE(CFNumberGetValue(nullptr, kCFNumberSInt64Type, &out));
  EXPECT_FALSE(
      CFNumberGetValue(cf_test::As<CFNumberRef>(notANumber.get()), kCFNumberSInt64Type, &out));
  EXPECT_EQ(out, 77);
  EXPECT_EQ(CFNumberGetType(cf_test::As<CFNumberRef>(notANumber.get())), CFNumberType(0));
  EXPECT_FALSE(CFNumberIsFloatType(nullptr));
}

// ---- Data ----

TEST_F(DataTest, KeepsItsOwnCopyOfTheBytes) {
  UInt8 source[80];
  for (int i = 0; i < 80; ++i)
    source[i] = static_cast<UInt8>(i);
  Owned<CFDataRef> d(CFDataCreate(nullptr, source, sizeof source));
  ASSERT_NE(d, nullptr);
  std::memset(source, 0xEE, sizeof source);
  ASSERT_EQ(CFDataGetLength(d.get()), 80);
  const UInt8 *p = CFDataGetBytePtr(d.get());
  EXPECT_NE(p, source);
  for (int i = 0; i < 80; ++i)
    ASSERT_EQ(p[i], i);
  EXPECT_EQ(CFDataGetBytePtr(d.get()), p) << "the pointer stays put while the data lives";
}

TEST_F(DataTest, MutableDataGrowsByAppendingEvenFromItsOwnBytes) {
  Owned<CFMutableDataRef> d(CFDataCreateMutable(nullptr, 0));
  ASSERT_NE(d, nullptr);
  CFDataAppendBytes(d.get(), reinterpret_cast<const UInt8 *>("ab"), 2);
  // Appending the block to itself: the source moves if the block is
  // reallocated, so it must be read before the old storage is let go.
  for (int round = 0; round < 10; ++round)
    CFDataAppendBytes(d.get(), CFDataGetBytePtr(d.get()), CFDataGetLength(d.get()));
  ASSERT_EQ(CFDataGetLength(d.get()), 2 << 10);
  const UInt8 *p = CFDataGetBytePtr(d.get());
  for (CFIndex i = 0; i < CFDataGetLength(d.get()); ++i)
    ASSERT_EQ(p[i], i % 2 ? 'b' : 'a') << i;
}

TEST_F(DataTest, RefusesWhatItCannotHold) {
  const UInt8 bytes[] = {1, 2, 3};
  EXPECT_EQ(CFDataCreate(nullptr, nullptr, 3), nullptr);
  EXPECT_EQ(CFDataCreate(nullptr, bytes, -1), nullptr);
  EXPECT_EQ(CFDataCreateMutable(nullptr, -1), nullptr);

  Owned<CFDataRef> empty(CFDataCreate(nullptr, nullptr, 0));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(CFDataGetLength(empty.get()), 0);
  EXPECT_NE(CFDataGetBytePtr(empty.get()), nullptr);

  // Immutable data, a full bounded block and bad arguments stay as they are.
  Owned<CFDataRef> fixed(CFDataCreate(nullptr, bytes, 3));
  CFDataAppendBytes(cf_test::As<CFMutableDataRef>(fixed.get()), bytes, 3);
  EXPECT_EQ(CFDataGetLength(fixed.get()), 3);
  Owned<CFMutableDataRef> bounded(CFDataCreateMutable(nullptr, 4));
  CFDataAppendBytes(bounded.get(), bytes, 3);
  CFDataAppendBytes(bounded.get(), bytes, 3);
  CFDataAppendBytes(bounded.get(), nullptr, 1);
  CFDataAppendBytes(bounded.get(), bytes, -1);
  EXPECT_EQ(CFDataGetLength(bounded.get()), 3);
  EXPECT_EQ(CFDataGetLength(nullptr), 0);
  EXPECT_EQ(CFDataGetBytePtr(cf_test::As<CFDataRef>(kCFBooleanTrue)), nullptr);
}

struct DataTextCase {
  const char *name;
  std::vector<UInt8> bytes;
  const char *text;
};

const DataTextCase kDataTexts[] = {
    {"empty", {}, "<data 0 bytes>"},
    {"one_byte", {0xff}, "<data 1 byte: ff>"},
    {"three_bytes", {1, 2, 3}, "<data 3 bytes: 01 02 03>"},
};

class DataDescription : public ::testing::TestWithParam<DataTextCase> {};

TEST_P(DataDescription, ShowsLengthAndBytes) {
  const DataTextCase &c = GetParam();
  Owned<CFDataRef> d(CFDataCreate(nullptr, c.bytes.data(), CFIndex(c.bytes.size())));
  EXPECT_EQ(Text(d.get()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, DataDescription, ::testing::ValuesIn(kDataTexts),
                         cf_test::CaseName());

TEST_F(DataTest, EqualBytesAreEqualData) {
  const UInt8 abc[] = {'a', 'b', 'c'};
  Owned<CFDataRef> a(CFDataCreate(nullptr, abc, 3)), b(CFDataCreate(nullptr, abc, 3)),
      shorter(CFDataCreate(nullptr, abc, 2));
  Owned<CFMutableDataRef> grown(CFDataCreateMutable(nullptr, 0));
  CFDataAppendBytes(grown.get(), abc, 3);
  EXPECT_TRUE(CFEqual(a.get(), b.get()));
  EXPECT_TRUE(CFEqual(a.get(), grown.get()));
  EXPECT_EQ(CFHash(a.get()), CFHash(grown.get()));
  EXPECT_FALSE(CFEqual(a.get(), shorter.get()));
}

// ---- Booleans ----

TEST(Boolean, TwoConstantObjects) {
  ASSERT_NE(kCFBooleanTrue, nullptr);
  ASSERT_NE(kCFBooleanFalse, nullptr);
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
  EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
  EXPECT_EQ(Text(kCFBooleanTrue), "true");
  EXPECT_EQ(Text(kCFBooleanFalse), "false");

  long objects = VPLiveObjectCount();
  for (int i = 0; i < 3; ++i)
    CFRelease(kCFBooleanTrue); // constants ignore releases
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_GT(CFGetRetainCount(kCFBooleanTrue), 1000);
  EXPECT_EQ(VPLiveObjectCount(), objects);

  Owned<CFNumberRef> one(cf_test::Int(1));
  EXPECT_FALSE(CFBooleanGetValue(nullptr));
  EXPECT_FALSE(CFBooleanGetValue(cf_test::As<CFBooleanRef>(one.get())));
}

// ---- UUIDs ----

struct UUIDTextCase {
  const char *name;
  const char *text;      // UTF-8
  const char *canonical; // null: malformed
};

const UUIDTextCase kUUIDTexts[] = {
    {"upper_case", "2F6522E9-3E66-11D5-80A7-003065B300BC", "2F6522E9-3E66-11D5-80A7-003065B300BC"},
    {"lower_case", "2f6522e9-3e66-11d5-80a7-003065b300bc", "2F6522E9-3E66-11D5-80A7-003065B300BC"},
    {"mixed_case", "2f6522E9-3e66-11D5-80a7-003065B300bc", "2F6522E9-3E66-11D5-80A7-003065B300BC"},
    {"all_zero", "00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"},
    {"all_ones", "ffffffff-ffff-ffff-ffff-ffffffffffff", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"},
    {"empty", "", nullptr},
    {"one_digit_short", "2F6522E9-3E66-11D5-80A7-003065B300B", nullptr},
    {"one_digit_long", "2F6522E9-3E66-11D5-80A7-003065B300BC0", nullptr},
    {"without_hyphens", "2F6522E93E6611D580A7003065B300BC", nullptr},
    {"in_braces", "{2F6522E9-3E66-11D5-80A7-003065B300BC}", nullptr},
    {"hyphen_moved", "2F6522E9-3E66-11D5-80A-7003065B300BC", nullptr},
    {"underscore_for_hyphen", "2F6522E9-3E66-11D5-80A7_003065B300BC", nullptr},
    {"not_hex", "2F6522G9-3E66-11D5-80A7-003065B300BC", nullptr},
    {"leading_space", " 2F6522E9-3E66-11D5-80A7-003065B300B", nullptr},
    // U+0130 has the low byte of '0': only whole UTF-16 units may count.
    {"non_ascii_unit", "2F6522E9-3E66-11D5-80A7-003065B300B\xC4\xB0", nullptr},
};

class UUIDText : public ::testing::TestWithParam<UUIDTextCase> {};

TEST_P(UUIDText, ParsesEitherCaseAndWritesUpperCase) {
  const UUIDTextCase &c = GetParam();
  Owned<CFStringRef> in(cf_test::Str(c.text));
  ASSERT_NE(in, nullptr);
  Owned<CFUUIDRef> uuid(CFUUIDCreateFromString(nullptr, in.get()));
  if (!c.canonical) {
    EXPECT_EQ(uuid, nullptr);
    return;
  }
  ASSERT_NE(uuid, nullptr);
  Owned<CFStringRef> out(CFUUIDCreateString(nullptr, uuid.get()));
  EXPECT_EQ(Text(out.get()), c.canonical);
  EXPECT_EQ(Text(uuid.get()), c.canonical);
}

INSTANTIATE_TEST_SUITE_P(Cases, UUIDText, ::testing::ValuesIn(kUUIDTexts), cf_test::CaseName());

TEST_F(UUIDTest, BytesGoInAndComeOutInOrder) {
  Owned<CFUUIDRef> u(
      CFUUIDCreateFromString(nullptr, CFSTR("2F6522E9-3E66-11D5-80A7-003065B300BC")));
  ASSERT_NE(u, nullptr);
  CFUUIDBytes b = CFUUIDGetUUIDBytes(u.get());
  const UInt8 want[16] = {0x2F, 0x65, 0x22, 0xE9, 0x3E, 0x66, 0x11, 0xD5,
                          0x80, 0xA7, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC};
  EXPECT_EQ(std::memcmp(&b, want, 16), 0);
  Owned<CFUUIDRef> again(CFUUIDCreateFromUUIDBytes(nullptr, b));
  EXPECT_TRUE(CFEqual(u.get(), again.get()));

  CFUUIDBytes none = CFUUIDGetUUIDBytes(nullptr);
  const UInt8 zeros[16] = {};
  EXPECT_EQ(std::memcmp(&none, zeros, 16), 0);
}

TEST_F(UUIDTest, ConstantsAreOnePerValueAndEqualCreatedUUIDs) {
  CFUUIDRef a = CFUUIDGetConstantUUIDWithBytes(nullptr, 0xC8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                               13, 14, 15);
  CFUUIDRef same = CFUUIDGetConstantUUIDWithBytes(nullptr, 0xC8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                  12, 13, 14, 15);
  CFUUIDRef other = CFUUIDGetConstantUUIDWithBytes(nullptr, 0xC8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                   12, 13, 14, 16);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, same);
  EXPECT_NE(a, other);
  EXPECT_FALSE(CFEqual(a, other));

  CFRelease(a); // constants ignore releases
  EXPECT_GT(CFGetRetainCount(a), 1000);

  CFUUIDBytes bytes = CFUUIDGetUUIDBytes(a);
  Owned<CFUUIDRef> created(CFUUIDCreateFromUUIDBytes(nullptr, bytes));
  ASSERT_NE(created, nullptr);
  EXPECT_NE(created.get(), a);
  EXPECT_TRUE(CFEqual(created.get(), a));
  EXPECT_TRUE(CFEqual(a, created.get()));
  EXPECT_EQ(CFHash(created.get()), CFHash(a));
  EXPECT_EQ(CFGetRetainCount(created.get()), 1);
}

TEST(UUIDConstants, ThreadsAskingAtOnceGetTheSameObjects) {
  constexpr int kThreads = 8, kValues = 64;
  std::vector<std::vector<CFUUIDRef>> seen(kThreads, std::vector<CFUUIDRef>(kValues));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&seen, t] {
      for (int v = 0; v < kValues; ++v)
        seen[t][v] = CFUUIDGetConstantUUIDWithBytes(nullptr, 0xA7, 0x7E, static_cast<UInt8>(v), 0,
                                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    });
  for (std::thread &th : threads)
    th.join();
  for (int t = 1; t < kThreads; ++t)
    EXPECT_EQ(seen[t], seen[0]) << "thread " << t;
  for (int v = 1; v < kValues; ++v)
    EXPECT_NE(seen[0][v], seen[0][v - 1]);
}

TEST(UUIDConstants, NeverFailWhileAllocationsAreFailing) {
  long blocks = VPLiveAllocationCount();
  long objects = VPLiveObjectCount();
  VPFaultArm(1, true);
  CFUUIDRef u = CFUUIDGetConstantUUIDWithBytes(nullptr, 0x5E, 0xED, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                               11, 12, 13, 14);
  VPFaultDisarm();
  EXPECT_NE(u, nullptr);
  EXPECT_EQ(VPLiveAllocationCount(), blocks);
  EXPECT_EQ(VPLiveObjectCount(), objects);
}

TEST(UUIDBadHandles, AnswerNothing) {
  Owned<CFNumberRef> n(cf_test::Int(1));
  EXPECT_EQ(CFUUIDCreateFromString(nullptr, nullptr), nullptr);
  EXPECT_EQ(CFUUIDCreateFromString(nullptr, cf_test::As<CFStringRef>(n.get())), nullptr);
  EXPECT_EQ(CFUUIDCreateString(nullptr, nullptr), nullptr);
  EXPECT_EQ(CFUUIDCreateString(nullptr, cf_test::As<CFUUIDRef>(n.get())), nullptr);
}

// ---- Failed allocations ----

struct SweepCase {
  const char *name;
  void (*run)(); // one run with some allocation failing; checks the outcome itself
};

const UInt8 kBytes[] = {1, 2, 3, 4, 5, 6, 7, 8};

const SweepCase kSweeps[] = {
    {"data_create",
     [] {
       Owned<CFDataRef> d(CFDataCreate(nullptr, kBytes, sizeof kBytes));
       if (d) {
         EXPECT_EQ(std::memcmp(CFDataGetBytePtr(d.get()), kBytes, sizeof kBytes), 0);
       }
     }},
    {"data_append",
     [] {
       Owned<CFMutableDataRef> d(CFDataCreateMutable(nullptr, 0));
       if (!d) return;
       CFDataAppendBytes(d.get(), kBytes, 3);
       if (CFDataGetLength(d.get()) != 3) return;
       bool failed = cf_test::FailedDuring([&] { CFDataAppendBytes(d.get(), kBytes + 3, 5); });
       ASSERT_EQ(CFDataGetLength(d.get()), failed ? 3 : 8);
       EXPECT_EQ(std::memcmp(CFDataGetBytePtr(d.get()), kBytes, failed ? 3 : 8), 0);
     }},
    {"number_create",
     [] {
       Owned<CFNumberRef> n(cf_test::Int(60));
       SInt32 v = 0;
       if (n) {
         EXPECT_TRUE(CFNumberGetValue(n.get(), kCFNumberSInt32Type, &v) && v == 60);
       }
     }},
    {"uuid_create_from_bytes",
     [] {
       CFUUIDBytes b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
       Owned<CFUUIDRef> u(CFUUIDCreateFromUUIDBytes(nullptr, b));
       if (u) {
         EXPECT_EQ(CFUUIDGetUUIDBytes(u.get()).byte15, 16);
       }
     }},
    {"uuid_create_from_string",
     [] {
       Owned<CFUUIDRef> u(
           CFUUIDCreateFromString(nullptr, CFSTR("2F6522E9-3E66-11D5-80A7-003065B300BC")));
       if (u) {
         EXPECT_EQ(CFUUIDGetUUIDBytes(u.get()).byte0, 0x2F);
       }
     }},
    {"uuid_create_string",
     [] {
       CFUUIDBytes b = {0xAB, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
       Owned<CFUUIDRef> u(CFUUIDCreateFromUUIDBytes(nullptr, b));
       if (!u) return;
       Owned<CFStringRef> s(CFUUIDCreateString(nullptr, u.get()));
       if (s) {
         EXPECT_EQ(CFStringGetLength(s.get()), 36);
       }
     }},
};

class AllocationFailure : public ::testing::TestWithParam<SweepCase> {};

TEST_P(AllocationFailure, EndsInSuccessOrNullAndLeaksNothing) {
  for (bool repeat : {false, true}) {
    SCOPED_TRACE(repeat ? "failing from allocation n on" : "failing allocation n only");
    int runs = vantlow_test::SweepAllocationFailures([&c = GetParam()](long) { c.run(); }, repeat);
    EXPECT_GT(runs, 1) << "the operation allocates, so some run must have failed";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AllocationFailure, ::testing::ValuesIn(kSweeps),
                         cf_test::CaseName());

} // namespace
