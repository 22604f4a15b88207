#include "json.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>

namespace vardex::json {
namespace {

auto lower_bound(const Object& object, std::string_view key) {
  return std::lower_bound(object.begin(), object.end(), key,
                          [](const auto& member, std::string_view k) { return std::string_view(member.first) < k; });
}

}  // namespace

const Value* Value::find(std::string_view key) const noexcept {
  const Object* object = as_object();
  if (object == nullptr) return nullptr;
  const auto it = lower_bound(*object, key);
  return it != object->end() && it->first == key ? &it->second : nullptr;
}

std::optional<std::int64_t> Value::as_int64() const noexcept {
  const Number* n = as_number();
  if (n == nullptr) return std::nullopt;
  std::int64_t out = 0;
  const char* first = n->text.data();
  const char* last = first + n->text.size();
  const auto [ptr, ec] = std::from_chars(first, last, out);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  return out;
}

void set_member(Object& object, std::string key, Value value) {
  auto it = std::lower_bound(object.begin(), object.end(), key,
                             [](const auto& member, const std::string& k) { return member.first < k; });
  if (it != object.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    object.emplace(it, std::move(key), std::move(value));
  }
}

// The reader.
namespace {

namespace od = simdjson::ondemand;

// simdjson checks the characters of a number only as far as it converts it; the written
// text is kept here, so the full grammar is checked here:
// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool is_number_text(std::string_view t) noexcept {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t start = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    return i > start;
  };
  if (i < t.size() && t[i] == '-') ++i;
  if (i < t.size() && t[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == t.size();
}

// A raw token without the white space that simdjson keeps after it.
std::string_view token_text(std::string_view raw) noexcept {
  const std::size_t end = raw.find_last_not_of(" \t\n\r");
  return raw.substr(0, end == std::string_view::npos ? 0 : end + 1);
}

std::string fault(simdjson::error_code err) { return simdjson::error_message(err); }

// The walk visits every value: simdjson validates a value only when it is read.
class Reader {
 public:
  // Reads the value `v` found at nesting `depth` (the number of enclosing containers).
  template <class V>
  static Result<Value, std::string> read(V& v, std::size_t depth) {
    od::json_type type;
    if (const auto err = v.type().get(type)) return fault(err);
    switch (type) {
      case od::json_type::array: return read_array(v, depth);
      case od::json_type::object: return read_object(v, depth);
      case od::json_type::string: {
        std::string_view s;
        if (const auto err = v.get_string().get(s)) return fault(err);
        return Value(std::string(s));
      }
      case od::json_type::number:
      case od::json_type::boolean:
      case od::json_type::null: return read_atom(v, type);
    }
    return std::string("unexpected value");
  }

 private:
  template <class V>
  static Result<Value, std::string> read_atom(V& v, od::json_type type) {
    // A value gives its token directly, a document as a result that may hold an error.
    std::string_view raw;
    if (const auto err = simdjson::simdjson_result<std::string_view>(v.raw_json_token()).get(raw)) return fault(err);
    const std::string_view t = token_text(raw);
    if (type == od::json_type::number) {
      if (!is_number_text(t)) return std::string("invalid number");
      return Value(Number{std::string(t)});
    }
    // Read through simdjson so that the value counts as consumed, then check the whole
    // token: simdjson accepts a literal followed by other characters in some positions.
    if (type == od::json_type::boolean) {
      bool b = false;
      if (v.get_bool().get(b) || t != (b ? "true" : "false")) return std::string("invalid literal");
      return Value(b);
    }
    bool is_null = false;
    if (v.is_null().get(is_null) || !is_null || t != "null") return std::string("invalid literal");
    return Value(nullptr);
  }

  template <class V>
  static Result<Value, std::string> read_array(V& v, std::size_t depth) {
    if (depth >= kMaxDepth) return std::string("nesting too deep");
    od::array array;
    if (const auto err = v.get_array().get(array)) return fault(err);
    Array items;
    for (auto element : array) {
      od::value item;
      if (const auto err = element.get(item)) return fault(err);
      VARDEX_ASSIGN_OR_RETURN(Value value, read(item, depth + 1));
      items.push_back(std::move(value));
    }
    return Value(std::move(items));
  }

  template <class V>
  static Result<Value, std::string> read_object(V& v, std::size_t depth) {
    if (depth >= kMaxDepth) return std::string("nesting too deep");
    od::object object;
    if (const auto err = v.get_object().get(object)) return fault(err);
    Object members;
    for (auto field : object) {
      std::string_view key;
      if (const auto err = field.unescaped_key().get(key)) return fault(err);
      std::string owned_key(key);
      od::value item;
      if (const auto err = field.value().get(item)) return fault(err);
      VARDEX_ASSIGN_OR_RETURN(Value value, read(item, depth + 1));
      members.emplace_back(std::move(owned_key), std::move(value));
    }
    sort_keys_last_wins(members);
    return Value(std::move(members));
  }
};

}  // namespace

Result<Value, std::string> parse(std::string_view text) {
  // simdjson refuses a literal at the root when white space follows it ("true   ",
  // "null "): it reads a root atom only when the rest of the input fits a small buffer.
  // Trailing white space carries nothing, so it is dropped first.
  text = token_text(text);
  const simdjson::padded_string padded(text);
  od::parser parser;
  od::document doc;
  if (const auto err = parser.iterate(padded).get(doc)) return fault(err);
  bool scalar = false;
  if (const auto err = doc.is_scalar().get(scalar)) return fault(err);
  if (scalar) {
    // A scalar root is not consumed by reading it: its token, which runs on over white
    // space up to the next token, must reach the end of the input.
    std::string_view raw;
    if (const auto err = doc.raw_json_token().get(raw)) return fault(err);
    if (raw.data() + raw.size() != padded.data() + text.size()) return std::string("trailing content");
    return Reader::read(doc, 0);
  }
  VARDEX_ASSIGN_OR_RETURN(Value value, Reader::read(doc, 0));
  const char* rest = nullptr;
  if (doc.current_location().get(rest) != simdjson::OUT_OF_BOUNDS) return std::string("trailing content");
  return value;
}

void write_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t plain = 0;  // start of the run of characters written unchanged
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, plain, i - plain);
    plain = i + 1;
    out.push_back('\\');
    switch (c) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '\b': out.push_back('b'); break;
      case '\t': out.push_back('t'); break;
      case '\n': out.push_back('n'); break;
      case '\f': out.push_back('f'); break;
      case '\r': out.push_back('r'); break;
      default:
        out.append("u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0f]);
    }
  }
  out.append(text, plain, text.size() - plain);
  out.push_back('"');
}

void write_compact(const Value& value, std::string& out) {
  if (value.is_null()) {
    out.append("null");
  } else if (const bool* b = value.as_bool()) {
    out.append(*b ? "true" : "false");
  } else if (const Number* n = value.as_number()) {
    out.append(n->text == "-0" ? "0" : n->text);
  } else if (const std::string* s = value.as_string()) {
    write_string(*s, out);
  } else if (const Array* a = value.as_array()) {
    out.push_back('[');
    for (std::size_t i = 0; i < a->size(); ++i) {
      if (i > 0) out.push_back(',');
      write_compact((*a)[i], out);
    }
    out.push_back(']');
  } else if (const Object* o = value.as_object()) {
    out.push_back('{');
    for (std::size_t i = 0; i < o->size(); ++i) {
      if (i > 0) out.push_back(',');
      write_string((*o)[i].first, out);
      out.push_back(':');
      write_compact((*o)[i].second, out);
    }
    out.push_back('}');
  }
}

std::string to_compact(const Value& value) {
  std::string out;
  write_compact(value, out);
  return out;
}

}  // namespace vardex::json

