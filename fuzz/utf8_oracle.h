// The error text for decrypted bytes that are not UTF-8, computed from the table of
// well-formed byte sequences: the first ill-formed sequence, its length by the
// maximal-subpart rule, or "incomplete" when the bytes end inside a sequence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

inline std::optional<std::string> utf8_error_text(std::string_view bytes) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::uint8_t b = s[i];
    // Number of continuation bytes, and the range allowed for the first of them.
    std::size_t more = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      more = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      more = 2;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      more = 3;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return "decrypted bytes not utf-8: invalid utf-8 sequence of 1 bytes from index " + std::to_string(i);
    }
    for (std::size_t k = 1; k <= more; ++k) {
      if (i + k >= bytes.size()) {
        return "decrypted bytes not utf-8: incomplete utf-8 byte sequence from index " + std::to_string(i);
      }
      const std::uint8_t c = s[i + k];
      if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
        return "decrypted bytes not utf-8: invalid utf-8 sequence of " + std::to_string(k) + " bytes from index " +
               std::to_string(i);
      }
    }
    i += more + 1;
  }
  return std::nullopt;
}

}  // namespace fuzz
