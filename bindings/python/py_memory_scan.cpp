#include "py_memory_scan.h"

#include <string_view>

#include "py_chain_memory.h"
#include "py_memory.h"
#include "text.h"

namespace vardex::py {

std::string Record<ScanRequest>::repr(const ScanRequest& s) {
  return "ScanRequest(prompt=<" + std::to_string(s.prompt().size()) + " chars>, context=<" +
         std::to_string(s.context().size()) + " chars>, redaction=" + std::to_string(s.redaction.found.size()) +
         " matches, has_evasion=" + repr_bool(s.has_evasion) + ")";
}

std::string Record<ParsedScore>::repr(const ParsedScore& p) {
  return "ParsedScore(score=" + (p.score ? "Some(" + std::to_string(*p.score) + ")" : std::string("None")) +
         ", clean_reason=" + debug_quote(p.clean_reason) + ")";
}

PyObject* py_build_scan_request(const Args& a) {
  const std::optional<MemoryEntry> entry = entry_from_py(a.object(0));
  if (!entry) return nullptr;
  return to_py(build_scan_request(*entry));
}

PyObject* py_format_entry_for_scan(const Args& a) {
  const std::optional<MemoryEntry> entry = entry_from_py(a.object(0));
  if (!entry) return nullptr;
  return to_py(std::string_view(format_entry_for_scan(*entry, a.boolean(1))));
}

ParsedScore parse_score_from_reason(std::string_view reason) {
  auto found = score_prefix_regex().search(reason);
  if (!found || !found.value()) return {std::nullopt, std::string(reason)};
  const Match& m = *found.value();
  const std::string_view digits = reason.substr(m.groups[1].begin, m.groups[1].end - m.groups[1].begin);
  std::int64_t score = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return {std::nullopt, std::string(reason)};  // a decimal digit beyond ASCII
    score = score * 10 + (c - '0');
  }
  if (!validate_score(score).ok()) return {std::nullopt, std::string(reason)};
  return {score, std::string(trim(reason.substr(m.groups[2].begin, m.groups[2].end - m.groups[2].begin)))};
}

std::string_view map_verdict(std::string_view action_type, double confidence, double threshold) {
  if (action_type == "block") return "red";
  if (action_type == "hold_for_user_confirm") return "yellow";
  if (action_type == "allow") return "green";
  return confidence >= threshold ? "yellow" : "green";  // false when either is NaN
}

PyObject* py_default_score_for_verdict(const Args& a) {
  const std::string_view verdict = a.str(0);
  if (verdict == "red") return to_py(std::int64_t{2});
  if (verdict == "yellow") return to_py(std::int64_t{5});
  if (verdict == "green") return to_py(std::int64_t{8});
  return raise_value_error("unknown verdict: " + debug_quote(verdict) + " (expected 'red' | 'yellow' | 'green')");
}

}  // namespace vardex::py
