#include "error.h"

namespace vardex {

const char* secp256k1_error_text(Secp256k1Error e) noexcept {
  switch (e) {
    case Secp256k1Error::IncorrectSignature: return "signature failed verification";
    case Secp256k1Error::InvalidMessage: return "message was not 32 bytes (do you need to hash?)";
    case Secp256k1Error::InvalidPublicKey: return "malformed public key";
    case Secp256k1Error::InvalidSignature: return "malformed signature";
    case Secp256k1Error::InvalidSecretKey: return "malformed or out-of-range secret key";
    case Secp256k1Error::InvalidSharedSecret: return "malformed or out-of-range shared secret";
    case Secp256k1Error::InvalidRecoveryId: return "bad recovery id";
    case Secp256k1Error::InvalidTweak: return "bad tweak";
    case Secp256k1Error::NotEnoughMemory: return "not enough memory allocated";
    case Secp256k1Error::InvalidPublicKeySum:
      return "the sum of public keys was invalid or the input vector lengths was less than 1";
    case Secp256k1Error::InvalidParityValue: return "couldn't create parity";
    case Secp256k1Error::InvalidEllSwift: return "malformed EllSwift value";
  }
  return "";
}

VardexError VardexError::redaction_pattern(std::string_view pattern_kind, std::string_view engine_error) {
  std::string payload;
  payload.reserve(pattern_kind.size() + 2 + engine_error.size());
  payload.append(pattern_kind).append(": ").append(engine_error);
  return {ErrorKind::RedactionPattern, std::move(payload)};
}

std::string VardexError::message() const {
  const char* prefix = "";
  switch (kind_) {
    case ErrorKind::InvalidPrivateKey: return "invalid private key: must be 64 hex characters (secp256k1)";
    case ErrorKind::InvalidBlockchainRid: return "invalid blockchain RID: must be 64 hex characters";
    case ErrorKind::HexDecode: prefix = "hex decode failed: "; break;
    case ErrorKind::Secp256k1: prefix = "secp256k1 operation failed: "; break;
    case ErrorKind::SigningFailed: prefix = "signing failed: "; break;
    case ErrorKind::RedactionPattern: prefix = "redaction regex compile failed for kind "; break;
    case ErrorKind::SignatureVerification: prefix = "signature verification failed: "; break;
    case ErrorKind::MemoryCrypto: prefix = "memory-crypto error: "; break;
    case ErrorKind::Ecies: prefix = "ecies error: "; break;
    case ErrorKind::ChainSchema: prefix = "chain schema error: "; break;
  }
  return std::string(prefix) + payload_;
}

}  // namespace vardex
