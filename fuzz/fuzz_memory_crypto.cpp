// Memory content encryption. A key derived from any private-key text is the key of its
// normalised digits; content sealed under it decrypts to the same text (or, for bytes that
// are not UTF-8, fails with the exact UTF-8 error text); the same ciphertext with any one
// byte of ciphertext or nonce changed, cut short or extended, or opened with another key,
// never decrypts. Arbitrary ciphertexts, nonces and keys never decrypt and fail with the
// first fault in the documented order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "crypto_memory.h"
#include "text.h"
#include "utf8_oracle.h"

namespace {

using vardex::Bytes;

std::string error_of(const vardex::Result<std::string>& r) { return r.ok() ? std::string("decrypted") : r.error().message(); }

constexpr std::string_view kAeadError = "memory-crypto error: aes-gcm decrypt: aead::Error";

void check_key_text(const std::string& text) {
  if (!vardex::is_valid_utf8(text)) return;
  const auto key = vardex::derive_memory_key(text);
  const std::string_view digits = vardex::strip_leading(vardex::strip_leading(vardex::trim(text), "0x"), "0X");
  FUZZ_CHECK(key.ok() ==
             (digits.size() == 64 && digits.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos));
  if (!key.ok()) {
    FUZZ_CHECK(key.error().message() == "memory-crypto error: deriveMemoryKey: privkey must be 32 bytes (64 hex chars)");
    return;
  }
  std::string lower(digits);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  const auto same = vardex::derive_memory_key(lower);
  FUZZ_CHECK(same.ok() && std::equal(same.value().span().begin(), same.value().span().end(), key.value().span().begin()));
}

void check_round_trip(FuzzedDataProvider& in) {
  Bytes key(32);
  in.ConsumeData(key.data(), key.size());
  const std::size_t at = in.ConsumeIntegral<std::uint16_t>();
  const auto flip = static_cast<std::uint8_t>(in.ConsumeIntegralInRange(1, 255));
  const Bytes plaintext = in.ConsumeRemainingBytes<std::uint8_t>();
  const std::string_view text(reinterpret_cast<const char*>(plaintext.data()), plaintext.size());

  const auto sealed = vardex::encrypt_memory_content(plaintext, key);
  FUZZ_CHECK(sealed.ok());
  const Bytes& ciphertext = sealed.value().ciphertext;
  const Bytes& nonce = sealed.value().nonce;
  FUZZ_CHECK(ciphertext.size() == plaintext.size() + 16 && nonce.size() == 12);

  const auto opened = vardex::decrypt_memory_content(ciphertext, nonce, key);
  if (const auto utf8_error = fuzz::utf8_error_text(text)) {
    FUZZ_CHECK(error_of(opened) == "memory-crypto error: " + *utf8_error);
  } else {
    FUZZ_CHECK(opened.ok() && opened.value() == text);
  }

  Bytes changed = ciphertext;
  changed[at % changed.size()] ^= flip;
  FUZZ_CHECK(error_of(vardex::decrypt_memory_content(changed, nonce, key)) == kAeadError);
  Bytes other_nonce = nonce;
  other_nonce[at % other_nonce.size()] ^= flip;
  FUZZ_CHECK(error_of(vardex::decrypt_memory_content(ciphertext, other_nonce, key)) == kAeadError);
  Bytes other_key = key;
  other_key[at % other_key.size()] ^= flip;
  FUZZ_CHECK(error_of(vardex::decrypt_memory_content(ciphertext, nonce, other_key)) == kAeadError);
  Bytes longer = ciphertext;
  longer.push_back(flip);
  FUZZ_CHECK(error_of(vardex::decrypt_memory_content(longer, nonce, key)) == kAeadError);
  const Bytes shorter(ciphertext.begin(), ciphertext.end() - 1);
  FUZZ_CHECK(!vardex::decrypt_memory_content(shorter, nonce, key).ok());
}

void check_arbitrary(FuzzedDataProvider& in) {
  check_key_text(in.ConsumeRandomLengthString(80));
  const Bytes key = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 40));
  const Bytes nonce = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 16));
  const Bytes ciphertext = in.ConsumeRemainingBytes<std::uint8_t>();
  const auto opened = vardex::decrypt_memory_content(ciphertext, nonce, key);
  std::string expected(kAeadError);
  if (key.size() != 32) {
    expected = "memory-crypto error: decryptMemoryContent: key must be 32 bytes";
  } else if (nonce.size() != 12) {
    expected = "memory-crypto error: decryptMemoryContent: nonce must be 12 bytes";
  } else if (ciphertext.size() < 16) {
    expected = "memory-crypto error: decryptMemoryContent: ciphertext too short to contain auth tag";
  }
  FUZZ_CHECK(error_of(opened) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  if (in.ConsumeBool()) {
    check_round_trip(in);
  } else {
    check_arbitrary(in);
  }
  return 0;
}
