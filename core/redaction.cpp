#include "redaction.h"

#include <simdjson.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <bit>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "embedded.h"
#include "error.h"
#include "text.h"

namespace vardex {
namespace {

constexpr std::string_view kDocument = "redaction_patterns.json";
constexpr std::size_t npos = Span::npos;

// ---------------------------------------------------------------------------------------
// Runs of token characters
//
// Every secret the table recognises (a key, a token, a labelled value) lies inside one
// maximal run of the characters [A-Za-z0-9_+/=.-] and of the two non-ASCII letters that
// fold to ASCII ones under case-insensitive matching ("ſ" and the Kelvin sign), a run of at
// least kMinRun characters; a key block's begin line ends with such a run. One scan lists
// these runs; each row then looks for its matches only at and around them.

constexpr std::size_t kMinRun = 10;

struct Run {
  std::size_t begin, end;  ///< byte offsets
};

constexpr std::array<bool, 256> kRunByte = [] {
  std::array<bool, 256> t{};
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = t[c + 32] = true;
  for (int c = '0'; c <= '9'; ++c) t[c] = true;
  for (char c : std::string_view("_+/=.-")) t[static_cast<unsigned char>(c)] = true;
  return t;
}();

// Byte length of the run character at `i`, or 0.
std::size_t run_char_at(std::string_view text, std::size_t i) noexcept {
  const auto c = static_cast<unsigned char>(text[i]);
  if (kRunByte[c]) return 1;
  if (c == 0xC5 && text.substr(i, 2) == "\u017F") return 2;
  if (c == 0xE2 && text.substr(i, 3) == "\u212A") return 3;
  return 0;
}

// Appends the maximal runs of at least kMinRun bytes within [begin, end): a stretch of bytes
// that can all be part of run characters, with none just outside. Stepping over other bytes
// one at a time never lands on a false run character: the run characters are ASCII or begin
// with a lead byte.
void scan_runs(std::string_view text, std::size_t begin, std::size_t end, std::vector<Run>& runs) {
  unsigned char high = 0;
  for (std::size_t i = begin; i < end; ++i) high |= static_cast<unsigned char>(text[i]);
  if (high < 0x80) {  // only ASCII run characters: one run
    if (end - begin >= kMinRun) runs.push_back({begin, end});
    return;
  }
  const std::string_view region = text.substr(0, end);
  std::size_t i = begin;
  while (i < end) {
    std::size_t len = run_char_at(region, i);
    if (len == 0) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    do {
      i += len;
    } while (i < end && (len = run_char_at(region, i)) != 0);
    if (i - start >= kMinRun) runs.push_back({start, i});
  }
}

// Bytes that can be part of a run character: the ASCII ones and every byte of "ſ" and of
// the Kelvin sign.
constexpr std::array<bool, 256> kRunPart = [] {
  std::array<bool, 256> t = kRunByte;
  for (unsigned char b : {0xC5, 0xBF, 0xE2, 0x84, 0xAA}) t[b] = true;
  return t;
}();

// Bit i set when text[at + i] (i < 64, at + i < text.size()) cannot be part of a run
// character, or lies past the end.
std::uint64_t other_bytes(std::string_view text, std::size_t at) noexcept {
  const std::size_t n = std::min<std::size_t>(64, text.size() - at);
  std::uint64_t bits = n == 64 ? 0 : ~std::uint64_t{0} << n;
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at + i));
    auto in_range = [](__m128i v, char low, int count) {  // low <= v < low + count, unsigned
      const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low + 128)));
      return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + count)));
    };
    auto eq = [&](int b) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(b))); };
    __m128i part = _mm_or_si128(in_range(_mm_or_si128(x, _mm_set1_epi8(0x20)), 'a', 26), in_range(x, '0', 10));
    part = _mm_or_si128(part, _mm_or_si128(in_range(x, '-', 3), _mm_or_si128(eq('+'), eq('='))));
    part = _mm_or_si128(part, _mm_or_si128(eq('_'), _mm_or_si128(eq(0xC5), eq(0xBF))));
    part = _mm_or_si128(part, _mm_or_si128(eq(0xE2), _mm_or_si128(eq(0x84), eq(0xAA))));
    bits |= std::uint64_t{static_cast<std::uint16_t>(~_mm_movemask_epi8(part))} << i;
  }
#endif
  for (; i < n; ++i) {
    if (!kRunPart[static_cast<unsigned char>(text[at + i])]) bits |= std::uint64_t{1} << i;
  }
  return bits;
}

// Appends the maximal runs of at least kMinRun bytes within [begin, end), in order, where
// `begin` is 0 or follows a byte that cannot be part of a run character, and `end` is the end
// of the text or such a byte. Stretches of bytes that can be part of run characters are
// found 64 bytes at a time; only those of at least kMinRun bytes (in prose: few) are scanned
// character by character.
void find_runs(std::string_view text, std::size_t begin, std::size_t end, std::vector<Run>& runs) {
  const std::string_view region = text.substr(0, end);
  auto below = [](std::size_t bit) { return bit >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bit) - 1; };
  std::size_t stretch = begin;  // start of the stretch that reaches the current block
  std::size_t block = begin;
  for (; block + 64 <= end; block += 64) {
    const std::uint64_t other = other_bytes(region, block);
    if (other == 0) continue;
    const std::size_t first = block + static_cast<std::size_t>(std::countr_zero(other));
    if (first >= stretch + kMinRun) scan_runs(text, stretch, first, runs);
    // Bit i of `ten`: bytes i to i + 9 of the block can all be part of run characters. Each
    // such stretch after the first separator is visited once, from separator to separator.
    static_assert(kMinRun == 10);
    const std::uint64_t part = ~other;
    const std::uint64_t two = part & (part >> 1), four = two & (two >> 2), eight = four & (four >> 4);
    std::uint64_t ten = eight & (two >> 8) & ~below(first - block + 1);
    while (ten != 0) {
      const auto i = static_cast<std::size_t>(std::countr_zero(ten));
      const std::uint64_t after = other >> i;
      if (after == 0) break;  // it runs on into the next block
      const std::size_t start = 64 - static_cast<std::size_t>(std::countl_zero(other & below(i)));
      const std::size_t stop = i + static_cast<std::size_t>(std::countr_zero(after));
      scan_runs(text, block + start, block + stop, runs);
      ten &= ~below(stop);
    }
    stretch = block + 64 - static_cast<std::size_t>(std::countl_zero(other));  // after the last separator
  }
  for (std::uint64_t other = block < end ? other_bytes(region, block) : 0; other != 0; other &= other - 1) {
    const std::size_t pos = block + static_cast<std::size_t>(std::countr_zero(other));
    if (pos >= end) break;
    if (pos >= stretch + kMinRun) scan_runs(text, stretch, pos, runs);
    stretch = pos + 1;
  }
  if (end >= stretch + kMinRun) scan_runs(text, stretch, end, runs);
}

// The runs of a text, and among them those of at least kLong bytes, all that most rows need.
struct Runs {
  static constexpr std::size_t kLong = 20;
  std::vector<Run> all, long_ones;

  void select_long() {
    long_ones.clear();
    for (const Run& r : all) {
      if (r.end - r.begin >= kLong) long_ones.push_back(r);
    }
  }
  // A list holding every run of at least `n` bytes.
  const std::vector<Run>& at_least(std::size_t n) const { return n >= kLong ? long_ones : all; }
};

// A replaced span of the working text.
struct Edit {
  std::size_t begin, end;
};

// The runs of the text after each of `edits` (in order, disjoint) was replaced by a marker:
// runs away from the edits shift, a run cut by edits keeps its pieces outside them, and the
// marker's own runs (`marker_runs`, offsets within the marker) appear. Nothing is rescanned:
// the marker begins and ends with characters that end any run.
std::vector<Run> runs_after_edits(const std::vector<Run>& runs, const std::vector<Edit>& edits,
                                  std::size_t marker_size, const std::vector<Run>& marker_runs) {
  std::vector<Run> out;
  out.reserve(runs.size() + edits.size() * marker_runs.size());
  std::size_t shift_up = 0, shift_down = 0;  // new position = old position + shift_up - shift_down
  std::size_t k = 0;
  std::size_t cut = 0;  // end of the last edit handled
  auto emit = [&](std::size_t b, std::size_t e) {
    if (e >= b + kMinRun) out.push_back({b + shift_up - shift_down, e + shift_up - shift_down});
  };
  auto handle_edit = [&] {
    const std::size_t at = edits[k].begin + shift_up - shift_down;
    for (const Run& r : marker_runs) out.push_back({at + r.begin, at + r.end});
    shift_up += marker_size;
    shift_down += edits[k].end - edits[k].begin;
    cut = edits[k].end;
    ++k;
  };
  for (const Run& r : runs) {
    std::size_t pos = std::max(r.begin, cut);
    while (k < edits.size() && edits[k].begin < r.end) {
      if (edits[k].begin > pos) emit(pos, edits[k].begin);
      handle_edit();
      pos = std::max(pos, cut);
    }
    if (pos < r.end) emit(pos, r.end);
  }
  while (k < edits.size()) handle_edit();
  return out;
}

// ---------------------------------------------------------------------------------------
// Character helpers

bool is_hex(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_alnum(char c) noexcept { return is_digit(c) || is_letter(c); }
// [A-Za-z0-9_-]: the characters of generic tokens and of JWT segments.
bool is_token(char c) noexcept { return is_alnum(c) || c == '_' || c == '-'; }
// [A-Za-z0-9+/]: the base64 alphabet.
bool is_base64(char c) noexcept { return is_alnum(c) || c == '+' || c == '/'; }

// The start of the character that ends at `pos` (> 0).
std::size_t char_start_before(std::string_view text, std::size_t pos) noexcept {
  do {
    --pos;
  } while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80);
  return pos;
}

// Whether a word character of \b ends at `pos` / starts at `pos`; the ends of the text are
// not word characters.
bool word_before(std::string_view text, std::size_t pos) {
  if (pos == 0) return false;
  std::size_t start = char_start_before(text, pos);
  return is_word_character(next_code_point(text, start));
}
bool word_at(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return false;
  return is_word_character(next_code_point(text, pos));
}

bool is_space(char32_t cp) noexcept {
  return cp < 0x80 ? (cp == ' ' || (cp >= '\t' && cp <= '\r')) : u_isUWhiteSpace(static_cast<UChar32>(cp));
}

// `pos` moved back over at most `count` characters.
std::size_t back_chars(std::string_view text, std::size_t pos, std::size_t count) noexcept {
  while (count-- > 0 && pos > 0) pos = char_start_before(text, pos);
  return pos;
}

// Whether `text` holds `needle` (lower-case ASCII) in any mix of cases.
bool contains_ascii_caseless(std::string_view text, std::string_view needle) noexcept {
  if (text.size() < needle.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    std::size_t j = 0;
    while (j < needle.size() && (text[i + j] | 0x20) == needle[j]) ++j;
    if (j == needle.size()) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// Where each row's matches can start

// How a row finds its matches. Every strategy yields exactly the matches of the row's
// pattern applied to the whole text; the differential test checks this against the plain
// patterns.
enum class Strategy : std::uint8_t {
  Prefixed,       ///< every match starts with `anchor` (at `anchor_offset`) after a non-word character
  Jwt,            ///< Prefixed; a failed start fails for the rest of its token run too
  AfterLiteral,   ///< every match is `anchor` directly followed by a run
  PrivateKey,     ///< armour begin line, the shortest body, armour end line
  AwsSecret,      ///< "secret" within a few characters before a run holding the 40-character value
  GenericToken,   ///< decided per token run without the engine
  Base64,         ///< decided per base64 run without the engine
  ContextSecret,  ///< a run that ends before a delimiter, after a ":" or "=" near a keyword
  Bearer,         ///< decided per run after white space without the engine
  Whole,          ///< no knowledge of the pattern: search the whole text
};

struct FastPath {
  std::string_view kind;
  Strategy strategy;
  std::string_view anchor = {};   ///< Prefixed, Jwt, AfterLiteral
  std::size_t anchor_offset = 0;  ///< Prefixed: where the anchor sits in the match
  std::string_view alternate = {};  ///< Prefixed: a second anchor at offset 0
};

constexpr FastPath kFastPaths[] = {
    {"anthropic", Strategy::Prefixed, "sk-ant-"},
    {"openai_project", Strategy::Prefixed, "sk-proj-"},
    {"openai", Strategy::Prefixed, "sk-"},
    {"github", Strategy::Prefixed, "gh", 0, "github_pat_"},
    {"google", Strategy::Prefixed, "AIza"},
    {"google_oauth", Strategy::Prefixed, "ya29."},
    {"aws_access_key", Strategy::Prefixed, "A"},
    {"stripe", Strategy::Prefixed, "k_", 1},
    {"slack", Strategy::Prefixed, "xox"},
    {"slack_webhook", Strategy::AfterLiteral, "https:"},
    {"sendgrid", Strategy::Prefixed, "SG."},
    {"twilio_sid", Strategy::Prefixed, "AC"},
    {"mailgun", Strategy::Prefixed, "key-"},
    {"npm_token", Strategy::Prefixed, "npm_"},
    {"jwt", Strategy::Jwt, "eyJ"},
    {"private_key_pem", Strategy::PrivateKey},
    {"aws_secret_key", Strategy::AwsSecret},
    {"generic_token", Strategy::GenericToken},
    {"base64", Strategy::Base64},
    {"context_secret", Strategy::ContextSecret},
    {"bearer", Strategy::Bearer},
};

// Successive non-overlapping matches of one row, collected from left to right.
struct Matches {
  bool first_only = false;  ///< detection: one match is enough
  std::size_t resume = 0;   ///< no match may start before this offset (end of the last match)
  std::vector<Match> found;

  bool done() const noexcept { return first_only && !found.empty(); }
  void add(Match m) {
    resume = m.whole().end;
    found.push_back(std::move(m));
  }
  void add(std::size_t begin, std::size_t end) { add(Match{{Span{begin, end}}}); }
};

struct Row {
  const CompiledPattern* pattern;
  FastPath fast;
  std::size_t min_length;  ///< lower bound of a match's length in characters (so in bytes)
};

// Facts about one text that are costly to find and shared by its candidates (and by the
// chunks of a detection), found when first needed.
struct TextFacts {
  std::size_t hex_tail = npos;      ///< start of the trailing hex digits; npos until known
  std::size_t end_line = npos;      ///< the last armour end line found, and its end
  std::size_t end_line_end = npos;
  std::size_t end_scanned = 0;      ///< no end line starts in [end_line + 1, end_scanned)
};

struct Pass {
  const Row& row;
  std::string_view text;
  const Runs& runs;
  TextFacts& facts;
  Matches& out;
};

using SearchStatus = Result<void, MatchError>;

// The leftmost match starting at or after `start` and at or before `start_limit`.
SearchStatus search_from(Pass& p, std::size_t start, std::size_t start_limit, bool* found = nullptr) {
  auto r = p.row.pattern->regex.search(p.text, start, start_limit);
  if (!r) return std::move(r).error();
  if (found != nullptr) *found = r.value().has_value();
  if (r.value()) p.out.add(std::move(*r.value()));
  return {};
}

// Searches windows of start positions [begin, limit], in order; overlapping windows merge.
struct Windows {
  std::vector<Run> spans;  ///< begin = first start (a character boundary), end = last start
  void add(std::size_t begin, std::size_t limit) {
    if (!spans.empty() && begin <= spans.back().end) {
      spans.back().end = std::max(spans.back().end, limit);
    } else {
      spans.push_back({begin, limit});
    }
  }
};

SearchStatus search_windows(Pass& p, const Windows& windows) {
  for (const Run& w : windows.spans) {
    std::size_t start = std::max(w.begin, p.out.resume);
    while (start <= w.end && start <= p.text.size() && !p.out.done()) {
      bool found = false;
      if (auto s = search_from(p, start, w.end, &found); !s) return s;
      if (!found) break;
      const Span m = p.out.found.back().whole();
      start = m.end;
      if (m.end == m.begin) {  // an empty match: step over one character
        if (start >= p.text.size()) return {};
        start += 1;
        while (start < p.text.size() && (static_cast<unsigned char>(p.text[start]) & 0xC0) == 0x80) ++start;
      }
    }
    if (p.out.done()) return {};
  }
  return {};
}

// Rows whose matches start with a literal right after a non-word character: each occurrence
// of the anchor inside a long enough run is one candidate start.
SearchStatus match_prefixed(Pass& p) {
  const FastPath& f = p.row.fast;
  const bool jwt = f.strategy == Strategy::Jwt;
  for (const Run& r : p.runs.at_least(p.row.min_length)) {
    if (r.end - r.begin < p.row.min_length || r.end <= p.out.resume) continue;
    const std::string_view run = p.text.substr(r.begin, r.end - r.begin);
    // The next start from each anchor (npos when exhausted); candidates in increasing order.
    auto next = [&](std::string_view anchor, std::size_t offset, std::size_t from) {
      const std::size_t at = run.find(anchor, from + offset);
      return at == std::string_view::npos ? npos : at - offset;
    };
    std::size_t a = next(f.anchor, f.anchor_offset, 0);
    std::size_t b = f.alternate.empty() ? npos : next(f.alternate, 0, 0);
    std::size_t skip_until = 0;
    while (a != npos || b != npos) {
      const std::size_t start = std::min(a, b);
      if (a == start) a = next(f.anchor, f.anchor_offset, start + 1);
      if (b == start) b = next(f.alternate, 0, start + 1);
      const std::size_t c = r.begin + start;
      if (c < p.out.resume || c < skip_until || word_before(p.text, c)) continue;
      bool found = false;
      if (auto s = search_from(p, c, c, &found); !s) return s;
      if (p.out.done()) return {};
      if (!found && jwt) {
        // The first segment of any later start in this token run ends where this one's
        // does, and the rest is the same: they fail alike.
        skip_until = c;
        while (skip_until < p.text.size() && is_token(p.text[skip_until])) ++skip_until;
      }
    }
  }
  return {};
}

// A URL row: the scheme's colon ends the run before it, so a match is the literal followed
// by the start of a run.
SearchStatus match_after_literal(Pass& p) {
  const std::string_view literal = p.row.fast.anchor;
  const std::size_t min_run = p.row.min_length > literal.size() ? p.row.min_length - literal.size() : 0;
  for (const Run& r : p.runs.at_least(min_run)) {
    if (r.end - r.begin < min_run || r.begin < literal.size()) continue;
    const std::size_t c = r.begin - literal.size();
    if (c < p.out.resume || p.text.substr(c, literal.size()) != literal) continue;
    if (auto s = search_from(p, c, c); !s) return s;
    if (p.out.done()) return {};
  }
  return {};
}

// Key blocks: "-----BEGIN " + label + "-----", the shortest body, "-----END " + label +
// "-----", where each label is [A-Z ]* ending in "PRIVATE KEY". Decided without the engine:
// with the begin lines in order and the end lines found by one forward scan, a text of many
// begin lines and no end line costs one pass instead of one pass per begin line.
constexpr std::string_view kBeginHead = "-----BEGIN ";
constexpr std::string_view kEndHead = "-----END ";
constexpr std::string_view kLabelTail = "PRIVATE KEY";
constexpr std::string_view kDashes = "-----";

// The end of the armour line with `head` at `pos`, or npos. The label's [A-Z ]* cannot
// reach past the dashes, so the line has one possible extent.
std::size_t armour_line_end(std::string_view text, std::size_t pos, std::string_view head) {
  if (text.substr(pos, head.size()) != head) return npos;
  std::size_t j = pos + head.size();
  const std::size_t label = j;
  while (j < text.size() && ((text[j] >= 'A' && text[j] <= 'Z') || text[j] == ' ')) ++j;
  if (j - label < kLabelTail.size() || text.substr(j - kLabelTail.size(), kLabelTail.size()) != kLabelTail ||
      text.substr(j, kDashes.size()) != kDashes) {
    return npos;
  }
  return j + kDashes.size();
}

// The first armour end line at or after `from`: its start and end, or npos. One forward
// scan serves every begin line of a text, which come in increasing order.
std::pair<std::size_t, std::size_t> first_end_line(std::string_view text, TextFacts& f, std::size_t from) {
  if (f.end_line != npos && f.end_line >= from) return {f.end_line, f.end_line_end};
  for (std::size_t q = text.find(kEndHead, std::max(from, f.end_scanned)); q != std::string_view::npos;
       q = text.find(kEndHead, q + 1)) {
    if (const std::size_t e = armour_line_end(text, q, kEndHead); e != npos) {
      f.end_line = q;
      f.end_line_end = e;
      f.end_scanned = q + 1;
      return {q, e};
    }
  }
  f.end_line = npos;
  f.end_scanned = text.size();
  return {npos, npos};
}

SearchStatus match_private_keys(Pass& p) {
  const std::string_view begin_word = kBeginHead.substr(0, kBeginHead.size() - 1);  // "-----BEGIN"
  for (const Run& r : p.runs.at_least(begin_word.size())) {
    // The space after "BEGIN" ends the run, so a begin line ends a run.
    if (r.end - r.begin < begin_word.size() || r.end >= p.text.size() || p.text[r.end] != ' ') continue;
    const std::size_t c = r.end - begin_word.size();
    if (c < p.out.resume || p.text.substr(c, begin_word.size()) != begin_word) continue;
    const std::size_t body = armour_line_end(p.text, c, kBeginHead);
    if (body == npos) continue;
    const auto [end_line, end] = first_end_line(p.text, p.facts, body);
    if (end_line == npos) return {};  // no end line: no later begin line can match either
    p.out.add(c, end);
    if (p.out.done()) return {};
  }
  return {};
}

// The 40-character value lies in a run; the keyword, which always holds "secret", and at
// most ten separator characters come directly before it.
SearchStatus match_aws_secret(Pass& p) {
  constexpr std::size_t kValue = 40, kKeywordAndSeparator = 17 + 10;
  Windows windows;
  for (const Run& r : p.runs.at_least(kValue)) {
    if (r.end - r.begin < kValue) continue;
    const std::size_t begin = back_chars(p.text, r.begin, kKeywordAndSeparator);
    if (!contains_ascii_caseless(p.text.substr(begin, r.end - begin), "ecret")) continue;
    windows.add(begin, r.end - kValue);
  }
  return search_windows(p, windows);
}

// generic_token, decided per maximal run of [A-Za-z0-9_-]. Within one such run every start
// sees the same run end, so: the match is [start, B) where B is the last word boundary in
// the run (the greedy repetition backs off to it), and the start is the first position with
// a word boundary, a digit and a letter ahead in the run, at least 32 characters before B,
// not a UUID, and not followed by hexadecimal digits only up to the end of the text. At
// most one match per run; linear time where the pattern's look-aheads rescan the run from
// every start.
SearchStatus match_generic_tokens(Pass& p) {
  constexpr std::size_t kMin = 32;
  const std::string_view t = p.text;
  std::size_t& hex_tail = p.facts.hex_tail;
  if (hex_tail == npos) {
    hex_tail = t.size();
    while (hex_tail > 0 && is_hex(t[hex_tail - 1])) --hex_tail;
  }
  auto is_word_byte = [](char c) { return c != '-'; };  // within [A-Za-z0-9_-]
  auto uuid_at = [&](std::size_t q) {
    constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    if (q + kShape.size() > t.size()) return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
      if (kShape[i] == '-' ? t[q + i] != '-' : !is_hex(t[q + i])) return false;
    }
    return !word_at(t, q + kShape.size());
  };
  for (const Run& r : p.runs.at_least(kMin)) {
    if (r.end - r.begin < kMin) continue;
    std::size_t i = r.begin;
    while (i < r.end) {
      while (i < r.end && !is_token(t[i])) ++i;
      const std::size_t begin = i;
      while (i < r.end && is_token(t[i])) ++i;
      const std::size_t end = i;
      if (end - begin < kMin || end <= p.out.resume) continue;
      std::size_t boundary = 0;
      if (is_word_byte(t[end - 1]) != word_at(t, end)) {
        boundary = end;
      } else {
        for (std::size_t j = end - 1; j > begin; --j) {
          if (is_word_byte(t[j - 1]) != is_word_byte(t[j])) {
            boundary = j;
            break;
          }
        }
      }
      if (boundary < begin + kMin) continue;
      std::size_t last_digit = npos, last_letter = npos;
      for (std::size_t j = end; j-- > begin && (last_digit == npos || last_letter == npos);) {
        if (last_digit == npos && is_digit(t[j])) last_digit = j;
        if (last_letter == npos && is_letter(t[j])) last_letter = j;
      }
      if (last_digit == npos || last_letter == npos) continue;
      const std::size_t last_start = std::min({boundary - kMin, last_digit, last_letter});
      for (std::size_t q = std::max(begin, p.out.resume); q <= last_start; ++q) {
        const bool word_boundary =
            q == begin ? word_before(t, q) != is_word_byte(t[q]) : is_word_byte(t[q - 1]) != is_word_byte(t[q]);
        if (!word_boundary || q >= hex_tail || uuid_at(q)) continue;
        p.out.add(q, boundary);
        if (p.out.done()) return {};
        break;
      }
    }
  }
  return {};
}

// base64, decided per maximal run of [A-Za-z0-9+/]: only its first character passes the
// look-behind, the look-aheads ask for a "+" or "/", a digit and a letter in the run, and
// the greedy run with up to two "=" must not be followed by another base64 character or
// "=" (backing off cannot help: every shorter end is followed by one).
SearchStatus match_base64(Pass& p) {
  constexpr std::size_t kMin = 40;
  const std::string_view t = p.text;
  for (const Run& r : p.runs.at_least(kMin)) {
    if (r.end - r.begin < kMin) continue;
    std::size_t i = r.begin;
    while (i < r.end) {
      while (i < r.end && !is_base64(t[i])) ++i;
      const std::size_t begin = i;
      bool symbol = false, digit = false, letter = false;
      for (; i < r.end && is_base64(t[i]); ++i) {
        symbol |= t[i] == '+' || t[i] == '/';
        digit |= is_digit(t[i]);
        letter |= is_letter(t[i]);
      }
      const std::size_t end = i;
      if (end - begin < kMin || begin < p.out.resume || !(symbol && digit && letter)) continue;
      std::size_t stop = end;
      while (stop < end + 2 && stop < t.size() && t[stop] == '=') ++stop;
      if (stop < t.size() && (is_base64(t[stop]) || t[stop] == '=')) continue;
      p.out.add(begin, stop);
      if (p.out.done()) return {};
    }
  }
  return {};
}

// The value is a whole run (its class is the run characters, and the delimiter after it is
// not one), so the run must end before a delimiter or at the end of the text. Before the
// value: a keyword of at most 13 characters, then quotes, white space and one ":" or "=".
bool is_delimiter_at(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return true;
  const char c = text[pos];
  if (std::string_view("\"',;)]}>").find(c) != std::string_view::npos) return true;
  return is_space(next_code_point(text, pos));
}

SearchStatus match_context_secrets(Pass& p) {
  constexpr std::size_t kValue = 12, kKeyword = 13;
  const std::string_view t = p.text;
  Windows windows;
  for (const Run& r : p.runs.at_least(kValue)) {
    if (r.end - r.begin < kValue || !is_delimiter_at(t, r.end)) continue;
    // Back over the separator: quotes, white space, ":" and "=".
    std::size_t sep = r.begin;
    bool assigns = false;
    while (sep > 0) {
      std::size_t prev = char_start_before(t, sep);
      std::size_t at = prev;
      const char32_t cp = next_code_point(t, at);
      if (cp == ':' || cp == '=') {
        assigns = true;
      } else if (cp != '"' && cp != '\'' && !is_space(cp)) {
        break;
      }
      sep = prev;
    }
    if (!assigns && t.substr(r.begin, r.end - kValue - r.begin).find('=') == std::string_view::npos) continue;
    windows.add(back_chars(t, sep, kKeyword), r.end - kValue);
  }
  return search_windows(p, windows);
}

// bearer, decided without the engine: the value starts a run (white space comes before it),
// so a match is "Bearer" (any case) not preceded by [A-Za-z0-9_], white space, and the
// longest stretch of [A-Za-z0-9._-] from the run's start that ends at a word boundary and
// holds at least 20 characters. The greedy repetition backs off to that boundary, which the
// engine does one step at a time.
bool is_caseless_ascii_word(char32_t cp) {  // [A-Za-z0-9_] under case-insensitive matching
  return cp == 0x17F || cp == 0x212A || (cp < 0x80 && (is_alnum(static_cast<char>(cp)) || cp == '_'));
}

SearchStatus match_bearer(Pass& p) {
  constexpr std::size_t kValue = 20;
  constexpr std::string_view kKeyword = "bearer";
  const std::string_view t = p.text;
  for (const Run& r : p.runs.at_least(kValue)) {
    if (r.end - r.begin < kValue) continue;
    std::size_t space = r.begin;
    while (space > 0) {
      std::size_t prev = char_start_before(t, space);
      std::size_t at = prev;
      if (!is_space(next_code_point(t, at))) break;
      space = prev;
    }
    if (space == r.begin || space < kKeyword.size()) continue;
    const std::size_t c = space - kKeyword.size();
    if (c < p.out.resume || !contains_ascii_caseless(t.substr(c, kKeyword.size()), kKeyword)) continue;
    if (c > 0) {
      std::size_t before = char_start_before(t, c);
      if (is_caseless_ascii_word(next_code_point(t, before))) continue;
    }
    // The value's characters: [A-Za-z0-9._-], and "ſ" and the Kelvin sign, which fold to
    // its letters; all but "." and "-" are word characters.
    std::size_t boundary = npos, count = 0, pos = r.begin;
    bool prev_word = false;
    while (pos < r.end) {
      std::size_t next = pos;
      const char32_t cp = next_code_point(t, next);
      const bool word = cp >= 0x80 || is_alnum(static_cast<char>(cp)) || cp == '_';
      if (!word && cp != '.' && cp != '-') break;  // "+", "/" or "=" end the value
      if (count >= kValue && word != prev_word) boundary = pos;
      prev_word = word;
      ++count;
      pos = next;
    }
    if (count >= kValue && prev_word != word_at(t, pos)) boundary = pos;
    if (boundary == npos) continue;
    p.out.add(Match{{Span{c, boundary}, Span{r.begin, boundary}}});
    if (p.out.done()) return {};
  }
  return {};
}

SearchStatus find_matches(Pass& p) {
  switch (p.row.fast.strategy) {
    case Strategy::Prefixed:
    case Strategy::Jwt:
      return match_prefixed(p);
    case Strategy::AfterLiteral:
      return match_after_literal(p);
    case Strategy::PrivateKey:
      return match_private_keys(p);
    case Strategy::AwsSecret:
      return match_aws_secret(p);
    case Strategy::GenericToken:
      return match_generic_tokens(p);
    case Strategy::Base64:
      return match_base64(p);
    case Strategy::ContextSecret:
      return match_context_secrets(p);
    case Strategy::Bearer:
      return match_bearer(p);
    case Strategy::Whole:
      break;
  }
  Windows whole;
  whole.add(0, p.text.size());
  return search_windows(p, whole);
}

// ---------------------------------------------------------------------------------------
// The table

struct Table {
  std::vector<CompiledPattern> patterns;
  std::vector<Row> rows;
  std::vector<std::string> markers;           ///< "[REDACTED:kind]" per row
  std::vector<std::vector<Run>> marker_runs;  ///< the runs inside each marker
};

[[noreturn]] void fault(std::string_view what) {
  throw InternalFault(std::string(kDocument) + ": " + std::string(what));
}

template <class T>
T member(simdjson::dom::object o, std::string_view key, std::size_t index) {
  T value;
  if (o[key].get(value) != simdjson::SUCCESS) {
    fault("parse failed: pattern " + std::to_string(index) + ": `" + std::string(key) + "` is missing or not a " +
          (std::is_same_v<T, bool> ? "boolean" : "string"));
  }
  return value;
}

Table build_table() {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  const auto doc = embedded::redaction_patterns_json;
  if (const auto err = parser.parse(doc.data(), doc.size()).get(root); err != simdjson::SUCCESS) {
    fault(std::string("parse failed: ") + simdjson::error_message(err));
  }
  simdjson::dom::array records;
  if (root["patterns"].get_array().get(records) != simdjson::SUCCESS) {
    fault("parse failed: `patterns` is missing or not an array");
  }
  Table t;
  std::size_t index = 0;
  for (auto element : records) {
    simdjson::dom::object o;
    if (element.get_object().get(o) != simdjson::SUCCESS) {
      fault("parse failed: pattern " + std::to_string(index) + " is not an object");
    }
    const auto kind = member<std::string_view>(o, "kind", index);
    const auto pattern = member<std::string_view>(o, "pattern", index);
    const auto flags = member<std::string_view>(o, "flags", index);
    const bool group_only = member<bool>(o, "group_only", index);
    auto compiled = Regex::compile(pattern, flags.find('i') != std::string_view::npos);
    if (!compiled) {
      fault("compile failed: " + VardexError::redaction_pattern(kind, compiled.error()).message());
    }
    t.patterns.push_back({std::string(kind), std::move(compiled).value(), group_only});
    ++index;
  }
  for (const CompiledPattern& cp : t.patterns) {
    FastPath fast{cp.kind, Strategy::Whole};
    for (const FastPath& f : kFastPaths) {
      if (f.kind == cp.kind) fast = f;
    }
    t.rows.push_back({&cp, fast, cp.regex.min_length()});
    t.markers.push_back("[REDACTED:" + cp.kind + "]");
    t.marker_runs.emplace_back();
    find_runs(t.markers.back(), 0, t.markers.back().size(), t.marker_runs.back());
  }
  return t;
}

const Table& table() {
  static std::once_flag once;
  static std::optional<Table> built;
  std::call_once(once, [] { built.emplace(build_table()); });
  return *built;
}

}  // namespace

const std::vector<CompiledPattern>& redaction_patterns() { return table().patterns; }

RedactResult redact_secrets(std::string_view text) {
  RedactResult result;
  if (text.empty()) return result;
  const Table& t = table();
  // The working text once a pass has replaced something, and the buffer for the next one:
  // two buffers that trade places keep their capacity across passes.
  std::string storage, next;
  std::string_view current = text;
  Runs runs;
  find_runs(current, 0, current.size(), runs.all);
  runs.select_long();
  std::vector<Edit> edits;
  TextFacts facts;  // of `current`
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const Row& row = t.rows[i];
    Matches matches;
    Pass pass{row, current, runs, facts, matches};
    if (auto s = find_matches(pass); !s) {
      throw InternalFault("redaction search aborted for kind " + row.pattern->kind + ": " + s.error().message);
    }
    if (matches.found.empty()) continue;
    edits.clear();
    for (const Match& m : matches.found) {
      const Span whole = m.whole();
      if (!row.pattern->group_only) {
        edits.push_back({whole.begin, whole.end});
        result.found.push_back({row.pattern->kind, utf16_length(current.substr(whole.begin, whole.end - whole.begin))});
        continue;
      }
      if (m.groups.size() < 2 || !m.groups[1].matched() || m.groups[1].end == m.groups[1].begin) continue;
      const std::string_view group = current.substr(m.groups[1].begin, m.groups[1].end - m.groups[1].begin);
      const std::size_t first = current.substr(whole.begin, whole.end - whole.begin).find(group);
      edits.push_back({whole.begin + first, whole.begin + first + group.size()});
      result.found.push_back({row.pattern->kind, utf16_length(group)});
    }
    if (edits.empty()) continue;
    const std::string& marker = t.markers[i];
    next.clear();
    next.reserve(current.size() + edits.size() * marker.size());
    std::size_t pos = 0;
    for (const Edit& e : edits) {
      next.append(current.substr(pos, e.begin - pos));
      next += marker;
      pos = e.end;
    }
    next.append(current.substr(pos));
    runs.all = runs_after_edits(runs.all, edits, marker.size(), t.marker_runs[i]);
    runs.select_long();
    storage.swap(next);
    current = storage;
    facts = {};
  }
  result.redacted = current.data() == text.data() ? std::string(text) : std::move(storage);
  return result;
}

// Detection works chunk by chunk, each ending at a byte that no run crosses: whether a row
// matches does not depend on the order in which its candidates are tried, and a text with a
// secret near its start is answered without scanning the rest.
bool contains_secret(std::string_view text) {
  constexpr std::size_t kChunk = 64 * 1024;
  if (text.empty()) return false;
  const Table& t = table();
  TextFacts facts;
  Runs runs;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t to = std::min(text.size(), from + kChunk);
    while (to < text.size() && kRunPart[static_cast<unsigned char>(text[to])]) ++to;
    runs.all.clear();
    find_runs(text, from, to, runs.all);
    runs.select_long();
    for (const Row& row : t.rows) {
      Matches matches;
      matches.first_only = true;
      Pass pass{row, text, runs, facts, matches};
      if (!find_matches(pass) || !matches.found.empty()) return true;
    }
    from = to;
  }
  return false;
}

}  // namespace vardex
