// UTF-8 helpers shared by every area: decoding, lengths, Unicode trim and lower-casing,
// and the debug quoting used by every repr and by hex error texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vardex {

bool is_ascii(std::string_view text) noexcept;

// Whether `text` is well-formed UTF-8 (no surrogates, no overlongs).
bool is_valid_utf8(std::string_view text) noexcept;

// Decodes the code point at `pos` of valid UTF-8 and advances `pos` past it.
char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept;

// Appends `cp` (a Unicode scalar value) as UTF-8.
void append_utf8(std::string& out, char32_t cp);

// Number of Unicode scalar values in valid UTF-8.
std::size_t char_count(std::string_view text) noexcept;

// Number of UTF-16 code units of valid UTF-8.
std::size_t utf16_length(std::string_view text) noexcept;

// `text` without leading and trailing Unicode white space.
std::string_view trim(std::string_view text) noexcept;

// `text` without every leading occurrence of `prefix` ("0x0x12" -> "12" for "0x").
std::string_view strip_leading(std::string_view text, std::string_view prefix) noexcept;

// Full Unicode lower-case mapping with the root locale.
std::string to_lower(std::string_view text);

// `text` between double quotes with backslash escapes for \ " \t \r \n \0 and \u{h} for
// control, format, separator (other than the ASCII space), unassigned, private-use and
// grapheme-extending characters.
std::string debug_quote(std::string_view text);

// One code point between single quotes, escaped by the same rules (the single quote is
// escaped, the double quote is not).
std::string debug_quote_char(char32_t cp);

}  // namespace vardex
