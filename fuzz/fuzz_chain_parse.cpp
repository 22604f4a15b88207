// Chain row parsing from a JSON value. A byte-array cell decodes to the same bytes in every
// shape (hex text of either case, with or without "0x"/"0X" and surrounding white space,
// list of numbers, {"data": [...]}); a hex cell decodes as an independent decoder says;
// parsing a list of rows agrees with parsing its rows one by one; a parsed row holds what
// its members say.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "chain_memory_parse.h"
#include "check.h"
#include "json.h"
#include "text.h"

namespace {

namespace json = vardex::json;
using vardex::Bytes;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of a hex cell, or nothing where the cell must be refused.
std::optional<Bytes> hex_cell(std::string_view text) {
  text = vardex::trim(text);
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hex_digit(text[i]);
    const int lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::string hex_text(const Bytes& bytes, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

json::Value number_list(const Bytes& bytes) {
  json::Array items;
  for (std::uint8_t b : bytes) items.emplace_back(json::Number{std::to_string(b)});
  return json::Value(std::move(items));
}

void check_byte_array(const json::Value& value) {
  const auto bytes = vardex::parse_byte_array_field(value);
  if (const std::string* text = value.as_string()) {
    const auto expected = hex_cell(*text);
    FUZZ_CHECK(bytes.ok() == expected.has_value());
    if (expected) FUZZ_CHECK(bytes.value() == *expected);
  }
  if (!bytes.ok()) {
    FUZZ_CHECK(bytes.error().message().rfind("chain schema error: ", 0) == 0);
    return;
  }
  const Bytes& b = bytes.value();
  json::Object data_object;
  json::set_member(data_object, "data", number_list(b));
  json::set_member(data_object, "other", json::Value(std::string("ignored")));
  const json::Value shapes[] = {
      json::Value(hex_text(b, false)),
      json::Value("0X" + hex_text(b, true)),
      json::Value("\u00a0 0x" + hex_text(b, false) + "\t\u3000"),
      number_list(b),
      json::Value(std::move(data_object)),
  };
  for (const json::Value& shape : shapes) {
    const auto again = vardex::parse_byte_array_field(shape);
    FUZZ_CHECK(again.ok() && again.value() == b);
  }
}

// An integer member as the row parsers read it, checked against the member's text.
void check_integer(const json::Value& row, std::string_view name, std::int64_t got) {
  const json::Number* n = row.find(name)->as_number();
  FUZZ_CHECK(n != nullptr);
  const double value = std::strtod(n->text.c_str(), nullptr);
  if (n->text.find_first_of(".eE") != std::string::npos) {
    FUZZ_CHECK(std::fabs(value) <= 9007199254740992.0 && static_cast<double>(got) == value);
  } else {
    FUZZ_CHECK(std::to_string(got) == (n->text == "-0" ? "0" : n->text));
  }
}

void check_memory_row(const json::Value& value) {
  const auto row = vardex::parse_memory_row(value);
  if (!row.ok()) {
    FUZZ_CHECK(row.error().message().rfind("chain schema error: ", 0) == 0);
    return;
  }
  const vardex::RawMemoryRow& r = row.value();
  check_integer(value, "id", r.id);
  check_integer(value, "score", r.score);
  check_integer(value, "created_at", r.created_at);
  const json::Value* path = value.find("file_path");
  FUZZ_CHECK(r.file_path == (path && path->as_string() ? *path->as_string() : std::string()));
  FUZZ_CHECK(r.content_cipher == vardex::parse_byte_array_field(*value.find("content_cipher")).value());
  FUZZ_CHECK(r.nonce == vardex::parse_byte_array_field(*value.find("nonce")).value());
  const json::Value* active = value.find("is_active");
  if (active == nullptr || active->is_null() || active->as_string()) FUZZ_CHECK(r.is_active);
  if (active && active->as_bool()) FUZZ_CHECK(r.is_active == *active->as_bool());
  const json::Value* updated = value.find("updated_at");
  const auto updated_value = updated ? updated->as_int64() : std::nullopt;
  FUZZ_CHECK(r.updated_at == updated_value.value_or(r.created_at));
}

void check_rollback_row(const json::Value& value) {
  const auto row = vardex::parse_rollback_row(value);
  if (!row.ok()) {
    FUZZ_CHECK(row.error().message().rfind("chain schema error: ", 0) == 0);
    return;
  }
  const vardex::RawRollbackRow& r = row.value();
  check_integer(value, "from_id", r.from_id);
  check_integer(value, "to_id", r.to_id);
  check_integer(value, "created_at", r.created_at);
  FUZZ_CHECK(r.reason == *value.find("reason")->as_string());
  FUZZ_CHECK(r.signer == vardex::parse_byte_array_field(*value.find("signer")).value());
}

// A list parser agrees with its row parser element by element: the first failing element
// gives the list's error.
template <class ParseList, class ParseRow>
void check_list(const json::Value& value, ParseList parse_list, ParseRow parse_row) {
  const auto list = parse_list(value);
  const json::Array* items = value.as_array();
  if (items == nullptr) {
    FUZZ_CHECK(!list.ok());
    return;
  }
  for (const json::Value& item : *items) {
    const auto row = parse_row(item);
    if (!row.ok()) {
      FUZZ_CHECK(!list.ok() && list.error().message() == row.error().message());
      return;
    }
  }
  FUZZ_CHECK(list.ok() && list.value().size() == items->size());
  for (std::size_t i = 0; i < items->size(); ++i) {
    const auto row = parse_row((*items)[i]);
    FUZZ_CHECK(list.value()[i].created_at == row.value().created_at && list.value()[i].file_path == row.value().file_path);
  }
}

// Applies the checks to the value and to each of its array elements and object members,
// so that the fuzzer reaches row parsing inside the lists and cells inside the rows.
void check_all(const json::Value& value, int depth) {
  check_byte_array(value);
  check_memory_row(value);
  check_rollback_row(value);
  check_list(value, vardex::parse_memory_rows, vardex::parse_memory_row);
  check_list(value, vardex::parse_rollback_rows, vardex::parse_rollback_row);
  const auto id = vardex::parse_active_memory_id(value);
  FUZZ_CHECK(id.ok() == (value.is_null() || value.as_int64().has_value()));
  if (depth == 2) return;
  if (const json::Array* items = value.as_array()) {
    for (const json::Value& item : *items) check_all(item, depth + 1);
  }
  if (const json::Object* members = value.as_object()) {
    for (const auto& member : *members) check_all(member.second, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto value = json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (value.ok()) check_all(value.value(), 0);
  return 0;
}
