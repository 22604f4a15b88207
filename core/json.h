// The core's JSON value (null, boolean, number kept as its exact decimal text, string,
// array, object with unique keys in ascending byte order), its reader and its compact writer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "error.h"

namespace vardex::json {

class Value;

struct Number {
  std::string text;  ///< the decimal text exactly as read or produced
};
using Array = std::vector<Value>;
// Members sorted by key (byte-wise), each key once.
using Object = std::vector<std::pair<std::string, Value>>;

class Value {
 public:
  Value() = default;  // null
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(Number n) : v_(std::move(n)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Object o) : v_(std::move(o)) {}

  bool is_null() const noexcept { return v_.index() == 0; }
  const bool* as_bool() const noexcept { return std::get_if<bool>(&v_); }
  const Number* as_number() const noexcept { return std::get_if<Number>(&v_); }
  const std::string* as_string() const noexcept { return std::get_if<std::string>(&v_); }
  const Array* as_array() const noexcept { return std::get_if<Array>(&v_); }
  const Object* as_object() const noexcept { return std::get_if<Object>(&v_); }

  // The member `key` of an object; null pointer for a missing key or a non-object.
  const Value* find(std::string_view key) const noexcept;

  // The number as a signed 64-bit integer; empty for a non-number, a non-integer text or a
  // value out of range.
  std::optional<std::int64_t> as_int64() const noexcept;

 private:
  std::variant<std::monostate, bool, Number, std::string, Array, Object> v_;
};

// Sorts key-value pairs by key bytes; of pairs with the same key only the last one given
// stays. Serves every keyed value model (objects here, chain dictionaries).
template <class T>
void sort_keys_last_wins(std::vector<std::pair<std::string, T>>& members) {
  std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
    if (kept != i) members[kept] = std::move(members[i]);
    ++kept;
  }
  members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept), members.end());
}

// Inserts or replaces `key` in a sorted object, keeping the order.
void set_member(Object& object, std::string key, Value value);

// The deepest nesting of arrays and objects that `parse` accepts.
inline constexpr std::size_t kMaxDepth = 127;

// Reads `text` as exactly one standard JSON value: white space between tokens is only
// space, tab, line feed and carriage return; nothing may follow the value; arrays and
// objects nest at most kMaxDepth levels; strings must be valid UTF-8 without raw control
// characters or lone surrogate escapes; numbers follow the JSON grammar and keep their
// written text; a repeated object key keeps its last value. Returns the value or a short
// description of the first fault.
Result<Value, std::string> parse(std::string_view text);

// Appends the compact JSON of `value` to `out`: no white space, members in key order,
// numbers as their text (the integer -0 as 0), strings as by write_string.
void write_compact(const Value& value, std::string& out);
std::string to_compact(const Value& value);

// Appends `text` (valid UTF-8) as a JSON string: only " and \ are escaped besides the
// characters below 0x20 (\b \t \n \f \r, else \u00xx); everything else is written as is.
void write_string(std::string_view text, std::string& out);

}  // namespace vardex::json
