// Fuzzes the AppleDouble reader ("._name" files beside an item, which hold
// its resource fork) with arbitrary bytes as the whole file. A fork it
// reports lies inside the file, after the header; the parse never reads
// outside the bytes (AddressSanitizer), and a refusal leaves the caller's
// length alone.
#include <cstdint>

#include <vantlow/files_testing.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::RunWithoutLeaks([&] {
    // libFuzzer hands over an exact copy on the heap: a read one byte too
    // far is caught.
    constexpr UInt64 kUntouched = 0xDEADBEEFCAFEF00Dull;
    UInt64 length = kUntouched;
    const Boolean fork = VPAppleDoubleParseForTesting(data, static_cast<CFIndex>(size), &length);
    if (!fork) {
      FUZZ_CHECK(length == kUntouched);
      return;
    }
    // The 26-byte header comes first; a fork of some length lies after it.
    FUZZ_CHECK(size >= 26);
    FUZZ_CHECK(length <= size - 26);
  });
  return 0;
}
