#include "literal_prefilter.h"

#include <cstring>
#include <limits>
#include <queue>

namespace vardex {
namespace {

constexpr std::uint16_t kNoState = std::numeric_limits<std::uint16_t>::max();

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The index just past the group or class that starts at `open` ("(" or "["), skipping
// escapes and classes inside; npos when it is not closed.
std::size_t skip_group(std::string_view p, std::size_t open) {
  if (p[open] == '[') {
    std::size_t j = open + 1;
    if (j < p.size() && p[j] == '^') ++j;
    if (j < p.size() && p[j] == ']') ++j;  // a leading "]" is a literal
    for (; j < p.size(); ++j) {
      if (p[j] == '\\') {
        ++j;
      } else if (p[j] == ']') {
        return j + 1;
      }
    }
    return std::string_view::npos;
  }
  for (std::size_t j = open + 1; j < p.size();) {
    if (p[j] == '\\') {
      j += 2;
    } else if (p[j] == '[' || p[j] == '(') {
      j = skip_group(p, j);
      if (j == std::string_view::npos) return j;
    } else if (p[j] == ')') {
      return j + 1;
    } else {
      ++j;
    }
  }
  return std::string_view::npos;
}

// The top-level alternatives of `p` (split at "|" outside groups and classes); empty when a
// group is not closed.
std::vector<std::string_view> alternatives(std::string_view p) {
  std::vector<std::string_view> out;
  std::size_t begin = 0;
  for (std::size_t j = 0; j < p.size();) {
    if (p[j] == '\\') {
      j += 2;
    } else if (p[j] == '[' || p[j] == '(') {
      j = skip_group(p, j);
      if (j == std::string_view::npos) return {};
    } else if (p[j] == '|') {
      out.push_back(p.substr(begin, j - begin));
      begin = ++j;
    } else {
      ++j;
    }
  }
  out.push_back(p.substr(begin));
  return out;
}

bool is_ascii_word(char c) { return is_alnum(c) || c == '_'; }

// The literal characters at the start of `alt` that every match of it begins with,
// lower-cased; stops at the first character that is not a plain ASCII literal or that a
// quantifier makes optional. `whole` tells whether the literal is all of `alt`.
std::string literal_prefix(std::string_view alt, bool& whole) {
  std::string out;
  whole = false;
  for (std::size_t j = 0; j < alt.size(); ++j) {
    char c = alt[j];
    if (c == '\\') {
      if (j + 1 >= alt.size() || is_alnum(alt[j + 1])) return out;  // \b, \s, \p{..}: not a literal
      c = alt[++j];
    } else if (std::strchr("^$.|?*+()[]{}", c) != nullptr) {
      return out;
    }
    if (static_cast<unsigned char>(c) >= 0x80) return out;
    const char quantifier = j + 1 < alt.size() ? alt[j + 1] : '\0';
    if (quantifier == '?' || quantifier == '*' || quantifier == '{') return out;
    out.push_back(ascii_lower(c));
    if (quantifier == '+') return out;
  }
  whole = true;
  return out;
}

struct Needed {
  std::string text;
  bool boundary_before, boundary_after;
};

// Literals one of which every match of `pattern` contains: the prefixes of the alternatives
// of a leading group "(?:a|b|...)" (after an optional "\b") that the pattern cannot skip, or
// the literal prefix of a pattern without top-level alternation. A "\b" before the group,
// or after it for an alternative that is all literal, is kept with the literal when the
// literal's own character beside it is a word character. Empty when there are none.
std::vector<Needed> necessary_literals(std::string_view pattern) {
  std::string_view p = pattern;
  const bool leading_boundary = p.substr(0, 2) == "\\b";
  if (leading_boundary) p.remove_prefix(2);
  std::vector<std::string_view> alts;
  bool trailing_boundary = false;
  if (p.substr(0, 3) == "(?:") {
    const std::size_t end = skip_group(p, 0);
    if (end == std::string_view::npos) return {};
    const std::string_view rest = p.substr(end);
    if (!rest.empty() && std::strchr("?*{", rest.front()) != nullptr) return {};  // the group may be skipped
    if (alternatives(rest).size() != 1) return {};
    alts = alternatives(p.substr(3, end - 4));
    trailing_boundary = rest.substr(0, 2) == "\\b";
  } else {
    alts = alternatives(p);
    if (alts.size() != 1) return {};
  }
  std::vector<Needed> out;
  for (std::string_view alt : alts) {
    bool whole = false;
    std::string literal = literal_prefix(alt, whole);
    if (literal.empty()) return {};
    const bool before = leading_boundary && is_ascii_word(literal.front());
    const bool after = trailing_boundary && whole && is_ascii_word(literal.back());
    out.push_back({std::move(literal), before, after});
  }
  return out;
}

}  // namespace

void LiteralPrefilter::add(std::size_t index, std::string_view pattern) {
  const Set bit = Set{1} << index;
  std::vector<Needed> literals = necessary_literals(pattern);
  if (literals.empty()) always_ |= bit;
  for (Needed& n : literals) literals_.push_back({std::move(n.text), bit, n.boundary_before, n.boundary_after});
}

void LiteralPrefilter::build() {
  for (const Literal& literal : literals_) {
    for (char c : literal.text) {
      auto& cls = class_of_[static_cast<unsigned char>(c)];
      if (cls == 0) cls = static_cast<std::uint8_t>(classes_++);
      if (c >= 'a' && c <= 'z') class_of_[static_cast<unsigned char>(c - 'a' + 'A')] = cls;
    }
  }
  // The trie of the literals; each state lists the literals that end in it.
  next_.assign(classes_, kNoState);
  std::vector<Set> output(1, 0);
  std::vector<std::vector<Bounded>> ending(1);
  for (const Literal& literal : literals_) {
    std::size_t state = 0;
    for (char c : literal.text) {
      const std::size_t slot = state * classes_ + class_of_[static_cast<unsigned char>(c)];
      if (next_[slot] == kNoState) {
        if (output.size() >= kNoState) {  // too many states: rule nothing out
          always_ = ~Set{0};
          return;
        }
        next_[slot] = static_cast<std::uint16_t>(output.size());
        output.push_back(0);
        ending.emplace_back();
        next_.resize(next_.size() + classes_, kNoState);
      }
      state = next_[slot];
    }
    if (literal.boundary_before || literal.boundary_after) {
      ending[state].push_back({static_cast<std::uint16_t>(literal.text.size()), literal.boundary_before,
                               literal.boundary_after, literal.bit});
    } else {
      output[state] |= literal.bit;
    }
  }
  // Failure links, folded into a complete transition table (breadth first, so that a
  // state's fallback is complete before the state is reached); a state also reports what
  // its fallback reports.
  std::vector<std::uint16_t> fail(output.size(), 0);
  std::queue<std::uint16_t> pending;
  for (std::size_t c = 0; c < classes_; ++c) {
    std::uint16_t& to = next_[c];
    if (to == kNoState) {
      to = 0;
    } else {
      pending.push(to);
    }
  }
  while (!pending.empty()) {
    const std::uint16_t state = pending.front();
    pending.pop();
    output[state] |= output[fail[state]];
    ending[state].insert(ending[state].end(), ending[fail[state]].begin(), ending[fail[state]].end());
    for (std::size_t c = 0; c < classes_; ++c) {
      std::uint16_t& to = next_[state * classes_ + c];
      const std::uint16_t fallback = next_[fail[state] * classes_ + c];
      if (to == kNoState) {
        to = fallback;
      } else {
        fail[to] = fallback;
        pending.push(to);
      }
    }
  }
  states_.resize(output.size());
  for (std::size_t s = 0; s < output.size(); ++s) {
    states_[s].output = output[s];
    states_[s].bounded_begin = static_cast<std::uint32_t>(bounded_.size());
    bounded_.insert(bounded_.end(), ending[s].begin(), ending[s].end());
    states_[s].bounded_end = static_cast<std::uint32_t>(bounded_.size());
  }
}

LiteralPrefilter::Set LiteralPrefilter::candidates(std::string_view text) const {
  if (literals_.empty() || always_ == ~Set{0}) return always_;
  Set found = 0;
  std::size_t state = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    state = next_[state * classes_ + (b < 128 ? class_of_[b] : 0)];
    const State& s = states_[state];
    found |= s.output;
    // A word character on the far side of a required boundary rules the occurrence out;
    // a non-ASCII neighbour may or may not be one, so it does not.
    for (std::uint32_t k = s.bounded_begin; k < s.bounded_end; ++k) {
      const Bounded& l = bounded_[k];
      const std::size_t start = i + 1 - l.length;
      if (l.before && start > 0 && is_ascii_word(text[start - 1])) continue;
      if (l.after && i + 1 < text.size() && is_ascii_word(text[i + 1])) continue;
      found |= l.bit;
    }
  }
  return found | always_;
}

}  // namespace vardex
