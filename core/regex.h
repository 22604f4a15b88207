// The one regular-expression wrapper (PCRE2 with JIT): the dialect rewrite that gives
// Unicode word boundaries and white space, compile flags, the backtracking limit, search
// and find-all.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace vardex {

// Byte offsets into the searched text; `begin == npos` marks a group that did not take part.
struct Span {
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t begin = npos;
  std::size_t end = npos;
  bool matched() const noexcept { return begin != npos; }
};

// A match: group 0 is the whole match, then each capturing group.
struct Match {
  std::vector<Span> groups;
  const Span& whole() const noexcept { return groups.front(); }
};

// A search the engine gave up on (backtracking limit, JIT stack): the message is the
// engine's. Each caller decides what an aborted search means.
struct MatchError {
  std::string message;
};

class Regex {
 public:
  // Compiles `pattern`, prefixed with "(?i)" when `case_insensitive`. The dialect: "." stops
  // at a line feed, \b and \B use letters, marks, decimal digits and connector punctuation as
  // word characters, \s and \S are Unicode white space, "$" matches only at the very end,
  // caseless matching uses Unicode simple case folding. Returns the engine's message on error.
  static Result<Regex, std::string> compile(std::string_view pattern, bool case_insensitive);

  // Searches valid UTF-8 `text` from byte offset `start` (a character boundary) for the
  // leftmost match that starts at or before byte offset `start_limit`; look-behinds and word
  // boundaries see the whole text. No match is an empty optional.
  Result<std::optional<Match>, MatchError> search(std::string_view text, std::size_t start = 0,
                                                  std::size_t start_limit = Span::npos) const;

  // All non-overlapping matches from the start, in order; an empty match advances one
  // character.
  Result<std::vector<Match>, MatchError> find_all(std::string_view text) const;

  // Whether the text has a match; an aborted search counts as no match.
  bool matches(std::string_view text) const;

  // A lower bound on the number of characters of any match.
  std::size_t min_length() const;

 private:
  struct Code;
  explicit Regex(std::shared_ptr<const Code> code) : code_(std::move(code)) {}
  std::shared_ptr<const Code> code_;
};

// Whether `cp` is a word character of \b and \B (letter, mark, decimal digit or connector
// punctuation), by the engine's own Unicode tables.
bool is_word_character(char32_t cp);

}  // namespace vardex
