#include "crypto_memory.h"

#include "crypto_ecies.h"
#include "hex.h"
#include "identity.h"
#include "text.h"

namespace vardex {
namespace {

constexpr std::string_view kMemoryKeyInfo = "vardex:memory-encryption";

}  // namespace

Result<Secret<32>> derive_memory_key(std::string_view privkey_hex) {
  const std::string_view text = strip_leading(strip_leading(trim(privkey_hex), "0x"), "0X");
  Secret<32> ikm;
  if (!is_valid_private_key(text) || !hex_decode_into(text, ikm.span()).ok()) {
    return VardexError::memory_crypto("deriveMemoryKey: privkey must be 32 bytes (64 hex chars)");
  }
  Secret<32> key;
  hkdf_sha256(ikm.span(), std::nullopt, as_bytes(kMemoryKeyInfo), key.span());
  return key;
}

Result<EncryptedMemory> encrypt_memory_content(std::span<const std::uint8_t> plaintext,
                                               std::span<const std::uint8_t> key) {
  if (key.size() != kAesKeySize) return VardexError::memory_crypto("encryptMemoryContent: key must be 32 bytes");
  if (plaintext.size() > kGcmMaxPlaintext) return VardexError::memory_crypto("aes-gcm encrypt: aead::Error");
  EncryptedMemory out{Bytes(plaintext.size() + kGcmTagSize), Bytes(kGcmNonceSize)};
  random_bytes(out.nonce);
  aes256gcm_encrypt(key.first<kAesKeySize>(), std::span(out.nonce).first<kGcmNonceSize>(), {}, plaintext,
                    out.ciphertext);
  return out;
}

Result<std::string> decrypt_memory_content(std::span<const std::uint8_t> ciphertext,
                                           std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> key) {
  if (key.size() != kAesKeySize) return VardexError::memory_crypto("decryptMemoryContent: key must be 32 bytes");
  if (nonce.size() != kGcmNonceSize) {
    return VardexError::memory_crypto("decryptMemoryContent: nonce must be 12 bytes");
  }
  if (ciphertext.size() < kGcmTagSize) {
    return VardexError::memory_crypto("decryptMemoryContent: ciphertext too short to contain auth tag");
  }
  std::string plaintext(ciphertext.size() - kGcmTagSize, '\0');
  if (!aes256gcm_decrypt(key.first<kAesKeySize>(), nonce.first<kGcmNonceSize>(), {}, ciphertext,
                         {reinterpret_cast<std::uint8_t*>(plaintext.data()), plaintext.size()})) {
    return VardexError::memory_crypto("aes-gcm decrypt: aead::Error");
  }
  if (auto error = decrypted_utf8_error(plaintext)) return VardexError::memory_crypto(std::move(*error));
  return plaintext;
}

}  // namespace vardex
