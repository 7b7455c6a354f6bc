/* Apple Event descriptors: typed values, lists of them and records (lists
 * whose items carry keywords). The host hands the plug-in its selection as a
 * list of descriptors and collects the plug-in's commands as a list of
 * records; both sides build, copy and read them through these functions.
 *
 * A descriptor is a value: a type code and an opaque handle to data that the
 * descriptor owns. Whoever creates one, or receives one from a function that
 * fills an out descriptor (Create, Duplicate, Coerce, GetNth, GetParam),
 * owns it and gives it up with AEDisposeDesc. Functions that put a descriptor
 * into a list or record copy it; the caller keeps its own.
 *
 * Results common to every function here:
 *   paramErr            a required pointer is null, a size is negative, or
 *                       an out descriptor is the same object as an input
 *   memFullErr          storage could not be allocated; out descriptors are
 *                       left as null descriptors, inputs are unchanged
 *   errAEWrongDataType  a list operation on something that is not a list
 *                       (or a record operation on something not a record)
 *   errAEIllegalIndex   an index outside the list
 *   errAEDescNotFound   a record has no parameter under that keyword
 *   errAECoercionFail   the data cannot be turned into the requested type
 * A failing function leaves its inputs exactly as they were. */
#ifndef VANTLOW_CARBON_AEDATAMODEL_H
#define VANTLOW_CARBON_AEDATAMODEL_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;

/* The descriptor's data, private to the platform. */
typedef struct OpaqueAEDataStorage *AEDataStorage;

typedef struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle; /* null for a null descriptor */
} AEDesc;
typedef AEDesc *AEDescPtr;
typedef AEDesc AEDescList;   /* descriptorType typeAEList */
typedef AEDescList AERecord; /* descriptorType typeAERecord */

/* Descriptor types. */
enum {
  typeNull = 0x6E756C6C,          /* 'null': no data */
  typeAEList = 0x6C697374,        /* 'list' */
  typeAERecord = 0x7265636F,      /* 'reco' */
  typeWildCard = 0x2A2A2A2A,      /* '****': any type, as it is */
  typeSInt32 = 0x6C6F6E67,        /* 'long': 4 bytes, native order */
  typeUInt32 = 0x6D61676E,        /* 'magn': 4 bytes, native order */
  typeBoolean = 0x626F6F6C,       /* 'bool': 1 byte */
  typeUnicodeText = 0x75747874,   /* 'utxt': UTF-16 units, native order, no BOM */
  typeIntlText = 0x69747874,      /* 'itxt': script code, language code, text */
  typeChar = 0x54455854,          /* 'TEXT': text in the system encoding (UTF-8) */
  typeAlias = 0x616C6973,         /* 'alis': an alias record */
  typeFSRef = 0x66737266,         /* 'fsrf': an 80-byte FSRef */
  typeMenuRef = 0x6D656E75,       /* 'menu': a MenuRef */
  typeHICommand = 0x68636D64,     /* 'hcmd': an HICommand */
  typeCFStringRef = 0x63667374,   /* 'cfst': a CFStringRef */
  typeEventTargetRef = 0x65746774 /* 'etgt': an EventTargetRef */
};

/* Keywords. */
enum {
  keyDirectObject = 0x2D2D2D2D,             /* '----' */
  keyAEName = 0x706E616D,                   /* 'pnam': a menu item's text */
  keyContextualMenuCommandID = 0x636D6364,  /* 'cmcd': typeSInt32 */
  keyContextualMenuSubmenu = 0x636D7362,    /* 'cmsb': typeAEList of item records */
  keyContextualMenuAttributes = 0x636D6174, /* 'cmat': typeSInt32 */
  keyContextualMenuModifiers = 0x636D6D64   /* 'cmmd': typeSInt32 */
};

/* Sets *desc to a null descriptor without looking at what it held. */
VP_EXPORT void AEInitializeDesc(AEDesc *desc /* OUT */) VP_NOEXCEPT;

/* Makes a descriptor of typeCode holding a copy of dataSize bytes (dataPtr
 * may be null only when dataSize is 0). typeNull makes a null descriptor and
 * takes no data (paramErr otherwise). typeAEList and typeAERecord with no
 * data make an empty list or record; with data, errAEWrongDataType (lists
 * are built with AECreateList and AEPutDesc). On failure *result is a null
 * descriptor. */
VP_EXPORT OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize,
                             AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;

/* Makes an empty list (isRecord false) or record (true). Factoring is a
 * storage optimisation of the original platform; the factoring arguments
 * are accepted and ignored (factoredSize must not be negative). */
VP_EXPORT OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord,
                             AEDescList *resultList /* OUT: caller disposes */) VP_NOEXCEPT;

/* Frees the descriptor's data (a list's items with it) and leaves it a null
 * descriptor. Harmless on a null descriptor. A null pointer is paramErr. */
VP_EXPORT OSErr AEDisposeDesc(AEDesc *theAEDesc) VP_NOEXCEPT;

/* A deep copy: lists and records are copied item by item. */
VP_EXPORT OSErr AEDuplicateDesc(const AEDesc *theAEDesc,
                                AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;

/* The number of items of a list or parameters of a record. *theCount is set
 * only on success. */
VP_EXPORT OSErr AECountItems(const AEDescList *theAEDescList, long *theCount /* OUT */) VP_NOEXCEPT;

/* Puts a copy of theAEDesc into a list (typeAEList only): index 0 or
 * count + 1 appends, 1..count replaces that item; anything else is
 * errAEIllegalIndex. */
VP_EXPORT OSErr AEPutDesc(AEDescList *theAEDescList, long index,
                          const AEDesc *theAEDesc) VP_NOEXCEPT;
/* As AEPutDesc, with the item made as AECreateDesc makes it. */
VP_EXPORT OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode,
                         const void *dataPtr, Size dataSize) VP_NOEXCEPT;

/* Copies the item at index (from 1) of a list or record, coerced to
 * desiredType (typeWildCard: as it is; see AECoerceDesc). theAEKeyword may be
 * null; otherwise it receives the item's keyword (a record's parameter
 * keyword; typeWildCard for a list's items, which have none). */
VP_EXPORT OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                             AEKeyword *theAEKeyword /* OUT, may be null */,
                             AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;
/* As AEGetNthDesc, delivering the coerced item's bytes: at most maximumSize
 * of them are copied to dataPtr, *actualSize receives the full size (which
 * may be larger: the caller then knows it was given only a prefix). typeCode,
 * actualSize and theAEKeyword may be null. A list or record item has no flat
 * bytes: errAEWrongDataType. */
VP_EXPORT OSErr AEGetNthPtr(const AEDescList *theAEDescList, long index, DescType desiredType,
                            AEKeyword *theAEKeyword /* OUT, may be null */,
                            DescType *typeCode /* OUT, may be null */, void *dataPtr,
                            Size maximumSize, Size *actualSize /* OUT, may be null */) VP_NOEXCEPT;

/* Records: one parameter per keyword. Putting under a keyword that is
 * present replaces that parameter in place; a new keyword is appended, so
 * parameters keep the order in which they were first put. The Key and Param
 * spellings are the same functions. */
VP_EXPORT OSErr AEPutParamDesc(AERecord *theAERecord, AEKeyword theAEKeyword,
                               const AEDesc *theAEDesc) VP_NOEXCEPT;
VP_EXPORT OSErr AEPutParamPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode,
                              const void *dataPtr, Size dataSize) VP_NOEXCEPT;
VP_EXPORT OSErr AEPutKeyDesc(AERecord *theAERecord, AEKeyword theAEKeyword,
                             const AEDesc *theAEDesc) VP_NOEXCEPT;
VP_EXPORT OSErr AEPutKeyPtr(AERecord *theAERecord, AEKeyword theAEKeyword, DescType typeCode,
                            const void *dataPtr, Size dataSize) VP_NOEXCEPT;
/* A copy of the parameter, coerced to desiredType. */
VP_EXPORT OSErr AEGetParamDesc(const AERecord *theAERecord, AEKeyword theAEKeyword,
                               DescType desiredType,
                               AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;
VP_EXPORT OSErr AEGetKeyDesc(const AERecord *theAERecord, AEKeyword theAEKeyword,
                             DescType desiredType,
                             AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;
/* The parameter's bytes, as AEGetNthPtr delivers an item's. */
VP_EXPORT OSErr AEGetParamPtr(const AERecord *theAERecord, AEKeyword theAEKeyword,
                              DescType desiredType, DescType *actualType /* OUT, may be null */,
                              void *dataPtr, Size maximumSize,
                              Size *actualSize /* OUT, may be null */) VP_NOEXCEPT;
VP_EXPORT OSErr AEGetKeyPtr(const AERecord *theAERecord, AEKeyword theAEKeyword,
                            DescType desiredType, DescType *actualType /* OUT, may be null */,
                            void *dataPtr, Size maximumSize,
                            Size *actualSize /* OUT, may be null */) VP_NOEXCEPT;

/* The size of the descriptor's data in bytes: 0 for a null descriptor, a
 * null pointer, and for lists and records (which have no flat bytes). */
VP_EXPORT Size AEGetDescDataSize(const AEDesc *theAEDesc) VP_NOEXCEPT;
/* Copies min(maximumSize, data size) bytes of the data to dataPtr. A list or
 * record: errAEWrongDataType. */
VP_EXPORT OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize) VP_NOEXCEPT;

/* A new descriptor holding theAEDesc as toType:
 *   same type, or typeWildCard       a copy
 *   anything but a list -> typeAEList a list of one item (a null descriptor:
 *                                    an empty list)
 *   typeSInt32 <-> typeUInt32          when the value fits
 *   typeUnicodeText <-> typeChar       through UTF-8 (bytes that are not UTF-8
 *                                    map to U+DC80..U+DCFF and back, as file
 *                                    names do)
 *   pairs the platform registered    (for example typeAlias <-> typeFSRef)
 * Anything else is errAECoercionFail. */
VP_EXPORT OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType,
                             AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;
/* As AECoerceDesc for a descriptor made from the bytes. */
VP_EXPORT OSErr AECoercePtr(DescType typeCode, const void *dataPtr, Size dataSize, DescType toType,
                            AEDesc *result /* OUT: caller disposes */) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
