// The size and count text (see size_text.h). Strings are made with the
// platform's locale-free format engine, so a number always prints with a
// point for decimals and without grouping; the only grouping is the one
// CopyBytesStringWithComma puts in itself.
#include "size_text.h"

#include "autorelease_pool.h"

namespace {

// The longest decimal UInt64 has 20 digits and takes 6 commas.
constexpr CFIndex kMaxCommaTextLength = 20 + 6;

CFStringRef CopyLocalized(CFBundleRef bundle, CFStringRef key) {
  return CFBundleCopyLocalizedString(bundle, key, key, nullptr);
}

void ReleaseIfMade(CFTypeRef object) {
  if (object) CFRelease(object);
}

} // namespace

CFStringRef CreateItemCountString(const MyFileSizeData *data, CFBundleRef bundle,
                                  Boolean placeholder) {
  if (placeholder) return CFStringCreateCopy(nullptr, CFSTR("Dummy"));
  if (!data) return nullptr;
  CFStringRef key = data->complete ? CFSTR("%ld file(s)") : CFSTR("over %ld file(s)");
  // The pool releases the format once the host's call is over; when the
  // pool cannot take it, MyCFAutorelease has released it already.
  CFStringRef format = static_cast<CFStringRef>(MyCFAutorelease(CopyLocalized(bundle, key)));
  if (!format) return nullptr;
  return CFStringCreateWithFormat(nullptr, nullptr, format, static_cast<long>(data->fileCount),
                                  static_cast<long>(data->invisibleFileCount),
                                  static_cast<long>(data->folderCount),
                                  static_cast<long>(data->invisibleFolderCount));
}

CFStringRef CreateFileSizeString(const MyFileSizeData *data, CFBundleRef bundle, SInt32 command,
                                 Boolean placeholder) {
  if (placeholder) return CFStringCreateCopy(nullptr, CFSTR("Dummy"));
  if (!data) return nullptr;
  Boolean complete = data->complete;
  switch (command) {
  case kCmdTotalSize:
    return CreateSizeString2(bundle, complete ? CFSTR("TotalFormat") : CFSTR("TotalFormat2"),
                             data->dataPhysicalTotal + data->rsrcPhysicalTotal,
                             data->dataLogicalTotal + data->rsrcLogicalTotal);
  case kCmdDataSize:
    return CreateSizeString2(bundle, complete ? CFSTR("DataFormat") : CFSTR("DataFormat2"),
                             data->dataPhysicalTotal, data->dataLogicalTotal);
  case kCmdRsrcSize:
    return CreateSizeString2(bundle, complete ? CFSTR("RsrcFormat") : CFSTR("RsrcFormat2"),
                             data->rsrcPhysicalTotal, data->rsrcLogicalTotal);
  default:
    return nullptr; // no size line belongs to another command
  }
}

CFStringRef CreateAllSizeString(const MyFileSizeData *data, CFBundleRef bundle) {
  CFStringRef lines[4] = {CreateItemCountString(data, bundle, false), nullptr, nullptr, nullptr};
  const SInt32 commands[3] = {kCmdTotalSize, kCmdDataSize, kCmdRsrcSize};
  CFStringRef result = nullptr;
  bool made = lines[0] != nullptr;
  for (int i = 0; made && i < 3; ++i) {
    lines[i + 1] = CreateFileSizeString(data, bundle, commands[i], false);
    made = lines[i + 1] != nullptr;
  }
  if (made) {
    result = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@\r%@\r%@\r%@\r"), lines[0],
                                      lines[1], lines[2], lines[3]);
  }
  for (CFStringRef line : lines)
    ReleaseIfMade(line);
  return result;
}

CFStringRef CreateSizeString2(CFBundleRef bundle, CFStringRef key, UInt64 physical,
                              UInt64 logical) {
  if (!key) return nullptr;
  CFStringRef unitText = CopyBytesStringWithUnit(physical);
  if (!unitText) return nullptr;
  CFStringRef commaText = CopyBytesStringWithComma(logical);
  CFStringRef format = CopyLocalized(bundle, key);
  CFStringRef result = nullptr;
  if (commaText && format)
    result = CFStringCreateWithFormat(nullptr, nullptr, format, unitText, commaText);
  ReleaseIfMade(format);
  ReleaseIfMade(commaText);
  CFRelease(unitText);
  return result;
}

CFStringRef CopyBytesStringWithUnit(UInt64 bytes) {
  if (bytes < 1024)
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%qu %@"), bytes, CFSTR("Byte"));
  UInt64 kilo = bytes >> 10;
  if (kilo < 1024)
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%qu %@"), kilo, CFSTR("KB"));
  // Tenths of the unit, truncated: k < 2^54, so k x 10 stays within 64 bits.
  UInt64 tenths = (kilo * 10) >> 10;
  CFStringRef unit = CFSTR("MB");
  if (tenths > 10239) {
    tenths >>= 10;
    unit = CFSTR("GB");
  }
  // A whole number of tenths divided by ten prints its one decimal exactly.
  return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%.1f %@"),
                                  static_cast<double>(tenths) / 10.0, unit);
}

CFStringRef CopyBytesStringWithComma(UInt64 bytes) {
  CFStringRef digits = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%qu"), bytes);
  if (!digits) return nullptr;
  CFIndex length = CFStringGetLength(digits);
  if (length <= 3) return digits;

  UniChar grouped[kMaxCommaTextLength];
  CFIndex used = 0;
  for (CFIndex i = 0; i < length && used < kMaxCommaTextLength; ++i) {
    grouped[used++] = CFStringGetCharacterAtIndex(digits, i);
    CFIndex toCome = length - 1 - i;
    if (toCome > 2 && toCome % 3 == 0 && used < kMaxCommaTextLength) grouped[used++] = ',';
  }
  CFRelease(digits);

  CFMutableStringRef text = CFStringCreateMutable(nullptr, 0);
  if (!text) return nullptr;
  CFStringAppendCharacters(text, grouped, used);
  // An append that runs out of memory leaves the string as it was; a
  // number with digits missing must not pass for the count.
  if (CFStringGetLength(text) != used) {
    CFRelease(text);
    return nullptr;
  }
  return text;
}
