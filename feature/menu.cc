// Menu construction and command handling (see menu.h): the feature record's
// life, the preferences read at an interface query, the submenu built in
// immediate or deferred mode, the filling of a deferred submenu and the
// commands of its items. Every string made here is released here rather
// than handed to the frame's autorelease pool.
#include "menu.h"

#include <climits>
#include <cstdlib>

#include "autorelease_pool.h"
#include "cmd_list.h"
#include "context.h"
#include "frame.h"
#include "period_setup.h"
#include "plugin_identity.h"
#include "size_accumulation.h"
#include "size_text.h"
#include "status_codes.h"
#include "toolbox_utils.h"

// Keys of the bundle's strings table (each also its own default text).
#define kCopyAllSizesKey CFSTR("Copy All Sizes")
#define kSetupPeriodKey CFSTR("Setup Period...")
#define kUnscannableKey CFSTR("cannot scan %lu folder(s), check access privileges.")
#define kMenuTitleKey CFSTR("MenuTitle")

namespace {

// The four lines in menu order: the count line, then the three size lines.
constexpr SInt32 kLineCommands[] = {kCmdItemCount, kCmdTotalSize, kCmdDataSize, kCmdRsrcSize};

MyFileSizeData *AsData(void *yourData) {
  return static_cast<MyFileSizeData *>(yourData);
}

// Results of a calculation after which the partial figures are still shown,
// worded as a lower bound: the limit or a cancel key stopped the walk, or a
// folder could not be listed.
bool ShowsPartialFigures(OSStatus err) {
  return err == noErr || err == userCanceledErr || err == afpAccessDenied;
}

// The key's text in the bundle (the key itself when the table lacks it).
// Copy rule; null when memory runs out.
CFStringRef CopyLocalized(CFBundleRef bundle, CFStringRef key) {
  return CFBundleCopyLocalizedString(bundle, key, key, nullptr);
}

// One of the four lines of the submenu (index 0..3 of kLineCommands). Copy
// rule; null when it cannot be made.
CFStringRef CreateLine(const MyFileSizeData *data, CFBundleRef bundle, size_t index,
                       Boolean placeholder) {
  if (index == 0) return CreateItemCountString(data, bundle, placeholder);
  return CreateFileSizeString(data, bundle, kLineCommands[index], placeholder);
}

// The section header for folders that could not be read. Copy rule; null
// when it cannot be made.
CFStringRef CreateUnscannableHeader(const MyFileSizeData *data, CFBundleRef bundle) {
  CFStringRef format = CopyLocalized(bundle, kUnscannableKey);
  if (!format) return nullptr;
  CFStringRef header = CFStringCreateWithFormat(
      nullptr, nullptr, format, static_cast<unsigned long>(data->unscannableFolderCount));
  CFRelease(format);
  return header;
}

// Adds an item whose text is made by the caller (and released here): a text
// that could not be made is memFullErr.
OSStatus AddMadeItem(MyCMCmdList *list, CFStringRef text, SInt32 commandID, UInt32 attributes) {
  if (!text) return memFullErr;
  const OSStatus err = MyCMCmdListAddItem(list, text, commandID, attributes, nullptr);
  CFRelease(text);
  return err;
}

// Positions 1 to 8 of the submenu, and 9 and 10 in immediate mode when
// folders could not be read.
OSStatus AddSubmenuItems(MyCMCmdList *submenu, const MyFileSizeData *data, CFBundleRef bundle,
                         Boolean lazy) {
  OSStatus err = noErr;
  for (size_t i = 0; err == noErr && i < sizeof kLineCommands / sizeof kLineCommands[0]; ++i)
    err = AddMadeItem(submenu, CreateLine(data, bundle, i, lazy), kLineCommands[i], 0);
  if (err == noErr) err = MyCMCmdListAddSeparatorItem(submenu);
  if (err == noErr)
    err = AddMadeItem(submenu, CopyLocalized(bundle, kCopyAllSizesKey), kCmdCopyAllSizes, 0);
  if (err == noErr) err = MyCMCmdListAddSeparatorItem(submenu);
  if (err == noErr)
    err = AddMadeItem(submenu, CopyLocalized(bundle, kSetupPeriodKey), kCmdSetupPeriod, 0);
  if (err == noErr && !lazy && data->unscannableFolderCount > 0) {
    err = MyCMCmdListAddSeparatorItem(submenu);
    if (err == noErr) {
      err = AddMadeItem(submenu, CreateUnscannableHeader(data, bundle), 0,
                        kMenuItemAttrSectionHeader);
    }
  }
  return err;
}

// Builds the submenu in a list of its own and adds it to the host's list
// under the localized title. Nothing reaches the host's list unless every
// item of the submenu was made.
OSStatus BuildSubmenu(AEDescList *commandList, const MyFileSizeData *data, MyCMXType *instance,
                      Boolean lazy) {
  MyCMCmdList *submenu = nullptr;
  MyCMCmdList *wrapper = nullptr;
  OSStatus err = MyCMCmdListCreate(nullptr, &submenu, instance);
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);
  if (err == noErr) err = AddSubmenuItems(submenu, data, bundle, lazy);
  if (err == noErr) err = MyCMCmdListCreate(commandList, &wrapper, instance);
  if (err == noErr) {
    CFStringRef title = CopyLocalized(bundle, kMenuTitleKey);
    if (!title) {
      err = memFullErr;
    } else {
      err = MyCMCmdListAddSubmenuItem(wrapper, title, submenu, 0, nullptr);
      CFRelease(title);
    }
  }
  MyCMCmdListDispose(wrapper);
  MyCMCmdListDispose(submenu);
  return err;
}

// Replaces the four placeholders (positions 1 to 4, now that the identifier
// item is gone) with the lines of the record's figures, and appends the
// separator and the header when folders could not be read.
OSStatus FillDeferredSubmenu(MenuRef menu, const MyFileSizeData *data) {
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);
  for (size_t i = 0; i < sizeof kLineCommands / sizeof kLineCommands[0]; ++i) {
    CFStringRef line = CreateLine(data, bundle, i, false);
    if (!line) return memFullErr;
    const OSStatus err = SetMenuItemTextWithCFString(menu, static_cast<MenuItemIndex>(i + 1), line);
    CFRelease(line);
    if (err != noErr) return err;
  }
  if (data->unscannableFolderCount == 0) return noErr;

  OSStatus err =
      AppendMenuItemTextWithCFString(menu, CFSTR("-"), kMenuItemAttrSeparator, 0, nullptr);
  if (err != noErr) return err;
  CFStringRef header = CreateUnscannableHeader(data, bundle);
  if (!header) return memFullErr;
  err = AppendMenuItemTextWithCFString(menu, header, kMenuItemAttrSectionHeader, 0, nullptr);
  CFRelease(header);
  return err;
}

// A preference integer as a limit in ticks: a value beyond 32 bits keeps its
// meaning (a very long limit, or no limit at all) instead of wrapping.
SInt32 LimitFromPreference(CFIndex value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<SInt32>(value);
}

} // namespace

void *MyCMXCreateYourData(void) {
  return calloc(1, sizeof(MyFileSizeData));
}

void MyCMXDisposeYourData(void *yourData) {
  MyFileSizeData *data = AsData(yourData);
  if (!data) return;
  if (data->targetRefs) CFRelease(data->targetRefs);
  free(data);
}

OSStatus MyCMXQueryInterfaceSelf(void *yourData, MyCMXType *instance) {
  MyFileSizeData *data = AsData(yourData);
  if (!data) return paramErr;
  data->limitTicks = kMyDefaultLimitTicks;
  data->lazyCalc = false;
  Boolean valid = false;
  const Boolean lazy =
      CFPreferencesGetAppBooleanValue(kMyLazyCalcPrefKey, kMyBundleIdentifier, &valid);
  if (valid) data->lazyCalc = lazy;
  valid = false;
  const CFIndex limit =
      CFPreferencesGetAppIntegerValue(kMyLimitTicksPrefKey, kMyBundleIdentifier, &valid);
  if (valid) data->limitTicks = LimitFromPreference(limit);
  MyCMXTypeSetAllowInstallHandler(instance, data->lazyCalc);
  return noErr;
}

OSStatus MyCMXExamineContextSelf(const AEDesc *context, AEDescList *commandList, void *yourData,
                                 MyCMXType *instance) {
  MyFileSizeData *data = AsData(yourData);
  if (!context || !commandList || !data) return paramErr;
  const Boolean lazy = data->lazyCalc; // one mode for the whole call

  MyCMContext *reader = nullptr;
  OSStatus err = MyCMContextCreateWithContext(context, false, &reader);
  if (err != noErr) return err;
  // No item resolves: the plug-in adds nothing to the host's menu.
  if (!MyCMContextContainsAlias(reader)) {
    MyCMContextDispose(reader);
    return noErr;
  }

  ClearFileSizes(data);
  MyFSDirIter *iter = MyCMContextGetIterater(reader);
  CFArrayRef refs = iter ? MyFSDirIterGetContentRefs(iter) : nullptr;
  if (!refs) {
    MyCMContextDispose(reader);
    return kMyNilPointerErr;
  }
  CFRetain(refs);

  if (lazy) {
    // The record takes the reference over; complete keeps its value.
    if (data->targetRefs) CFRelease(data->targetRefs);
    data->targetRefs = refs;
    refs = nullptr;
  } else {
    err = CalculateFileSizeForTarget(refs, data, data->limitTicks);
    data->complete = err == noErr;
    err = ShowsPartialFigures(err) ? noErr : err;
  }
  if (err == noErr) err = BuildSubmenu(commandList, data, instance, lazy);

  if (refs) CFRelease(refs);
  MyCMContextDispose(reader);
  return err;
}

OSStatus MyCMXHandleSelectionSelf(AEDesc *context, SInt32 commandID, void *yourData,
                                  MyCMXType *instance) {
  MyFileSizeData *data = AsData(yourData);
  if (!data) return paramErr;
  MyCMContext *reader = nullptr;
  OSStatus err = MyCMContextCreateWithContext(context, false, &reader);
  if (err != noErr) return err;
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);

  bool copies = true;
  CFStringRef text = nullptr;
  switch (commandID) {
  case kCmdItemCount:
    text = CreateItemCountString(data, bundle, false);
    break;
  case kCmdTotalSize:
  case kCmdDataSize:
  case kCmdRsrcSize:
    text = CreateFileSizeString(data, bundle, commandID, false);
    break;
  case kCmdCopyAllSizes:
    text = CreateAllSizeString(data, bundle);
    break;
  case kCmdSetupPeriod:
    copies = false;
    err = MyFileSizeHandleSetupPeriod(data, instance);
    break;
  default:
    copies = false; // a command of no item of ours: nothing happens
    break;
  }
  if (copies) {
    if (!text) {
      err = memFullErr;
    } else {
      err = SetTextToScrap(text, 0);
      CFRelease(text);
    }
  }
  MyCMContextDispose(reader);
  return err;
}

void MyCMXPostMenuCleanupSelf(void *yourData, MyCMXType *instance) {
  (void)yourData;
  (void)instance;
}

void MyCMXHandleErrorSelf(OSStatus err, UInt32 phase) {
  (void)err;
  (void)phase;
}

OSStatus MyCMXHandleMenuPopulateSelf(void *yourData, MenuRef menu, CFTypeRef populateData,
                                     EventHandlerCallRef callRef, EventRef event) {
  MyFileSizeData *data = AsData(yourData);
  if (!data || !menu || !populateData || !callRef || !event) return paramErr;
  if (!data->targetRefs) return paramErr;

  OSStatus err = CalculateFileSizeForTarget(data->targetRefs, data, data->limitTicks);
  data->complete = err == noErr;
  if (!ShowsPartialFigures(err)) return err; // the placeholders stay

  // The count line hands its format to the current pool. The frame calls
  // this even when it could not make one, and without a pool that format
  // would never be released: the lines are made inside a pool of our own.
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  if (!pool) return memFullErr;
  err = FillDeferredSubmenu(menu, data);
  MyCFAutoreleasePoolDispose(pool);
  return err;
}
