// The text form of an organisation envelope, as ledger arguments carry it:
// "vdx1" "." first label "." second label "." standard base64 of the envelope.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vardex {

// Returns the text form of `envelope`; the labels are inserted verbatim (empty ones
// included). Cannot fail.
std::string pack_envelope(std::span<const std::uint8_t> envelope, std::string_view first_label,
                          std::string_view second_label);

}  // namespace vardex
