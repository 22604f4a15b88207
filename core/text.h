// UTF-8 helpers shared by every area: decoding, lengths, Unicode trim and lower-casing,
// and the debug quoting used by every repr and by hex error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace vardex {

bool is_ascii(std::string_view text) noexcept;


// Whether `text` is well-formed UTF-8 (no surrogates, no overlongs).
bool is_valid_utf8(std::string_view text) noexcept;

// The first ill-formed sequence in a byte string: where it starts, and how many bytes it
// spans by the maximal-subpart rule (the bytes that could begin a valid sequence before
// the byte that breaks it), or 0 when the input ends inside the sequence.
struct Utf8Fault {
  std::size_t index;
  std::size_t length;
};

// The first ill-formed sequence of `text`, or nullopt for well-formed UTF-8.
std::optional<Utf8Fault> first_utf8_fault(std::string_view text) noexcept;

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

// Hot helpers, inline so that scanning loops in every unit can use them without a call.

// Number of leading ASCII bytes of `text`.
inline std::size_t ascii_prefix_length(std::string_view text) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t i = 0;
  // Eight bytes at a time, then the rest; the high bit of any byte marks non-ASCII.
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  for (; i + 32 <= n; i += 32) {
    std::uint64_t w[4];
    std::memcpy(w, p + i, sizeof w);
    if (((w[0] | w[1] | w[2] | w[3]) & kHigh) != 0) break;
  }
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    if ((w & kHigh) != 0) break;
  }
  while (i < n && static_cast<unsigned char>(p[i]) < 0x80) ++i;
  return i;
}

// Decodes the code point at `pos` of valid UTF-8 and advances `pos` past it.
inline char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char c = s[pos];
  if (c < 0x80) {
    ++pos;
    return c;
  }
  if (c < 0xE0) {
    const char32_t cp = ((c & 0x1F) << 6) | (s[pos + 1] & 0x3F);
    pos += 2;
    return cp;
  }
  if (c < 0xF0) {
    const char32_t cp = ((c & 0x0F) << 12) | ((s[pos + 1] & 0x3F) << 6) | (s[pos + 2] & 0x3F);
    pos += 3;
    return cp;
  }
  const char32_t cp = ((c & 0x07) << 18) | ((s[pos + 1] & 0x3F) << 12) | ((s[pos + 2] & 0x3F) << 6) |
                      (s[pos + 3] & 0x3F);
  pos += 4;
  return cp;
}

}  // namespace vardex
