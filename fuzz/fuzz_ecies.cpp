// Organisation envelopes. An envelope made for any plaintext, aad and domain decrypts to
// that plaintext (or, for bytes that are not UTF-8, fails with the exact UTF-8 error text)
// and is 62 bytes longer; the same envelope with any one byte changed, cut short, extended,
// or opened with another aad, domain or key never decrypts. Arbitrary payloads and key
// texts never decrypt and fail with the first fault in the documented order.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "crypto_ecies.h"
#include "identity.h"
#include "text.h"
#include "utf8_oracle.h"

namespace {

using vardex::Bytes;
using vardex::EciesDomain;

constexpr std::string_view kOrgPriv = "c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721";
constexpr std::string_view kOtherPriv = "0000000000000000000000000000000000000000000000000000000000000001";
constexpr std::string_view kAeadError = "ecies error: aes-gcm decrypt: aead::Error";

const std::string& org_pub() {
  static const std::string pub = vardex::derive_public_key(kOrgPriv).value();
  return pub;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string error_of(const vardex::Result<std::string>& r) { return r.ok() ? std::string("decrypted") : r.error().message(); }

void check_round_trip(FuzzedDataProvider& in) {
  const auto domain = static_cast<EciesDomain>(in.ConsumeIntegralInRange(0, 4));
  const auto other_domain = static_cast<EciesDomain>((static_cast<int>(domain) + in.ConsumeIntegralInRange(1, 4)) % 5);
  const std::string aad = in.ConsumeRandomLengthString(64);
  const std::size_t at = in.ConsumeIntegral<std::uint16_t>();
  const auto flip = static_cast<std::uint8_t>(in.ConsumeIntegralInRange(1, 255));
  const Bytes plaintext = in.ConsumeRemainingBytes<std::uint8_t>();
  const std::string_view text(reinterpret_cast<const char*>(plaintext.data()), plaintext.size());

  const auto sealed = vardex::encrypt_for_org(plaintext, "  0X" + upper(org_pub()) + "\n", aad, domain);
  FUZZ_CHECK(sealed.ok());
  const Bytes& envelope = sealed.value();
  FUZZ_CHECK(envelope.size() == plaintext.size() + 62 && envelope[0] == 1);

  const auto opened = vardex::decrypt_for_org(envelope, kOrgPriv, aad, domain);
  if (const auto utf8_error = fuzz::utf8_error_text(text)) {
    FUZZ_CHECK(error_of(opened) == "ecies error: " + *utf8_error);
  } else {
    FUZZ_CHECK(opened.ok() && opened.value() == text);
    const auto again = vardex::decrypt_for_org(envelope, "\u3000 0x" + upper(kOrgPriv), aad, domain);
    FUZZ_CHECK(again.ok() && again.value() == text);
  }

  Bytes changed = envelope;
  const std::size_t pos = at % changed.size();
  changed[pos] ^= flip;
  const std::string changed_error = error_of(vardex::decrypt_for_org(changed, kOrgPriv, aad, domain));
  if (pos == 0) {
    FUZZ_CHECK(changed_error ==
               "ecies error: unsupported encrypted payload version: " + std::to_string(changed[0]) + " (expected 1)");
  } else if (pos < 34) {
    FUZZ_CHECK(changed_error == kAeadError || changed_error == "ecies error: ephemeral pubkey: malformed public key");
  } else {
    FUZZ_CHECK(changed_error == kAeadError);
  }

  Bytes shorter(envelope.begin(), envelope.end() - 1);
  FUZZ_CHECK(!vardex::decrypt_for_org(shorter, kOrgPriv, aad, domain).ok());
  Bytes longer = envelope;
  longer.push_back(flip);
  FUZZ_CHECK(error_of(vardex::decrypt_for_org(longer, kOrgPriv, aad, domain)) == kAeadError);
  FUZZ_CHECK(error_of(vardex::decrypt_for_org(envelope, kOrgPriv, aad + "|", domain)) == kAeadError);
  FUZZ_CHECK(error_of(vardex::decrypt_for_org(envelope, kOrgPriv, aad, other_domain)) == kAeadError);
  FUZZ_CHECK(error_of(vardex::decrypt_for_org(envelope, kOtherPriv, aad, domain)) == kAeadError);
}

// The fault that decryption must report first for an arbitrary payload, whatever the key
// text, as far as it can be told without the curve; empty when it depends on the curve.
std::string expected_fault(const Bytes& payload) {
  if (payload.size() < 62) return "ecies error: malformed encrypted payload: too short";
  if (payload[0] != 1) {
    return "ecies error: unsupported encrypted payload version: " + std::to_string(payload[0]) + " (expected 1)";
  }
  if (payload[1] != 2 && payload[1] != 3) return "ecies error: ephemeral pubkey: malformed public key";
  return {};
}

void check_arbitrary(FuzzedDataProvider& in) {
  const auto domain = static_cast<EciesDomain>(in.ConsumeIntegralInRange(0, 4));
  const std::string priv_text = in.ConsumeBool() ? std::string(kOrgPriv) : in.ConsumeRandomLengthString(80);
  const std::string pub_text = in.ConsumeRandomLengthString(80);
  const std::string aad = in.ConsumeRandomLengthString(32);
  const Bytes payload = in.ConsumeRemainingBytes<std::uint8_t>();
  if (!vardex::is_valid_utf8(priv_text) || !vardex::is_valid_utf8(pub_text)) return;

  const auto opened = vardex::decrypt_for_org(payload, priv_text, aad, domain);
  FUZZ_CHECK(!opened.ok());
  const std::string fault = expected_fault(payload);
  if (!fault.empty()) FUZZ_CHECK(opened.error().message() == fault);
  FUZZ_CHECK(opened.error().message().rfind("ecies error: ", 0) == 0);

  // Encryption to an arbitrary key text succeeds only for a compressed point, and then
  // the envelope has the documented size.
  const auto sealed = vardex::encrypt_for_org(payload, pub_text, aad, domain);
  if (sealed.ok()) {
    FUZZ_CHECK(sealed.value().size() == payload.size() + 62);
    const std::string_view key = vardex::trim(pub_text);
    FUZZ_CHECK(key.size() == 66 || key.size() == 68);
  } else {
    FUZZ_CHECK(sealed.error().message().rfind("ecies error: ", 0) == 0);
  }
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
