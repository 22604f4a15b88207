// Signature verification. On arbitrary signature and key texts and bodies: the signature is
// judged before the key, its text faults are named exactly, surrounding white space and a
// "0x" prefix change nothing, and the judge form agrees with the strict form. On signatures
// made here with libsecp256k1 over a body: they verify in compact and DER form, with either
// key encoding, in any case; a changed body, the high-S twin or one changed hex digit of the
// signature or key never verifies.
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/sha.h>
#include <secp256k1.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "signing.h"
#include "text.h"

namespace {

using Body = std::vector<std::uint8_t>;

std::string hex_text(const std::uint8_t* data, std::size_t size, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

bool all_hex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

std::string outcome(const vardex::Result<bool>& r) {
  return r.ok() ? (r.value() ? "true" : "false") : r.error().message();
}

void check_judge_form(const Body& body, std::string_view sig, std::string_view key) {
  const auto strict = vardex::verify_signature(body, sig, key);
  const auto judged = vardex::verify_judge_response_signature(body, sig, key);
  if (sig.empty()) {
    FUZZ_CHECK(!judged.ok && judged.reason == "missing X-Vardex-Signature header");
  } else if (strict.ok()) {
    FUZZ_CHECK(judged.ok == strict.value());
    FUZZ_CHECK(judged.ok ? !judged.reason
                         : judged.reason == "signature does not verify against configured verifyPubKey");
  } else {
    const std::string text = strict.error().message();
    const bool malformed = text == "signature verification failed: signature is not hex" ||
                           text == "signature verification failed: signature length out of range";
    FUZZ_CHECK(!judged.ok);
    FUZZ_CHECK(judged.reason == (malformed ? "malformed signature header" : "signature verification threw: " + text));
  }
}

void check_arbitrary(FuzzedDataProvider& in) {
  const std::string sig = in.ConsumeRandomLengthString(300);
  const std::string key = in.ConsumeRandomLengthString(150);
  const Body body = in.ConsumeRemainingBytes<std::uint8_t>();
  if (!vardex::is_valid_utf8(sig) || !vardex::is_valid_utf8(key)) return;
  const auto result = vardex::verify_signature(body, sig, key);
  check_judge_form(body, sig, key);

  const std::string_view stripped =
      vardex::strip_leading(vardex::strip_leading(vardex::trim(sig), "0x"), "0X");
  std::string expected_fault;
  if (!all_hex(stripped)) {
    expected_fault = "signature verification failed: signature is not hex";
  } else if (stripped.size() < 64 || stripped.size() > 256) {
    expected_fault = "signature verification failed: signature length out of range";
  } else if (stripped.size() % 2 != 0) {
    expected_fault = "hex decode failed: Odd number of digits";
  }
  if (!expected_fault.empty()) FUZZ_CHECK(!result.ok() && result.error().message() == expected_fault);
  if (!result.ok()) {
    const std::string text = result.error().message();
    FUZZ_CHECK(text.rfind("signature verification failed: ", 0) == 0 || text.rfind("hex decode failed: ", 0) == 0);
  }
  if (!sig.empty() && vardex::trim(sig) == sig) {
    const std::string dressed = " \t0x" + sig + "\u2003";
    FUZZ_CHECK(outcome(vardex::verify_signature(body, dressed, key)) == outcome(result));
  }
}

void check_made(FuzzedDataProvider& in) {
  std::array<std::uint8_t, 32> seckey{};
  in.ConsumeData(seckey.data(), seckey.size());
  const bool upper = in.ConsumeBool();
  const bool dress = in.ConsumeBool();
  const std::size_t flip_at = in.ConsumeIntegral<std::uint16_t>();
  const char new_digit = "0123456789abcdef"[in.ConsumeIntegralInRange(0, 15)];
  Body body = in.ConsumeRemainingBytes<std::uint8_t>();

  secp256k1_context* ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
  if (!secp256k1_ec_seckey_verify(ctx, seckey.data())) {
    secp256k1_context_destroy(ctx);
    return;
  }
  std::array<std::uint8_t, 32> digest;
  SHA256(body.data(), body.size(), digest.data());
  secp256k1_ecdsa_signature signature;
  FUZZ_CHECK(secp256k1_ecdsa_sign(ctx, &signature, digest.data(), seckey.data(), nullptr, nullptr));
  std::array<std::uint8_t, 64> compact;
  secp256k1_ecdsa_signature_serialize_compact(ctx, compact.data(), &signature);
  std::array<std::uint8_t, 72> der;
  std::size_t der_size = der.size();
  secp256k1_ecdsa_signature_serialize_der(ctx, der.data(), &der_size, &signature);
  secp256k1_pubkey pubkey;
  FUZZ_CHECK(secp256k1_ec_pubkey_create(ctx, &pubkey, seckey.data()));
  std::array<std::uint8_t, 65> key_bytes;
  std::size_t short_size = 33, long_size = 65;
  secp256k1_ec_pubkey_serialize(ctx, key_bytes.data(), &short_size, &pubkey, SECP256K1_EC_COMPRESSED);
  const std::string short_key = hex_text(key_bytes.data(), 33, upper);
  secp256k1_ec_pubkey_serialize(ctx, key_bytes.data(), &long_size, &pubkey, SECP256K1_EC_UNCOMPRESSED);
  const std::string long_key = hex_text(key_bytes.data(), 65, upper);
  secp256k1_context_destroy(ctx);

  const std::string sigs[] = {hex_text(compact.data(), 64, upper), hex_text(der.data(), der_size, upper)};
  const std::string keys[] = {short_key, long_key};
  for (const std::string& sig : sigs) {
    for (const std::string& key : keys) {
      const auto r = dress ? vardex::verify_signature(body, "\n0x0X" + sig + " ", " 0x" + key + "\u00a0")
                           : vardex::verify_signature(body, sig, key);
      FUZZ_CHECK(r.ok() && r.value());
      check_judge_form(body, sig, key);

      // One changed hex digit of the signature or of the key never verifies (turning the
      // uncompressed key's 04 into the hybrid 06 or 07 keeps the same point, so that one
      // change is left out).
      for (const bool in_sig : {true, false}) {
        std::string changed = in_sig ? sig : key;
        const std::size_t at = flip_at % changed.size();
        if (std::tolower(static_cast<unsigned char>(changed[at])) == new_digit) continue;
        if (!in_sig && key.size() == 130 && at == 1 && (new_digit == '6' || new_digit == '7')) continue;
        changed[at] = new_digit;
        const auto bad = in_sig ? vardex::verify_signature(body, changed, key)
                                : vardex::verify_signature(body, sig, changed);
        FUZZ_CHECK(!bad.ok() || !bad.value());
      }
    }
  }

  // The high-S twin: s replaced by n - s, still a well-formed compact signature.
  static constexpr std::array<std::uint8_t, 32> kOrder = {
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE,
      0xBA, 0xAE, 0xDC, 0xE6, 0xAF, 0x48, 0xA0, 0x3B, 0xBF, 0xD2, 0x5E, 0x8C, 0xD0, 0x36, 0x41, 0x41};
  std::array<std::uint8_t, 64> twin = compact;
  int borrow = 0;
  for (int i = 31; i >= 0; --i) {
    const int d = kOrder[i] - compact[32 + i] - borrow;
    twin[32 + i] = static_cast<std::uint8_t>(d & 0xFF);
    borrow = d < 0 ? 1 : 0;
  }
  const auto high = vardex::verify_signature(body, hex_text(twin.data(), 64, false), short_key);
  FUZZ_CHECK(high.ok() && !high.value());

  // A changed body never verifies.
  if (body.empty()) {
    body.push_back(0);
  } else {
    body[flip_at % body.size()] ^= static_cast<std::uint8_t>(1u << (flip_at % 8));
  }
  const auto changed = vardex::verify_signature(body, sigs[0], short_key);
  FUZZ_CHECK(changed.ok() && !changed.value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    check_made(in);
  } else {
    check_arbitrary(in);
  }
  return 0;
}
