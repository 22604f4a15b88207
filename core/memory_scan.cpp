#include "memory_scan.h"

#include "error.h"
#include "normalize.h"

namespace vardex {

namespace {

constexpr std::string_view kOpen = "<<<UNTRUSTED_MEMORY_CONTENT>>>\n";
constexpr std::string_view kKey = "MEMORY KEY: ";
constexpr std::string_view kValue = "\nMEMORY VALUE: ";
constexpr std::string_view kSource = "\nSOURCE: ";
constexpr std::string_view kClose = "\n<<<END_UNTRUSTED_MEMORY_CONTENT>>>";

}  // namespace

std::string format_entry_for_scan(const MemoryEntry& entry, bool has_evasion) {
  std::string out;
  out.reserve(kOpen.size() + kKey.size() + entry.key.size() + kValue.size() + entry.value.size() +
              (entry.source ? kSource.size() + entry.source->size() : 0) +
              (has_evasion ? 1 + kEvasionWarning.size() : 0) + kClose.size());
  out += kOpen;
  out += kKey;
  out += entry.key;
  out += kValue;
  out += entry.value;
  if (entry.source) {
    out += kSource;
    out += *entry.source;
  }
  if (has_evasion) {
    out += '\n';
    out += kEvasionWarning;
  }
  out += kClose;
  return out;
}

ScanRequest build_scan_request(const MemoryEntry& entry) {
  const bool has_evasion = contains_evasion_characters(entry.value);
  return {redact_secrets(format_entry_for_scan(entry, has_evasion)), has_evasion};
}

const Regex& score_prefix_regex() {
  static const Regex compiled = [] {
    auto r = Regex::compile(SCORE_PREFIX_RE, false);
    if (!r) throw InternalFault("SCORE_PREFIX_RE: compile failed: " + r.error());
    return std::move(r).value();
  }();
  return compiled;
}

}  // namespace vardex
