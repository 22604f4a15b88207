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

  // What the table does with a character, by the lookups above in their order: kKeep,
  // kRemove, or the replacement character.
  static constexpr char32_t kKeep = 0xFFFFFFFF;
  static constexpr char32_t kRemove = 0xFFFFFFFE;
  char32_t action(char32_t c) const;
  bool ascii_untouched = true;  ///< no ASCII character is removed or replaced

  // The walk's plan for each character of the Basic Multilingual Plane, so that NFKC and
  // the table run in one pass with one array read per character:
  //  kPass     the character starts a normalisation segment and comes out unchanged;
  //  kContext  NFKC may join it with the characters before it (a combining mark, say):
  //            its segment goes through ICU;
  //  otherwise the character starts a segment and its final UTF-8 (NFKC, then the table)
  //            is `pool.substr(plan >> 8, plan & 0xFF)`.
  static constexpr std::uint32_t kPass = 0xFFFFFFFF;
  static constexpr std::uint32_t kContext = 0xFFFFFFFE;
  std::vector<std::uint32_t> bmp_plan;
  std::string pool;
  // kPass as one bit per character: 8 KiB that stay in the first-level cache.
  std::vector<std::uint64_t> bmp_pass;
  bool passes(char32_t c) const noexcept { return (bmp_pass[c >> 6] >> (c & 63)) & 1; }
  void precompute();
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
  t.precompute();
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

// NFKC of `text` into `out` (replacing its content, keeping its buffer).
void nfkc_into(std::string_view text, std::string& out) {
  out.clear();
  icu::StringByteSink<std::string> sink(&out);
  UErrorCode status = U_ZERO_ERROR;
  nfkc().normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr, status);
  if (U_FAILURE(status)) throw InternalFault(std::string("NFKC failed: ") + u_errorName(status));
}

char32_t Tables::action(char32_t c) const {
  if (invisible.contains(c)) return kRemove;
  for (const auto& [start, end] : invisible_ranges) {
    if (start <= c && c <= end) return kRemove;
  }
  if (const auto it = confusables.find(c); it != confusables.end()) return it->second;
  for (const auto& r : fullwidth_ranges) {
    if (r.from_start <= c && c <= r.from_end) {
      const std::uint64_t shifted = std::uint64_t{c} - r.from_start + r.to_start;
      if (shifted <= 0xFFFFFFFFu && is_scalar(static_cast<std::uint32_t>(shifted))) return static_cast<char32_t>(shifted);
      return kKeep;
    }
  }
  return kKeep;
}

// Appends the characters of `text` (already in NFKC) to `out` with the table applied.
void append_with_tables(const Tables& t, std::string_view text, std::string& out) {
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = next_code_point(text, pos);
    const char32_t a = t.action(c);
    if (a == Tables::kKeep) {
      append_utf8(out, c);
    } else if (a != Tables::kRemove) {
      append_utf8(out, a);
    }
  }
}

// The final form of `text`: NFKC, then the table. `scratch` holds the NFKC text.
std::string final_form_of(const Tables& t, std::string_view text, std::string& scratch) {
  nfkc_into(text, scratch);
  std::string out;
  append_with_tables(t, scratch, out);
  return out;
}

void Tables::precompute() {
  for (char32_t c = 0; c < 0x80; ++c) ascii_untouched = ascii_untouched && action(c) == kKeep;
  bmp_plan.assign(0x10000, kContext);
  bmp_pass.assign(0x10000 / 64, 0);
  const icu::Normalizer2& n = nfkc();
  std::string scratch;
  for (char32_t c = 0; c < 0x10000; ++c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || !n.hasBoundaryBefore(static_cast<UChar32>(c))) continue;
    std::string own;
    append_utf8(own, c);
    const std::string final_form = final_form_of(*this, own, scratch);
    if (final_form == own) {
      bmp_plan[c] = kPass;
      bmp_pass[c >> 6] |= std::uint64_t{1} << (c & 63);
    } else {
      bmp_plan[c] = static_cast<std::uint32_t>(pool.size() << 8 | final_form.size());
      pool += final_form;
    }
  }
}

// Whether `c` starts a normalisation segment: nothing before it can join with it.
bool has_boundary_before(const Tables& t, char32_t c) {
  if (c < 0x10000) return t.bmp_plan[c] != Tables::kContext;
  return nfkc().hasBoundaryBefore(static_cast<UChar32>(c));
}

enum class Step { Pass, Replace, Context };

// What the walk does with `c`, whose UTF-8 is `own`; a replacement is set in `replacement`
// (pointing into the pool, or into `scratch` for a supplementary character).
inline Step plan_step(const Tables& t, char32_t c, std::string_view own, std::string_view& replacement,
                      std::string& scratch, std::string& nfkc_scratch) {
  if (c < 0x10000) {
    if (t.passes(c)) return Step::Pass;
    const std::uint32_t plan = t.bmp_plan[c];
    if (plan == Tables::kContext) return Step::Context;
    replacement = std::string_view(t.pool).substr(plan >> 8, plan & 0xFF);
    return Step::Replace;
  }
  if (!nfkc().hasBoundaryBefore(static_cast<UChar32>(c))) return Step::Context;
  scratch = final_form_of(t, own, nfkc_scratch);
  if (scratch == own) return Step::Pass;
  replacement = scratch;
  return Step::Replace;
}

// NFKC and the table in one walk. Characters that start a segment are passed or replaced by
// their planned form; at a character that depends on its context, the output goes back to
// the start of its segment and the whole segment, up to the next boundary, goes through ICU.
std::string matching_form(const Tables& t, std::string_view text) {
  const std::size_t n = text.size();
  std::string out;
  out.reserve(n);
  std::size_t run = 0;     // input [run, pos) holds passed characters not yet copied
  std::size_t seg_in = 0;  // input offset of the last segment start
  // Output length before that segment; kept only while the segment start lies before `run`
  // (a replaced character), otherwise it is out.size() + (seg_in - run).
  std::size_t seg_out = 0;
  std::size_t pos = 0;
  std::string scratch;       // the final form of a supplementary character
  std::string nfkc_scratch;  // NFKC of the segment at hand, its buffer reused
  while (pos < n) {
    if (t.ascii_untouched && static_cast<unsigned char>(text[pos]) < 0x80) {
      pos += ascii_prefix_length(text.substr(pos));
      seg_in = pos - 1;
      continue;
    }
    const std::size_t start = pos;
    const char32_t c = next_code_point(text, pos);
    std::string_view replacement;
    const Step step = plan_step(t, c, text.substr(start, pos - start), replacement, scratch, nfkc_scratch);
    if (step == Step::Pass) {
      seg_in = start;
      continue;
    }
    if (seg_in >= run) seg_out = out.size() + (seg_in - run);
    out.append(text, run, start - run);
    if (step == Step::Replace) {
      seg_in = start;
      seg_out = out.size();
      out += replacement;
      run = pos;
      continue;
    }
    std::size_t end = pos;
    while (end < n) {
      std::size_t next = end;
      if (has_boundary_before(t, next_code_point(text, next))) break;
      end = next;
    }
    out.resize(seg_out);
    nfkc_into(text.substr(seg_in, end - seg_in), nfkc_scratch);
    append_with_tables(t, nfkc_scratch, out);
    run = pos = seg_in = end;
    seg_out = out.size();
  }
  out.append(text, run, n - run);
  return out;
}

}  // namespace

std::string normalize_for_matching(std::string_view text) {
  const Tables& t = tables();
  // ASCII is already NFKC; with no ASCII entry in the table it comes back unchanged.
  if (t.ascii_untouched && is_ascii(text)) return std::string(text);
  return matching_form(t, text);
}

bool contains_evasion_characters(std::string_view text) { return normalize_for_matching(text) != text; }

}  // namespace vardex
