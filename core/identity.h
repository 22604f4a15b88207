// secp256k1 keys and agent identity: the key text forms, private-key parsing, public-key
// derivation, key generation and agent loading. Curve work is done by libsecp256k1.
#pragma once

#include <secp256k1.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto.h"
#include "error.h"

namespace vardex {

using SecretKey = Secret<32>;                      ///< a valid secp256k1 secret key, big-endian
using CompressedPublicKey = std::array<std::uint8_t, 33>;  ///< SEC 1 compressed point

// A libsecp256k1 context made for one operation and destroyed with it.
class CurveContext {
 public:
  CurveContext();
  CurveContext(const CurveContext&) = delete;
  CurveContext& operator=(const CurveContext&) = delete;
  ~CurveContext() { secp256k1_context_destroy(ctx_); }
  const secp256k1_context* get() const noexcept { return ctx_; }

 private:
  secp256k1_context* ctx_;
};

// Whether `s` is strict private-key hex: exactly 64 bytes, each 0-9, a-f or A-F. The value
// is not checked against the curve order.
bool is_valid_private_key(std::string_view s) noexcept;

// Returns the secret key written as strict private-key hex `s`.
// Errors: InvalidPrivateKey (not strict private-key hex); Secp256k1 with the invalid
// secret key text (zero, or not below the group order). Secret: s, the result.
Result<SecretKey> parse_private_key(const CurveContext& ctx, std::string_view s);

// Returns a secret key drawn from the secure generator, drawing again until libsecp256k1
// accepts it (rejection sampling, no reduction). Secret: the result.
SecretKey generate_secret_key(const CurveContext& ctx);

// Returns the compressed public key of a valid secret key. Secret: key.
CompressedPublicKey public_key_of(const CurveContext& ctx, const SecretKey& key);

// Returns the public-key hex (66 lower-case digits) of strict private-key hex `s`.
// Errors: as parse_private_key. Secret: s.
Result<std::string> derive_public_key(std::string_view s);

// A generated key pair.
struct KeyPair {
  SecretString priv_key;  ///< 64 lower-case hex digits
  std::string pub_key;    ///< public-key hex

  bool operator==(const KeyPair&) const = default;
};

// An agent identity loaded from a private key.
struct AgentAuth {
  SecretString privkey;  ///< the normalised private key, 64 lower-case hex digits
  std::string pubkey;    ///< public-key hex

  bool operator==(const AgentAuth&) const = default;
};

// Returns a fresh key pair from the secure generator. Cannot fail.
KeyPair generate_keypair();

// Returns the identity of a private key given as lenient private-key text: surrounding
// Unicode white space and every leading "0x" are removed and the letters lower-cased.
// Errors: as parse_private_key, on the normalised text. Secret: privkey.
Result<AgentAuth> load_agent(std::string_view privkey);

}  // namespace vardex
