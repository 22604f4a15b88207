#include "crypto_ecies.h"

#include <simdjson.h>

#include <array>

#include "hex.h"
#include "text.h"

namespace vardex {
namespace {

struct DomainInfo {
  std::string_view name;
  std::string_view tag;
};

constexpr std::array<DomainInfo, 5> kDomains = {{
    {"toolcall", "vardex:chain-encryption:v1:toolcall"},
    {"verdict", "vardex:chain-encryption:v1:verdict"},
    {"note", "vardex:chain-encryption:v1:note"},
    {"policy", "vardex:chain-encryption:v1:policy"},
    {"raw", "vardex:chain-encryption:v1:raw"},
}};

constexpr std::size_t kKeyOffset = 1;
constexpr std::size_t kNonceOffset = kKeyOffset + 33;
constexpr std::size_t kSealedOffset = kNonceOffset + kGcmNonceSize;

}  // namespace

std::optional<EciesDomain> ecies_domain_named(std::string_view name) noexcept {
  for (std::size_t i = 0; i < kDomains.size(); ++i) {
    if (kDomains[i].name == name) return static_cast<EciesDomain>(i);
  }
  return std::nullopt;
}

std::string_view domain_tag(EciesDomain domain) noexcept { return kDomains[static_cast<std::size_t>(domain)].tag; }

SecretString normalize_hex(std::string_view text) {
  text = trim(text);
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  SecretString out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

Secret<32> shared_x(const CurveContext& ctx, const SecretKey& scalar, const secp256k1_pubkey& point) {
  secp256k1_pubkey product = point;
  // Both inputs are valid, so the product is never the point at infinity.
  if (secp256k1_ec_pubkey_tweak_mul(ctx.get(), &product, scalar.data()) != 1) {
    throw InternalFault("shared_x: point multiplication refused a valid scalar");
  }
  std::array<std::uint8_t, 33> encoded;
  const WipeOnExit wipe_encoded(encoded);
  std::size_t size = encoded.size();
  secp256k1_ec_pubkey_serialize(ctx.get(), encoded.data(), &size, &product, SECP256K1_EC_COMPRESSED);
  wipe(&product, sizeof product);
  Secret<32> x;
  std::copy(encoded.begin() + 1, encoded.end(), x.data());
  return x;
}

Secret<32> derive_key(const Secret<32>& ikm, std::span<const std::uint8_t, 33> salt, EciesDomain domain) {
  Secret<32> key;
  hkdf_sha256(ikm.span(), salt, as_bytes(domain_tag(domain)), key.span());
  return key;
}

Bytes aad_bytes(EciesDomain domain, std::string_view aad) {
  const std::string_view tag = domain_tag(domain);
  Bytes out;
  out.reserve(tag.size() + 1 + aad.size());
  out.insert(out.end(), tag.begin(), tag.end());
  out.push_back('|');
  out.insert(out.end(), aad.begin(), aad.end());
  return out;
}

Result<Bytes> encrypt_for_org(std::span<const std::uint8_t> plaintext, std::string_view org_pub_key_hex,
                              std::string_view aad, EciesDomain domain) {
  auto decoded = hex_decode(normalize_hex(org_pub_key_hex));
  if (!decoded.ok()) return VardexError::ecies("org public key hex decode: " + decoded.error().payload());
  const Bytes& org_key = decoded.value();
  if (org_key.size() != 33) {
    return VardexError::ecies("invalid org public key: expected 33 bytes (compressed secp256k1), got " +
                              std::to_string(org_key.size()));
  }
  const CurveContext ctx;
  secp256k1_pubkey org_point;
  if (secp256k1_ec_pubkey_parse(ctx.get(), &org_point, org_key.data(), org_key.size()) != 1) {
    return VardexError::ecies("org public key: malformed public key");
  }
  if (plaintext.size() > kGcmMaxPlaintext) return VardexError::ecies("aes-gcm encrypt: aead::Error");

  Bytes envelope(plaintext.size() + kEnvelopeOverhead);
  std::span<std::uint8_t> out(envelope);
  out[0] = kEciesFormatVersion;
  const auto ephemeral_key = out.subspan<kKeyOffset, 33>();
  const auto nonce = out.subspan<kNonceOffset, kGcmNonceSize>();
  {
    const SecretKey ephemeral = generate_secret_key(ctx);
    const CompressedPublicKey ephemeral_public = public_key_of(ctx, ephemeral);
    std::copy(ephemeral_public.begin(), ephemeral_public.end(), ephemeral_key.begin());
    const Secret<32> key = derive_key(shared_x(ctx, ephemeral, org_point), ephemeral_key, domain);
    random_bytes(nonce);
    aes256gcm_encrypt(key.span(), nonce, aad_bytes(domain, aad), plaintext, out.subspan(kSealedOffset));
  }
  return envelope;
}

Result<std::string> decrypt_for_org(std::span<const std::uint8_t> payload, std::string_view org_priv_key_hex,
                                    std::string_view aad, EciesDomain domain) {
  if (payload.size() < kEnvelopeOverhead) return VardexError::ecies("malformed encrypted payload: too short");
  if (payload[0] != kEciesFormatVersion) {
    return VardexError::ecies("unsupported encrypted payload version: " + std::to_string(payload[0]) +
                              " (expected 1)");
  }
  const CurveContext ctx;
  const auto ephemeral_key = payload.subspan<kKeyOffset, 33>();
  secp256k1_pubkey ephemeral_point;
  if (secp256k1_ec_pubkey_parse(ctx.get(), &ephemeral_point, ephemeral_key.data(), ephemeral_key.size()) != 1) {
    return VardexError::ecies("ephemeral pubkey: malformed public key");
  }

  const SecretString priv_hex = normalize_hex(org_priv_key_hex);
  // Decoded into a buffer of our own, so that even the bytes decoded before an invalid
  // character are wiped.
  Bytes priv_bytes(priv_hex.size() / 2);
  const WipeOnExit wipe_priv_bytes(priv_bytes);
  if (const Status decoded = hex_decode_into(priv_hex, priv_bytes); !decoded.ok()) {
    return VardexError::ecies("privkey hex decode: " + decoded.error().payload());
  }
  if (priv_bytes.size() != SecretKey::size()) {
    return VardexError::ecies("invalid privkey: expected 32 bytes, got " + std::to_string(priv_bytes.size()));
  }
  SecretKey org_key;
  std::copy(priv_bytes.begin(), priv_bytes.end(), org_key.data());
  if (secp256k1_ec_seckey_verify(ctx.get(), org_key.data()) != 1) {
    return VardexError::ecies("privkey: malformed or out-of-range secret key");
  }

  const Secret<32> key = derive_key(shared_x(ctx, org_key, ephemeral_point), ephemeral_key, domain);
  const auto sealed = payload.subspan(kSealedOffset);
  std::string plaintext(sealed.size() - kGcmTagSize, '\0');
  if (!aes256gcm_decrypt(key.span(), payload.subspan<kNonceOffset, kGcmNonceSize>(), aad_bytes(domain, aad), sealed,
                         {reinterpret_cast<std::uint8_t*>(plaintext.data()), plaintext.size()})) {
    return VardexError::ecies("aes-gcm decrypt: aead::Error");
  }
  if (auto error = decrypted_utf8_error(plaintext)) return VardexError::ecies(std::move(*error));
  return plaintext;
}

std::optional<std::string> decrypted_utf8_error(std::string_view plaintext) {
  // simdjson's vectorised check keeps the common, valid case at memory speed.
  if (simdjson::validate_utf8(plaintext.data(), plaintext.size())) return std::nullopt;
  const std::optional<Utf8Fault> fault = first_utf8_fault(plaintext);
  if (!fault) throw InternalFault("decrypted_utf8_error: the UTF-8 checks disagree");
  if (fault->length == 0) {
    return "decrypted bytes not utf-8: incomplete utf-8 byte sequence from index " + std::to_string(fault->index);
  }
  return "decrypted bytes not utf-8: invalid utf-8 sequence of " + std::to_string(fault->length) +
         " bytes from index " + std::to_string(fault->index);
}

}  // namespace vardex
