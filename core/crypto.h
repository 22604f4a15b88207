// The symmetric primitives, all served by OpenSSL: SHA-256, HKDF-SHA-256, AES-256-GCM,
// the secure random generator, base64, and the wiping of secret buffers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vardex {

// Overwrites `size` bytes at `data` in a way the compiler cannot elide.
void wipe(void* data, std::size_t size) noexcept;

// A fixed-size secret (a private key, a shared secret, a derived key). Every instance,
// copies included, wipes its bytes when it is destroyed.
template <std::size_t N>
class Secret {
 public:
  Secret() = default;
  Secret(const Secret&) = default;
  Secret& operator=(const Secret&) = default;
  ~Secret() { wipe(bytes_.data(), N); }

  std::uint8_t* data() noexcept { return bytes_.data(); }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  static constexpr std::size_t size() noexcept { return N; }
  std::span<std::uint8_t, N> span() noexcept { return bytes_; }
  std::span<const std::uint8_t, N> span() const noexcept { return bytes_; }

 private:
  std::array<std::uint8_t, N> bytes_{};
};

// A text that holds a secret (private-key hex). It wipes its bytes when destroyed; moving
// hands the buffer over, and assignment, which would drop a buffer unwiped, is disabled.
class SecretString : public std::string {
 public:
  SecretString(std::string&& text) noexcept : std::string(std::move(text)) {}  // NOLINT: adopts the buffer
  explicit SecretString(std::string_view text) : std::string(text) {}
  SecretString(const SecretString&) = default;
  SecretString(SecretString&&) noexcept = default;
  SecretString& operator=(const SecretString&) = delete;
  ~SecretString() { wipe(data(), size()); }

  // Compared in constant time for equal lengths.
  friend bool operator==(const SecretString& a, const SecretString& b) noexcept;
};

// Wipes a local buffer (std::string, Bytes, ...) that holds secret bytes when the scope
// ends, on every return path. The buffer must not be reallocated after the guard is made.
template <class Buffer>
class WipeOnExit {
 public:
  explicit WipeOnExit(Buffer& buffer) noexcept : buffer_(buffer) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { wipe(buffer_.data(), buffer_.size()); }

 private:
  Buffer& buffer_;
};

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 of `data`.
Sha256Digest sha256(std::span<const std::uint8_t> data);

// HKDF-SHA-256 (RFC 5869) of `ikm` with `info`, filling `out` (at most 8,160 bytes).
// Without `salt` the extract step uses the default salt (32 zero bytes). Secret: ikm, out.
void hkdf_sha256(std::span<const std::uint8_t> ikm, std::optional<std::span<const std::uint8_t>> salt,
                 std::span<const std::uint8_t> info, std::span<std::uint8_t> out);

inline constexpr std::size_t kAesKeySize = 32;
inline constexpr std::size_t kGcmNonceSize = 12;
inline constexpr std::size_t kGcmTagSize = 16;
// The longest plaintext that one GCM key and nonce may encrypt: 2^36 - 32 bytes.
inline constexpr std::uint64_t kGcmMaxPlaintext = (std::uint64_t{1} << 36) - 32;

// AES-256-GCM encryption of `plaintext` (at most kGcmMaxPlaintext bytes, checked by the
// caller) into `sealed`, which must hold plaintext.size() + 16 bytes: the ciphertext, then
// the tag. Secret: key.
void aes256gcm_encrypt(std::span<const std::uint8_t, kAesKeySize> key, std::span<const std::uint8_t, kGcmNonceSize> nonce,
                       std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                       std::span<std::uint8_t> sealed);

// AES-256-GCM decryption of `sealed` (ciphertext then 16-byte tag, at least 16 bytes) into
// `plaintext` (sealed.size() - 16 bytes). Returns false when authentication fails; the
// output is then wiped. The tag is compared by OpenSSL in constant time. Secret: key.
[[nodiscard]] bool aes256gcm_decrypt(std::span<const std::uint8_t, kAesKeySize> key,
                                     std::span<const std::uint8_t, kGcmNonceSize> nonce,
                                     std::span<const std::uint8_t> aad, std::span<const std::uint8_t> sealed,
                                     std::span<std::uint8_t> plaintext);

// Fills `out` from OpenSSL's per-thread generator, seeded from the operating system.
// `random_secret_bytes` draws from the instance kept for values that stay private (keys).
// A failing generator is an InternalFault.
void random_bytes(std::span<std::uint8_t> out);
void random_secret_bytes(std::span<std::uint8_t> out);

// Appends the standard base64 text of `data` (RFC 4648 alphabet, "=" padding) to `out`.
void append_base64(std::string& out, std::span<const std::uint8_t> data);

// The length of the base64 text of `size` bytes.
constexpr std::size_t base64_length(std::size_t size) noexcept { return (size + 2) / 3 * 4; }

// The bytes of a text, for the primitives above.
inline std::span<const std::uint8_t> as_bytes(std::string_view text) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace vardex
