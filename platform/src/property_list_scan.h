// Checks property-list input before libplist builds a tree from it. libplist
// reads some malformed input without complaint (an integer "12abc" reads as
// 12, "010" as 8, a dictionary key without a value is dropped, a repeated
// key silently replaces the first, a deeply nested or self-referencing
// binary list exhausts the stack), so every document is scanned here first:
// its structure, the text of its numbers and data, its nesting depth and,
// for binary input, every offset, size and reference. The scan also records
// how many pairs each dictionary holds so that the conversion can notice
// pairs that libplist merged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "alloc.h"

namespace vp::plist {

// Containers nest at most this deep (the top value is level 1); deeper
// input, and any binary list that refers back to itself, is refused.
inline constexpr int kMaxDepth = 512;

// What a successful scan learned: the number of key/value pairs of every
// dictionary, in document order (the pre-order of the value tree).
struct Shape {
  Vector<std::uint32_t> dictPairs;
};

// Each returns null when the input is acceptable, else a short English
// reason. They throw std::bad_alloc when memory runs out.
const char *ScanXML(std::string_view text, Shape &shape);
// The input starts with "bplist00".
const char *ScanBinary(std::string_view bytes, Shape &shape);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUTF8(std::string_view text) noexcept;

} // namespace vp::plist
