#include "normalize.h"

#include <simdjson.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "embedded.h"
#include "error.h"
#include "text.h"

namespace vardex {
namespace {

constexpr std::string_view kDocument = "normalize_data.json";

struct Tables {
  std::unordered_set<char32_t> invisible;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> invisible_ranges;
  std::unordered_map<char32_t, char32_t> confusables;
  struct Shift {
    std::uint32_t from_start, from_end, to_start;
  };
  std::vector<Shift> fullwidth_ranges;
};

[[noreturn]] void fault(std::string_view what) {
  throw InternalFault(std::string(kDocument) + ": " + std::string(what));
}

bool is_scalar(std::uint32_t cp) noexcept { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// An unsigned 32-bit hexadecimal number: an optional "+", then one or more hex digits.
std::uint32_t parse_codepoint(std::string_view s) {
  std::string_view digits = s;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) fault("invalid hex codepoint: cannot parse integer from empty string");
  std::uint64_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      fault("invalid hex codepoint: invalid digit found in string");
    }
    value = value * 16 + static_cast<std::uint64_t>(d);
    if (value > 0xFFFFFFFFu) fault("invalid hex codepoint: number too large to fit in target type");
  }
  return static_cast<std::uint32_t>(value);
}

std::uint32_t codepoint_of(simdjson::dom::element e) {
  std::string_view s;
  if (e.get_string().get(s) != simdjson::SUCCESS) fault("parse failed: expected a code point string");
  return parse_codepoint(s);
}

simdjson::dom::array array_of(simdjson::dom::element e, std::string_view key) {
  simdjson::dom::array a;
  if (e.get_array().get(a) != simdjson::SUCCESS) fault("parse failed: `" + std::string(key) + "` must be an array");
  return a;
}

simdjson::dom::element member(simdjson::dom::object o, std::string_view key) {
  simdjson::dom::element e;
  if (o[key].get(e) != simdjson::SUCCESS) fault("parse failed: missing field `" + std::string(key) + "`");
  return e;
}

Tables build_tables() {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (const auto err = parser.parse(embedded::normalize_data_json.data(), embedded::normalize_data_json.size())
                           .get(root);
      err != simdjson::SUCCESS) {
    fault(std::string("parse failed: ") + simdjson::error_message(err));
  }
  simdjson::dom::object doc;
  if (root.get_object().get(doc) != simdjson::SUCCESS) fault("parse failed: expected an object");
  const std::string_view required[] = {"invisible_singletons", "invisible_ranges", "confusables",
                                       "fullwidth_ranges"};
  for (std::string_view key : required) {
    int count = 0;
    for (auto field : doc) count += field.key == key;
    if (count == 0) fault("parse failed: missing field `" + std::string(key) + "`");
    if (count > 1) fault("parse failed: duplicate field `" + std::string(key) + "`");
  }

  Tables t;
  for (auto e : array_of(doc["invisible_singletons"].value_unsafe(), "invisible_singletons")) {
    const std::uint32_t cp = codepoint_of(e);
    if (!is_scalar(cp)) fault("invalid singleton codepoint");
    t.invisible.insert(cp);
  }
  for (auto e : array_of(doc["invisible_ranges"].value_unsafe(), "invisible_ranges")) {
    auto pair = array_of(e, "invisible_ranges");
    if (pair.size() != 2) fault("parse failed: a range is a pair [start, end]");
    t.invisible_ranges.emplace_back(codepoint_of(pair.at(0).value_unsafe()), codepoint_of(pair.at(1).value_unsafe()));
  }
  for (auto e : array_of(doc["confusables"].value_unsafe(), "confusables")) {
    simdjson::dom::object entry;
    if (e.get_object().get(entry) != simdjson::SUCCESS) fault("parse failed: a confusable is an object");
    const std::uint32_t from = codepoint_of(member(entry, "from"));
    if (!is_scalar(from)) fault("bad confusable.from");
    std::string_view to;
    if (member(entry, "to").get_string().get(to) != simdjson::SUCCESS) fault("parse failed: confusable.to is a string");
    const std::size_t chars = char_count(to);
    if (chars != 1) {
      fault("confusable.to must be a single char (got \"" + std::string(to) + "\"): found " + std::to_string(chars) +
            " chars, expected 1");
    }
    std::size_t pos = 0;
    t.confusables.insert_or_assign(from, next_code_point(to, pos));
  }
  for (auto e : array_of(doc["fullwidth_ranges"].value_unsafe(), "fullwidth_ranges")) {
    simdjson::dom::object entry;
    if (e.get_object().get(entry) != simdjson::SUCCESS) fault("parse failed: a fullwidth range is an object");
    t.fullwidth_ranges.push_back({codepoint_of(member(entry, "from_start")), codepoint_of(member(entry, "from_end")),
                                  codepoint_of(member(entry, "to_start"))});
  }
  return t;
}

const Tables& tables() {
  static std::once_flag once;
  static std::optional<Tables> built;
  std::call_once(once, [] { built.emplace(build_tables()); });
  return *built;
}

const icu::Normalizer2& nfkc() {
  static const icu::Normalizer2* instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status)) throw InternalFault(std::string("NFKC data unavailable: ") + u_errorName(status));
    return n;
  }();
  return *instance;
}

std::string to_nfkc(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  nfkc().normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr, status);
  if (U_FAILURE(status)) throw InternalFault(std::string("NFKC failed: ") + u_errorName(status));
  return out;
}

std::string apply_tables(const Tables& t, std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {  // no table entry is ASCII
      out.push_back(static_cast<char>(byte));
      ++pos;
      continue;
    }
    const char32_t c = next_code_point(text, pos);
    if (t.invisible.contains(c)) continue;
    bool removed = false;
    for (const auto& [start, end] : t.invisible_ranges) {
      if (start <= c && c <= end) {
        removed = true;
        break;
      }
    }
    if (removed) continue;
    if (const auto it = t.confusables.find(c); it != t.confusables.end()) {
      append_utf8(out, it->second);
      continue;
    }
    char32_t mapped = c;
    for (const auto& r : t.fullwidth_ranges) {
      if (r.from_start <= c && c <= r.from_end) {
        const std::uint64_t shifted = std::uint64_t{c} - r.from_start + r.to_start;
        if (shifted <= 0xFFFFFFFFu && is_scalar(static_cast<std::uint32_t>(shifted))) {
          mapped = static_cast<char32_t>(shifted);
        }
        break;
      }
    }
    append_utf8(out, mapped);
  }
  return out;
}

}  // namespace

std::string normalize_for_matching(std::string_view text) {
  const Tables& t = tables();
  // ASCII is already NFKC and holds no table character.
  if (is_ascii(text)) return std::string(text);
  return apply_tables(t, to_nfkc(text));
}

bool contains_evasion_characters(std::string_view text) { return normalize_for_matching(text) != text; }

}  // namespace vardex
