// The diagnostics log (see log.h). Every line goes through printf on the
// host's standard output, unflushed, from the host's main thread.
#include "log.h"

#include <cstdio>
#include <cstdlib>

#include "status_codes.h"

namespace {
const char kProductName[] = "Vantlow";
} // namespace

void MyLogMessage(const char *message) {
  printf("%s: %s\n", kProductName, message);
}

const char *GetPhaseName(UInt32 phase) {
  switch (phase) {
  case kPhaseAllocate:
    return "Allocate";
  case kPhaseQuery:
    return "Query";
  case kPhaseExamineContext:
    return "ExamineContext";
  case kPhaseHandleSelection:
    return "HandleSelection";
  case kPhasePostMenuCleanup:
    return "PostMenuCleanup";
  case kPhaseDealloc:
    return "Dealloc";
  default:
    return "Undefined";
  }
}

void MyLogError(OSStatus err, UInt32 phase) {
  if (err == 0 || err == kMyNoBeepErr) return;
  const char *phaseName = GetPhaseName(phase);
  if (err < 0) {
    printf("%s: execution fail: error=%ld, phase is '%s'\n", kProductName, static_cast<long>(err),
           phaseName);
    return;
  }
  UInt32 code = static_cast<UInt32>(err);
  char text[5] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16),
                  static_cast<char>(code >> 8), static_cast<char>(code), '\0'};
  printf("%s: execution fail: error='%s', phase is '%s'\n", kProductName, text, phaseName);
}

char *CreateUTF8CString(CFStringRef str) {
  if (!str) return nullptr;
  CFIndex length = CFStringGetLength(str);
  CFRange whole = CFRangeMake(0, length);
  CFIndex needed = 0;
  CFStringGetBytes(str, whole, kCFStringEncodingUTF8, '?', false, nullptr, 0, &needed);
  if (needed < 0) return nullptr;
  char *buffer = static_cast<char *>(malloc(static_cast<size_t>(needed) + 1));
  if (!buffer) return nullptr;
  CFIndex used = 0;
  if (needed > 0) {
    CFStringGetBytes(str, whole, kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8 *>(buffer), needed, &used);
  }
  // The conversion never writes past `needed`; keep the terminator inside
  // the buffer whatever it reports.
  if (used < 0 || used > needed) used = 0;
  buffer[used] = '\0';
  return buffer;
}

CFStringRef CopyPathForRef(const struct FSRef *ref) {
  if (!ref) return nullptr;
  CFURLRef url = CFURLCreateFromFSRef(nullptr, ref);
  if (!url) return nullptr;
  CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  CFRelease(url);
  return path;
}

void MyLogPathForFSRef(CFStringRef label, const struct FSRef *ref) {
  if (!ref) return;
  if (!label) label = CFSTR("");
  // The path is needed only for this line, so it is released here rather
  // than handed to the current pool: a call made while no pool exists must
  // not leave it allocated.
  CFStringRef path = CopyPathForRef(ref);
  if (!path) return;
  char *labelText = CreateUTF8CString(label);
  char *pathText = labelText ? CreateUTF8CString(path) : nullptr;
  if (labelText && pathText) printf("%s: %s: %s\n", kProductName, labelText, pathText);
  free(pathText);
  free(labelText);
  CFRelease(path);
}
