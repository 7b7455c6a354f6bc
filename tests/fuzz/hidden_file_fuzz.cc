// Fuzzes the reader of a folder's ".hidden" file (one name per LF-ended
// line, pieces of at most 255 bytes, a NUL ends a name, at most the first
// 1 MiB read) with arbitrary bytes. Checked: every name it hides is 1 to 255
// bytes without LF or NUL and stands in the file; every complete line of 1
// to 255 bytes without NUL is hidden. An input whose first byte is 0xFF is
// put behind enough filler lines to reach the 1 MiB limit, so the line
// cut off there is reached too.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <vantlow/files_testing.h>

#include "fuzz_support.h"

namespace {

using fuzz::Owned;

constexpr std::size_t kLimit = 1 << 20;
constexpr std::size_t kPiece = 255;

// The name's bytes back from the file-name mapping.
std::string Bytes(CFStringRef name) {
  const CFIndex length = VPStringGetFileSystemRepresentationLength(name);
  std::string out(static_cast<std::size_t>(length) + 1, '\0');
  FUZZ_CHECK(CFStringGetFileSystemRepresentation(name, out.data(), length + 1));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

bool Hidden(CFSetRef names, std::string_view name) {
  Owned<CFStringRef> text(VPStringCreateWithFileSystemBytes(
      nullptr, reinterpret_cast<const UInt8 *>(name.data()), static_cast<CFIndex>(name.size())));
  FUZZ_CHECK(text != nullptr);
  return CFSetContainsValue(names, text.get());
}

void Check(std::string_view file) {
  Owned<CFSetRef> names(VPHiddenNamesCreateFromDataForTesting(
      reinterpret_cast<const UInt8 *>(file.data()), static_cast<CFIndex>(file.size())));
  FUZZ_CHECK(names != nullptr);

  // What is read: the first 1 MiB, and of a longer file only its lines
  // complete within that.
  const bool cut = file.size() > kLimit;
  std::string_view read = file.substr(0, kLimit);
  if (cut) read = read.substr(0, read.rfind('\n') + 1); // npos + 1 == 0: nothing

  const CFIndex count = CFSetGetCount(names.get());
  std::vector<const void *> values(static_cast<std::size_t>(count));
  CFSetGetValues(names.get(), values.data());
  for (const void *value : values) {
    FUZZ_CHECK(CFGetTypeID(value) == CFStringGetTypeID());
    const std::string name = Bytes(static_cast<CFStringRef>(value));
    FUZZ_CHECK(!name.empty() && name.size() <= kPiece);
    FUZZ_CHECK(name.find('\n') == std::string::npos);
    FUZZ_CHECK(name.find('\0') == std::string::npos);
    // Searching a whole megabyte per name would make the run crawl.
    if (read.size() <= 65536) FUZZ_CHECK(read.find(name) != std::string_view::npos);
  }

  for (std::size_t pos = 0; pos < read.size();) {
    std::size_t end = read.find('\n', pos);
    if (end == std::string_view::npos) end = read.size();
    const std::string_view line = read.substr(pos, end - pos);
    if (!line.empty() && line.size() <= kPiece && line.find('\0') == std::string_view::npos)
      FUZZ_CHECK(Hidden(names.get(), line));
    pos = end + 1;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::RunWithoutLeaks([&] {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    if (size >= 3 && data[0] == 0xFF) {
      // Filler lines, then the rest of the input about the 1 MiB mark: the
      // next two bytes say how far before it the input starts. Each filler
      // line begins with NUL, so it names nothing and costs little.
      const std::size_t before = (std::size_t{data[1]} << 8 | data[2]) % 4096;
      std::string file(kLimit - before, 'f');
      for (std::size_t at = 0; at < file.size(); at += 100)
        file[at] = '\0';
      for (std::size_t at = 99; at < file.size(); at += 100)
        file[at] = '\n';
      file.append(input.substr(3));
      Check(file);
      return;
    }
    Check(input);
  });
  return 0;
}
