// Encryption of an agent's memory content: a key derived from the agent's private key
// with HKDF-SHA-256, and AES-256-GCM under a fresh random 12-byte nonce that travels
// beside the ciphertext.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "crypto.h"
#include "error.h"

namespace vardex {

struct EncryptedMemory {
  Bytes ciphertext;  ///< AES-256-GCM ciphertext followed by the 16-byte tag
  Bytes nonce;       ///< the 12 random nonce bytes
};

// Returns the memory key of a private key given as 64 hex digits (either case, with
// optional surrounding white space and leading "0x", then "0X", prefixes); the value is
// not checked against the curve order. Errors: MemoryCrypto. Secret: privkey_hex, result.
Result<Secret<32>> derive_memory_key(std::string_view privkey_hex);

// Returns `plaintext` sealed under `key` (32 bytes) and a fresh nonce.
// Errors: MemoryCrypto (key length, plaintext beyond the GCM limit). Secret: key.
Result<EncryptedMemory> encrypt_memory_content(std::span<const std::uint8_t> plaintext,
                                               std::span<const std::uint8_t> key);

// Returns the text sealed in `ciphertext` (tag last) under `key` and `nonce`.
// Errors: MemoryCrypto, checked in the order key length, nonce length, ciphertext length,
// authentication, UTF-8. Secret: key.
Result<std::string> decrypt_memory_content(std::span<const std::uint8_t> ciphertext,
                                           std::span<const std::uint8_t> nonce, std::span<const std::uint8_t> key);

}  // namespace vardex
