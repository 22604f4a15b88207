// Applies the redaction patterns the plain way (redaction_plain.h) for the differential test
// of the fast redaction passes. Input on stdin: records "<byte length>\n<text>". Output: one
// JSON object per record, {"redacted": ..., "found": [[kind, length], ...], "contains": bool},
// or {"aborted": kind} when the engine gives up a search.
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "redaction_plain.h"
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
  const vardex::plain::Redaction r = vardex::plain::redact(input);
  if (r.aborted) return "{\"aborted\": " + json_string(*r.aborted) + "}";
  std::string found;
  for (const vardex::plain::Replacement& m : r.found) {
    found += std::string(found.empty() ? "" : ", ") + "[" + json_string(m.kind) + ", " +
             std::to_string(vardex::utf16_length(m.secret)) + "]";
  }
  return "{\"redacted\": " + json_string(r.redacted) + ", \"found\": [" + found +
         "], \"contains\": " + (r.contains ? "true" : "false") + "}";
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
