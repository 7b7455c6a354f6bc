// Fuzzes the property-list reader (XML and "bplist00" binary input: bundle
// Info.plist files, preferences, interface files) with arbitrary bytes.
// Every input gives a list or an error, never both and never neither. A list
// that was read reads the same with mutable containers, is one the writer
// accepts, and survives the trip through XML: written out and read back it
// is equal, and writing that again gives the same bytes.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"

namespace {

using fuzz::Owned;

struct Parsed {
  Owned<CFPropertyListRef> list;
  Owned<CFErrorRef> error;
  CFPropertyListFormat format = static_cast<CFPropertyListFormat>(0);
};

Parsed Read(CFDataRef data, CFOptionFlags options) {
  Parsed p;
  CFErrorRef error = nullptr;
  p.list.reset(CFPropertyListCreateWithData(nullptr, data, options, &p.format, &error));
  p.error.reset(error);
  return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
  fuzz::RunWithoutLeaks([&] {
    Owned<CFDataRef> data(CFDataCreate(nullptr, bytes, static_cast<CFIndex>(size)));
    FUZZ_CHECK(data != nullptr);
    Parsed first = Read(data.get(), kCFPropertyListImmutable);
    FUZZ_CHECK((first.list != nullptr) != (first.error != nullptr));
    if (!first.list) {
      const CFIndex code = CFErrorGetCode(first.error.get());
      FUZZ_CHECK(code == kCFPropertyListReadCorruptError ||
                 code == kCFPropertyListReadUnknownVersionError);
      Owned<CFStringRef> why(CFErrorCopyDescription(first.error.get()));
      FUZZ_CHECK(why != nullptr && CFStringGetLength(why.get()) > 0);
      FUZZ_CHECK(first.format == static_cast<CFPropertyListFormat>(0));
      return;
    }
    const bool binary = size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0;
    FUZZ_CHECK(first.format ==
               (binary ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0));
    FUZZ_CHECK(CFPropertyListIsValid(first.list.get(), kCFPropertyListXMLFormat_v1_0));

    Parsed mutableCopy = Read(data.get(), kCFPropertyListMutableContainers);
    FUZZ_CHECK(mutableCopy.list != nullptr);
    FUZZ_CHECK(CFEqual(mutableCopy.list.get(), first.list.get()));

    CFErrorRef writeError = nullptr;
    Owned<CFDataRef> xml(CFPropertyListCreateData(nullptr, first.list.get(),
                                                  kCFPropertyListXMLFormat_v1_0, 0, &writeError));
    Owned<CFErrorRef> writeErrorHeld(writeError);
    FUZZ_CHECK(xml != nullptr);
    Parsed again = Read(xml.get(), kCFPropertyListImmutable);
    FUZZ_CHECK(again.list != nullptr);
    FUZZ_CHECK(again.format == kCFPropertyListXMLFormat_v1_0);
    FUZZ_CHECK(CFEqual(again.list.get(), first.list.get()));

    Owned<CFDataRef> xmlAgain(CFPropertyListCreateData(nullptr, again.list.get(),
                                                       kCFPropertyListXMLFormat_v1_0, 0, nullptr));
    FUZZ_CHECK(xmlAgain != nullptr);
    FUZZ_CHECK(CFEqual(xmlAgain.get(), xml.get()));
  });
  return 0;
}
