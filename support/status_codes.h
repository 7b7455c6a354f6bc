// Result and phase codes shared by the plug-in's modules. The two error
// codes are four-character codes in the signed 32-bit space of OSStatus; the
// phase codes name the frame's entry point that ran last, and the log prints
// them by name.
#pragma once

#include <Carbon/MacTypes.h>

enum : OSStatus {
  // An object that the operation needs cannot be obtained ('NilP').
  kMyNilPointerErr = 0x4E696C50,
  // A failure that is neither beeped nor logged ('NBep').
  kMyNoBeepErr = 0x4E426570
};

enum : UInt32 {
  kPhaseAllocate = 1,
  kPhaseQuery = 2,
  kPhaseExamineContext = 3,
  kPhaseHandleSelection = 4,
  kPhasePostMenuCleanup = 5,
  kPhaseDealloc = 6
};
