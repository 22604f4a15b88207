#include "chain_value.h"

#include <secp256k1.h>

#include <algorithm>
#include <cstddef>
#include <span>

#include "hex.h"
#include "json.h"

namespace vardex {
namespace {

// The context tag of a kind is kOuterTag plus its index in ChainValue::Content; then the
// tags of the inner DER elements.
constexpr std::uint8_t kOuterTag = 0xA0;
constexpr std::uint8_t kTagNull = 0x05;
constexpr std::uint8_t kTagOctetString = 0x04;
constexpr std::uint8_t kTagUtf8String = 0x0C;
constexpr std::uint8_t kTagInteger = 0x02;
constexpr std::uint8_t kTagSequence = 0x30;

// Heads of the Merkle hash.
constexpr std::uint8_t kHashLeaf = 0x01;
constexpr std::uint8_t kHashPair = 0x00;
constexpr std::uint8_t kHashArray = 0x07;
constexpr std::uint8_t kHashDictionary = 0x08;

// The size of a DER element (tag, definite length, content) with `content` bytes.
std::size_t element_size(std::size_t content) noexcept {
  std::size_t length_bytes = 1;
  if (content >= 0x80) {
    for (std::size_t rest = content; rest != 0; rest >>= 8) ++length_bytes;
  }
  return 1 + length_bytes + content;
}

void put_header(Bytes& out, std::uint8_t tag, std::size_t content) {
  out.push_back(tag);
  if (content < 0x80) {
    out.push_back(static_cast<std::uint8_t>(content));
    return;
  }
  int n = 0;
  for (std::size_t rest = content; rest != 0; rest >>= 8) ++n;
  out.push_back(static_cast<std::uint8_t>(0x80 + n));
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(content >> (8 * i)));
}

// The fewest big-endian two's-complement bytes (at least one) of the same value.
std::span<const std::uint8_t> minimal_integer(std::span<const std::uint8_t> bytes) noexcept {
  static constexpr std::uint8_t kZero[1] = {0};
  if (bytes.empty()) return kZero;
  std::size_t i = 0;
  while (i + 1 < bytes.size() && ((bytes[i] == 0x00 && (bytes[i + 1] & 0x80) == 0) ||
                                  (bytes[i] == 0xFF && (bytes[i + 1] & 0x80) != 0))) {
    ++i;
  }
  return bytes.subspan(i);
}

std::array<std::uint8_t, 8> big_endian(std::int64_t value) noexcept {
  std::array<std::uint8_t, 8> out{};
  const auto u = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(u >> (56 - 8 * i));
  return out;
}

std::span<const std::uint8_t> text_bytes(const std::string& text) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Encoding in two passes: the size of every element is known before it is written, so the
// output is allocated once. Each level measures its children again, so the work grows with
// the nesting depth, which is four in a transaction.
struct Encoder {
  // The content size of the inner DER element of `value`.
  static std::size_t content_size(const ChainValue& value) {
    return std::visit(
        [](const auto& c) -> std::size_t {
          using T = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            return 0;
          } else if constexpr (std::is_same_v<T, Bytes> || std::is_same_v<T, std::string>) {
            return c.size();
          } else if constexpr (std::is_same_v<T, std::int64_t>) {
            const auto bytes = big_endian(c);
            return minimal_integer(bytes).size();
          } else if constexpr (std::is_same_v<T, ChainValue::BigInteger>) {
            return minimal_integer(c.twos_complement).size();
          } else if constexpr (std::is_same_v<T, ChainValue::Elements>) {
            std::size_t content = 0;
            for (const ChainValue& e : c) content += size(e);
            return content;
          } else {
            std::size_t content = 0;
            for (const auto& [key, v] : c) content += element_size(entry_content_size(key, v));
            return content;
          }
        },
        value.content());
  }

  // The size of the whole encoding of `value`, context tag included.
  static std::size_t size(const ChainValue& value) { return element_size(element_size(content_size(value))); }

  static std::size_t entry_content_size(const std::string& key, const ChainValue& value) {
    return element_size(key.size()) + size(value);
  }

  static void write(const ChainValue& value, Bytes& out) {
    const std::size_t content = content_size(value);
    put_header(out, static_cast<std::uint8_t>(kOuterTag + value.content().index()), element_size(content));
    std::visit(
        [&out, content](const auto& c) {
          using T = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<T, std::monostate>) {
            put_header(out, kTagNull, 0);
          } else if constexpr (std::is_same_v<T, Bytes>) {
            put_bytes(out, kTagOctetString, c);
          } else if constexpr (std::is_same_v<T, std::string>) {
            put_bytes(out, kTagUtf8String, text_bytes(c));
          } else if constexpr (std::is_same_v<T, std::int64_t>) {
            const auto bytes = big_endian(c);
            put_bytes(out, kTagInteger, minimal_integer(bytes));
          } else if constexpr (std::is_same_v<T, ChainValue::BigInteger>) {
            put_bytes(out, kTagInteger, minimal_integer(c.twos_complement));
          } else if constexpr (std::is_same_v<T, ChainValue::Elements>) {
            put_header(out, kTagSequence, content);
            for (const ChainValue& e : c) write(e, out);
          } else {
            // Each entry is a SEQUENCE of the bare key string and the value's encoding.
            put_header(out, kTagSequence, content);
            for (const auto& [key, v] : c) {
              put_header(out, kTagSequence, entry_content_size(key, v));
              put_bytes(out, kTagUtf8String, text_bytes(key));
              write(v, out);
            }
          }
        },
        value.content());
  }

  static void put_bytes(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> bytes) {
    put_header(out, tag, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
};

// The hash of an array or dictionary whose items hash to `items`: pair layers, where an odd
// last item moves up unchanged, until two items remain; they are joined under `head`.
Sha256Digest merkle_root(std::uint8_t head, std::vector<Sha256Digest> items) {
  std::array<std::uint8_t, 65> node{};
  node[0] = head;
  if (items.size() == 1) {
    std::copy(items[0].begin(), items[0].end(), node.begin() + 1);
  } else if (items.size() >= 2) {
    while (items.size() > 2) {
      std::size_t next = 0;
      std::array<std::uint8_t, 65> pair{};
      pair[0] = kHashPair;
      for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
        std::copy(items[i].begin(), items[i].end(), pair.begin() + 1);
        std::copy(items[i + 1].begin(), items[i + 1].end(), pair.begin() + 33);
        items[next++] = sha256(pair);
      }
      if (items.size() % 2 == 1) items[next++] = items.back();
      items.resize(next);
    }
    std::copy(items[0].begin(), items[0].end(), node.begin() + 1);
    std::copy(items[1].begin(), items[1].end(), node.begin() + 33);
  }
  return sha256(node);
}

Sha256Digest leaf_hash(const ChainValue& value) {
  Bytes data;
  data.reserve(1 + Encoder::size(value));
  data.push_back(kHashLeaf);
  Encoder::write(value, data);
  return sha256(data);
}

}  // namespace

ChainValue ChainValue::dictionary(Entries entries) {
  json::sort_keys_last_wins(entries);
  return ChainValue(std::move(entries));
}

Bytes encode_chain_value(const ChainValue& value) {
  Bytes out;
  out.reserve(Encoder::size(value));
  Encoder::write(value, out);
  return out;
}

Sha256Digest chain_merkle_hash(const ChainValue& value) {
  if (const auto* elements = std::get_if<ChainValue::Elements>(&value.content())) {
    std::vector<Sha256Digest> items;
    items.reserve(elements->size());
    for (const ChainValue& e : *elements) items.push_back(chain_merkle_hash(e));
    return merkle_root(kHashArray, std::move(items));
  }
  if (const auto* entries = std::get_if<ChainValue::Entries>(&value.content())) {
    std::vector<Sha256Digest> items;
    items.reserve(2 * entries->size());
    for (const auto& [key, v] : *entries) {
      items.push_back(leaf_hash(ChainValue::string(key)));
      items.push_back(chain_merkle_hash(v));
    }
    return merkle_root(kHashDictionary, std::move(items));
  }
  return leaf_hash(value);
}

namespace {

ChainValue byte_array_of(std::span<const std::uint8_t> bytes) {
  return ChainValue::byte_array(Bytes(bytes.begin(), bytes.end()));
}

// An array of the given values, moved in (an initializer list would copy them).
template <class... V>
ChainValue array_of(V&&... values) {
  ChainValue::Elements elements;
  elements.reserve(sizeof...(values));
  (elements.push_back(std::forward<V>(values)), ...);
  return ChainValue::array(std::move(elements));
}

// [RID, [[name, [args...]]...], [signers...]]
ChainValue body_value(const ChainTransaction& tx) {
  ChainValue::Elements operations;
  operations.reserve(tx.operations.size());
  for (const ChainOperation& op : tx.operations) {
    operations.push_back(array_of(ChainValue::string(op.name), ChainValue::array(op.args)));
  }
  ChainValue::Elements signers;
  signers.reserve(tx.signers.size());
  for (const auto& signer : tx.signers) signers.push_back(byte_array_of(signer));
  return array_of(byte_array_of(tx.blockchain_rid), ChainValue::array(std::move(operations)),
                  ChainValue::array(std::move(signers)));
}

}  // namespace

Result<void, Secp256k1Error> sign_chain_transaction(ChainTransaction& tx, std::string_view privkey_hex) {
  const CurveContext ctx;
  auto key = parse_private_key(ctx, privkey_hex);
  if (!key.ok()) return Secp256k1Error::InvalidSecretKey;
  tx.signers.push_back(public_key_of(ctx, key.value()));
  const Sha256Digest digest = chain_merkle_hash(body_value(tx));
  secp256k1_ecdsa_signature signature;
  // A null nonce function selects RFC 6979 with no extra entropy; the result is low-S.
  if (!secp256k1_ecdsa_sign(ctx.get(), &signature, digest.data(), key.value().data(), nullptr, nullptr)) {
    tx.signers.pop_back();
    return Secp256k1Error::InvalidSecretKey;
  }
  CompactSignature compact{};
  secp256k1_ecdsa_signature_serialize_compact(ctx.get(), compact.data(), &signature);
  tx.signatures.push_back(compact);
  return {};
}

std::string encode_chain_transaction_hex(const ChainTransaction& tx) {
  ChainValue::Elements signatures;
  signatures.reserve(tx.signatures.size());
  for (const auto& signature : tx.signatures) signatures.push_back(byte_array_of(signature));
  const ChainValue whole = array_of(body_value(tx), ChainValue::array(std::move(signatures)));
  return hex_encode(encode_chain_value(whole));
}

}  // namespace vardex
