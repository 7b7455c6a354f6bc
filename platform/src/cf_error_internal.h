// What other platform modules use of CFError: the record, and a way to hand
// a new error to a caller's out-parameter.
#pragma once

#include "object.h"

struct __CFError final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDError;
  // Takes one reference to each string.
  __CFError(CFStringRef domainIn, CFIndex codeIn, CFStringRef descriptionIn) noexcept
      : domain(domainIn), code(codeIn), description(descriptionIn) {}
  ~__CFError() override;
  CFTypeID TypeID() const noexcept override { return kTypeID; }
  bool Equal(const vp::Object &other) const noexcept override;
  CFHashCode Hash() const noexcept override;
  vp::String16 Describe() const override;

  CFStringRef domain;
  CFIndex code;
  CFStringRef description;
};

namespace vp {

// A new error (Create rule) whose description is the UTF-8 text. Throws
// std::bad_alloc.
CFErrorRef NewError(CFStringRef domain, CFIndex code, const char *description);

// Stores a new error in *out when out is not null; stores null when there is
// no memory left to make one.
void SetError(CFErrorRef *out, CFStringRef domain, CFIndex code, const char *description) noexcept;

} // namespace vp
