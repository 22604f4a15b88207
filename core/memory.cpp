#include "memory.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "embedded.h"
#include "error.h"
#include "normalize.h"

namespace vardex {

MemorySnapshot create_memory_snapshot(std::vector<MemoryEntry> entries, std::uint64_t taken_at) {
  return MemorySnapshot{std::move(entries), taken_at};
}

namespace {

constexpr std::array<std::string_view, 5> kTypeNames = {"behavioral_override", "bulk_insertion", "safety_bypass",
                                                         "privilege_escalation", "gradual_drift"};
constexpr std::array<std::string_view, 4> kSeverityNames = {"low", "medium", "high", "critical"};

}  // namespace

std::string_view anomaly_type_name(AnomalyType type) noexcept { return kTypeNames[static_cast<std::size_t>(type)]; }

std::string_view anomaly_severity_name(AnomalySeverity severity) noexcept {
  return kSeverityNames[static_cast<std::size_t>(severity)];
}

namespace behavior {
namespace {

[[noreturn]] void parse_failed(std::string_view detail) {
  throw InternalFault("behavior_patterns.json: parse failed: " + std::string(detail));
}

// Member `key` of `object`, converted to T; a missing member or another JSON type fails.
template <class T>
T required(simdjson::dom::object object, std::string_view key) {
  simdjson::dom::element element;
  if (object[key].get(element) != simdjson::SUCCESS) parse_failed("missing field `" + std::string(key) + "`");
  T value;
  if (const auto err = element.get(value); err != simdjson::SUCCESS) {
    parse_failed("field `" + std::string(key) + "`: " + simdjson::error_message(err));
  }
  return value;
}

template <std::size_t N>
std::size_t index_of_name(const std::array<std::string_view, N>& names, std::string_view name, std::string_view what) {
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) parse_failed("unknown " + std::string(what) + " \"" + std::string(name) + "\"");
  return static_cast<std::size_t>(it - names.begin());
}

// Compiles one pattern; any "i" among the flag letters makes it case-insensitive. The label
// names the pattern in a compile failure.
Regex compile_one(std::string_view pattern, std::string_view flags, std::string_view label) {
  auto compiled = Regex::compile(pattern, flags.find('i') != std::string_view::npos);
  if (!compiled.ok()) {
    throw InternalFault("behavior_patterns.json: compile failed: " + std::string(label) + ": " + compiled.error());
  }
  return std::move(compiled).value();
}

Tables build_tables() {
  simdjson::dom::parser parser;
  simdjson::dom::object doc;
  const std::string_view text = embedded::behavior_patterns_json;
  if (const auto err = parser.parse(text.data(), text.size()).get(doc); err != simdjson::SUCCESS) {
    parse_failed(simdjson::error_message(err));
  }
  const auto thresholds = required<simdjson::dom::object>(doc, "thresholds");
  const auto safety_pattern = required<std::string_view>(doc, "safety_keywords_pattern");
  const auto safety_flags = required<std::string_view>(doc, "safety_keywords_flags");
  const auto patterns = required<simdjson::dom::array>(doc, "behavior_patterns");

  // The diff keeps the patterns a text matched as bits of a 32-bit set.
  if (patterns.size() > 32) parse_failed("more than 32 behaviour patterns");
  std::vector<CompiledPattern> compiled;
  compiled.reserve(patterns.size());
  Regex safety = compile_one(safety_pattern, safety_flags, "safety_keywords");
  for (simdjson::dom::element e : patterns) {
    simdjson::dom::object p;
    if (e.get(p) != simdjson::SUCCESS) parse_failed("a behaviour pattern must be an object");
    const auto type_name = required<std::string_view>(p, "type");
    const auto type = static_cast<AnomalyType>(index_of_name(kTypeNames, type_name, "anomaly type"));
    const auto severity = static_cast<AnomalySeverity>(
        index_of_name(kSeverityNames, required<std::string_view>(p, "severity"), "severity"));
    const auto pattern = required<std::string_view>(p, "pattern");
    const auto flags = required<std::string_view>(p, "flags");
    const auto description = required<std::string_view>(p, "description");
    compiled.push_back({std::string(description), compile_one(pattern, flags, type_name), severity, type});
  }
  return Tables{std::move(compiled),
                std::move(safety),
                required<std::uint64_t>(thresholds, "bulk_add"),
                required<std::uint64_t>(thresholds, "bulk_modify"),
                required<std::uint64_t>(thresholds, "bulk_remove_safety"),
                required<std::uint64_t>(thresholds, "gradual_drift_keys"),
                required<std::uint64_t>(thresholds, "bulk_insertion_behavioral_critical")};
}

}  // namespace

const Tables& tables() {
  static std::once_flag once;
  static std::optional<Tables> built;
  std::call_once(once, [] { built.emplace(build_tables()); });
  return *built;
}

bool test_pattern(const Regex& regex, std::string_view text) { return regex.matches(normalize_for_matching(text)); }

}  // namespace behavior

namespace {

constexpr std::string_view kEvasionSuffix = " (unicode evasion detected)";

// Keys in first-seen order, each with the entry of its last occurrence.
class EntryIndex {
 public:
  explicit EntryIndex(const std::vector<MemoryEntry>& entries) {
    order_.reserve(entries.size());
    slots_.reserve(entries.size());
    for (const MemoryEntry& e : entries) {
      const auto [it, inserted] = slots_.try_emplace(e.key, order_.size());
      if (inserted) {
        order_.push_back(&e);
      } else {
        order_[it->second] = &e;
      }
    }
  }
  const std::vector<const MemoryEntry*>& order() const noexcept { return order_; }
  const MemoryEntry* find(std::string_view key) const {
    const auto it = slots_.find(key);
    return it == slots_.end() ? nullptr : order_[it->second];
  }

 private:
  std::vector<const MemoryEntry*> order_;
  std::unordered_map<std::string_view, std::size_t> slots_;
};

// The behaviour patterns a text matches, one bit per pattern in table order.
using PatternSet = std::uint32_t;

// A value in matching form, searched once with every pattern.
struct Scanned {
  PatternSet matched = 0;
  bool evasion = false;
};

Scanned scan(const behavior::Tables& t, std::string_view value) {
  const std::string norm = normalize_for_matching(value);
  Scanned out;
  out.evasion = norm != value;
  for (std::size_t i = 0; i < t.patterns.size(); ++i) {
    if (t.patterns[i].regex.matches(norm)) out.matched |= PatternSet{1} << i;
  }
  return out;
}

PatternSet drift_patterns(const behavior::Tables& t) {
  PatternSet set = 0;
  for (std::size_t i = 0; i < t.patterns.size(); ++i) {
    if (t.patterns[i].type == AnomalyType::GradualDrift) set |= PatternSet{1} << i;
  }
  return set;
}

// An anomaly raised by one pattern for one key: `lead` + key + `verb` + description + suffix.
MemoryAnomaly pattern_anomaly(const behavior::CompiledPattern& p, std::string_view lead, const std::string& key,
                              std::string_view verb, bool evasion) {
  std::string description;
  description.reserve(lead.size() + key.size() + verb.size() + p.description.size() + kEvasionSuffix.size());
  description.append(lead).append(key).append(verb).append(p.description);
  if (evasion) description.append(kEvasionSuffix);
  return {std::move(description), {key}, p.severity, p.type};
}

// The deduplication identity of an anomaly: its type and its keys in ascending byte order,
// each key with its length in front, so that two different key lists never encode alike
// (joining keys with a separator would let a key holding the separator collide).
std::string identity_of(const MemoryAnomaly& a) {
  std::vector<std::string_view> keys(a.entries.begin(), a.entries.end());
  std::sort(keys.begin(), keys.end());
  std::string id(1, static_cast<char>(a.type));
  for (std::string_view k : keys) {
    const std::uint64_t n = k.size();
    id.append(reinterpret_cast<const char*>(&n), sizeof n);
    id.append(k);
  }
  return id;
}

}  // namespace

std::vector<MemoryAnomaly> deduplicate_anomalies(std::vector<MemoryAnomaly> anomalies) {
  std::vector<MemoryAnomaly> kept;
  kept.reserve(anomalies.size());
  std::unordered_map<std::string, std::size_t> position;
  for (MemoryAnomaly& a : anomalies) {
    const auto [it, inserted] = position.try_emplace(identity_of(a), kept.size());
    if (inserted) {
      kept.push_back(std::move(a));
    } else if (a.severity > kept[it->second].severity) {
      kept[it->second] = std::move(a);
    }
  }
  return kept;
}

MemoryDiffResult diff_memory_snapshots(const std::vector<MemoryEntry>& before, const std::vector<MemoryEntry>& after) {
  const behavior::Tables& t = behavior::tables();
  const EntryIndex old_index(before);
  const EntryIndex new_index(after);
  MemoryDiffResult r;

  // Added and modified, in the later snapshot's order; each value scanned once. For a
  // modified entry the earlier value is scanned only when the later one matched.
  std::vector<Scanned> added_scan;
  std::vector<Scanned> modified_scan;
  std::vector<PatternSet> modified_before;
  for (const MemoryEntry* e : new_index.order()) {
    const MemoryEntry* old = old_index.find(e->key);
    if (old == nullptr) {
      r.added.push_back(*e);
      added_scan.push_back(scan(t, e->value));
    } else if (old->value != e->value) {
      r.modified.push_back({e->key, old->value, e->value});
      const Scanned now = scan(t, e->value);
      modified_scan.push_back(now);
      modified_before.push_back(now.matched != 0 ? scan(t, old->value).matched : 0);
    }
  }
  for (const MemoryEntry* e : old_index.order()) {
    if (new_index.find(e->key) == nullptr) r.removed.push_back(*e);
  }

  std::vector<MemoryAnomaly> anomalies;
  // R1: directives in added entries.
  for (std::size_t i = 0; i < r.added.size(); ++i) {
    for (std::size_t p = 0; p < t.patterns.size(); ++p) {
      if (added_scan[i].matched >> p & 1) {
        anomalies.push_back(pattern_anomaly(t.patterns[p], "added entry \"", r.added[i].key, "\" ",
                                            added_scan[i].evasion));
      }
    }
  }
  // R2: directives that a modification introduced.
  for (std::size_t i = 0; i < r.modified.size(); ++i) {
    const PatternSet fresh = modified_scan[i].matched & ~modified_before[i];
    for (std::size_t p = 0; p < t.patterns.size(); ++p) {
      if (fresh >> p & 1) {
        anomalies.push_back(pattern_anomaly(t.patterns[p], "modified entry \"", r.modified[i].key, "\" now ",
                                            modified_scan[i].evasion));
      }
    }
  }
  // R3: removed guard-rail entries, recognised by their key or else their value.
  std::vector<std::string> safety_removed;
  for (const MemoryEntry& e : r.removed) {
    if (behavior::test_pattern(t.safety_keywords, e.key) || behavior::test_pattern(t.safety_keywords, e.value)) {
      safety_removed.push_back(e.key);
    }
  }
  if (safety_removed.size() >= t.bulk_remove_safety) {
    std::string description = std::to_string(safety_removed.size()) +
                              " safety-related entries removed in a single session — possible guardrail stripping";
    anomalies.push_back(
        {std::move(description), std::move(safety_removed), AnomalySeverity::Critical, AnomalyType::SafetyBypass});
  } else if (safety_removed.size() == 1) {
    std::string description = "safety-related entry \"" + safety_removed.front() + "\" was removed";
    anomalies.push_back(
        {std::move(description), std::move(safety_removed), AnomalySeverity::High, AnomalyType::SafetyBypass});
  }
  // R4: many entries added at once; critical when several carry directives.
  if (r.added.size() >= t.bulk_add) {
    std::vector<std::string> behavioral;
    for (std::size_t i = 0; i < r.added.size(); ++i) {
      if (added_scan[i].matched != 0) behavioral.push_back(r.added[i].key);
    }
    const std::string count = std::to_string(r.added.size());
    if (behavioral.size() >= t.bulk_insertion_behavioral_critical) {
      std::string description = count + " entries added in a single session, " + std::to_string(behavioral.size()) +
                                " contain behavioral directives";
      anomalies.push_back(
          {std::move(description), std::move(behavioral), AnomalySeverity::Critical, AnomalyType::BulkInsertion});
    } else {
      std::vector<std::string> keys;
      keys.reserve(r.added.size());
      for (const MemoryEntry& e : r.added) keys.push_back(e.key);
      anomalies.push_back({count + " entries added in a single session — review for coordinated poisoning",
                           std::move(keys), AnomalySeverity::Medium, AnomalyType::BulkInsertion});
    }
  }
  // R5: many entries modified at once.
  if (r.modified.size() >= t.bulk_modify) {
    std::vector<std::string> keys;
    keys.reserve(r.modified.size());
    for (const ModifiedEntry& m : r.modified) keys.push_back(m.key);
    std::string description =
        std::to_string(r.modified.size()) + " entries modified in a single session — possible coordinated behavioral shift";
    anomalies.push_back({std::move(description), std::move(keys), AnomalySeverity::High, AnomalyType::GradualDrift});
  }
  // R6: drift-type directives spread over several keys. Added and modified keys are
  // distinct, so the list holds each key once.
  const PatternSet drift = drift_patterns(t);
  std::vector<std::string> drifting;
  for (std::size_t i = 0; i < r.added.size(); ++i) {
    if (added_scan[i].matched & drift) drifting.push_back(r.added[i].key);
  }
  for (std::size_t i = 0; i < r.modified.size(); ++i) {
    if (modified_scan[i].matched & drift) drifting.push_back(r.modified[i].key);
  }
  if (drifting.size() >= t.gradual_drift_keys) {
    std::string description = std::to_string(drifting.size()) +
                              " entries contain drift-type behavioral directives — pattern consistent with "
                              "multi-step poisoning";
    anomalies.push_back(
        {std::move(description), std::move(drifting), AnomalySeverity::High, AnomalyType::GradualDrift});
  }

  r.anomalies = deduplicate_anomalies(std::move(anomalies));
  r.safe = r.anomalies.empty();
  return r;
}

}  // namespace vardex
