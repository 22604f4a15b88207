// Applies the redaction patterns the plain way (each pattern searched over the whole working
// text with no prefilter) for the differential test of the fast redaction passes. Input on
// stdin: records "<byte length>\n<text>". Output: one JSON object per record,
// {"redacted": ..., "found": [[kind, length], ...], "contains": bool}, or {"aborted": kind}
// when the engine gives up a search.
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "redaction.h"
#include "text.h"

namespace {

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string plain(std::string_view input) {
  using namespace vardex;
  const auto& patterns = redaction_patterns();
  std::string contains = "false";
  for (const CompiledPattern& p : patterns) {
    auto m = p.regex.search(input);
    if (!m) return "{\"aborted\": " + json_string(p.kind) + "}";
    if (m.value()) {
      contains = "true";
      break;
    }
  }
  std::string text(input);
  std::string found;
  for (const CompiledPattern& p : patterns) {
    auto all = p.regex.find_all(text);
    if (!all) return "{\"aborted\": " + json_string(p.kind) + "}";
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
      found += std::string(found.empty() ? "" : ", ") + "[" + json_string(p.kind) + ", " +
               std::to_string(utf16_length(replaced)) + "]";
    }
    text = next + text.substr(pos);
  }
  return "{\"redacted\": " + json_string(text) + ", \"found\": [" + found + "], \"contains\": " + contains + "}";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string text(std::stoul(line), '\0');
    std::cin.read(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout << plain(text) << '\n';
  }
}
