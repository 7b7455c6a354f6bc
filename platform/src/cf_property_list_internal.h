// Property-list reading and writing for other platform modules
// (preferences), which need to tell refused input from a lack of memory.
#pragma once

#include <string_view>

#include "object.h"

namespace vp::plist {

// Why input or an object was refused: a domain (a constant string), a code
// and a sentence in English.
struct Failure {
  CFStringRef domain = nullptr;
  CFIndex code = 0;
  const char *message = nullptr;
};

// Reads XML or binary property-list bytes (Create rule). Null, with failure
// filled in, when they are refused; *format (may be null) receives the
// format read on success. Throws std::bad_alloc when memory runs out.
CFPropertyListRef Read(std::string_view bytes, CFOptionFlags options, CFPropertyListFormat *format,
                       Failure &failure);

// The XML text of a property list (Create rule), or null with failure
// filled in. Throws std::bad_alloc.
CFDataRef WriteXML(CFPropertyListRef plist, Failure &failure);

// Whether CFPropertyListCreateData would accept the object. Throws
// std::bad_alloc, so that a lack of memory is not taken for a refusal.
bool IsPropertyList(CFPropertyListRef plist);

} // namespace vp::plist
