#include "signing.h"

#include <secp256k1.h>

#include "chain_value.h"
#include "crypto.h"
#include "hex.h"
#include "identity.h"
#include "text.h"

namespace vardex {
namespace {

bool is_hex(std::string_view text) noexcept {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

VardexError verification_error(std::string_view detail, Secp256k1Error e) {
  return VardexError::signature_verification(std::string(detail) + secp256k1_error_text(e));
}

}  // namespace

Result<BlockchainRid> parse_blockchain_rid(std::string_view rid_hex) {
  VARDEX_ASSIGN_OR_RETURN(const Bytes bytes, hex_decode(rid_hex));
  if (bytes.size() != BlockchainRid{}.size()) return VardexError::invalid_blockchain_rid();
  BlockchainRid rid;
  std::copy(bytes.begin(), bytes.end(), rid.begin());
  return rid;
}

Result<std::string> sign_transaction_hex(const BlockchainRid& rid, std::string_view name,
                                         std::vector<std::string> args, std::string_view privkey) {
  ChainTransaction tx;
  tx.blockchain_rid = rid;
  ChainOperation op{std::string(name), {}};
  op.args.reserve(args.size());
  for (std::string& arg : args) op.args.push_back(ChainValue::string(std::move(arg)));
  tx.operations.push_back(std::move(op));
  const auto signed_ok = sign_chain_transaction(tx, privkey);
  if (!signed_ok.ok()) return VardexError::signing_failed(secp256k1_error_text(signed_ok.error()));
  return encode_chain_transaction_hex(tx);
}

Result<std::string> sign_op(std::string_view name, std::vector<std::string> args, std::string_view privkey,
                            std::string_view blockchain_rid) {
  if (!is_valid_private_key(privkey)) return VardexError::invalid_private_key();
  VARDEX_ASSIGN_OR_RETURN(const BlockchainRid rid, parse_blockchain_rid(blockchain_rid));
  return sign_transaction_hex(rid, name, std::move(args), privkey);
}

Result<bool> verify_signature(std::span<const std::uint8_t> body, std::string_view signature_hex,
                              std::string_view pubkey_hex) {
  // Lower-casing before the digit check would not change which texts pass, so it is skipped.
  const std::string_view sig_text = strip_leading(strip_leading(trim(signature_hex), "0x"), "0X");
  if (!is_hex(sig_text)) return VardexError::signature_verification("signature is not hex");
  if (sig_text.size() < 64 || sig_text.size() > 256) {
    return VardexError::signature_verification("signature length out of range");
  }
  VARDEX_ASSIGN_OR_RETURN(const Bytes sig_bytes, hex_decode(sig_text));

  const CurveContext ctx;
  secp256k1_ecdsa_signature signature;
  if (sig_bytes.size() == 64) {
    if (!secp256k1_ecdsa_signature_parse_compact(ctx.get(), &signature, sig_bytes.data())) {
      return verification_error("compact sig: ", Secp256k1Error::InvalidSignature);
    }
  } else if (!secp256k1_ecdsa_signature_parse_der(ctx.get(), &signature, sig_bytes.data(), sig_bytes.size())) {
    return verification_error("der sig: ", Secp256k1Error::InvalidSignature);
  }

  VARDEX_ASSIGN_OR_RETURN(const Bytes key_bytes, hex_decode(strip_leading(trim(pubkey_hex), "0x")));
  secp256k1_pubkey pubkey;
  if ((key_bytes.size() != 33 && key_bytes.size() != 65) ||
      !secp256k1_ec_pubkey_parse(ctx.get(), &pubkey, key_bytes.data(), key_bytes.size())) {
    return verification_error("pubkey: ", Secp256k1Error::InvalidPublicKey);
  }

  const Sha256Digest digest = sha256(body);
  return secp256k1_ecdsa_verify(ctx.get(), &signature, digest.data(), &pubkey) == 1;
}

JudgeSignatureCheck verify_judge_response_signature(std::span<const std::uint8_t> body,
                                                    std::optional<std::string_view> signature_hex,
                                                    std::string_view pubkey_hex) {
  if (!signature_hex || signature_hex->empty()) return {false, "missing X-Vardex-Signature header"};
  const auto verified = verify_signature(body, *signature_hex, pubkey_hex);
  if (verified.ok()) {
    if (verified.value()) return {true, std::nullopt};
    return {false, "signature does not verify against configured verifyPubKey"};
  }
  std::string text = verified.error().message();
  if (text.find("signature is not hex") != std::string::npos ||
      text.find("signature length out of range") != std::string::npos) {
    return {false, "malformed signature header"};
  }
  return {false, "signature verification threw: " + std::move(text)};
}

}  // namespace vardex
