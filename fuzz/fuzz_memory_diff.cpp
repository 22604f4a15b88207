// The snapshot diff on generated snapshots. The input is two snapshots separated by 0x1D;
// entries are separated by 0x1E, and the key, value and optional source of an entry by
// 0x1F. A snapshot compared with itself gives nothing and is safe. Added, removed and
// modified entries are those of a plain reference index (first position, last entry of a
// key). The pattern anomalies of added and modified entries and the removed safety-related
// entries are those that a search of every pattern in the matching form finds, so the
// literal prefilter never leaves a match out. Kept anomalies have distinct identities, name
// only keys of the diff, and `safe` says whether there are any.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "memory.h"
#include "normalize.h"
#include "text.h"

namespace {

using vardex::AnomalyType;
using vardex::MemoryAnomaly;
using vardex::MemoryEntry;
using vardex::MemoryEntryView;

std::vector<std::string_view> split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::vector<MemoryEntry> entries_of(std::string_view text) {
  std::vector<MemoryEntry> entries;
  if (text.empty()) return entries;
  for (std::string_view record : split(text, '\x1e')) {
    const auto fields = split(record, '\x1f');
    MemoryEntry e{std::string(fields[0]), fields.size() > 1 ? std::string(fields[1]) : std::string(), std::nullopt,
                  entries.size()};
    if (fields.size() > 2) e.source = std::string(fields[2]);
    entries.push_back(std::move(e));
  }
  return entries;
}

vardex::MemoryDiffResult diff(const std::vector<MemoryEntry>& before, const std::vector<MemoryEntry>& after) {
  const std::vector<MemoryEntryView> b(before.begin(), before.end());
  const std::vector<MemoryEntryView> a(after.begin(), after.end());
  return vardex::diff_memory_snapshots(b, a);
}

// Keys in first-seen order, each with its last entry.
struct Index {
  std::vector<std::string> order;
  std::map<std::string, MemoryEntry> last;
  explicit Index(const std::vector<MemoryEntry>& entries) {
    for (const MemoryEntry& e : entries) {
      if (!last.count(e.key)) order.push_back(e.key);
      last[e.key] = e;
    }
  }
};

bool same_entry(const MemoryEntry& x, const MemoryEntry& y) {
  return x.key == y.key && x.value == y.value && x.source == y.source && x.timestamp == y.timestamp;
}

// The patterns whose search finds a match in the matching form of `text`, one bit each.
std::uint32_t matching_patterns(const vardex::behavior::Tables& t, std::string_view text) {
  const std::string norm = vardex::normalize_for_matching(text);
  std::uint32_t set = 0;
  for (std::size_t i = 0; i < t.patterns.size(); ++i) {
    if (t.patterns[i].regex.matches(norm)) set |= 1u << i;
  }
  FUZZ_CHECK((t.prefilter.candidates(norm) & set) == set);
  return set;
}

bool safety_related(const vardex::behavior::Tables& t, std::string_view text) {
  const bool found = t.safety_keywords.matches(vardex::normalize_for_matching(text));
  FUZZ_CHECK(vardex::behavior::test_safety_keywords(t, text) == found);
  return found;
}

const MemoryAnomaly* find_anomaly(const std::vector<MemoryAnomaly>& list, AnomalyType type,
                                  const std::vector<std::string>& keys) {
  for (const MemoryAnomaly& a : list) {
    if (a.type == type && a.entries == keys) return &a;
  }
  return nullptr;
}

// The pattern anomalies that one key must carry: for each type, the highest severity of the
// patterns of that type in `fresh`; and no single-key anomaly of a type outside it.
void check_pattern_anomalies(const vardex::behavior::Tables& t, const std::vector<MemoryAnomaly>& kept,
                             const std::string& key, std::uint32_t fresh) {
  for (std::size_t i = 0; i < t.patterns.size(); ++i) {
    if (!(fresh >> i & 1)) continue;
    const MemoryAnomaly* a = find_anomaly(kept, t.patterns[i].type, {key});
    FUZZ_CHECK(a != nullptr && a->severity >= t.patterns[i].severity);
  }
  for (const MemoryAnomaly& a : kept) {
    if (a.entries != std::vector<std::string>{key}) continue;
    bool explained = false;
    for (std::size_t i = 0; i < t.patterns.size(); ++i) {
      explained = explained || ((fresh >> i & 1) && t.patterns[i].type == a.type);
    }
    FUZZ_CHECK(explained);
  }
}

void check_empty(const vardex::MemoryDiffResult& r) {
  FUZZ_CHECK(r.added.empty() && r.removed.empty() && r.modified.empty() && r.anomalies.empty() && r.safe);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vardex::is_valid_utf8(text)) return 0;
  const std::size_t cut = text.find('\x1d');
  const auto before = entries_of(text.substr(0, cut));
  const auto after = cut == std::string_view::npos ? std::vector<MemoryEntry>() : entries_of(text.substr(cut + 1));
  if (before.size() + after.size() > 64) return 0;

  check_empty(diff(before, before));
  check_empty(diff(after, after));

  const vardex::behavior::Tables& t = vardex::behavior::tables();
  const auto r = diff(before, after);
  const Index old_index(before);
  const Index new_index(after);

  std::size_t added = 0, modified = 0, removed = 0;
  std::vector<std::string> keys_of_diff;
  for (const std::string& key : new_index.order) {
    const MemoryEntry& now = new_index.last.at(key);
    const auto old = old_index.last.find(key);
    if (old == old_index.last.end()) {
      FUZZ_CHECK(added < r.added.size() && same_entry(r.added[added++], now));
      check_pattern_anomalies(t, r.anomalies, key, matching_patterns(t, now.value));
    } else if (old->second.value != now.value) {
      FUZZ_CHECK(modified < r.modified.size());
      const auto& m = r.modified[modified++];
      FUZZ_CHECK(m.key == key && m.before == old->second.value && m.after == now.value);
      const std::uint32_t fresh = matching_patterns(t, now.value) & ~matching_patterns(t, old->second.value);
      check_pattern_anomalies(t, r.anomalies, key, fresh);
    } else {
      continue;
    }
    keys_of_diff.push_back(key);
  }
  std::vector<std::string> safety_removed;
  for (const std::string& key : old_index.order) {
    if (new_index.last.count(key)) continue;
    const MemoryEntry& gone = old_index.last.at(key);
    FUZZ_CHECK(removed < r.removed.size() && same_entry(r.removed[removed++], gone));
    if (safety_related(t, gone.key) || safety_related(t, gone.value)) safety_removed.push_back(key);
    keys_of_diff.push_back(key);
  }
  FUZZ_CHECK(added == r.added.size() && modified == r.modified.size() && removed == r.removed.size());
  if (!safety_removed.empty()) {
    const MemoryAnomaly* a = find_anomaly(r.anomalies, AnomalyType::SafetyBypass, safety_removed);
    FUZZ_CHECK(a != nullptr);
    FUZZ_CHECK(a->severity == (safety_removed.size() >= 2 ? vardex::AnomalySeverity::Critical
                                                          : vardex::AnomalySeverity::High));
  }

  FUZZ_CHECK(r.safe == r.anomalies.empty());
  for (std::size_t i = 0; i < r.anomalies.size(); ++i) {
    std::vector<std::string> keys = r.anomalies[i].entries;
    FUZZ_CHECK(!keys.empty());
    for (const std::string& k : keys) {
      FUZZ_CHECK(std::find(keys_of_diff.begin(), keys_of_diff.end(), k) != keys_of_diff.end());
    }
    std::sort(keys.begin(), keys.end());
    for (std::size_t j = 0; j < i; ++j) {
      std::vector<std::string> other = r.anomalies[j].entries;
      std::sort(other.begin(), other.end());
      FUZZ_CHECK(r.anomalies[j].type != r.anomalies[i].type || other != keys);
    }
  }
  return 0;
}
