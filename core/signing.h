// Signing of ledger operations (one-operation transactions of string arguments) and
// verification of ECDSA signatures over the SHA-256 digest of a body.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace vardex {

using BlockchainRid = std::array<std::uint8_t, 32>;

// The ledger operations signed here.
inline constexpr std::string_view kOpLogToolCall = "log_tool_call";
inline constexpr std::string_view kOpJudgeAction = "judge_action";

// Returns the RID written as hex of either case.
// Errors: HexDecode (odd length, then the first invalid character); InvalidBlockchainRid
// when the decoded value is not 32 bytes.
Result<BlockchainRid> parse_blockchain_rid(std::string_view rid_hex);

// Returns the lower-case hex of the transaction on `rid` holding the one operation `name`
// with `args` as string values, signed with `privkey` (strict private-key hex, checked by
// the caller). Errors: SigningFailed with the curve library's text, for a key whose value is
// zero or not below the group order. Secret: privkey.
Result<std::string> sign_transaction_hex(const BlockchainRid& rid, std::string_view name,
                                         std::vector<std::string> args, std::string_view privkey);

// Returns the hex of the signed one-operation transaction, checking in this order the key
// (InvalidPrivateKey unless strict private-key hex), the RID (as parse_blockchain_rid) and
// the key's value (SigningFailed). Secret: privkey.
Result<std::string> sign_op(std::string_view name, std::vector<std::string> args, std::string_view privkey,
                            std::string_view blockchain_rid);

// Whether `signature_hex` (DER or 64-byte compact, hex with optional white space and
// "0x"/"0X" prefixes) is a valid low-S ECDSA signature by `pubkey_hex` (33 or 65 bytes) of
// SHA-256(`body`). The signature is examined completely before the key.
// Errors: SignatureVerification (not hex, length outside 64..256 digits, unparsable
// signature or key); HexDecode (odd signature length, key not hex).
Result<bool> verify_signature(std::span<const std::uint8_t> body, std::string_view signature_hex,
                              std::string_view pubkey_hex);

// The outcome of checking a judge response's signature header.
struct JudgeSignatureCheck {
  bool ok = false;                    ///< the signature verifies
  std::optional<std::string> reason;  ///< why not; empty when ok
};

// Checks the signature header of a judge response; never fails: a missing header, a
// malformed header, a signature that does not verify and every other error of
// verify_signature become a reason text.
JudgeSignatureCheck verify_judge_response_signature(std::span<const std::uint8_t> body,
                                                    std::optional<std::string_view> signature_hex,
                                                    std::string_view pubkey_hex);

}  // namespace vardex
