#include "json.h"

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

}  // namespace vardex::json
