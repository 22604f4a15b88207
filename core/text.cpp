#include "text.h"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "error.h"

namespace vardex {

bool is_ascii(std::string_view text) noexcept { return ascii_prefix_length(text) == text.size(); }

bool is_valid_utf8(std::string_view text) noexcept { return !first_utf8_fault(text).has_value(); }

std::optional<Utf8Fault> first_utf8_fault(std::string_view text) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    // The width of the sequence and the range of its second byte, which excludes
    // overlong forms, surrogates and code points above U+10FFFF.
    std::size_t width = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      width = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      width = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      width = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return Utf8Fault{i, 1};
    }
    for (std::size_t k = 1; k < width; ++k) {
      if (i + k >= n) return Utf8Fault{i, 0};
      const unsigned char b = s[i + k];
      if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) return Utf8Fault{i, k};
    }
    i += width;
  }
  return std::nullopt;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t char_count(std::string_view text) noexcept {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

std::size_t utf16_length(std::string_view text) noexcept {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

std::string_view trim(std::string_view text) noexcept {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!u_isUWhiteSpace(static_cast<UChar32>(next_code_point(text, next)))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while ((static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::size_t pos = start;
    if (!u_isUWhiteSpace(static_cast<UChar32>(next_code_point(text, pos)))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string_view strip_leading(std::string_view text, std::string_view prefix) noexcept {
  while (!prefix.empty() && text.starts_with(prefix)) text.remove_prefix(prefix.size());
  return text;
}

std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &status), &ucasemap_close);
  if (U_FAILURE(status)) throw std::bad_alloc();
  // Lower-casing grows UTF-8 by at most 3/2 (İ: 2 bytes -> 3 bytes); start there and retry once.
  std::string out(text.size() + text.size() / 2 + 1, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    status = U_ZERO_ERROR;
    const int32_t n = ucasemap_utf8ToLower(map.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                           static_cast<int32_t>(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<std::size_t>(n));
      continue;
    }
    if (U_FAILURE(status)) throw InternalFault("lower-casing failed");
    out.resize(static_cast<std::size_t>(n));
    return out;
  }
  throw InternalFault("lower-casing failed");
}

namespace {

bool needs_unicode_escape(char32_t cp) noexcept {
  const auto c = static_cast<UChar32>(cp);
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_UNASSIGNED:
    case U_PRIVATE_USE_CHAR:
    case U_SURROGATE:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return cp != U' ';
    default:
      return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

void append_escaped(std::string& out, char32_t cp, char quote) {
  switch (cp) {
    case U'\\': out += "\\\\"; return;
    case U'\t': out += "\\t"; return;
    case U'\r': out += "\\r"; return;
    case U'\n': out += "\\n"; return;
    case U'\0': out += "\\0"; return;
    default: break;
  }
  if (cp == static_cast<char32_t>(quote)) {
    out.push_back('\\');
    out.push_back(quote);
    return;
  }
  if (cp >= 0x20 && cp < 0x7F) {
    out.push_back(static_cast<char>(cp));
    return;
  }
  if (needs_unicode_escape(cp)) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
      buf[n++] = kHex[cp & 0xF];
      cp >>= 4;
    } while (cp != 0);
    out += "\\u{";
    while (n > 0) out.push_back(buf[--n]);
    out.push_back('}');
    return;
  }
  append_utf8(out, cp);
}

}  // namespace

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t pos = 0; pos < text.size();) append_escaped(out, next_code_point(text, pos), '"');
  out.push_back('"');
  return out;
}

std::string debug_quote_char(char32_t cp) {
  std::string out = "'";
  append_escaped(out, cp, '\'');
  out.push_back('\'');
  return out;
}

}  // namespace vardex
