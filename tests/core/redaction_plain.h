// The redaction patterns applied the plain way: each pattern searched over the whole working
// text with no prefilter, and detection as a search of the input with each pattern in turn.
// The reference of the differential tests of the fast redaction passes (redaction_probe and
// the redaction fuzz target).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "redaction.h"

namespace vardex::plain {

struct Replacement {
  std::string kind;
  std::string secret;  ///< the replaced text: the whole match, or group 1 of a group_only pattern
};

struct Redaction {
  std::optional<std::string> aborted;  ///< the kind of the pattern whose search the engine gave up
  std::string redacted;
  std::vector<Replacement> found;
  bool contains = false;  ///< some pattern matches the input
};

inline Redaction redact(std::string_view input) {
  const auto& patterns = redaction_patterns();
  Redaction out;
  for (const CompiledPattern& p : patterns) {
    auto m = p.regex.search(input);
    if (!m) return {p.kind, {}, {}, false};
    if (m.value()) {
      out.contains = true;
      break;
    }
  }
  std::string text(input);
  for (const CompiledPattern& p : patterns) {
    auto all = p.regex.find_all(text);
    if (!all) return {p.kind, {}, {}, false};
    const std::string marker = "[REDACTED:" + p.kind + "]";
    std::string next;
    std::size_t pos = 0;
    for (const Match& m : all.value()) {
      const Span w = m.whole();
      std::string replacement = marker;
      std::string_view replaced = std::string_view(text).substr(w.begin, w.end - w.begin);
      if (p.group_only) {
        const Span g = m.groups[1];
        if (!g.matched() || g.end == g.begin) continue;
        const std::string group = text.substr(g.begin, g.end - g.begin);
        std::string whole(replaced);
        whole.replace(whole.find(group), group.size(), marker);
        replacement = whole;
        replaced = std::string_view(text).substr(g.begin, g.end - g.begin);
      }
      next += text.substr(pos, w.begin - pos) + replacement;
      pos = w.end;
      out.found.push_back({p.kind, std::string(replaced)});
    }
    text = next + text.substr(pos);
  }
  out.redacted = std::move(text);
  return out;
}

}  // namespace vardex::plain
