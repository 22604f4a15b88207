#include "hex.h"

#include "text.h"

namespace vardex {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

int nibble(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The input byte taken as a code point (Latin-1 for bytes 0x80 and up), quoted as a char.
VardexError invalid_character(unsigned char c, std::size_t position) {
  return VardexError::hex_decode("Invalid character " + debug_quote_char(c) + " at position " +
                                 std::to_string(position));
}

Status decode_pairs(std::string_view text, std::uint8_t* out) {
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto hi_c = static_cast<unsigned char>(text[i]);
    const auto lo_c = static_cast<unsigned char>(text[i + 1]);
    const int hi = nibble(hi_c);
    if (hi < 0) return invalid_character(hi_c, i);
    const int lo = nibble(lo_c);
    if (lo < 0) return invalid_character(lo_c, i + 1);
    out[i / 2] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return {};
}

}  // namespace

std::string hex_encode(std::span<const std::uint8_t> data) {
  std::string out(data.size() * 2, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0x0f];
  }
  return out;
}

Result<Bytes> hex_decode(std::string_view text) {
  if (text.size() % 2 != 0) return VardexError::hex_decode("Odd number of digits");
  Bytes out(text.size() / 2);
  VARDEX_RETURN_IF_ERROR(decode_pairs(text, out.data()));
  return out;
}

Status hex_decode_into(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() % 2 != 0) return VardexError::hex_decode("Odd number of digits");
  if (text.size() / 2 != out.size()) return VardexError::hex_decode("Invalid string length");
  return decode_pairs(text, out.data());
}

}  // namespace vardex
