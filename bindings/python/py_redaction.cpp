#include "py_redaction.h"

#include "text.h"

namespace vardex::py {

// The kind is written without escaping: kinds come from the shipped table.
std::string Record<SecretMatch>::repr(const SecretMatch& m) {
  return "SecretMatch(kind='" + m.kind + "', length=" + std::to_string(m.length) + ")";
}

std::string Record<RedactResult>::repr(const RedactResult& r) {
  return "RedactResult(redacted=" + debug_quote(r.redacted) + ", found=[" + std::to_string(r.found.size()) +
         " matches])";
}

}  // namespace vardex::py
