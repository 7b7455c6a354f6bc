// Alias records (layout in Aliases.h): making them for a path or a file
// reference, checking and resolving them, and the descriptor coercions that
// let a host hand the plug-in aliases and the plug-in read them as FSRefs.
// A record is untrusted input: every length is checked against the block
// before a byte of the path is read.
#include <Carbon/Aliases.h>

#include <cstring>
#include <string_view>

#include <Carbon/Toolbox.h>

#include "ae_coercion.h"
#include "alloc.h"
#include "fsref.h"

namespace {

constexpr UInt8 kMagic[4] = {'V', 'P', 'a', 'l'};
constexpr UInt16 kVersion = 1;
constexpr size_t kHeaderSize = 12;
// A record must fit in a Size.
constexpr size_t kMaxPathLength = static_cast<size_t>(INT32_MAX) - kHeaderSize;

UInt32 ReadBig(const UInt8 *p, int bytes) noexcept {
  UInt32 value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | p[i];
  return value;
}

void WriteBig(UInt8 *p, UInt32 value, int bytes) noexcept {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8)
    p[i] = static_cast<UInt8>(value);
}

// The path a record holds, or paramErr when the bytes are not exactly one
// well-formed record.
OSErr ParseRecord(const void *data, size_t size, std::string_view *path) noexcept {
  if (!data || size < kHeaderSize) return paramErr;
  const UInt8 *bytes = static_cast<const UInt8 *>(data);
  if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return paramErr;
  if (ReadBig(bytes + 4, 2) != kVersion || ReadBig(bytes + 6, 2) != 0) return paramErr;
  const size_t length = ReadBig(bytes + 8, 4);
  if (length != size - kHeaderSize) return paramErr;
  std::string_view text(reinterpret_cast<const char *>(bytes + kHeaderSize), length);
  if (text.empty() || text[0] != '/' || text.find('\0') != std::string_view::npos) return paramErr;
  *path = text;
  return noErr;
}

// Writes the record for path (absolute, no zero byte) into out, which has
// room for kHeaderSize + path.size() bytes.
void WriteRecord(std::string_view path, UInt8 *out) noexcept {
  std::memcpy(out, kMagic, sizeof kMagic);
  WriteBig(out + 4, kVersion, 2);
  WriteBig(out + 6, 0, 2);
  WriteBig(out + 8, static_cast<UInt32>(path.size()), 4);
  std::memcpy(out + kHeaderSize, path.data(), path.size());
}

// The absolute path of the item ref names; paramErr for a malformed
// reference. Throws std::bad_alloc.
OSErr PathOfRef(const FSRef &ref, vp::String8 *path) {
  // Asked of the File Manager directly, which sizes the string itself:
  // FSRefMakePath answers paramErr both for a buffer too small and for a
  // malformed reference, so growing a buffer until it fits would cost a
  // hostile reference buffers up to the largest record before its refusal.
  OSErr err = vp::files::RefMakePath(&ref, path);
  if (err != noErr) return err;
  return path->empty() || (*path)[0] != '/' ? paramErr : noErr;
}

// The absolute path of the item at path (resolved by the File Manager, so
// relative paths, "." and ".." and the folders on the way are settled and the
// last name is not followed); fnfErr when there is no item. Throws
// std::bad_alloc.
OSErr ItemPathForPath(std::string_view given, vp::String8 *path) {
  if (given.empty()) return fnfErr;
  if (given.find('\0') != std::string_view::npos) return paramErr;
  vp::String8 terminated(given);
  FSRef ref;
  OSStatus status =
      FSPathMakeRef(reinterpret_cast<const UInt8 *>(terminated.c_str()), &ref, nullptr);
  if (status != noErr) return static_cast<OSErr>(status);
  return PathOfRef(ref, path);
}

// A new handle holding the record for path; memFullErr when it cannot be had.
OSErr NewRecordHandle(std::string_view path, AliasHandle *out) noexcept {
  if (path.size() > kMaxPathLength) return paramErr;
  Handle h = NewHandle(static_cast<Size>(kHeaderSize + path.size()));
  if (!h) return memFullErr;
  WriteRecord(path, reinterpret_cast<UInt8 *>(*h));
  *out = reinterpret_cast<AliasHandle>(h);
  return noErr;
}

// Makes *result a typeAlias descriptor holding the record for path.
OSErr CreateRecordDesc(std::string_view path, AEDesc *result) {
  if (path.size() > kMaxPathLength) return paramErr;
  vp::Vector<UInt8> record(kHeaderSize + path.size());
  WriteRecord(path, record.data());
  return AECreateDesc(typeAlias, record.data(), static_cast<Size>(record.size()), result);
}

// Resolves the path of a record into *target (left alone on failure).
// Throws std::bad_alloc.
OSErr ResolvePath(std::string_view path, FSRef *target) {
  vp::String8 terminated(path);
  FSRef ref;
  OSStatus status =
      FSPathMakeRef(reinterpret_cast<const UInt8 *>(terminated.c_str()), &ref, nullptr);
  if (status != noErr) return static_cast<OSErr>(status);
  *target = ref;
  return noErr;
}

// ---- Coercions ----

// Failures to coerce are errAECoercionFail, except running out of memory.
OSErr CoercionResult(OSErr err) noexcept {
  return err == noErr || err == memFullErr ? err : static_cast<OSErr>(errAECoercionFail);
}

OSErr AliasToFSRef(DescType, const void *data, Size size, DescType, AEDesc *result) {
  std::string_view path;
  if (size < 0 || ParseRecord(data, static_cast<size_t>(size), &path) != noErr)
    return errAECoercionFail;
  FSRef ref;
  OSErr err = ResolvePath(path, &ref);
  if (err != noErr) return CoercionResult(err);
  return AECreateDesc(typeFSRef, &ref, sizeof ref, result);
}

OSErr FSRefToAlias(DescType, const void *data, Size size, DescType, AEDesc *result) {
  if (!data || size != static_cast<Size>(sizeof(FSRef))) return errAECoercionFail;
  FSRef ref;
  std::memcpy(&ref, data, sizeof ref);
  vp::String8 path;
  OSErr err = PathOfRef(ref, &path);
  if (err != noErr) return CoercionResult(err);
  return CreateRecordDesc(path, result);
}

OSErr PathToAlias(std::string_view given, AEDesc *result) {
  vp::String8 path;
  OSErr err = ItemPathForPath(given, &path);
  if (err != noErr) return CoercionResult(err);
  return CreateRecordDesc(path, result);
}

// typeChar: the path's bytes, with or without one terminating zero byte.
OSErr CharToAlias(DescType, const void *data, Size size, DescType, AEDesc *result) {
  if (!data || size <= 0) return errAECoercionFail;
  std::string_view text(static_cast<const char *>(data), static_cast<size_t>(size));
  if (text.back() == '\0') text.remove_suffix(1);
  return PathToAlias(text, result);
}

int HexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// typeFileURL: "file://" with an empty host or "localhost", then the path
// with %XX escapes. Any other URL is not a local item.
OSErr FileURLToAlias(DescType, const void *data, Size size, DescType, AEDesc *result) {
  if (!data || size <= 0) return errAECoercionFail;
  std::string_view url(static_cast<const char *>(data), static_cast<size_t>(size));
  if (url.back() == '\0') url.remove_suffix(1);
  constexpr std::string_view kScheme = "file://";
  if (url.size() < kScheme.size()) return errAECoercionFail;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    const char c = url[i] >= 'A' && url[i] <= 'Z' ? static_cast<char>(url[i] - 'A' + 'a') : url[i];
    if (c != kScheme[i]) return errAECoercionFail;
  }
  url.remove_prefix(kScheme.size());
  if (url.substr(0, 9) == "localhost") url.remove_prefix(9);
  if (url.empty() || url[0] != '/') return errAECoercionFail;
  vp::String8 path;
  for (size_t i = 0; i < url.size(); ++i) {
    char c = url[i];
    if (c == '?' || c == '#') break; // a query or fragment is not part of the path
    if (c == '%') {
      int high = i + 2 < url.size() ? HexValue(url[i + 1]) : -1;
      int low = high >= 0 ? HexValue(url[i + 2]) : -1;
      if (low < 0 || (high == 0 && low == 0)) return errAECoercionFail;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    path.push_back(c);
  }
  return PathToAlias(path, result);
}

[[maybe_unused]] const bool gCoercionsRegistered = [] {
  bool ok = vp::RegisterCoercion(typeAlias, typeFSRef, AliasToFSRef);
  ok = vp::RegisterCoercion(typeFSRef, typeAlias, FSRefToAlias) && ok;
  ok = vp::RegisterCoercion(typeChar, typeAlias, CharToAlias) && ok;
  ok = vp::RegisterCoercion(typeFileURL, typeAlias, FileURLToAlias) && ok;
  return ok;
}();

} // namespace

extern "C" {

OSErr FSNewAlias(const FSRef *, const FSRef *target, AliasHandle *inAlias) noexcept {
  if (!inAlias) return paramErr;
  *inAlias = nullptr;
  if (!target) return paramErr;
  return vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
    vp::String8 path;
    OSErr err = PathOfRef(*target, &path);
    return err != noErr ? err : NewRecordHandle(path, inAlias);
  });
}

OSErr FSResolveAlias(const FSRef *, AliasHandle alias, FSRef *target,
                     Boolean *wasChanged) noexcept {
  if (wasChanged) *wasChanged = FALSE;
  if (!alias || !target) return paramErr;
  const Size size = GetHandleSize(reinterpret_cast<Handle>(alias));
  if (size < static_cast<Size>(kHeaderSize) || !*alias) return paramErr;
  std::string_view path;
  if (OSErr err = ParseRecord(*alias, static_cast<size_t>(size), &path)) return err;
  return vp::Edge<OSErr>(memFullErr, [&] { return ResolvePath(path, target); });
}

OSErr VPNewAliasForPath(const char *path, AliasHandle *outAlias) noexcept {
  if (!outAlias) return paramErr;
  *outAlias = nullptr;
  if (!path) return paramErr;
  return vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
    vp::String8 itemPath;
    OSErr err = ItemPathForPath(path, &itemPath);
    return err != noErr ? err : NewRecordHandle(itemPath, outAlias);
  });
}

OSErr VPCreateAliasDescForPath(const char *path, AEDesc *outDesc) noexcept {
  if (!outDesc) return paramErr;
  AEInitializeDesc(outDesc);
  if (!path) return paramErr;
  return vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
    vp::String8 itemPath;
    OSErr err = ItemPathForPath(path, &itemPath);
    if (err != noErr) return err;
    err = CreateRecordDesc(itemPath, outDesc);
    if (err != noErr) AEDisposeDesc(outDesc);
    return err;
  });
}

} // extern "C"
