// File URLs. A URL holds one absolute POSIX path as the file-name bytes
// themselves, made absolute and normalized when the URL is made, so that a
// name which is not valid UTF-8 survives any number of trips between paths,
// strings and URLs. The conversion to and from strings is the lossless
// file-name mapping of cf_string_internal.h.
#include "cf_url_internal.h"

#include <cerrno>
#include <climits>

#include "cf_string_internal.h"
#include "syscalls.h"

struct __CFURL final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDURL;
  __CFURL(vp::String8 p, bool dir) : path(std::move(p)), isDirectory(dir) {}
  CFTypeID TypeID() const noexcept override { return kTypeID; }

  // Two URLs naming the same path are equal, whatever their directory flag:
  // a URL here names one item, and the flag only decorates its description.
  bool Equal(const vp::Object &other) const noexcept override {
    return path == static_cast<const __CFURL &>(other).path;
  }
  CFHashCode Hash() const noexcept override {
    CFHashCode h = 14695981039346656037ul; // FNV-1a
    for (unsigned char c : path)
      h = (h ^ c) * 1099511628211ul;
    return h;
  }
  // "file://" and the path with every byte outside the unreserved set and
  // "/" percent-encoded; folders end in "/".
  vp::String16 Describe() const override {
    static const char kHex[] = "0123456789ABCDEF";
    vp::String16 out(u"file://");
    for (unsigned char c : path) {
      bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
      if (plain) {
        out.push_back(static_cast<char16_t>(c));
      } else {
        out.push_back(u'%');
        out.push_back(static_cast<char16_t>(kHex[c >> 4]));
        out.push_back(static_cast<char16_t>(kHex[c & 15]));
      }
    }
    if (isDirectory && path != "/") out.push_back(u'/');
    return out;
  }

  const vp::String8 path; // absolute, normalized
  const bool isDirectory;
};

namespace vp {

String8 NormalizeAbsolutePath(std::string_view absolute) {
  String8 out("/");
  size_t i = 0;
  while (i < absolute.size()) {
    size_t end = absolute.find('/', i);
    if (end == std::string_view::npos) end = absolute.size();
    std::string_view part = absolute.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Every component already in out is a real name, so the last slash
      // is where the last one starts.
      size_t slash = out.rfind('/');
      out.resize(slash == 0 ? 1 : slash);
      continue;
    }
    if (out.size() > 1) out.push_back('/');
    out.append(part.data(), part.size());
  }
  return out;
}

CFURLRef NewURLWithPath(std::string_view bytes, bool isDirectory) {
  if (bytes.empty() || bytes.find('\0') != std::string_view::npos) return nullptr;
  String8 path;
  if (bytes.front() == '/') {
    path = NormalizeAbsolutePath(bytes);
  } else {
    char cwd[PATH_MAX];
    if (!vp::sys::getcwd(cwd, sizeof cwd) || cwd[0] != '/') return nullptr;
    String8 joined(cwd);
    joined.push_back('/');
    joined.append(bytes.data(), bytes.size());
    path = NormalizeAbsolutePath(joined);
  }
  bool root = path == "/";
  return new __CFURL(std::move(path), isDirectory || root);
}

const String8 *URLPath(CFTypeRef cf) noexcept {
  const __CFURL *url = Cast<__CFURL>(cf);
  return url ? &url->path : nullptr;
}

} // namespace vp

extern "C" {

CFTypeID CFURLGetTypeID(void) noexcept {
  return vp::kTypeIDURL;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) noexcept {
  const vp::String16 *units = vp::Units(filePath);
  if (!units || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  return vp::Edge<CFURLRef>(nullptr, [&] {
    vp::String8 bytes = vp::EncodeFileName(*units);
    return vp::NewURLWithPath(std::string_view(bytes.data(), bytes.size()), isDirectory != 0);
  });
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory) noexcept {
  if (!buffer || bufLen <= 0) return nullptr;
  return vp::Edge<CFURLRef>(nullptr, [&] {
    return vp::NewURLWithPath(
        std::string_view(reinterpret_cast<const char *>(buffer), static_cast<size_t>(bufLen)),
        isDirectory != 0);
  });
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) noexcept {
  const vp::String8 *path = vp::URLPath(anURL);
  if (!path || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    return vp::NewString(vp::DecodeFileName(std::string_view(path->data(), path->size())));
  });
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8 *buffer,
                                         CFIndex maxBufLen) noexcept {
  const vp::String8 *path = vp::URLPath(url);
  if (!path || !buffer || maxBufLen <= 0) return false;
  if (path->size() >= static_cast<size_t>(maxBufLen)) return false;
  for (size_t i = 0; i < path->size(); ++i)
    buffer[i] = static_cast<UInt8>((*path)[i]);
  buffer[path->size()] = 0;
  return true;
}

} // extern "C"
