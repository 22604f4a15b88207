// The JSON reader, the compact writer and the action normalisation for hashing.
// The reader must accept exactly what a small strict reference parser accepts and read the
// same value; compact output parses back to the same value (the integer -0 written as 0)
// and is a fixed point of parse-then-write; normalising an action is idempotent, and when it
// rewrites the action, the result keeps only the tool name and the arguments of the input.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chain_encrypted_toolcall.h"
#include "check.h"
#include "json.h"
#include "text.h"

namespace {

using vardex::json::Value;

// A recursive-descent reader of standard JSON, written from the grammar, as the oracle.
class ReferenceParser {
 public:
  explicit ReferenceParser(std::string_view text) : t_(text) {}

  std::optional<Value> parse() {
    skip_space();
    auto value = read_value(0);
    skip_space();
    if (!value || i_ != t_.size()) return std::nullopt;
    return value;
  }

 private:
  void skip_space() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
  }
  bool eat(char c) {
    if (i_ < t_.size() && t_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool eat_word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool digit() const { return i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9'; }

  std::optional<Value> read_value(std::size_t depth) {
    if (i_ >= t_.size()) return std::nullopt;
    switch (t_[i_]) {
      case '{': return read_object(depth);
      case '[': return read_array(depth);
      case '"': {
        auto s = read_string();
        if (!s) return std::nullopt;
        return Value(std::move(*s));
      }
      case 't': return eat_word("true") ? std::optional<Value>(Value(true)) : std::nullopt;
      case 'f': return eat_word("false") ? std::optional<Value>(Value(false)) : std::nullopt;
      case 'n': return eat_word("null") ? std::optional<Value>(Value(nullptr)) : std::nullopt;
      default: return read_number();
    }
  }

  std::optional<Value> read_number() {
    const std::size_t start = i_;
    eat('-');
    if (eat('0')) {
    } else if (digit()) {
      while (digit()) ++i_;
    } else {
      return std::nullopt;
    }
    if (eat('.')) {
      if (!digit()) return std::nullopt;
      while (digit()) ++i_;
    }
    if (eat('e') || eat('E')) {
      if (!eat('+')) eat('-');
      if (!digit()) return std::nullopt;
      while (digit()) ++i_;
    }
    return Value(vardex::json::Number{std::string(t_.substr(start, i_ - start))});
  }

  std::optional<unsigned> read_hex4() {
    if (i_ + 4 > t_.size()) return std::nullopt;
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = t_[i_++];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= c - '0';
      } else if (c >= 'a' && c <= 'f') {
        v |= c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        v |= c - 'A' + 10;
      } else {
        return std::nullopt;
      }
    }
    return v;
  }

  std::optional<std::string> read_string() {
    ++i_;  // the opening quote
    std::string out;
    while (true) {
      if (i_ >= t_.size()) return std::nullopt;
      const auto c = static_cast<unsigned char>(t_[i_++]);
      if (c == '"') break;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out.push_back(static_cast<char>(c));
        continue;
      }
      if (i_ >= t_.size()) return std::nullopt;
      switch (t_[i_++]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          auto unit = read_hex4();
          if (!unit) return std::nullopt;
          char32_t cp = *unit;
          if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!eat_word("\\u")) return std::nullopt;
            auto low = read_hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
          }
          vardex::append_utf8(out, cp);
          break;
        }
        default: return std::nullopt;
      }
    }
    return out;
  }

  std::optional<Value> read_array(std::size_t depth) {
    if (depth >= vardex::json::kMaxDepth) return std::nullopt;
    ++i_;
    vardex::json::Array items;
    skip_space();
    if (eat(']')) return Value(std::move(items));
    while (true) {
      skip_space();
      auto item = read_value(depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      skip_space();
      if (eat(']')) return Value(std::move(items));
      if (!eat(',')) return std::nullopt;
    }
  }

  std::optional<Value> read_object(std::size_t depth) {
    if (depth >= vardex::json::kMaxDepth) return std::nullopt;
    ++i_;
    vardex::json::Object members;
    skip_space();
    if (eat('}')) return Value(std::move(members));
    while (true) {
      skip_space();
      if (i_ >= t_.size() || t_[i_] != '"') return std::nullopt;
      auto key = read_string();
      if (!key) return std::nullopt;
      skip_space();
      if (!eat(':')) return std::nullopt;
      skip_space();
      auto item = read_value(depth + 1);
      if (!item) return std::nullopt;
      vardex::json::set_member(members, std::move(*key), std::move(*item));
      skip_space();
      if (eat('}')) return Value(std::move(members));
      if (!eat(',')) return std::nullopt;
    }
  }

  std::string_view t_;
  std::size_t i_ = 0;
};

// Structural equality; `zero_sign` lets the integer -0 equal 0 (the writer drops its sign).
bool same(const Value& a, const Value& b, bool zero_sign) {
  if (a.is_null() || b.is_null()) return a.is_null() && b.is_null();
  if (a.as_bool() || b.as_bool()) return a.as_bool() && b.as_bool() && *a.as_bool() == *b.as_bool();
  if (a.as_number() || b.as_number()) {
    if (!a.as_number() || !b.as_number()) return false;
    const std::string& x = a.as_number()->text;
    const std::string& y = b.as_number()->text;
    return x == y || (zero_sign && (x == "-0" ? "0" : x) == (y == "-0" ? "0" : y));
  }
  if (a.as_string() || b.as_string()) return a.as_string() && b.as_string() && *a.as_string() == *b.as_string();
  if (a.as_array() || b.as_array()) {
    if (!a.as_array() || !b.as_array() || a.as_array()->size() != b.as_array()->size()) return false;
    for (std::size_t i = 0; i < a.as_array()->size(); ++i) {
      if (!same((*a.as_array())[i], (*b.as_array())[i], zero_sign)) return false;
    }
    return true;
  }
  const auto& x = *a.as_object();
  const auto& y = *b.as_object();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (x[i].first != y[i].first || !same(x[i].second, y[i].second, zero_sign)) return false;
  }
  return true;
}

void check_action_normalisation(std::string_view text) {
  const std::string normalized = vardex::normalize_action_for_hash(text);
  FUZZ_CHECK(vardex::normalize_action_for_hash(normalized) == normalized);
  const std::string_view trimmed = vardex::trim(text);
  if (normalized == trimmed) return;
  // A rewrite happens only to an object with "args" and an identifier key; the rewritten
  // text holds exactly its tool name (or null) and its arguments.
  const auto input = ReferenceParser(trimmed).parse();
  FUZZ_CHECK(input && input->as_object() && input->find("args"));
  const auto output = ReferenceParser(normalized).parse();
  FUZZ_CHECK(output && output->as_object() && output->as_object()->size() == 2);
  FUZZ_CHECK(normalized.rfind("{\"tool_name\":", 0) == 0);
  const Value* tool_name = input->find("tool_name");
  FUZZ_CHECK(same(*output->find("tool_name"), tool_name ? *tool_name : Value(), true));
  FUZZ_CHECK(same(*output->find("args"), *input->find("args"), true));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!vardex::is_valid_utf8(text)) {
    FUZZ_CHECK(!vardex::json::parse(text).ok());
    return 0;
  }
  const auto parsed = vardex::json::parse(text);
  const auto reference = ReferenceParser(text).parse();
  if (parsed.ok() != reference.has_value()) {
    std::fprintf(stderr, "reader %s, reference %s\n", parsed.ok() ? "accepts" : parsed.error().c_str(),
                 reference ? "accepts" : "rejects");
  }
  FUZZ_CHECK(parsed.ok() == reference.has_value());
  if (parsed.ok()) {
    FUZZ_CHECK(same(parsed.value(), *reference, false));
    const std::string compact = vardex::json::to_compact(parsed.value());
    const auto again = vardex::json::parse(compact);
    FUZZ_CHECK(again.ok());
    FUZZ_CHECK(same(again.value(), parsed.value(), true));
    FUZZ_CHECK(vardex::json::to_compact(again.value()) == compact);
  }
  check_action_normalisation(text);
  return 0;
}
