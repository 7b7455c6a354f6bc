// Apple Event descriptors: typed byte values, lists and records of them, the
// coercions between types, and the registry through which other platform
// modules add coercions. The host's selection and the plug-in's command list
// travel as these, so every operation either completes or leaves its inputs
// exactly as they were.
//
// A descriptor's dataHandle points at an OpaqueAEDataStorage that the
// descriptor owns: bytes for a value, or items (keyword, type, storage) for a
// list or record. Copies are deep, so a descriptor never shares storage and
// disposing one never affects another.
#include <Carbon/AEDataModel.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "ae_coercion.h"
#include "alloc.h"
#include "cf_string_internal.h"

struct OpaqueAEDataStorage;

namespace vp::ae {

enum class Kind { kBytes, kList, kRecord };

struct StorageDeleter {
  void operator()(OpaqueAEDataStorage *s) const noexcept;
};
using StoragePtr = std::unique_ptr<OpaqueAEDataStorage, StorageDeleter>;

// One entry of a list or record. A list's items carry typeWildCard as their
// keyword.
struct Item {
  AEKeyword key;
  DescType type;
  StoragePtr data; // null for a null descriptor
};

} // namespace vp::ae

struct OpaqueAEDataStorage {
  explicit OpaqueAEDataStorage(vp::ae::Kind k) noexcept : kind(k) {}
  vp::ae::Kind kind;
  vp::String8 bytes;              // kBytes
  vp::Vector<vp::ae::Item> items; // kList, kRecord
};

namespace vp::ae {

void StorageDeleter::operator()(OpaqueAEDataStorage *s) const noexcept {
  vp::Delete(s);
}

using Storage = OpaqueAEDataStorage;

StoragePtr NewStorage(Kind kind) {
  return StoragePtr(vp::New<Storage>(kind));
}

StoragePtr NewBytes(const void *data, std::size_t size) {
  if (size > static_cast<std::size_t>(INT32_MAX)) throw std::bad_alloc(); // not a Size
  StoragePtr s = NewStorage(Kind::kBytes);
  if (size) s->bytes.assign(static_cast<const char *>(data), size);
  return s;
}

StoragePtr Clone(const Storage *s) {
  if (!s) return nullptr;
  StoragePtr c = NewStorage(s->kind);
  c->bytes = s->bytes;
  c->items.reserve(s->items.size());
  for (const Item &item : s->items)
    c->items.push_back(Item{item.key, item.type, Clone(item.data.get())});
  return c;
}

void SetNull(AEDesc *d) noexcept {
  d->descriptorType = typeNull;
  d->dataHandle = nullptr;
}

void Emit(AEDesc *out, DescType type, StoragePtr data) noexcept {
  out->descriptorType = type;
  out->dataHandle = data.release();
}

bool IsContainer(const Storage *s) noexcept {
  return s && s->kind != Kind::kBytes;
}
bool IsList(const AEDesc *d) noexcept {
  return d->dataHandle && d->dataHandle->kind == Kind::kList;
}
bool IsRecord(const AEDesc *d) noexcept {
  return d->dataHandle && d->dataHandle->kind == Kind::kRecord;
}

// A descriptor that disposes itself: the temporaries of multi-step work.
struct OwnedDesc {
  AEDesc d{typeNull, nullptr};
  OwnedDesc() = default;
  OwnedDesc(const OwnedDesc &) = delete;
  OwnedDesc &operator=(const OwnedDesc &) = delete;
  ~OwnedDesc() { vp::Delete(d.dataHandle); }
};

// Checks the arguments shared by every function that takes bytes.
bool ValidBytes(const void *data, Size size) noexcept {
  return size >= 0 && (data || size == 0);
}

// The storage AECreateDesc makes for (type, data, size); *outType receives
// the descriptor type (typeNull gives no storage). Throws std::bad_alloc.
OSErr MakeStorage(DescType type, const void *data, Size size, StoragePtr *out) {
  if (!ValidBytes(data, size)) return paramErr;
  if (type == typeNull) return size == 0 ? noErr : paramErr;
  if (type == typeAEList || type == typeAERecord) {
    if (size != 0) return errAEWrongDataType;
    *out = NewStorage(type == typeAEList ? Kind::kList : Kind::kRecord);
    return noErr;
  }
  *out = NewBytes(data, static_cast<std::size_t>(size));
  return noErr;
}

// The coercions between the integer and text types built into the platform.
// Returns errAECoercionFail for a pair it does not know. Throws
// std::bad_alloc.
OSErr CoerceBytes(DescType from, const String8 &bytes, DescType to, AEDesc *out) {
  const bool intPair =
      (from == typeSInt32 && to == typeUInt32) || (from == typeUInt32 && to == typeSInt32);
  if (intPair) {
    if (bytes.size() != sizeof(UInt32)) return errAECoercionFail;
    UInt32 bits;
    std::memcpy(&bits, bytes.data(), sizeof bits);
    // A negative SInt32 or a UInt32 above INT32_MAX has no value in the
    // other type; the bit pattern of one that fits is the same in both.
    if (bits > static_cast<UInt32>(INT32_MAX)) return errAECoercionFail;
    Emit(out, to, NewBytes(&bits, sizeof bits));
    return noErr;
  }
  if (from == typeUnicodeText && to == typeChar) {
    if (bytes.size() % sizeof(char16_t) != 0) return errAECoercionFail;
    String16 units(bytes.size() / sizeof(char16_t), u'\0');
    if (!units.empty()) std::memcpy(units.data(), bytes.data(), bytes.size());
    String8 text = EncodeFileName(units);
    Emit(out, to, NewBytes(text.data(), text.size()));
    return noErr;
  }
  if (from == typeChar && to == typeUnicodeText) {
    String16 units = DecodeFileName(std::string_view(bytes.data(), bytes.size()));
    Emit(out, to, NewBytes(units.data(), units.size() * sizeof(char16_t)));
    return noErr;
  }
  if (CoercionHandler handler = FindCoercion(from, to)) {
    OSErr err = handler(from, bytes.empty() ? nullptr : bytes.data(),
                        static_cast<Size>(bytes.size()), to, out);
    if (err != noErr) {
      vp::Delete(out->dataHandle);
      SetNull(out);
    }
    return err;
  }
  return errAECoercionFail;
}

// Makes *out (a null descriptor on entry) hold (type, s) as `to`. On failure
// *out stays null. Throws std::bad_alloc.
OSErr Coerce(DescType type, const Storage *s, DescType to, AEDesc *out) {
  if (to == typeWildCard || to == type) {
    Emit(out, type, Clone(s));
    return noErr;
  }
  if (to == typeAEList) {
    // One thing becomes a list of one item; nothing becomes an empty list.
    StoragePtr list = NewStorage(Kind::kList);
    if (type != typeNull) list->items.push_back(Item{typeWildCard, type, Clone(s)});
    Emit(out, typeAEList, std::move(list));
    return noErr;
  }
  if (!s || IsContainer(s)) return errAECoercionFail;
  return CoerceBytes(type, s->bytes, to, out);
}

// Copies the bytes of (type, s) coerced to desired into a caller's buffer.
// Throws std::bad_alloc.
OSErr CopyCoercedBytes(DescType type, const Storage *s, DescType desired, DescType *typeCode,
                       void *dataPtr, Size maximumSize, Size *actualSize) {
  OwnedDesc coerced;
  OSErr err = Coerce(type, s, desired, &coerced.d);
  if (err != noErr) return err;
  const Storage *c = coerced.d.dataHandle;
  if (IsContainer(c)) return errAEWrongDataType;
  const std::size_t size = c ? c->bytes.size() : 0;
  const std::size_t n = std::min(size, static_cast<std::size_t>(maximumSize));
  if (n) std::memcpy(dataPtr, c->bytes.data(), n);
  if (typeCode) *typeCode = coerced.d.descriptorType;
  if (actualSize) *actualSize = static_cast<Size>(size);
  return noErr;
}

// The checks before a list's item is put at index: the list's kind and the
// index. Append (0 or count + 1) or replace (1..count).
OSErr CheckListPut(const AEDescList *list, long index) noexcept {
  if (!IsList(list)) return errAEWrongDataType;
  const long count = static_cast<long>(list->dataHandle->items.size());
  if (index < 0 || index > count + 1) return errAEIllegalIndex;
  return noErr;
}

// Puts (type, data) at index after CheckListPut approved. On failure the list
// is unchanged. Throws std::bad_alloc.
void ListPut(AEDescList *list, long index, DescType type, StoragePtr data) {
  vp::Vector<Item> &items = list->dataHandle->items;
  const long count = static_cast<long>(items.size());
  if (index == 0 || index == count + 1) {
    items.push_back(Item{typeWildCard, type, std::move(data)});
  } else {
    Item &item = items[static_cast<std::size_t>(index - 1)];
    item.type = type;
    item.data.swap(data); // the old item's storage goes with `data`
  }
}

// Puts (type, data) under key in a record, replacing a parameter of that key
// in place. On failure the record is unchanged. Throws std::bad_alloc.
void RecordPut(AERecord *record, AEKeyword key, DescType type, StoragePtr data) {
  vp::Vector<Item> &items = record->dataHandle->items;
  for (Item &item : items) {
    if (item.key == key) {
      item.type = type;
      item.data.swap(data);
      return;
    }
  }
  items.push_back(Item{key, type, std::move(data)});
}

const Item *RecordFind(const AERecord *record, AEKeyword key) noexcept {
  for (const Item &item : record->dataHandle->items)
    if (item.key == key) return &item;
  return nullptr;
}

// The API edge: an allocation that failed deep inside becomes memFullErr,
// with the out descriptor (when there is one) left a null descriptor.
template <class F> OSErr Guard(AEDesc *out, F &&body) noexcept {
  try {
    return body();
  } catch (...) {
    if (out) {
      vp::Delete(out->dataHandle);
      SetNull(out);
    }
    return memFullErr;
  }
}

// ---- The coercion registry: a fixed table, so that registering needs no
// allocation and works from static initializers of other modules.
struct CoercionEntry {
  DescType from;
  DescType to;
  CoercionHandler handler;
};
constexpr int kMaxCoercions = 32;
constinit CoercionEntry gCoercions[kMaxCoercions] = {};
constinit int gCoercionCount = 0;
constinit std::mutex gCoercionMutex;

} // namespace vp::ae

namespace vp {

bool RegisterCoercion(DescType from, DescType to, CoercionHandler handler) noexcept {
  if (!handler) return false;
  std::lock_guard<std::mutex> lock(ae::gCoercionMutex);
  for (int i = 0; i < ae::gCoercionCount; ++i) {
    if (ae::gCoercions[i].from == from && ae::gCoercions[i].to == to) {
      ae::gCoercions[i].handler = handler;
      return true;
    }
  }
  if (ae::gCoercionCount == ae::kMaxCoercions) return false;
  ae::gCoercions[ae::gCoercionCount++] = ae::CoercionEntry{from, to, handler};
  return true;
}

CoercionHandler FindCoercion(DescType from, DescType to) noexcept {
  std::lock_guard<std::mutex> lock(ae::gCoercionMutex);
  for (int i = 0; i < ae::gCoercionCount; ++i)
    if (ae::gCoercions[i].from == from && ae::gCoercions[i].to == to)
      return ae::gCoercions[i].handler;
  return nullptr;
}

} // namespace vp

using namespace vp::ae;

extern "C" {

void AEInitializeDesc(AEDesc *desc) noexcept {
  if (desc) SetNull(desc);
}

OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result) noexcept {
  if (!result) return paramErr;
  SetNull(result);
  return Guard(result, [&] {
    StoragePtr data;
    OSErr err = MakeStorage(typeCode, dataPtr, dataSize, &data);
    if (err == noErr && typeCode != typeNull) Emit(result, typeCode, std::move(data));
    return err;
  });
}

OSErr AECreateList(const void *, Size factoredSize, Boolean isRecord,
                   AEDescList *resultList) noexcept {
  if (!resultList) return paramErr;
  SetNull(resultList);
  if (factoredSize < 0) return paramErr;
  return Guard(resultList, [&] {
    Emit(resultList, isRecord ? typeAERecord : typeAEList,
         NewStorage(isRecord ? Kind::kRecord : Kind::kList));
    return static_cast<OSErr>(noErr);
  });
}

OSErr AEDisposeDesc(AEDesc *theAEDesc) noexcept {
  if (!theAEDesc) return paramErr;
  vp::Delete(theAEDesc->dataHandle);
  SetNull(theAEDesc);
  return noErr;
}

OSErr AEDuplicateDesc(const AEDesc *theAEDesc, AEDesc *result) noexcept {
  if (!theAEDesc || !result || result == theAEDesc) return paramErr;
  SetNull(result);
  return Guard(result, [&] {
    Emit(result, theAEDesc->descriptorType, Clone(theAEDesc->dataHandle));
    return static_cast<OSErr>(noErr);
  });
}

OSErr AECountItems(const AEDescList *theAEDescList, long *theCount) noexcept {
  if (!theAEDescList || !theCount) return paramErr;
  if (!IsContainer(theAEDescList->dataHandle)) return errAEWrongDataType;
  *theCount = static_cast<long>(theAEDescList->dataHandle->items.size());
  return noErr;
}

OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc) noexcept {
  if (!theAEDescList || !theAEDesc) return paramErr;
  OSErr err = CheckListPut(theAEDescList, index);
  if (err != noErr) return err;
  return Guard(nullptr, [&] {
    ListPut(theAEDescList, index, theAEDesc->descriptorType, Clone(theAEDesc->dataHandle));
    return static_cast<OSErr>(noErr);
  });
}

OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode, const void *dataPtr,
               Size dataSize) noexcept {
  if (!theAEDescList || !ValidBytes(dataPtr, dataSize)) return paramErr;
  OSErr err = CheckListPut(theAEDescList, index);
  if (err != noErr) return err;
  return Guard(nullptr, [&] {
    StoragePtr data;
    OSErr made = MakeStorage(typeCode, dataPtr, dataSize, &data);
    if (made == noErr) ListPut(theAEDescList, index, typeCode, std::move(data));
    return made;
  });
}

OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                   AEKeyword *theAEKeyword, AEDesc *result) noexcept {
  if (!theAEDescList || !result || result == theAEDescList) return paramErr;
  SetNull(result);
  const Storage *list = theAEDescList->dataHandle;
  if (!IsContainer(list)) return errAEWrongDataType;
  if (index < 1 || index > static_cast<long>(list->items.size())) return errAEIllegalIndex;
  const Item &item = list->items[static_cast<std::size_t>(index - 1)];
  return Guard(result, [&] {
    OSErr err = Coerce(item.type, item.data.get(), desiredType, result);
    if (err == noErr && theAEKeyword) *theAEKeyword = item.key;
    return err;
  });
}

OSErr AEGetNthPtr(const AEDescList *theAEDescList, long index, DescType desiredType,
                  AEKeyword *theAEKeyword, DescType *typeCode, void *dataPtr, Size maximumSize,
                  Size *actualSize) noexcept {
  if (!theAEDescList || !ValidBytes(dataPtr, maximumSize)) return paramErr;
  const Storage *list = theAEDescList->dataHandle;
  if (!IsContainer(list)) return errAEWrongDataType;
  if (index < 1 || index > static_cast<long>(list->items.size())) return errAEIllegalIndex;
  const Item &item = list->items[static_cast<std::size_t>(index - 1)];
  return Guard(nullptr, [&] {
    OSErr err = CopyCoercedBytes(item.type, item.data.get(), desiredType, typeCode, dataPtr,
                                 maximumSize, actualSize);
    if (err == noErr && theAEKeyword) *theAEKeyword = item.key;
    return err;
  });
}

OSErr AEPutParamDesc(AERecord *theAERecord, AEKeyword theAEKeyword,
                     const AEDesc *theAEDesc) noexcept {
  if (!theAERecord || !theAEDesc) return paramErr;
  if (!IsRecord(theAERecord)) return errAEWrongDataType;
  return Guard(nullptr, [&] {
    RecordPut(theAERecord, theAEKeyword, theAEDesc->descriptorType, Clone(theAEDesc->dataHandle));
    return static_cast<OSErr>(noErr);
  });
}

OSErr AEPutParamPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode,
                    const void *dataPtr, Size dataSize) noexcept {
  if (!theAERecord || !ValidBytes(dataPtr, dataSize)) return paramErr;
  if (!IsRecord(theAERecord)) return errAEWrongDataType;
  return Guard(nullptr, [&] {
    StoragePtr data;
    OSErr made = MakeStorage(typeCode, dataPtr, dataSize, &data);
    if (made == noErr) RecordPut(theAERecord, theAEKeyword, typeCode, std::move(data));
    return made;
  });
}

OSErr AEPutKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword,
                   const AEDesc *theAEDesc) noexcept {
  return AEPutParamDesc(theAERecord, theAEKeyword, theAEDesc);
}

OSErr AEPutKeyPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode,
                  const void *dataPtr, Size dataSize) noexcept {
  return AEPutParamPtr(theAERecord, theAEKeyword, typeCode, dataPtr, dataSize);
}

OSErr AEGetParamDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result) noexcept {
  if (!theAERecord || !result || result == theAERecord) return paramErr;
  SetNull(result);
  if (!IsRecord(theAERecord)) return errAEWrongDataType;
  const Item *item = RecordFind(theAERecord, theAEKeyword);
  if (!item) return errAEDescNotFound;
  return Guard(result, [&] { return Coerce(item->type, item->data.get(), desiredType, result); });
}

OSErr AEGetKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                   AEDesc *result) noexcept {
  return AEGetParamDesc(theAERecord, theAEKeyword, desiredType, result);
}

OSErr AEGetParamPtr(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize,
                    Size *actualSize) noexcept {
  if (!theAERecord || !ValidBytes(dataPtr, maximumSize)) return paramErr;
  if (!IsRecord(theAERecord)) return errAEWrongDataType;
  const Item *item = RecordFind(theAERecord, theAEKeyword);
  if (!item) return errAEDescNotFound;
  return Guard(nullptr, [&] {
    return CopyCoercedBytes(item->type, item->data.get(), desiredType, actualType, dataPtr,
                            maximumSize, actualSize);
  });
}

OSErr AEGetKeyPtr(const AERecord *theAERecord, AEKeyword theAEKeyword, DescType desiredType,
                  DescType *actualType, void *dataPtr, Size maximumSize,
                  Size *actualSize) noexcept {
  return AEGetParamPtr(theAERecord, theAEKeyword, desiredType, actualType, dataPtr, maximumSize,
                       actualSize);
}

Size AEGetDescDataSize(const AEDesc *theAEDesc) noexcept {
  if (!theAEDesc || !theAEDesc->dataHandle || IsContainer(theAEDesc->dataHandle)) return 0;
  return static_cast<Size>(theAEDesc->dataHandle->bytes.size());
}

OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize) noexcept {
  if (!theAEDesc || !ValidBytes(dataPtr, maximumSize)) return paramErr;
  const Storage *s = theAEDesc->dataHandle;
  if (IsContainer(s)) return errAEWrongDataType;
  const std::size_t size = s ? s->bytes.size() : 0;
  const std::size_t n = std::min(size, static_cast<std::size_t>(maximumSize));
  if (n) std::memcpy(dataPtr, s->bytes.data(), n);
  return noErr;
}

OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result) noexcept {
  if (!theAEDesc || !result || result == theAEDesc) return paramErr;
  SetNull(result);
  return Guard(result, [&] {
    return Coerce(theAEDesc->descriptorType, theAEDesc->dataHandle, toType, result);
  });
}

OSErr AECoercePtr(DescType typeCode, const void *dataPtr, Size dataSize, DescType toType,
                  AEDesc *result) noexcept {
  if (!result) return paramErr;
  SetNull(result);
  return Guard(result, [&] {
    StoragePtr data;
    OSErr err = MakeStorage(typeCode, dataPtr, dataSize, &data);
    if (err != noErr) return err;
    return Coerce(typeCode, data.get(), toType, result);
  });
}

} // extern "C"
