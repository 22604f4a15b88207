// Encryption to an organisation's secp256k1 public key: an ephemeral key per message, the
// x coordinate of the shared point, HKDF-SHA-256 bound to a domain, and AES-256-GCM with
// associated data binding the same domain and the caller's context text. The result is
// the binary envelope: version 1, ephemeral public key (33), nonce (12), ciphertext, tag (16).
#pragma once

#include <secp256k1.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto.h"
#include "error.h"
#include "identity.h"

namespace vardex {

enum class EciesDomain : std::uint8_t { Toolcall, Verdict, Note, Policy, Raw };

inline constexpr std::uint8_t kEciesFormatVersion = 1;
// Envelope bytes besides the ciphertext: version, ephemeral key, nonce, tag.
inline constexpr std::size_t kEnvelopeOverhead = 1 + 33 + kGcmNonceSize + kGcmTagSize;

// The domain named exactly `name` ("toolcall", "verdict", "note", "policy", "raw").
std::optional<EciesDomain> ecies_domain_named(std::string_view name) noexcept;

// The domain's tag, "vardex:chain-encryption:v1:" + its name: HKDF info and aad prefix.
std::string_view domain_tag(EciesDomain domain) noexcept;

// A key text without surrounding white space and one leading "0x" or "0X", in lower case.
// Private keys pass through it, so the result wipes itself.
SecretString normalize_hex(std::string_view text);

// The x coordinate of `scalar` times `point`. Secret: scalar, the result.
Secret<32> shared_x(const CurveContext& ctx, const SecretKey& scalar, const secp256k1_pubkey& point);

// The AES key of one message: HKDF-SHA-256 of the shared x coordinate, salted with the
// envelope's ephemeral public key, info the domain tag. Secret: ikm, the result.
Secret<32> derive_key(const Secret<32>& ikm, std::span<const std::uint8_t, 33> salt, EciesDomain domain);

// The associated data: the domain tag, "|", then `aad`.
Bytes aad_bytes(EciesDomain domain, std::string_view aad);

// Returns the envelope of `plaintext` for the organisation key `org_pub_key_hex`
// (compressed, in hex, with optional white space and "0x"/"0X" prefix).
// Errors: Ecies (key hex, key length, malformed key, plaintext beyond the GCM limit).
Result<Bytes> encrypt_for_org(std::span<const std::uint8_t> plaintext, std::string_view org_pub_key_hex,
                              std::string_view aad, EciesDomain domain);

// Returns the text sealed in `payload` for the organisation's private key.
// Errors: Ecies, checked in the order payload length, version, ephemeral key, private key
// (hex, length, range), authentication, UTF-8. Secret: org_priv_key_hex.
Result<std::string> decrypt_for_org(std::span<const std::uint8_t> payload, std::string_view org_priv_key_hex,
                                    std::string_view aad, EciesDomain domain);

// The text of the first UTF-8 error in decrypted bytes, in the form "decrypted bytes not
// utf-8: " + detail; nullopt when they are valid UTF-8. Shared with memory decryption.
std::optional<std::string> decrypted_utf8_error(std::string_view plaintext);

}  // namespace vardex
