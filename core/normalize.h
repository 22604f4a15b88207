// The matching form of a text: NFKC, then removal of invisible characters and folding of
// look-alike letters by a table built once from the embedded normalize_data.json.
#pragma once

#include <string>
#include <string_view>

namespace vardex {

// The matching form of valid UTF-8 `text`. Cannot fail; a broken embedded table throws
// InternalFault.
std::string normalize_for_matching(std::string_view text);

// Whether the matching form of `text` differs from `text` in any byte.
bool contains_evasion_characters(std::string_view text);

}  // namespace vardex
