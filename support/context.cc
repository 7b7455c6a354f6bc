// The context reader (see context.h) and the iterator constructor that
// fills an iterator from a reader. All reading goes through contextDesc,
// which points either at the reader's own descriptor or, for a list read in
// place, at the caller's.
#include "context.h"

#include <cstdlib>

#include "dir_iter_int.h"
#include "toolbox_utils.h"

struct MyCMContext {
  const AEDesc *contextDesc; // never null: &ownedDesc, or the caller's lent list
  AEDesc ownedDesc;          // owned: typeNull, or the list the reader made itself
  MyFSDirIter *iterator;     // owned, or null until first asked for
};

namespace {

// The item at index as a new alias handle in *outAlias (null on failure):
// noErr; memFullErr when memory ran out; another error when the item is no
// alias or there is no such item.
OSStatus CopyAliasAt(MyCMContext *reader, long index, AliasHandle *outAlias) {
  *outAlias = nullptr;
  if (MyCMContextIsNull(reader)) return errAEIllegalIndex;
  AEDesc item;
  AEInitializeDesc(&item);
  OSStatus err = AEGetNthDesc(reader->contextDesc, index, typeAlias, nullptr, &item);
  if (err != noErr) return err;
  const Size size = AEGetDescDataSize(&item);
  Handle handle = NewHandle(size);
  if (!handle) {
    err = memFullErr;
  } else if ((err = AEGetDescData(&item, *handle, size)) != noErr) {
    DisposeHandle(handle);
    handle = nullptr;
  }
  AEDisposeDesc(&item);
  *outAlias = reinterpret_cast<AliasHandle>(handle);
  return err;
}

// Resolves the item at index into *outRef: noErr; memFullErr when memory ran
// out; another error when the item does not resolve.
OSStatus ResolveItemAt(MyCMContext *reader, long index, FSRef *outRef) {
  AliasHandle alias = nullptr;
  OSStatus err = CopyAliasAt(reader, index, &alias);
  if (err != noErr) return err;
  Boolean wasChanged = false;
  err = FSResolveAlias(nullptr, alias, outRef, &wasChanged);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  return err;
}

// Fills a new iterator's list with FSRef data of the reader's items that
// resolve, in the context's order. An item that could not be read for lack
// of memory fails the whole list: left out, it would make the selection
// smaller without anyone noticing.
OSStatus PrepareForContext(MyFSDirIter *iter, MyCMContext *reader) {
  if (!iter || !reader) return paramErr;
  CFMutableArrayRef refs = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  if (!refs) return memFullErr;
  const long count = MyCMContextGetItemCount(reader);
  OSStatus err = noErr;
  for (long index = 1; err == noErr && index <= count; ++index) {
    FSRef ref;
    err = ResolveItemAt(reader, index, &ref);
    if (err == memFullErr) break;
    if (err != noErr) {
      err = noErr; // does not resolve: left out
      continue;
    }
    CFDataRef data = CopyFileRefDataForRef(&ref);
    const bool added = data && VPArrayAppendValue(refs, data);
    if (data) CFRelease(data);
    if (!added) err = memFullErr;
  }
  if (err != noErr) {
    CFRelease(refs);
    return err;
  }
  iter->contentRefs = refs;
  iter->currentIndex = kMyFSDirIterBeforeFirst;
  return noErr;
}

} // namespace

OSStatus MyCMContextCreateWithContext(const AEDesc *context, Boolean duplicate,
                                      MyCMContext **outReader) {
  if (!outReader) return paramErr;
  *outReader = nullptr;
  MyCMContext *reader = static_cast<MyCMContext *>(calloc(1, sizeof(MyCMContext)));
  if (!reader) return memFullErr;
  AEInitializeDesc(&reader->ownedDesc);
  reader->contextDesc = &reader->ownedDesc;

  OSStatus err = noErr;
  if (!context || context->descriptorType == typeNull) {
    // A null reader: no items.
  } else if (context->descriptorType == typeAEList && !duplicate) {
    reader->contextDesc = context;
  } else if (context->descriptorType == typeAEList) {
    err = AEDuplicateDesc(context, &reader->ownedDesc);
  } else {
    err = AECoerceDesc(context, typeAEList, &reader->ownedDesc);
  }
  if (err != noErr) {
    MyCMContextDispose(reader);
    return err;
  }
  *outReader = reader;
  return noErr;
}

OSStatus MyCMContextDispose(MyCMContext *reader) {
  if (!reader) return noErr;
  MyFSDirIterDispose(reader->iterator);
  const OSStatus err = AEDisposeDesc(&reader->ownedDesc);
  free(reader);
  return err;
}

Boolean MyCMContextIsNull(MyCMContext *reader) {
  return !reader || reader->contextDesc->descriptorType == typeNull;
}

long MyCMContextGetItemCount(MyCMContext *reader) {
  if (MyCMContextIsNull(reader)) return 0;
  long count = 0;
  (void)AECountItems(reader->contextDesc, &count);
  return count;
}

AliasHandle MyCMContextExtractAliasAt(MyCMContext *reader, long index) {
  AliasHandle alias = nullptr;
  (void)CopyAliasAt(reader, index, &alias);
  return alias;
}

Boolean MyCMContextExtractFSRefAt(MyCMContext *reader, long index, FSRef *outRef) {
  if (!outRef) return false;
  return ResolveItemAt(reader, index, outRef) == noErr;
}

Boolean MyCMContextContainsAlias(MyCMContext *reader) {
  const long count = MyCMContextGetItemCount(reader);
  for (long index = 1; index <= count; ++index) {
    FSRef scratch;
    if (MyCMContextExtractFSRefAt(reader, index, &scratch)) return true;
  }
  return false;
}

MyFSDirIter *MyCMContextGetIterater(MyCMContext *reader) {
  if (!reader) return nullptr;
  if (!reader->iterator && MyFSDirIterCreateWithContext(reader, &reader->iterator) != noErr)
    return nullptr;
  MyFSDirIterReset(reader->iterator);
  return reader->iterator;
}

OSStatus MyFSDirIterCreateWithContext(MyCMContext *reader, MyFSDirIter **outIter) {
  if (outIter) *outIter = nullptr;
  if (!reader || !outIter) return paramErr;
  MyFSDirIter *iter = static_cast<MyFSDirIter *>(calloc(1, sizeof(MyFSDirIter)));
  if (!iter) return memFullErr;
  iter->currentIndex = kMyFSDirIterBeforeFirst;
  const OSStatus err = PrepareForContext(iter, reader);
  if (err != noErr) {
    MyFSDirIterDispose(iter);
    return err;
  }
  *outIter = iter;
  return noErr;
}
