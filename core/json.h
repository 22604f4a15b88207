// The core's JSON value: null, boolean, number kept as its exact decimal text, string,
// array, and object with unique keys in ascending byte order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

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

// Inserts or replaces `key` in a sorted object, keeping the order.
void set_member(Object& object, std::string key, Value value);

}  // namespace vardex::json
