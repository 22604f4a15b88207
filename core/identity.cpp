#include "identity.h"

#include <new>

#include "hex.h"
#include "text.h"

namespace vardex {
namespace {

bool is_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

CurveContext::CurveContext() : ctx_(secp256k1_context_create(SECP256K1_CONTEXT_NONE)) {
  if (ctx_ == nullptr) throw std::bad_alloc();
}

bool is_valid_private_key(std::string_view s) noexcept {
  if (s.size() != 64) return false;
  for (char c : s) {
    if (!is_hex_digit(c)) return false;
  }
  return true;
}

Result<SecretKey> parse_private_key(const CurveContext& ctx, std::string_view s) {
  if (!is_valid_private_key(s)) return VardexError::invalid_private_key();
  SecretKey key;
  if (!hex_decode_into(s, key.span()).ok()) return VardexError::invalid_private_key();
  if (secp256k1_ec_seckey_verify(ctx.get(), key.data()) != 1) {
    return VardexError::secp256k1(Secp256k1Error::InvalidSecretKey);
  }
  return key;
}

SecretKey generate_secret_key(const CurveContext& ctx) {
  SecretKey key;
  do {
    random_secret_bytes(key.span());
  } while (secp256k1_ec_seckey_verify(ctx.get(), key.data()) != 1);
  return key;
}

CompressedPublicKey public_key_of(const CurveContext& ctx, const SecretKey& key) {
  secp256k1_pubkey point;
  if (secp256k1_ec_pubkey_create(ctx.get(), &point, key.data()) != 1) {
    throw InternalFault("public_key_of: secret key refused after validation");
  }
  CompressedPublicKey out;
  std::size_t size = out.size();
  secp256k1_ec_pubkey_serialize(ctx.get(), out.data(), &size, &point, SECP256K1_EC_COMPRESSED);
  return out;
}

Result<std::string> derive_public_key(std::string_view s) {
  const CurveContext ctx;
  VARDEX_ASSIGN_OR_RETURN(const SecretKey key, parse_private_key(ctx, s));
  return hex_encode(public_key_of(ctx, key));
}

KeyPair generate_keypair() {
  const CurveContext ctx;
  const SecretKey key = generate_secret_key(ctx);
  return KeyPair{hex_encode(key.span()), hex_encode(public_key_of(ctx, key))};
}

Result<AgentAuth> load_agent(std::string_view privkey) {
  SecretString normalized(strip_leading(trim(privkey), "0x"));
  for (char& c : normalized) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  VARDEX_ASSIGN_OR_RETURN(std::string pubkey, derive_public_key(normalized));
  return AgentAuth{std::move(normalized), std::move(pubkey)};
}

}  // namespace vardex
