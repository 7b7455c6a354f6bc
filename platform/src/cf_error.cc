// CFError: a domain, a code and a description in words. Made by the
// platform's own functions to say why they failed (property lists).
#include "cf_error_internal.h"
#include "cf_string_internal.h"

__CFError::~__CFError() {
  CFRelease(domain);
  CFRelease(description);
}

bool __CFError::Equal(const vp::Object &other) const noexcept {
  const auto &o = static_cast<const __CFError &>(other);
  return code == o.code && CFEqual(domain, o.domain) && CFEqual(description, o.description);
}

CFHashCode __CFError::Hash() const noexcept {
  return CFHash(domain) * 31 + static_cast<CFHashCode>(code);
}

vp::String16 __CFError::Describe() const {
  const vp::String16 *text = vp::Units(description);
  return text ? *text : vp::String16();
}

namespace vp {

CFErrorRef NewError(CFStringRef domain, CFIndex code, const char *description) {
  Ref<__CFString> text(NewStringFromUTF8(description));
  Ref<__CFString> dom = Ref<__CFString>::Retain(domain);
  auto *made = new __CFError(dom.get(), code, text.get());
  dom.release();
  text.release();
  return made;
}

void SetError(CFErrorRef *out, CFStringRef domain, CFIndex code, const char *description) noexcept {
  if (!out) return;
  *out = Edge<CFErrorRef>(nullptr, [&] { return NewError(domain, code, description); });
}

} // namespace vp

extern "C" {

CFTypeID CFErrorGetTypeID(void) noexcept {
  return __CFError::kTypeID;
}

CFIndex CFErrorGetCode(CFErrorRef err) noexcept {
  const __CFError *e = vp::Cast<__CFError>(err);
  return e ? e->code : 0;
}

CFStringRef CFErrorGetDomain(CFErrorRef err) noexcept {
  const __CFError *e = vp::Cast<__CFError>(err);
  return e ? e->domain : nullptr;
}

CFStringRef CFErrorCopyDescription(CFErrorRef err) noexcept {
  const __CFError *e = vp::Cast<__CFError>(err);
  if (!e) return nullptr;
  CFRetain(e->description);
  return e->description;
}

} // extern "C"
