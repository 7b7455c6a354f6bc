// The registry of descriptor coercions that other platform modules add to
// the built-in ones of AECoerceDesc (for example the File Manager's alias to
// FSRef and back). Internal to the platform.
#pragma once

#include <Carbon/AEDataModel.h>

namespace vp {

// Makes *result, a new descriptor of type `to`, from the data of a
// descriptor of type `from` (data may be null when size is 0). *result is a
// null descriptor on entry and must be one again when the handler fails.
// Returns noErr, errAECoercionFail when the data cannot be turned into `to`,
// or memFullErr. May throw std::bad_alloc (treated as memFullErr).
using CoercionHandler = OSErr (*)(DescType from, const void *data, Size size, DescType to,
                                  AEDesc *result);

// Registers handler for the pair (from, to), replacing an earlier one for the
// same pair. Safe to call from a static initializer and from any thread.
// False when the registry is full or handler is null.
bool RegisterCoercion(DescType from, DescType to, CoercionHandler handler) noexcept;

// The handler registered for the pair, or null.
CoercionHandler FindCoercion(DescType from, DescType to) noexcept;

} // namespace vp
