// The diagnostics log: one-line messages on standard output with printf,
// each beginning with the product name "Vantlow" and a colon, plus the two
// string conversions that a line naming a file-system item needs. Lines are
// written as they happen: no levels, no file of their own, no switch. A
// failure inside the log only means that the line is not printed.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

struct FSRef;

// Prints "Vantlow: <message>\n". Messages that end with their own line feed
// are therefore followed by an empty line.
void MyLogMessage(const char *message);

// The printed name of a phase code: "Allocate" for 1 up to "Dealloc" for 6;
// "Undefined" for 0 and every other value. A constant string.
const char *GetPhaseName(UInt32 phase);

// Reports a failed entry point: nothing for 0 and kMyNoBeepErr; a negative
// error prints in decimal, a positive one as its four characters (most
// significant byte first, up to the first zero byte).
void MyLogError(OSStatus err, UInt32 phase);

// Prints "Vantlow: <label>: <POSIX path>\n" for the item. A null label stands
// for the empty string; a null reference, or one whose path cannot be made,
// prints nothing.
void MyLogPathForFSRef(CFStringRef label, const struct FSRef *ref);

// The string as zero-terminated UTF-8, from malloc: the caller frees it
// with free. What UTF-8 cannot hold (a lone surrogate) becomes '?'. An empty
// string gives a buffer holding only the zero byte; null for a null string
// or when memory runs out.
char *CreateUTF8CString(CFStringRef str);

// The item's POSIX path. Copy rule: the caller releases it. Null for a null
// reference or when the path cannot be made.
CFStringRef CopyPathForRef(const struct FSRef *ref);
