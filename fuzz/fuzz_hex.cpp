// The hex codec: decoding succeeds exactly on even-length hex, round-trips to lower case,
// and otherwise names the first offending character.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = vardex::hex_decode(text);
  bool all_hex = true;
  for (char c : text) all_hex = all_hex && std::isxdigit(static_cast<unsigned char>(c));
  FUZZ_CHECK(decoded.ok() == (all_hex && size % 2 == 0));
  if (decoded.ok()) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_CHECK(vardex::hex_encode(decoded.value()) == lower);
  } else {
    const std::string message = decoded.error().message();
    FUZZ_CHECK(message.rfind("hex decode failed: ", 0) == 0);
    FUZZ_CHECK((size % 2 != 0) == (message == "hex decode failed: Odd number of digits"));
  }
  std::uint8_t key[32];
  auto fixed = vardex::hex_decode_into(text, key);
  FUZZ_CHECK(fixed.ok() == (decoded.ok() && size == 64));
  return 0;
}
