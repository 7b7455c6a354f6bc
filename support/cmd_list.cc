// The command list builder (see cmd_list.h): item records, the name
// descriptor in the text type the system reads, the identifier item of a
// deferred submenu and the populate data filed per item position.
#include "cmd_list.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "frame.h"
#include "status_codes.h"
#include "toolbox_utils.h"

struct MyCMCmdList {
  AEDescList ownedList;                   // owned; a null descriptor when wrapping
  AEDescList *commandList;                // where items go: the host's list or &ownedList
  MyCMXType *instance;                    // lent
  CFStringRef menuIdentifier;             // owned, may be null
  CFMutableDictionaryRef populateDataDic; // owned, may be null: position -> data
};

namespace {

// From 10.2 on the host reads menu texts as 'utxt'.
constexpr SInt32 kLastVersionWithoutUnicodeNames = 0x101F;
constexpr UInt8 kLossByte = '?';
// 'itxt' starts with the script code and the language code.
constexpr Size kIntlTextHeaderSize = sizeof(ScriptCode) + sizeof(LangCode);

Boolean DeferredMode(const MyCMCmdList *list) {
  return MyCMXTypeAllowInstallHandler(list->instance);
}

// The populate-data dictionary, made when missing; lent, null when it
// cannot be made.
CFMutableDictionaryRef GetPopulateDataDictionary(MyCMCmdList *list) {
  if (!list) return nullptr;
  if (!list->populateDataDic) {
    list->populateDataDic = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                      &kCFTypeDictionaryValueCallBacks);
  }
  return list->populateDataDic;
}

// Files data under the list's current item count, the position of the item
// appended last. A position that has data keeps it.
OSStatus AddPopulateData(MyCMCmdList *list, CFTypeRef data) {
  if (!list || !data) return paramErr;
  const SInt32 position = MyCMCmdListCountItems(list);
  CFNumberRef key = CFNumberCreate(nullptr, kCFNumberSInt32Type, &position);
  if (!key) return kMyNilPointerErr;
  CFMutableDictionaryRef dictionary = GetPopulateDataDictionary(list);
  OSStatus err = memFullErr;
  if (dictionary) {
    CFDictionaryAddValue(dictionary, key, data);
    // Adding can run out of memory without saying so.
    err = CFDictionaryContainsKey(dictionary, key) ? noErr : memFullErr;
  }
  CFRelease(key);
  return err;
}

// 'utxt': the UTF-16 units in this machine's byte order, no byte-order mark,
// no terminator.
OSStatus CreateUnicodeDesc(CFStringRef text, AEDesc *desc) {
  const CFIndex length = CFStringGetLength(text);
  if (length == 0) return AECreateDesc(typeUnicodeText, nullptr, 0, desc);
  // The descriptor's size is a Size (32 bits).
  if (length > INT32_MAX / static_cast<CFIndex>(sizeof(UniChar))) return memFullErr;
  const Size byteCount = static_cast<Size>(length * static_cast<CFIndex>(sizeof(UniChar)));
  UniChar *buffer = static_cast<UniChar *>(malloc(static_cast<size_t>(byteCount)));
  // A name that cannot be made is reported; an item without one would be
  // appended as if all were well.
  if (!buffer) return memFullErr;
  CFStringGetCharacters(text, CFRangeMake(0, length), buffer);
  const OSStatus err = AECreateDesc(typeUnicodeText, buffer, byteCount, desc);
  free(buffer);
  return err;
}

// 'itxt': the script and language codes of the system encoding (native byte
// order), then the text in that encoding with '?' for what it cannot hold.
OSStatus CreateIntlTextDesc(CFStringRef text, AEDesc *desc) {
  const CFStringEncoding encoding = CFStringGetSystemEncoding();
  const CFIndex length = CFStringGetLength(text);
  CFIndex needed = 0;
  if (length > 0) {
    CFStringGetBytes(text, CFRangeMake(0, length), encoding, kLossByte, false, nullptr, 0, &needed);
  }
  if (needed < 0 || needed > INT32_MAX - kIntlTextHeaderSize) return memFullErr;
  UInt8 *buffer = static_cast<UInt8 *>(malloc(static_cast<size_t>(needed + kIntlTextHeaderSize)));
  if (!buffer) return memFullErr;

  // Without the right script the host would read the text in another
  // encoding and show it garbled, so a failed lookup fails the name.
  ScriptCode script = 0;
  LangCode language = 0;
  OSStatus err = RevertTextEncodingToScriptInfo(encoding, &script, &language, nullptr);
  if (err == noErr) {
    memcpy(buffer, &script, sizeof script);
    memcpy(buffer + sizeof script, &language, sizeof language);
    CFIndex used = 0;
    if (length > 0) {
      CFStringGetBytes(text, CFRangeMake(0, length), encoding, kLossByte, false,
                       buffer + kIntlTextHeaderSize, needed, &used);
    }
    err = AECreateDesc(typeIntlText, buffer, static_cast<Size>(used + kIntlTextHeaderSize), desc);
  }
  free(buffer);
  return err;
}

// The 'pnam' descriptor for text (null stands for the empty text).
OSStatus CreateNameDesc(CFStringRef text, AEDesc *desc) {
  if (!desc) return paramErr;
  if (!text) text = CFSTR("");
  // A failed version query reads as 0x1000, a system before 10.2.
  if (GetOSVersion() > kLastVersionWithoutUnicodeNames) return CreateUnicodeDesc(text, desc);
  return CreateIntlTextDesc(text, desc);
}

// Puts the attributes when they are not 0. A failure is the item's failure:
// without its attributes a separator would show as a plain "-" item and a
// section header as a line that can be chosen.
OSStatus PutAttributes(AERecord *item, UInt32 attributes) {
  if (attributes == 0 || !MyCMCmdListHasAttributeAndModifierKeys()) return noErr;
  const SInt32 value = static_cast<SInt32>(attributes);
  return AEPutParamPtr(item, keyContextualMenuAttributes, typeSInt32, &value, sizeof value);
}

} // namespace

OSStatus MyCMCmdListCreate(AEDescList *hostList, MyCMCmdList **outList, MyCMXType *instance) {
  if (!outList) return paramErr;
  *outList = nullptr;
  if (!instance) return paramErr;
  MyCMCmdList *list = static_cast<MyCMCmdList *>(calloc(1, sizeof(MyCMCmdList)));
  if (!list) return memFullErr;
  AEInitializeDesc(&list->ownedList);
  if (hostList) {
    list->commandList = hostList;
  } else {
    const OSStatus err = AECreateList(nullptr, 0, false, &list->ownedList);
    if (err != noErr) {
      free(list);
      return err;
    }
    list->commandList = &list->ownedList;
  }
  list->instance = instance;
  list->menuIdentifier = MyCMXTypeCopyMyMenuIdentifier(instance);
  (void)GetPopulateDataDictionary(list);
  *outList = list;
  return noErr;
}

OSStatus MyCMCmdListDispose(MyCMCmdList *list) {
  if (!list) return noErr;
  if (list->menuIdentifier) CFRelease(list->menuIdentifier);
  if (list->populateDataDic) CFRelease(list->populateDataDic);
  const OSStatus err = AEDisposeDesc(&list->ownedList);
  free(list);
  return err;
}

OSStatus MyCMCmdListAddItem(MyCMCmdList *list, CFStringRef name, SInt32 commandID,
                            UInt32 attributes, CFTypeRef populateData) {
  if (!list || !name) return paramErr;
  AERecord item;
  AEDesc nameDesc;
  AEInitializeDesc(&item);
  AEInitializeDesc(&nameDesc);

  OSStatus err = AECreateList(nullptr, 0, true, &item);
  if (err == noErr) err = CreateNameDesc(name, &nameDesc);
  if (err == noErr) err = AEPutParamDesc(&item, keyAEName, &nameDesc);
  if (err == noErr) {
    err =
        AEPutParamPtr(&item, keyContextualMenuCommandID, typeSInt32, &commandID, sizeof commandID);
  }
  if (err == noErr) err = PutAttributes(&item, attributes);
  if (err == noErr) err = AEPutDesc(list->commandList, 0, &item);
  // Data is filed only for an item that made it into the list: filed under
  // an unchanged count it would belong to the item before.
  if (err == noErr && populateData && DeferredMode(list)) (void)AddPopulateData(list, populateData);

  AEDisposeDesc(&nameDesc);
  AEDisposeDesc(&item);
  return err;
}

OSStatus MyCMCmdListAddSeparatorItem(MyCMCmdList *list) {
  return MyCMCmdListAddItem(list, CFSTR("-"), 0, kMenuItemAttrSeparator, nullptr);
}

OSStatus MyCMCmdListAddSubmenuItem(MyCMCmdList *list, CFStringRef name, MyCMCmdList *submenu,
                                   UInt32 attributes, CFTypeRef populateData) {
  if (!list || !name || !submenu) return paramErr;
  AERecord item;
  AEDesc nameDesc;
  AEInitializeDesc(&item);
  AEInitializeDesc(&nameDesc);

  OSStatus err = AECreateList(nullptr, 0, true, &item);
  // The identifier item goes in before the submenu's items are copied. A
  // deferred submenu without one could never be filled in (its placeholders
  // would stay), so an identifier that could not be made fails the call.
  if (err == noErr && DeferredMode(list)) {
    if (!list->menuIdentifier || !submenu->menuIdentifier) {
      err = kMyNilPointerErr;
    } else {
      err = MyCMCmdListAddItem(submenu, submenu->menuIdentifier, 0, 0, nullptr);
    }
  }
  if (err == noErr) err = CreateNameDesc(name, &nameDesc);
  if (err == noErr) err = AEPutParamDesc(&item, keyAEName, &nameDesc);
  if (err == noErr)
    err = AEPutParamDesc(&item, keyContextualMenuSubmenu, MyCMCmdListGetCommandList(submenu));
  if (err == noErr) err = PutAttributes(&item, attributes);
  if (err == noErr) err = AEPutDesc(list->commandList, 0, &item);
  // A failed append ends the operation here: a registration would report
  // success for a submenu that never reached the list.
  if (err == noErr && DeferredMode(list)) {
    if (populateData) (void)AddPopulateData(list, populateData);
    CFStringRef identifier = MyCMCmdListGetMenuIdentifier(submenu);
    CFMutableDictionaryRef dictionary = MyCMCmdListGetPopulateDataDic(submenu);
    if (!identifier || !dictionary) {
      err = kMyNilPointerErr;
    } else {
      err = MyCMXTypeAddMPEDataForIdentifier(list->instance, identifier, dictionary);
    }
  }

  AEDisposeDesc(&nameDesc);
  AEDisposeDesc(&item);
  return err;
}

SInt32 MyCMCmdListCountItems(MyCMCmdList *list) {
  if (!list || !list->commandList) return 0;
  long count = 0;
  if (AECountItems(list->commandList, &count) != noErr) return 0;
  return static_cast<SInt32>(count);
}

AEDescList *MyCMCmdListGetCommandList(MyCMCmdList *list) {
  return list ? list->commandList : nullptr;
}

CFStringRef MyCMCmdListGetMenuIdentifier(MyCMCmdList *list) {
  return list ? list->menuIdentifier : nullptr;
}

CFMutableDictionaryRef MyCMCmdListGetPopulateDataDic(MyCMCmdList *list) {
  return list ? list->populateDataDic : nullptr;
}

Boolean MyCMCmdListHasAttributeAndModifierKeys(void) {
  return true;
}
