#include "chain_memory_parse.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "hex.h"
#include "text.h"

namespace vardex {
namespace {

constexpr double kMaxExactDouble = 9007199254740992.0;  // 2^53

VardexError field_error(std::string_view message, std::string_view name) {
  std::string text(message);
  text += " `";
  text += name;
  text += '`';
  return VardexError::chain_schema(std::move(text));
}

// A number text with a fraction or an exponent (as floats are written), as opposed to an integer text.
bool has_fraction_or_exponent(std::string_view text) { return text.find_first_of(".eE") != std::string_view::npos; }

// Whether every digit of the number's mantissa is zero (0, -0, 0.0, 0e5).
bool is_zero(std::string_view text) {
  for (char c : text) {
    if (c == 'e' || c == 'E') break;
    if (c >= '1' && c <= '9') return false;
  }
  return true;
}

std::string lenient_text(const json::Value& row, std::string_view name) {
  const json::Value* member = row.find(name);
  const std::string* text = member == nullptr ? nullptr : member->as_string();
  return text == nullptr ? std::string() : *text;
}

Result<std::string> required_text(const json::Value& row, std::string_view name) {
  const json::Value* member = row.find(name);
  const std::string* text = member == nullptr ? nullptr : member->as_string();
  if (text == nullptr) return field_error("missing or non-string field", name);
  return *text;
}

Result<Bytes> byte_array_field(const json::Value& row, std::string_view name) {
  const json::Value* member = row.find(name);
  if (member == nullptr) return field_error("missing field", name);
  return parse_byte_array_field(*member);
}

Result<Bytes> bytes_of_array(const json::Array& items) {
  Bytes out(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const json::Number* n = items[i].as_number();
    unsigned value = 256;
    if (n != nullptr) {
      // Plain decimal digits only: no sign, fraction or exponent.
      const char* end = n->text.data() + n->text.size();
      const auto [ptr, ec] = std::from_chars(n->text.data(), end, value);
      if (ec != std::errc() || ptr != end) value = 256;
    }
    if (value > 255) return VardexError::chain_schema("byte_array element is not a u8");
    out[i] = static_cast<std::uint8_t>(value);
  }
  return out;
}

Result<Bytes> bytes_of_hex(std::string_view text) {
  text = trim(text);
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  auto decoded = hex_decode(text);
  if (!decoded.ok()) return VardexError::chain_schema("byte_array hex decode: " + decoded.error().payload());
  return std::move(decoded).value();
}

template <class Row, Result<Row> (*ParseRow)(const json::Value&)>
Result<std::vector<Row>> parse_rows(const json::Value& value, const char* not_array) {
  const json::Array* items = value.as_array();
  if (items == nullptr) return VardexError::chain_schema(not_array);
  std::vector<Row> rows;
  rows.reserve(items->size());
  for (const json::Value& item : *items) {
    VARDEX_ASSIGN_OR_RETURN(rows.emplace_back(), ParseRow(item));
  }
  return rows;
}

}  // namespace

Result<std::int64_t> field_i64(const json::Value& row, std::string_view name) {
  const json::Value* member = row.find(name);
  const json::Number* n = member == nullptr ? nullptr : member->as_number();
  if (n != nullptr) {
    if (!has_fraction_or_exponent(n->text)) {
      if (const auto value = member->as_int64()) return *value;
    } else {
      double v = 0;
      const char* end = n->text.data() + n->text.size();
      const auto [ptr, ec] = std::from_chars(n->text.data(), end, v);
      if (ec == std::errc() && ptr == end && std::trunc(v) == v && std::fabs(v) <= kMaxExactDouble) {
        return static_cast<std::int64_t>(v);
      }
    }
  }
  return field_error("missing or non-integer field", name);
}

bool field_bool_default_true(const json::Value& row, std::string_view name) {
  const json::Value* member = row.find(name);
  if (member == nullptr) return true;
  if (const bool* flag = member->as_bool()) return *flag;
  if (const json::Number* n = member->as_number()) return !is_zero(n->text);
  return true;
}

Result<Bytes> parse_byte_array_field(const json::Value& value) {
  if (const std::string* text = value.as_string()) return bytes_of_hex(*text);
  if (const json::Array* items = value.as_array()) return bytes_of_array(*items);
  if (value.as_object() != nullptr) {
    const json::Value* data = value.find("data");
    const json::Array* items = data == nullptr ? nullptr : data->as_array();
    if (items == nullptr) {
      return VardexError::chain_schema("byte_array object shape: expected {data: [...]} with an array");
    }
    return bytes_of_array(*items);
  }
  if (value.is_null()) return VardexError::chain_schema("byte_array field is null");
  return VardexError::chain_schema("byte_array field: unsupported shape");
}

Result<RawMemoryRow> parse_memory_row(const json::Value& value) {
  if (value.as_object() == nullptr) return VardexError::chain_schema("memory row: expected object");
  RawMemoryRow row;
  VARDEX_ASSIGN_OR_RETURN(row.id, field_i64(value, "id"));
  row.file_path = lenient_text(value, "file_path");
  VARDEX_ASSIGN_OR_RETURN(row.content_cipher, byte_array_field(value, "content_cipher"));
  VARDEX_ASSIGN_OR_RETURN(row.nonce, byte_array_field(value, "nonce"));
  VARDEX_ASSIGN_OR_RETURN(row.score, field_i64(value, "score"));
  row.is_active = field_bool_default_true(value, "is_active");
  VARDEX_ASSIGN_OR_RETURN(row.created_at, field_i64(value, "created_at"));
  const json::Value* updated_at = value.find("updated_at");
  const auto updated = updated_at == nullptr ? std::nullopt : updated_at->as_int64();
  row.updated_at = updated.value_or(row.created_at);
  return row;
}

Result<RawRollbackRow> parse_rollback_row(const json::Value& value) {
  if (value.as_object() == nullptr) return VardexError::chain_schema("rollback row: expected object");
  RawRollbackRow row;
  VARDEX_ASSIGN_OR_RETURN(row.from_id, field_i64(value, "from_id"));
  VARDEX_ASSIGN_OR_RETURN(row.to_id, field_i64(value, "to_id"));
  row.file_path = lenient_text(value, "file_path");
  VARDEX_ASSIGN_OR_RETURN(row.reason, required_text(value, "reason"));
  VARDEX_ASSIGN_OR_RETURN(row.signer, byte_array_field(value, "signer"));
  VARDEX_ASSIGN_OR_RETURN(row.created_at, field_i64(value, "created_at"));
  return row;
}

Result<std::vector<RawMemoryRow>> parse_memory_rows(const json::Value& value) {
  return parse_rows<RawMemoryRow, &parse_memory_row>(value, "memory rows: expected array");
}

Result<std::vector<RawRollbackRow>> parse_rollback_rows(const json::Value& value) {
  return parse_rows<RawRollbackRow, &parse_rollback_row>(value, "rollback rows: expected array");
}

Result<std::optional<std::int64_t>> parse_active_memory_id(const json::Value& value) {
  if (value.is_null()) return std::optional<std::int64_t>();
  if (const auto id = value.as_int64()) return id;
  return VardexError::chain_schema("active memory id: expected integer or null");
}

}  // namespace vardex
