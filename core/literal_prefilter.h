// A one-pass test that tells which of up to 32 regular expressions can possibly match a
// text, from literals that every match of each expression must contain. Searching a text
// with many expressions costs one engine run per expression; most texts hold none of the
// literals, and this test rules those runs out in a single scan (Aho-Corasick over ASCII).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vardex {

class LiteralPrefilter {
 public:
  using Set = std::uint32_t;  ///< bit i: expression i
  static constexpr std::size_t kMaxExpressions = 32;

  // Adds expression `index` (below kMaxExpressions) by its pattern text in the regex
  // dialect. When no necessary literals can be read from the pattern, the expression is
  // always a candidate.
  void add(std::size_t index, std::string_view pattern);

  // Prepares the automaton; call once after the last add().
  void build();

  // The expressions that may match `text`: every match of an expression outside the set is
  // impossible. Letters compare without regard to ASCII case, so this also holds for
  // case-insensitive expressions on text in which no non-ASCII character folds to an ASCII
  // letter (true of matching-form text: NFKC turns U+212A and U+017F into K and s).
  Set candidates(std::string_view text) const;

 private:
  // A literal that counts only where a word boundary of the pattern can hold around it.
  struct Literal {
    std::string text;  ///< lower-cased ASCII
    Set bit;
    bool boundary_before;  ///< the pattern requires \b before the literal
    bool boundary_after;   ///< the pattern requires \b after the literal
  };
  struct Bounded {
    std::uint16_t length;
    bool before, after;
    Set bit;
  };

  std::vector<Literal> literals_;
  Set always_ = 0;                            ///< expressions without literals
  std::array<std::uint8_t, 128> class_of_{};  ///< ASCII byte -> symbol class, 0: none
  std::size_t classes_ = 1;
  struct State {
    Set output = 0;                   ///< literals without boundaries that end here
    std::uint32_t bounded_begin = 0;  ///< literals with boundaries that end here: a range of bounded_
    std::uint32_t bounded_end = 0;
  };
  std::vector<std::uint16_t> next_;  ///< state * classes_ + class -> state
  std::vector<State> states_;
  std::vector<Bounded> bounded_;
};

}  // namespace vardex
