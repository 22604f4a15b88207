#include "crypto_envelope.h"

#include "crypto.h"

namespace vardex {

std::string pack_envelope(std::span<const std::uint8_t> envelope, std::string_view first_label,
                          std::string_view second_label) {
  constexpr std::string_view kPrefix = "vdx1.";
  std::string out;
  out.reserve(kPrefix.size() + first_label.size() + 1 + second_label.size() + 1 + base64_length(envelope.size()));
  out += kPrefix;
  out += first_label;
  out += '.';
  out += second_label;
  out += '.';
  append_base64(out, envelope);
  return out;
}

}  // namespace vardex
