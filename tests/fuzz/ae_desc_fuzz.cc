// Fuzzes Apple Event descriptors as a host hands them over: a descriptor of
// a type from a small table (aliases, file references and URLs, text,
// integers, lists and records) made from fuzzed bytes, then copied, read,
// coerced to every type of the table and, for lists and records, counted and
// read item by item; and the same bytes resolved as an alias handle.
//
// Checked: a failing call leaves a null descriptor (or the target untouched)
// and a coercion that works gives the type asked for; data reads back as it
// went in; text, integers and aliases survive the coercions that promise a
// round trip; the descriptor and pointer forms of each call agree.
//
// Input: byte 0 chooses the type (modulo the table). For a list or record
// the rest is items, each [type byte][keyword byte][length byte][bytes];
// for any other type the rest is the data.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>

#include "fuzz_support.h"

namespace {

constexpr DescType kTypes[] = {typeAlias,   typeAEList, typeUnicodeText, typeChar,
                               typeSInt32,  typeUInt32, typeFSRef,       typeFileURL,
                               typeBoolean, typeNull,   typeAERecord};
constexpr std::size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];
constexpr AEKeyword kKeywords[] = {keyDirectObject, keyAEName, keyContextualMenuCommandID,
                                   keyContextualMenuSubmenu};
// Enough items to reach every path; more would only slow the run down.
constexpr long kMostItems = 12;

// A descriptor that disposes itself.
struct Desc {
  AEDesc d;
  Desc() { AEInitializeDesc(&d); }
  ~Desc() { AEDisposeDesc(&d); }
  Desc(const Desc &) = delete;
  Desc &operator=(const Desc &) = delete;
};

bool IsContainerType(DescType t) {
  return t == typeAEList || t == typeAERecord;
}

bool IsNullDesc(const AEDesc &d) {
  return d.descriptorType == typeNull && d.dataHandle == nullptr;
}

std::string DataOf(const AEDesc &d) {
  std::string out(static_cast<std::size_t>(AEGetDescDataSize(&d)), '\0');
  FUZZ_CHECK(AEGetDescData(&d, out.data(), static_cast<Size>(out.size())) == noErr);
  return out;
}

bool SameDesc(const AEDesc &a, const AEDesc &b) {
  if (a.descriptorType != b.descriptorType) return false;
  if (IsContainerType(a.descriptorType)) {
    long na = -1, nb = -1;
    return AECountItems(&a, &na) == noErr && AECountItems(&b, &nb) == noErr && na == nb;
  }
  return DataOf(a) == DataOf(b);
}

// The promises a successful coercion of d to `to` keeps.
void CheckCoerced(const AEDesc &d, DescType to, const AEDesc &r) {
  const DescType from = d.descriptorType;
  FUZZ_CHECK(r.descriptorType == (to == typeWildCard ? from : to));
  if (to == typeWildCard || to == from) {
    FUZZ_CHECK(SameDesc(d, r));
    return;
  }
  if (to == typeAEList) {
    long count = -1;
    FUZZ_CHECK(AECountItems(&r, &count) == noErr);
    FUZZ_CHECK(count == (from == typeNull ? 0 : 1));
    if (count == 1) {
      Desc item;
      FUZZ_CHECK(AEGetNthDesc(&r, 1, typeWildCard, nullptr, &item.d) == noErr);
      FUZZ_CHECK(SameDesc(item.d, d));
    }
    return;
  }
  if ((from == typeSInt32 && to == typeUInt32) || (from == typeUInt32 && to == typeSInt32)) {
    FUZZ_CHECK(DataOf(r) == DataOf(d));
    return;
  }
  if (from == typeChar && to == typeUnicodeText) {
    // Any bytes come back exactly: what is not UTF-8 travels as U+DC80..DCFF.
    Desc back;
    FUZZ_CHECK(AECoerceDesc(&r, typeChar, &back.d) == noErr);
    FUZZ_CHECK(DataOf(back.d) == DataOf(d));
    return;
  }
  if (from == typeAlias && to == typeFSRef) {
    // The item found makes an alias that finds the same item again.
    FUZZ_CHECK(AEGetDescDataSize(&r) == static_cast<Size>(sizeof(FSRef)));
    Desc alias, again;
    FUZZ_CHECK(AECoerceDesc(&r, typeAlias, &alias.d) == noErr);
    FUZZ_CHECK(AECoerceDesc(&alias.d, typeFSRef, &again.d) == noErr);
    FUZZ_CHECK(DataOf(again.d) == DataOf(r));
  }
}

void CheckCoercions(const AEDesc &d) {
  const std::string data = IsContainerType(d.descriptorType) ? std::string() : DataOf(d);
  for (DescType to : kTypes) {
    Desc r;
    const OSErr err = AECoerceDesc(&d, to, &r.d);
    if (err == noErr) {
      CheckCoerced(d, to, r.d);
    } else {
      FUZZ_CHECK(err == errAECoercionFail);
      FUZZ_CHECK(IsNullDesc(r.d));
    }
    if (IsContainerType(d.descriptorType) || d.descriptorType == typeNull) continue;
    // The pointer form makes the same descriptor from the same bytes.
    Desc p;
    const OSErr perr =
        AECoercePtr(d.descriptorType, data.data(), static_cast<Size>(data.size()), to, &p.d);
    FUZZ_CHECK(perr == err);
    if (perr == noErr) FUZZ_CHECK(SameDesc(p.d, r.d));
  }
  Desc wild;
  FUZZ_CHECK(AECoerceDesc(&d, typeWildCard, &wild.d) == noErr);
  CheckCoerced(d, typeWildCard, wild.d);
}

// Every item of a list or record, read as it is and as each type.
void CheckItems(const AEDesc &list, const std::vector<DescType> &types,
                const std::vector<AEKeyword> &keys) {
  long count = -1;
  FUZZ_CHECK(AECountItems(&list, &count) == noErr);
  FUZZ_CHECK(count == static_cast<long>(types.size()));
  for (long index : {0L, count + 1}) {
    Desc none;
    FUZZ_CHECK(AEGetNthDesc(&list, index, typeWildCard, nullptr, &none.d) == errAEIllegalIndex);
    FUZZ_CHECK(IsNullDesc(none.d));
  }
  for (long i = 1; i <= count; ++i) {
    Desc item;
    AEKeyword key = 0;
    FUZZ_CHECK(AEGetNthDesc(&list, i, typeWildCard, &key, &item.d) == noErr);
    FUZZ_CHECK(item.d.descriptorType == types[static_cast<std::size_t>(i - 1)]);
    FUZZ_CHECK(key == keys[static_cast<std::size_t>(i - 1)]);
    for (DescType to : kTypes) {
      Desc direct, nth;
      const OSErr viaDesc = AECoerceDesc(&item.d, to, &direct.d);
      FUZZ_CHECK(AEGetNthDesc(&list, i, to, nullptr, &nth.d) == viaDesc);
      if (viaDesc == noErr) FUZZ_CHECK(SameDesc(direct.d, nth.d));
      // The bytes of the coerced item, through a buffer that may be short.
      char buffer[8];
      Size actual = -1;
      DescType type = 0;
      const OSErr ptr = AEGetNthPtr(&list, i, to, nullptr, &type, buffer, sizeof buffer, &actual);
      if (viaDesc != noErr) {
        FUZZ_CHECK(ptr == viaDesc);
      } else if (IsContainerType(direct.d.descriptorType)) {
        FUZZ_CHECK(ptr == errAEWrongDataType);
      } else {
        FUZZ_CHECK(ptr == noErr);
        const std::string full = DataOf(direct.d);
        FUZZ_CHECK(actual == static_cast<Size>(full.size()));
        FUZZ_CHECK(type == direct.d.descriptorType);
        const std::size_t shown = std::min(full.size(), sizeof buffer);
        FUZZ_CHECK(std::memcmp(buffer, full.data(), shown) == 0);
      }
    }
  }
}

void FuzzContainer(DescType type, const std::uint8_t *p, std::size_t n) {
  Desc list;
  FUZZ_CHECK(AECreateList(nullptr, 0, type == typeAERecord, &list.d) == noErr);
  std::vector<DescType> types;
  std::vector<AEKeyword> keys;
  while (n >= 3 && static_cast<long>(types.size()) < kMostItems) {
    const DescType itemType = kTypes[p[0] % kTypeCount];
    const AEKeyword key = kKeywords[p[1] % (sizeof kKeywords / sizeof kKeywords[0])];
    const std::size_t length = std::min<std::size_t>(p[2], n - 3);
    const std::uint8_t *bytes = p + 3;
    p += 3 + length;
    n -= 3 + length;
    // Lists and records are made empty; data for them is refused.
    const std::size_t given = IsContainerType(itemType) || itemType == typeNull ? 0 : length;
    OSErr err;
    if (type == typeAERecord) {
      err = AEPutParamPtr(&list.d, key, itemType, bytes, static_cast<Size>(given));
      if (err != noErr) continue;
      const auto known = std::find(keys.begin(), keys.end(), key);
      if (known != keys.end()) {
        // A keyword put again replaces its parameter in place.
        types[static_cast<std::size_t>(known - keys.begin())] = itemType;
        continue;
      }
    } else {
      err = AEPutPtr(&list.d, 0, itemType, bytes, static_cast<Size>(given));
      if (err != noErr) continue;
    }
    types.push_back(itemType);
    keys.push_back(type == typeAERecord ? key : typeWildCard);
  }
  CheckItems(list.d, types, keys);
  CheckCoercions(list.d);
  Desc copy;
  FUZZ_CHECK(AEDuplicateDesc(&list.d, &copy.d) == noErr);
  CheckItems(copy.d, types, keys);
}

void FuzzValue(DescType type, const std::uint8_t *p, std::size_t n) {
  Desc d;
  const OSErr err = AECreateDesc(type, p, static_cast<Size>(n), &d.d);
  if (err != noErr) {
    // typeNull takes no data.
    FUZZ_CHECK(type == typeNull && n != 0 && err == paramErr);
    FUZZ_CHECK(IsNullDesc(d.d));
    return;
  }
  FUZZ_CHECK(d.d.descriptorType == type);
  FUZZ_CHECK(DataOf(d.d) == std::string(reinterpret_cast<const char *>(p), n));
  Desc copy;
  FUZZ_CHECK(AEDuplicateDesc(&d.d, &copy.d) == noErr);
  FUZZ_CHECK(SameDesc(copy.d, d.d));
  CheckCoercions(d.d);
}

// The bytes as an alias handle, resolved the way the context reader does.
void FuzzAliasHandle(const std::uint8_t *p, std::size_t n) {
  Handle h = NewHandle(static_cast<Size>(n));
  FUZZ_CHECK(h != nullptr);
  if (n) std::memcpy(*h, p, n);
  FSRef target;
  std::memset(&target, 0xAB, sizeof target);
  const FSRef untouched = target;
  Boolean changed = true;
  const OSErr err = FSResolveAlias(nullptr, reinterpret_cast<AliasHandle>(h), &target, &changed);
  DisposeHandle(h);
  FUZZ_CHECK(!changed);
  Desc viaDesc;
  const OSErr coerced = AECoercePtr(typeAlias, p, static_cast<Size>(n), typeFSRef, &viaDesc.d);
  if (err != noErr) {
    FUZZ_CHECK(std::memcmp(&target, &untouched, sizeof target) == 0);
    FUZZ_CHECK(coerced == errAECoercionFail);
    return;
  }
  FUZZ_CHECK(coerced == noErr);
  FUZZ_CHECK(DataOf(viaDesc.d) ==
             std::string(reinterpret_cast<const char *>(&target), sizeof target));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  fuzz::RunWithoutLeaks([&] {
    const DescType type = kTypes[data[0] % kTypeCount];
    if (IsContainerType(type))
      FuzzContainer(type, data + 1, size - 1);
    else
      FuzzValue(type, data + 1, size - 1);
    FuzzAliasHandle(data + 1, size - 1);
  });
  return 0;
}
