/* Basic scalar types and result codes shared by every platform header.
 * The widths follow the platform the plug-in was written for: SInt32 is 32
 * bits, Boolean one byte, OSType a four-character code packed big-end first. */
#ifndef VANTLOW_MACTYPES_H
#define VANTLOW_MACTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define VP_EXTERN_C_BEGIN extern "C" {
#define VP_EXTERN_C_END }
#define VP_NOEXCEPT noexcept
#else
#define VP_EXTERN_C_BEGIN
#define VP_EXTERN_C_END
#define VP_NOEXCEPT
#endif

/* Every public platform function and constant carries this: the library is
 * built with hidden visibility, so only the platform API is exported. */
#define VP_EXPORT __attribute__((visibility("default")))

VP_EXTERN_C_BEGIN

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;

typedef unsigned char Boolean;
typedef UInt16 UniChar;
typedef UInt32 UniCharCount;
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef UInt32 ByteCount;
typedef UInt32 ItemCount;
typedef SInt32 Size;
typedef char *Ptr;
typedef Ptr *Handle;
typedef UInt32 OptionBits;
typedef SInt16 ScriptCode;
typedef SInt16 LangCode;
typedef SInt16 RegionCode;
typedef UInt32 TextEncoding;
typedef unsigned char Str255[256];

/* COM-style names used by the plug-in interface. */
typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void *LPVOID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

enum {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
  userCanceledErr = -128,
  fnfErr = -43,
  ioErr = -36,
  eofErr = -39,
  dirNFErr = -120,
  permErr = -54,
  bdNamErr = -37,
  errFSNoMoreItems = -1417,
  afpAccessDenied = -5000,
  eventNotHandledErr = -9874,
  eventParameterNotFoundErr = -9870,
  errAECoercionFail = -1700,
  errAEDescNotFound = -1701,
  errAEWrongDataType = -1703,
  errAENotAEDesc = -1704,
  errAEBadListItem = -1705,
  errAEIllegalIndex = -1719,
  menuItemNotFoundErr = -5623,
  errUnknownControl = -30584,
  gestaltUndefSelectorErr = -5551
};

#define S_OK ((HRESULT)0x00000000)
#define E_NOINTERFACE ((HRESULT)0x80000004)

VP_EXTERN_C_END

#endif
