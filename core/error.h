// The core's error model: VardexError (ten kinds with fixed display texts), Result<T, E>
// (a value or one error), and InternalFault for broken invariants.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vardex {

using Bytes = std::vector<std::uint8_t>;

enum class ErrorKind : std::uint8_t {
  InvalidPrivateKey,
  InvalidBlockchainRid,
  HexDecode,
  Secp256k1,
  SigningFailed,
  RedactionPattern,
  SignatureVerification,
  MemoryCrypto,
  Ecies,
  ChainSchema,
};

// The curve library's failure vocabulary; used as the payload of Secp256k1 errors and
// inside the texts of other kinds.
enum class Secp256k1Error : std::uint8_t {
  IncorrectSignature,
  InvalidMessage,
  InvalidPublicKey,
  InvalidSignature,
  InvalidSecretKey,
  InvalidSharedSecret,
  InvalidRecoveryId,
  InvalidTweak,
  NotEnoughMemory,
  InvalidPublicKeySum,
  InvalidParityValue,
  InvalidEllSwift,
};

const char* secp256k1_error_text(Secp256k1Error e) noexcept;

class VardexError {
 public:
  static VardexError invalid_private_key() { return {ErrorKind::InvalidPrivateKey, {}}; }
  static VardexError invalid_blockchain_rid() { return {ErrorKind::InvalidBlockchainRid, {}}; }
  static VardexError hex_decode(std::string text) { return {ErrorKind::HexDecode, std::move(text)}; }
  static VardexError secp256k1(Secp256k1Error e) { return {ErrorKind::Secp256k1, secp256k1_error_text(e)}; }
  static VardexError signing_failed(std::string text) { return {ErrorKind::SigningFailed, std::move(text)}; }
  // `pattern_kind` names the table row; `engine_error` is the regex engine's compile message.
  static VardexError redaction_pattern(std::string_view pattern_kind, std::string_view engine_error);
  static VardexError signature_verification(std::string text) {
    return {ErrorKind::SignatureVerification, std::move(text)};
  }
  static VardexError memory_crypto(std::string text) { return {ErrorKind::MemoryCrypto, std::move(text)}; }
  static VardexError ecies(std::string text) { return {ErrorKind::Ecies, std::move(text)}; }
  static VardexError chain_schema(std::string text) { return {ErrorKind::ChainSchema, std::move(text)}; }

  ErrorKind kind() const noexcept { return kind_; }
  const std::string& payload() const noexcept { return payload_; }
  // The display text: the kind's fixed prefix followed by the payload.
  std::string message() const;

 private:
  VardexError(ErrorKind kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}
  ErrorKind kind_;
  std::string payload_;  ///< payload text; for RedactionPattern "kind: engine error"
};

// A broken invariant (a shipped table that does not build, an aborted redaction search).
// The only exception the core throws across its API, besides std::bad_alloc.
class InternalFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <class T, class E = VardexError>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }
  const E& error() const& { return *error_; }
  E&& error() && { return std::move(*error_); }

 private:
  std::optional<E> error_;
};

using Status = Result<void>;

}  // namespace vardex

// Propagate an error from an expression returning a Result; otherwise bind its value.
#define VARDEX_CONCAT_INNER(a, b) a##b
#define VARDEX_CONCAT(a, b) VARDEX_CONCAT_INNER(a, b)
#define VARDEX_ASSIGN_OR_RETURN(lhs, expr) \
  VARDEX_ASSIGN_OR_RETURN_IMPL(VARDEX_CONCAT(vardex_result_, __LINE__), lhs, expr)
#define VARDEX_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                                 \
  if (!tmp.ok()) return std::move(tmp).error();      \
  lhs = std::move(tmp).value()
#define VARDEX_RETURN_IF_ERROR(expr)                          \
  do {                                                        \
    auto vardex_status_ = (expr);                             \
    if (!vardex_status_.ok()) return std::move(vardex_status_).error(); \
  } while (0)
