// Python side of the judge's scan protocol: the ScanRequest and ParsedScore result classes,
// the scan request functions, and the score and verdict helpers, which live here rather than
// in the core.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>

#include "classes.h"
#include "frame.h"
#include "memory_scan.h"
#include "py_redaction.h"

namespace vardex::py {

// The score split off a judge's reason.
struct ParsedScore {
  std::optional<std::int64_t> score;  ///< 1 to 10, or absent without a valid prefix
  std::string clean_reason;           ///< the reason after the prefix (trimmed), or all of it
};

template <>
struct Record<ScanRequest> {
  static constexpr const char* name = "ScanRequest";
  static constexpr Field fields[] = {
      {"prompt", [](const void* r) { return to_py(static_cast<const ScanRequest*>(r)->prompt()); }},
      {"context", [](const void* r) { return to_py(static_cast<const ScanRequest*>(r)->context()); }},
      field<&ScanRequest::redaction>("redaction"),
      field<&ScanRequest::has_evasion>("has_evasion"),
  };
  static std::string repr(const ScanRequest& s);
};

template <>
struct Record<ParsedScore> {
  static constexpr const char* name = "ParsedScore";
  static constexpr Field fields[] = {
      field<&ParsedScore::score>("score"),
      field<&ParsedScore::clean_reason>("clean_reason"),
  };
  static std::string repr(const ParsedScore& p);
};

// build_scan_request(entry) and format_entry_for_scan(entry, has_evasion).
PyObject* py_build_scan_request(const Args& a);
PyObject* py_format_entry_for_scan(const Args& a);

// The score prefix of `reason` split off. Never fails.
ParsedScore parse_score_from_reason(std::string_view reason);

// "red" for "block", "yellow" for "hold_for_user_confirm", "green" for "allow"; for any
// other action "yellow" when confidence >= threshold, else "green".
std::string_view map_verdict(std::string_view action_type, double confidence, double threshold);

// default_score_for_verdict(verdict): 2, 5 or 8 for "red", "yellow" or "green"; ValueError
// for anything else.
PyObject* py_default_score_for_verdict(const Args& a);

}  // namespace vardex::py
