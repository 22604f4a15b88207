// The ledger's transaction format: the chain value model (seven kinds, each written in DER
// inside a context tag naming its kind), the transaction layout, the Merkle hash that
// signatures sign, signing, and the hex text of a signed transaction.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "crypto.h"
#include "error.h"
#include "identity.h"

namespace vardex {

class ChainValue {
 public:
  using Entries = std::vector<std::pair<std::string, ChainValue>>;  ///< sorted by key bytes, keys unique
  using Elements = std::vector<ChainValue>;
  struct BigInteger {
    Bytes twos_complement;  ///< big-endian two's complement of any length (empty is 0)
  };

  ChainValue() = default;  // null
  static ChainValue byte_array(Bytes bytes) { return ChainValue(std::move(bytes)); }
  static ChainValue string(std::string text) { return ChainValue(std::move(text)); }
  static ChainValue integer(std::int64_t value) { return ChainValue(value); }
  // Sorts the entries by key bytes; of repeated keys the last entry stays.
  static ChainValue dictionary(Entries entries);
  static ChainValue array(Elements elements) { return ChainValue(std::move(elements)); }
  static ChainValue big_integer(Bytes twos_complement) { return ChainValue(BigInteger{std::move(twos_complement)}); }

  // The kinds, in the order of their context tag numbers 0 to 6.
  using Content = std::variant<std::monostate, Bytes, std::string, std::int64_t, Entries, Elements, BigInteger>;
  const Content& content() const noexcept { return v_; }

 private:
  explicit ChainValue(Content content) : v_(std::move(content)) {}
  Content v_;
};

struct ChainOperation {
  std::string name;
  std::vector<ChainValue> args;
};

using CompactSignature = std::array<std::uint8_t, 64>;

struct ChainTransaction {
  std::array<std::uint8_t, 32> blockchain_rid{};
  std::vector<ChainOperation> operations;
  std::vector<CompressedPublicKey> signers;     ///< compressed secp256k1 public keys
  std::vector<CompactSignature> signatures;     ///< r then s, at the positions of their signers
};

// Returns the DER encoding of `value` inside its kind's context tag. Cannot fail.
Bytes encode_chain_value(const ChainValue& value);

// Returns the Merkle hash of `value` (SHA-256 leaves, pair layers, array and dictionary
// heads). Cannot fail.
Sha256Digest chain_merkle_hash(const ChainValue& value);

// Appends the public key of `privkey_hex` to the signers, then the compact low-S ECDSA
// signature (RFC 6979 nonce) of the Merkle hash of the body [RID, operations, signers].
// Errors: InvalidSecretKey, for a text that is not 64 hex digits or whose value is zero
// or not below the group order; the transaction is then unchanged. Secret: privkey_hex.
Result<void, Secp256k1Error> sign_chain_transaction(ChainTransaction& tx, std::string_view privkey_hex);

// Returns the lower-case hex of the encoding of the transaction [body, signatures].
std::string encode_chain_transaction_hex(const ChainTransaction& tx);

}  // namespace vardex
