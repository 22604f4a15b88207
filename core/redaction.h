// Secret redaction: the table of credential patterns built once from the embedded
// redaction_patterns.json, and the redaction and detection passes over it. The passes run
// each pattern only where a match can start, found by one scan for runs of token
// characters, so that the work stays linear in the text on any input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regex.h"

namespace vardex {

struct SecretMatch {
  std::string kind;      ///< the kind of the pattern that matched
  std::uint64_t length;  ///< length of the replaced text in UTF-16 code units
};

struct RedactResult {
  std::string redacted;            ///< the text after all replacements
  std::vector<SecretMatch> found;  ///< one per replacement: by pattern order, then by position
};

struct CompiledPattern {
  std::string kind;  ///< named in the marker "[REDACTED:kind]" and in the report
  Regex regex;
  bool group_only;  ///< replace only the text of capture group 1
};

// The patterns in order of application, built from the embedded document on first use.
// Throws InternalFault when the document does not parse or a pattern does not compile;
// nothing is stored then and the next call tries again.
const std::vector<CompiledPattern>& redaction_patterns();

// `text` (valid UTF-8) with each pattern's matches replaced in turn by "[REDACTED:kind]"
// (for a group_only pattern, the first occurrence of group 1 within the match), and the
// replacements made. Cannot fail: a search the engine aborts throws InternalFault. The
// input and the report's lengths may reveal secrets. Each pattern makes one pass, so text
// that no pass matched (a key glued to a preceding letter, say) stays as it was.
RedactResult redact_secrets(std::string_view text);

// Whether any pattern matches `text` (valid UTF-8), stopping at the first that does. A
// search the engine aborts counts as a match: a text that could not be checked is not
// declared free of secrets.
bool contains_secret(std::string_view text);

}  // namespace vardex
