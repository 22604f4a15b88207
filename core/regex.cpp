#include "regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <new>
#include <string>

#include "text.h"

namespace vardex {
namespace {

// Word characters of \b: letters, marks, decimal digits, connector punctuation. PCRE2's own
// \w is letters, all numbers and "_", so \b is spelt out with look-arounds.
constexpr std::string_view kWord = "[\\p{L}\\p{M}\\p{Nd}\\p{Pc}]";
constexpr std::string_view kSpace = "\\p{White_Space}";
constexpr std::string_view kNotSpace = "\\P{White_Space}";
constexpr std::uint32_t kMatchLimit = 1'000'000;

bool is_ascii_word(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether the quantifier starting at `pos` (if any) allows zero repetitions.
bool optional_quantifier_at(std::string_view p, std::size_t pos) noexcept {
  if (pos >= p.size()) return false;
  if (p[pos] == '?' || p[pos] == '*') return true;
  return p[pos] == '{' && pos + 1 < p.size() && (p[pos + 1] == '0' || p[pos + 1] == ',');
}

// Length of the quantifier at `pos` ("*", "+", "?" or "{n}", "{n,}", "{n,m}", with an
// optional lazy "?" or possessive "+"), or 0 when there is none. A "?" right after "(" is
// group syntax, and "{" not followed by a count is a literal.
std::size_t quantifier_length(std::string_view p, std::size_t pos, bool after_group_open) noexcept {
  if (pos >= p.size()) return 0;
  std::size_t end = pos;
  const char c = p[pos];
  if (c == '*' || c == '+' || (c == '?' && !after_group_open)) {
    end = pos + 1;
  } else if (c == '{') {
    std::size_t j = pos + 1;
    const std::size_t digits_start = j;
    while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    if (j == digits_start) return 0;
    if (j < p.size() && p[j] == ',') {
      ++j;
      while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    }
    if (j >= p.size() || p[j] != '}') return 0;
    end = j + 1;
  } else {
    return 0;
  }
  if (end < p.size() && (p[end] == '?' || p[end] == '+')) ++end;
  return end - pos;
}

// Whether the character class whose body is p[begin, end) holds only ASCII word characters
// (letters, digits, "_" and ranges between them).
bool class_is_word_only(std::string_view body) noexcept {
  if (body.empty() || body.front() == '^') return false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (is_ascii_word(body[i])) continue;
    const bool range_dash = body[i] == '-' && i > 0 && i + 1 < body.size() && is_ascii_word(body[i - 1]) &&
                            is_ascii_word(body[i + 1]);
    if (!range_dash) return false;
  }
  return true;
}

// Rewrites \b, \B, \s and \S into the dialect's Unicode meanings. Where the atom on one side
// of a \b surely is a word character, only the other side needs a look-around.
std::string rewrite_dialect(std::string_view p) {
  std::string out;
  out.reserve(p.size() + 32);
  bool prev_word = false;  // the last atom, with its quantifier, surely ends in a word character
  bool after_group_open = false;  // the previous character opened a group: "?" there is syntax
  for (std::size_t i = 0; i < p.size();) {
    const char c = p[i];
    if (c == '[') {
      // Copy the class, rewriting \s and \S inside it; a leading "]" (after an optional "^")
      // is a literal, and POSIX names such as [:alpha:] are copied whole.
      const std::size_t body_begin = i + 1;
      std::size_t j = body_begin;
      if (j < p.size() && p[j] == '^') ++j;
      if (j < p.size() && p[j] == ']') ++j;
      std::string body;
      body.append(p.substr(body_begin, j - body_begin));
      while (j < p.size() && p[j] != ']') {
        if (p[j] == '\\' && j + 1 < p.size()) {
          const char e = p[j + 1];
          if (e == 's') {
            body += kSpace;
          } else if (e == 'S') {
            body += kNotSpace;
          } else {
            body.append(p.substr(j, 2));
          }
          j += 2;
        } else if (p[j] == '[' && j + 1 < p.size() && p[j + 1] == ':') {
          const std::size_t close = p.find(":]", j + 2);
          const std::size_t stop = close == std::string_view::npos ? p.size() : close + 2;
          body.append(p.substr(j, stop - j));
          j = stop;
        } else {
          body.push_back(p[j++]);
        }
      }
      out.push_back('[');
      out += body;
      if (j < p.size()) out.push_back(']');
      i = j < p.size() ? j + 1 : j;
      after_group_open = false;
      prev_word = class_is_word_only(p.substr(body_begin, (j < p.size() ? j : p.size()) - body_begin)) &&
                  !optional_quantifier_at(p, i);
      continue;
    }
    if (c == '\\' && i + 1 < p.size()) {
      const char e = p[i + 1];
      i += 2;
      after_group_open = false;
      if (e == 'b' || e == 'B') {
        const bool next_word = i < p.size() && is_ascii_word(p[i]) && !optional_quantifier_at(p, i + 1);
        const std::string w(kWord);
        if (e == 'b') {
          if (prev_word && next_word) {
            out += "(?!)";
          } else if (prev_word) {
            out += "(?!" + w + ")";
          } else if (next_word) {
            out += "(?<!" + w + ")";
          } else {
            out += "(?:(?<=" + w + ")(?!" + w + ")|(?<!" + w + ")(?=" + w + "))";
          }
        } else {
          out += "(?:(?<=" + w + ")(?=" + w + ")|(?<!" + w + ")(?!" + w + "))";
        }
        // A zero-width assertion leaves the previous atom as it was.
        continue;
      }
      if (e == 's') {
        out += kSpace;
      } else if (e == 'S') {
        out += kNotSpace;
      } else {
        out.push_back('\\');
        out.push_back(e);
      }
      prev_word = e == 'd' && !optional_quantifier_at(p, i);
      continue;
    }
    if (const std::size_t q = quantifier_length(p, i, after_group_open)) {
      // The atom already accounted for a quantifier that allows zero repetitions. Each
      // repetition count the engine tries passes the callout, which charges the search's
      // step budget.
      out.append(p.substr(i, q));
      out += "(?C)";
      i += q;
      after_group_open = false;
      continue;
    }
    out.push_back(c);
    ++i;
    after_group_open = c == '(';
    prev_word = is_ascii_word(c) && !optional_quantifier_at(p, i);
  }
  return out;
}

std::string error_text(int code) {
  PCRE2_UCHAR buf[256];
  const int n = pcre2_get_error_message(code, buf, sizeof buf);
  return n < 0 ? "unknown error " + std::to_string(code) : std::string(reinterpret_cast<char*>(buf), n);
}

// Per-thread match context with the backtracking limit and a JIT stack of its own.
pcre2_match_context* match_context() {
  struct Holder {
    pcre2_match_context* ctx = nullptr;
    pcre2_jit_stack* stack = nullptr;
    Holder() {
      ctx = pcre2_match_context_create(nullptr);
      stack = pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr);
      if (ctx == nullptr || stack == nullptr) throw std::bad_alloc();
      pcre2_set_match_limit(ctx, kMatchLimit);
      pcre2_jit_stack_assign(ctx, nullptr, stack);
    }
    ~Holder() {
      pcre2_jit_stack_free(stack);
      pcre2_match_context_free(ctx);
    }
  };
  thread_local Holder holder;
  return holder.ctx;
}

struct MatchData {
  explicit MatchData(const pcre2_code* code) : data(pcre2_match_data_create_from_pattern(code, nullptr)) {
    if (data == nullptr) throw std::bad_alloc();
  }
  ~MatchData() { pcre2_match_data_free(data); }
  MatchData(const MatchData&) = delete;
  MatchData& operator=(const MatchData&) = delete;
  pcre2_match_data* data;
};

}  // namespace

struct Regex::Code {
  pcre2_code* code = nullptr;
  ~Code() { pcre2_code_free(code); }
};

Result<Regex, std::string> Regex::compile(std::string_view pattern, bool case_insensitive) {
  std::string source = case_insensitive ? "(?i)" : "";
  source += rewrite_dialect(pattern);
  pcre2_compile_context* cctx = pcre2_compile_context_create(nullptr);
  if (cctx == nullptr) throw std::bad_alloc();
  pcre2_set_newline(cctx, PCRE2_NEWLINE_LF);
  int err = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                                   PCRE2_UTF | PCRE2_UCP | PCRE2_DOLLAR_ENDONLY | PCRE2_USE_OFFSET_LIMIT, &err,
                                   &offset, cctx);
  pcre2_compile_context_free(cctx);
  if (code == nullptr) return error_text(err) + " at offset " + std::to_string(offset);
  auto holder = std::make_shared<Code>();
  holder->code = code;
  // Without JIT the interpreter still matches correctly, only slower.
  (void)pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  return Regex(std::move(holder));
}

namespace {

// Charges one step of the search's budget; an exhausted budget abandons the search.
int charge_step(pcre2_callout_block*, void* budget) {
  auto* left = static_cast<std::uint32_t*>(budget);
  if (*left == 0) return PCRE2_ERROR_MATCHLIMIT;
  --*left;
  return 0;
}

Result<bool, MatchError> run(const pcre2_code* code, pcre2_match_data* md, std::string_view text,
                             std::size_t start, std::size_t start_limit = Span::npos) {
  // The engine's own limit restarts at every start position; this budget spans the whole
  // search, so no input makes one search do more than a bounded amount of work.
  std::uint32_t budget = kMatchLimit;
  pcre2_match_context* ctx = match_context();
  pcre2_set_callout(ctx, &charge_step, &budget);
  // The context is shared by every search of this thread: set the limit for this search only.
  if (start_limit != Span::npos) pcre2_set_offset_limit(ctx, start_limit);
  const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), start,
                             PCRE2_NO_UTF_CHECK, md, ctx);
  if (start_limit != Span::npos) pcre2_set_offset_limit(ctx, PCRE2_UNSET);
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc < 0) return MatchError{error_text(rc)};
  return true;
}

Match to_match(pcre2_match_data* md) {
  const std::uint32_t n = pcre2_get_ovector_count(md);
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
  Match m;
  m.groups.resize(n);
  for (std::uint32_t g = 0; g < n; ++g) {
    if (ov[2 * g] != PCRE2_UNSET) m.groups[g] = Span{ov[2 * g], ov[2 * g + 1]};
  }
  return m;
}

}  // namespace

Result<std::optional<Match>, MatchError> Regex::search(std::string_view text, std::size_t start,
                                                       std::size_t start_limit) const {
  MatchData md(code_->code);
  auto found = run(code_->code, md.data, text, start, start_limit);
  if (!found) return std::move(found).error();
  if (!found.value()) return std::optional<Match>{};
  return std::optional<Match>{to_match(md.data)};
}

Result<std::vector<Match>, MatchError> Regex::find_all(std::string_view text) const {
  MatchData md(code_->code);
  std::vector<Match> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto found = run(code_->code, md.data, text, start);
    if (!found) return std::move(found).error();
    if (!found.value()) break;
    Match m = to_match(md.data);
    const Span whole = m.whole();
    out.push_back(std::move(m));
    if (whole.end > whole.begin) {
      start = whole.end;
    } else {
      if (whole.end >= text.size()) break;
      start = whole.end + 1;
      while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
    }
  }
  return out;
}

bool Regex::matches(std::string_view text) const {
  MatchData md(code_->code);
  auto found = run(code_->code, md.data, text, 0);
  return found.ok() && found.value();
}

std::size_t Regex::min_length() const {
  std::uint32_t length = 0;
  pcre2_pattern_info(code_->code, PCRE2_INFO_MINLENGTH, &length);
  return length;
}

bool is_word_character(char32_t cp) {
  if (cp < 0x80) return is_ascii_word(static_cast<char>(cp));
  // The same class as the \b rewrite, so that code deciding boundaries by hand agrees with
  // the engine on every character.
  static const Regex word = [] {
    auto compiled = Regex::compile(std::string("^") + std::string(kWord), false);
    if (!compiled) throw InternalFault("word character class: " + compiled.error());
    return std::move(compiled).value();
  }();
  std::string encoded;
  append_utf8(encoded, cp);
  return word.matches(encoded);
}

}  // namespace vardex
