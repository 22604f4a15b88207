// The one hex codec: lower-case encoding, case-blind decoding with exact error texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "error.h"

namespace vardex {

// Lower-case hex of `data`.
std::string hex_encode(std::span<const std::uint8_t> data);

// Decodes hex of either case. Errors: HexDecode ("Odd number of digits", then the first
// "Invalid character 'c' at position n").
Result<Bytes> hex_decode(std::string_view text);

// Decodes into `out`, whose size the text must match. Errors: HexDecode, checked in the
// order odd length, "Invalid string length", invalid character. `out` may receive secret
// bytes (private keys): the caller owns wiping it.
Status hex_decode_into(std::string_view text, std::span<std::uint8_t> out);

template <std::size_t N>
Result<std::array<std::uint8_t, N>> hex_decode_array(std::string_view text) {
  std::array<std::uint8_t, N> out{};
  VARDEX_RETURN_IF_ERROR(hex_decode_into(text, out));
  return out;
}

}  // namespace vardex
