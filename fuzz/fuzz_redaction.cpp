// Redaction and detection on arbitrary valid UTF-8. The fast passes give exactly the text
// and the report of the plain passes (each pattern searched over the whole working text),
// lengths in UTF-16 code units. Detection answers whether redaction found anything: the
// passes before the first pattern that matches the input change nothing, so that pattern
// meets the input unchanged. A replacement only ever destroys occurrences of a reported
// secret, and markers cannot join with the text around them into one unless the secret
// holds a bracket; so a secret without brackets that was reported r times occurs at least r
// times fewer in the redacted text than in the input (in particular not at all when every
// occurrence was found).
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "check.h"
#include "error.h"
#include "redaction.h"
#include "redaction_plain.h"
#include "text.h"

namespace {

std::size_t occurrences(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vardex::is_valid_utf8(text)) return 0;
  const vardex::plain::Redaction plain = vardex::plain::redact(text);
  if (plain.aborted) return 0;

  const vardex::RedactResult fast = vardex::redact_secrets(text);
  FUZZ_CHECK(fast.redacted == plain.redacted);
  FUZZ_CHECK(fast.found.size() == plain.found.size());
  std::map<std::string, std::size_t> reports;
  for (std::size_t i = 0; i < fast.found.size(); ++i) {
    FUZZ_CHECK(fast.found[i].kind == plain.found[i].kind);
    FUZZ_CHECK(fast.found[i].length == vardex::utf16_length(plain.found[i].secret));
    ++reports[plain.found[i].secret];
  }

  FUZZ_CHECK(vardex::contains_secret(text) == plain.contains);
  FUZZ_CHECK(plain.contains == !plain.found.empty());

  for (const auto& [secret, count] : reports) {
    if (secret.find_first_of("[]") != std::string::npos) continue;
    FUZZ_CHECK(occurrences(fast.redacted, secret) + count <= occurrences(text, secret));
  }
  return 0;
}
