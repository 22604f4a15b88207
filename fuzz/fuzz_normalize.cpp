// The matching form: valid UTF-8 out, no invisible or look-alike character left, the evasion
// flag agrees with the output, and a matching form already in NFKC is a fixed point.
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "normalize.h"
#include "text.h"

namespace {

bool in_table(char32_t c) {
  switch (c) {
    case 0x200B: case 0x200C: case 0x200D: case 0x200E: case 0x200F: case 0xFEFF: case 0x00AD:
    case 0x034F: case 0x061C: case 0x115F: case 0x1160: case 0x17B4: case 0x17B5: case 0x180E:
      return true;
    default:
      break;
  }
  if ((c >= 0x2000 && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
      (c >= 0x2066 && c <= 0x206F)) {
    return true;
  }
  static const std::u32string kLookAlikes = U"аеорсухіјһѕїґАВЕКМНОРСТХЧαορεκν";
  return kLookAlikes.find(c) != std::u32string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vardex::is_valid_utf8(text)) return 0;
  const std::string out = vardex::normalize_for_matching(text);
  FUZZ_CHECK(vardex::is_valid_utf8(out));
  for (std::size_t pos = 0; pos < out.size();) FUZZ_CHECK(!in_table(vardex::next_code_point(out, pos)));
  FUZZ_CHECK(vardex::contains_evasion_characters(text) == (out != text));
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
  const bool out_is_nfkc =
      nfkc->isNormalizedUTF8(icu::StringPiece(out.data(), static_cast<int32_t>(out.size())), status);
  if (U_SUCCESS(status) && out_is_nfkc) FUZZ_CHECK(vardex::normalize_for_matching(out) == out);
  return 0;
}
