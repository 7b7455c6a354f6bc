// Fuzzes the format engine behind CFStringCreateWithFormat: the format is
// fuzzed, the arguments are a fixed list of every kind (signed, unsigned,
// double, C string, CFString, other object, null, pointer), of which the
// first input byte says how many are passed. They sit in a heap block of
// exactly that many, so reading one past the count is caught. A format
// always gives a string; one without '%' gives itself; no directive makes
// more than a field's worth of text.
//
// Input: byte 0 = argument count (low 4 bits, modulo the list's size + 1)
// and the format's encoding (bit 4: UTF-16LE units, else file-system bytes,
// which keep every byte); the rest is the format.
#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"

namespace {

using fuzz::Owned;

// Widths and precisions above 10000 are refused; a field is at most that
// plus the digits of the largest double and a sign, prefix and exponent.
constexpr CFIndex kMostPerDirective = 10000 + 400;

struct Arguments {
  Owned<CFStringRef> text{
      CFStringCreateWithCString(nullptr, "na\xC3\xAFve \xF0\x9F\x99\x82", kCFStringEncodingUTF8)};
  Owned<CFNumberRef> number{[] {
    double v = 2.5;
    return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
  }()};
  int pointee = 0;
  VPFormatArg list[12];

  Arguments() {
    auto s = [](long long v) {
      VPFormatArg a{};
      a.kind = kVPFormatArgSigned;
      a.value.s = v;
      return a;
    };
    auto u = [](unsigned long long v) {
      VPFormatArg a{};
      a.kind = kVPFormatArgUnsigned;
      a.value.u = v;
      return a;
    };
    auto d = [](double v) {
      VPFormatArg a{};
      a.kind = kVPFormatArgDouble;
      a.value.d = v;
      return a;
    };
    auto p = [](VPFormatArgKind kind, const void *v) {
      VPFormatArg a{};
      a.kind = kind;
      a.value.ptr = v;
      return a;
    };
    VPFormatArg cstring{};
    cstring.kind = kVPFormatArgCString;
    cstring.value.str = "caf\xC3\xA9 \xFF!";
    const VPFormatArg all[] = {s(-42),
                               u(ULLONG_MAX),
                               d(1234.5678),
                               cstring,
                               p(kVPFormatArgObject, text.get()),
                               p(kVPFormatArgObject, nullptr),
                               s(LLONG_MIN),
                               d(-1.0e308),
                               p(kVPFormatArgObject, number.get()),
                               p(kVPFormatArgPointer, &pointee),
                               s(100000),
                               u(7)};
    static_assert(sizeof all == sizeof list);
    for (std::size_t i = 0; i < sizeof all / sizeof all[0]; ++i)
      list[i] = all[i];
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  static Arguments args; // made once, outside the leak count
  fuzz::RunWithoutLeaks([&] {
    constexpr std::size_t kKinds = sizeof args.list / sizeof args.list[0];
    const std::size_t count = (data[0] & 0x0F) % (kKinds + 1);
    const bool utf16 = (data[0] & 0x10) != 0;
    const UInt8 *text = data + 1;
    const std::size_t length = size - 1;

    std::u16string wide(length / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
      wide[i] = static_cast<char16_t>(text[2 * i] | text[2 * i + 1] << 8);
    Owned<CFStringRef> format(
        utf16
            ? CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(wide.data()),
                                           static_cast<CFIndex>(wide.size()))
            : VPStringCreateWithFileSystemBytes(nullptr, text, static_cast<CFIndex>(length)));
    FUZZ_CHECK(format != nullptr);

    std::unique_ptr<VPFormatArg[]> passed(new VPFormatArg[count]);
    for (std::size_t i = 0; i < count; ++i)
      passed[i] = args.list[i];
    Owned<CFStringRef> result(VPStringCreateWithFormatArgs(
        nullptr, nullptr, format.get(), passed.get(), static_cast<CFIndex>(count)));
    FUZZ_CHECK(result != nullptr);

    const std::u16string units = fuzz::Units(format.get());
    if (units.find(u'%') == std::u16string::npos) FUZZ_CHECK(CFEqual(result.get(), format.get()));
    // Each directive takes at least two units of the format.
    const CFIndex directives = static_cast<CFIndex>(units.size() / 2 + 1);
    FUZZ_CHECK(CFStringGetLength(result.get()) <=
               static_cast<CFIndex>(units.size()) + directives * kMostPerDirective);
  });
  return 0;
}
