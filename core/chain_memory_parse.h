// Parsing of the rows that the memory queries return (memory versions, rollbacks, byte-array
// cells, the active memory id), strict about the fields callers depend on and lenient about
// the others.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "json.h"

namespace vardex {

// One stored version of one memory file.
struct RawMemoryRow {
  std::int64_t id = 0;
  std::string file_path;  ///< empty when missing or not a string
  Bytes content_cipher;
  Bytes nonce;
  std::int64_t score = 0;  ///< not range-checked here
  bool is_active = true;
  std::int64_t created_at = 0;
  std::int64_t updated_at = 0;  ///< created_at when missing or not an integer
};

// One rollback of one memory file to an earlier version.
struct RawRollbackRow {
  std::int64_t from_id = 0;
  std::int64_t to_id = 0;
  std::string file_path;  ///< empty when missing or not a string
  std::string reason;
  Bytes signer;
  std::int64_t created_at = 0;
};

// The member `name` of `row` as a signed 64-bit integer: an integer number, or a number with
// a fraction or exponent whose value is integral and at most 2^53 in magnitude.
// Errors: ChainSchema "missing or non-integer field `name`".
Result<std::int64_t> field_i64(const json::Value& row, std::string_view name);

// The member `name` read as a flag: true when missing; a boolean's value; for a number, false
// exactly when it is zero; true for anything else.
bool field_bool_default_true(const json::Value& row, std::string_view name);

// The bytes of a byte-array cell: a hex string (trimmed, one "0x"/"0X" removed), an array of
// numbers 0..255, or an object whose "data" member is such an array. Errors: ChainSchema.
Result<Bytes> parse_byte_array_field(const json::Value& value);

// Errors: ChainSchema, for a non-object or for the first bad field in column order.
Result<RawMemoryRow> parse_memory_row(const json::Value& value);
Result<RawRollbackRow> parse_rollback_row(const json::Value& value);

// Every element parsed in order; the first bad element ends the parse. Errors: ChainSchema.
Result<std::vector<RawMemoryRow>> parse_memory_rows(const json::Value& value);
Result<std::vector<RawRollbackRow>> parse_rollback_rows(const json::Value& value);

// Absent for null, the integer for an integer in the signed 64-bit range. Errors: ChainSchema.
Result<std::optional<std::int64_t>> parse_active_memory_id(const json::Value& value);

}  // namespace vardex
