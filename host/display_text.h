// Text as the host shows it, besides what menu_model.h converts: raw file
// names (bytes that need not be UTF-8) made valid UTF-8 for the terminal and
// for JSON, text kept from acting on the terminal, and clipboard text given
// the line ends Linux programs expect.
#pragma once

#include <string>
#include <string_view>

namespace vantlow::host {

// Bytes as UTF-8: valid sequences are kept, every byte of an invalid one
// (a stray continuation byte, a truncated sequence, an overlong form, an
// encoded surrogate, a value above U+10FFFF) becomes U+FFFD, so nothing
// vanishes silently and the result is always valid UTF-8.
std::string ValidUtf8(std::string_view bytes);

// ValidUtf8 with every control character (C0, DEL, C1) except those in
// keep shown as a space: text from a plug-in, which may come from file
// names, must not be able to move the cursor or change the terminal.
std::string PrintableText(std::string_view text, std::string_view keep = {});

// Classic Mac line ends (a lone CR) and CR LF pairs as LF.
std::string UnixLineEnds(std::string_view text);

} // namespace vantlow::host
