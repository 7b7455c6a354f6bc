// The localizers' strings-file format, as bundles carry it in
// <lang>.lproj/<Table>.strings: `"key" = "value";` pairs with comments and
// escapes, in UTF-8 (an optional byte-order mark) or in UTF-16 with a
// byte-order mark. A table is parsed whole or refused whole: a fault
// anywhere means none of its texts is used, so a half-read table never
// shows some lines translated and others not.
#pragma once

#include <cstddef>
#include <string_view>

#include "cf_string_internal.h"

namespace vp {

// Tables larger than this are refused without being parsed.
constexpr std::size_t kMaxStringsFileBytes = 4u << 20;

struct StringsEntry {
  String16 key;
  Ref<__CFString> text;
};
// Sorted by key (UTF-16 units), each key once.
using StringsTable = Vector<StringsEntry>;

struct StringsFault {
  long line = 0;                // from 1; 0 when the fault is the file as a whole
  const char *reason = nullptr; // constant text, never freed
};

// Parses a whole table. True with *table filled (a key defined twice keeps
// its later text). False for a malformed table, with *fault saying where
// and why, and *table empty. Throws std::bad_alloc (then *table is empty).
//
// Grammar: entries `key = value ;` or `key ;` (the key is its own text).
// A key or value is a quoted string, or an unquoted run of ASCII letters,
// digits, '_', '.' and '-'. Whitespace and comments (/* */ and //) may
// stand between any two tokens. Escapes in quoted strings: \" \\ \' \n \t
// \r \a \b \f \v, \ooo (one to three octal digits, at most \377, naming
// U+0000 to U+00FF, so \0 is U+0000), and \uXXXX or \UXXXX (exactly four
// hexadecimal digits naming one UTF-16 unit; a surrogate pair is written as
// two escapes, and a lone surrogate is refused). A quoted string may span
// lines. Lines end with LF, CRLF or a lone CR. UTF-8 text never holds a NUL
// byte (that is UTF-16 without its byte-order mark), and invalid UTF-8 or
// UTF-16 refuses the table.
bool ParseStringsTable(std::string_view bytes, StringsTable *table, StringsFault *fault);

// The text of key, lent while the table lives; null when the key is absent.
CFStringRef FindInStringsTable(const StringsTable &table, const String16 &key) noexcept;

} // namespace vp
