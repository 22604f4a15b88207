#include "crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include "error.h"

namespace vardex {
namespace {

[[noreturn]] void fault(const std::string& what) { throw InternalFault("openssl: " + what + " failed"); }

// Algorithm objects are fetched once per process and kept; fetching costs far more than
// using them. A failed fetch throws, so the next call fetches again.
template <class T>
T* fetch_or_fault(T* (*fetch)(OSSL_LIB_CTX*, const char*, const char*), const char* name) {
  T* fetched = fetch(nullptr, name, nullptr);
  if (fetched == nullptr) fault(std::string("fetching ") + name);
  return fetched;
}

const EVP_MD* sha256_md() {
  static EVP_MD* md = fetch_or_fault(&EVP_MD_fetch, "SHA256");
  return md;
}

EVP_KDF* hkdf_kdf() {
  static EVP_KDF* kdf = fetch_or_fault(&EVP_KDF_fetch, "HKDF");
  return kdf;
}

const EVP_CIPHER* aes256gcm_cipher() {
  static EVP_CIPHER* cipher = fetch_or_fault(&EVP_CIPHER_fetch, "AES-256-GCM");
  return cipher;
}

// EVP_CIPHER_CTX_free also clears the key schedule.
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// The EVP update calls take int lengths: feed long inputs in pieces.
constexpr std::size_t kUpdateChunk = std::size_t{1} << 30;

CipherCtx gcm_context(bool encrypt, std::span<const std::uint8_t, kAesKeySize> key,
                      std::span<const std::uint8_t, kGcmNonceSize> nonce, std::span<const std::uint8_t> aad) {
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) throw std::bad_alloc();
  const int init = encrypt ? EVP_EncryptInit_ex2(ctx.get(), aes256gcm_cipher(), key.data(), nonce.data(), nullptr)
                           : EVP_DecryptInit_ex2(ctx.get(), aes256gcm_cipher(), key.data(), nonce.data(), nullptr);
  if (init != 1) fault("AES-256-GCM init");
  for (std::size_t done = 0; done < aad.size();) {
    const int n = static_cast<int>(std::min(aad.size() - done, kUpdateChunk));
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), nullptr, &written, aad.data() + done, n) != 1) fault("AES-256-GCM aad");
    done += static_cast<std::size_t>(n);
  }
  return ctx;
}

// Runs the cipher over `in` into `out` (same length; GCM emits every byte at once).
void gcm_update(EVP_CIPHER_CTX* ctx, std::span<const std::uint8_t> in, std::uint8_t* out) {
  for (std::size_t done = 0; done < in.size();) {
    const int n = static_cast<int>(std::min(in.size() - done, kUpdateChunk));
    int written = 0;
    if (EVP_CipherUpdate(ctx, out + done, &written, in.data() + done, n) != 1 || written != n) {
      fault("AES-256-GCM update");
    }
    done += static_cast<std::size_t>(n);
  }
}

void random_fill(std::span<std::uint8_t> out, int (*draw)(unsigned char*, int)) {
  if (out.size() > static_cast<std::size_t>(INT_MAX) || draw(out.data(), static_cast<int>(out.size())) != 1) {
    fault("secure random generator");
  }
}

}  // namespace

void wipe(void* data, std::size_t size) noexcept {
  if (size != 0) OPENSSL_cleanse(data, size);
}

bool operator==(const SecretString& a, const SecretString& b) noexcept {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Sha256Digest sha256(std::span<const std::uint8_t> data) {
  Sha256Digest digest;
  if (EVP_Digest(data.data(), data.size(), digest.data(), nullptr, sha256_md(), nullptr) != 1) {
    fault("SHA-256");
  }
  return digest;
}

void hkdf_sha256(std::span<const std::uint8_t> ikm, std::optional<std::span<const std::uint8_t>> salt,
                 std::span<const std::uint8_t> info, std::span<std::uint8_t> out) {
  // The context copies the key material and clears its copy when freed.
  std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> ctx(EVP_KDF_CTX_new(hkdf_kdf()), &EVP_KDF_CTX_free);
  if (!ctx) throw std::bad_alloc();
  const auto octets = [](std::span<const std::uint8_t> s) { return const_cast<std::uint8_t*>(s.data()); };
  OSSL_PARAM params[5];
  std::size_t n = 0;
  params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0);
  params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, octets(ikm), ikm.size());
  // HKDF's default salt is used only when the parameter is absent; an empty one fails.
  if (salt) params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, octets(*salt), salt->size());
  params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, octets(info), info.size());
  params[n] = OSSL_PARAM_construct_end();
  if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) fault("HKDF-SHA-256");
}

void aes256gcm_encrypt(std::span<const std::uint8_t, kAesKeySize> key, std::span<const std::uint8_t, kGcmNonceSize> nonce,
                       std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                       std::span<std::uint8_t> sealed) {
  if (plaintext.size() > kGcmMaxPlaintext || sealed.size() != plaintext.size() + kGcmTagSize) {
    throw InternalFault("aes256gcm_encrypt: plaintext too long or output of the wrong size");
  }
  CipherCtx ctx = gcm_context(true, key, nonce, aad);
  gcm_update(ctx.get(), plaintext, sealed.data());
  // GCM's final step writes no bytes, only the tag.
  std::uint8_t none[1];
  int written = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), none, &written) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kGcmTagSize, sealed.data() + plaintext.size()) != 1) {
    fault("AES-256-GCM finish");
  }
}

bool aes256gcm_decrypt(std::span<const std::uint8_t, kAesKeySize> key, std::span<const std::uint8_t, kGcmNonceSize> nonce,
                       std::span<const std::uint8_t> aad, std::span<const std::uint8_t> sealed,
                       std::span<std::uint8_t> plaintext) {
  if (sealed.size() < kGcmTagSize || plaintext.size() != sealed.size() - kGcmTagSize) {
    throw InternalFault("aes256gcm_decrypt: input or output of the wrong size");
  }
  const auto ciphertext = sealed.first(plaintext.size());
  const auto tag = sealed.last(kGcmTagSize);
  CipherCtx ctx = gcm_context(false, key, nonce, aad);
  gcm_update(ctx.get(), ciphertext, plaintext.data());
  if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kGcmTagSize, const_cast<std::uint8_t*>(tag.data())) != 1) {
    fault("AES-256-GCM set tag");
  }
  std::uint8_t none[1];
  int written = 0;
  if (EVP_DecryptFinal_ex(ctx.get(), none, &written) != 1) {
    wipe(plaintext.data(), plaintext.size());
    return false;
  }
  return true;
}

void random_bytes(std::span<std::uint8_t> out) { random_fill(out, &RAND_bytes); }

void random_secret_bytes(std::span<std::uint8_t> out) { random_fill(out, &RAND_priv_bytes); }

void append_base64(std::string& out, std::span<const std::uint8_t> data) {
  const std::size_t start = out.size();
  out.resize(start + base64_length(data.size()));
  // EVP_EncodeBlock takes an int length: encode in pieces of a multiple of 3 bytes, so
  // that only the last piece carries padding. It writes a NUL after each piece, which the
  // next piece or the string's own terminator overwrites.
  constexpr std::size_t kChunk = std::size_t{3} << 28;
  char* dst = out.data() + start;
  for (std::size_t done = 0; done < data.size();) {
    const std::size_t n = std::min(data.size() - done, kChunk);
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(dst), data.data() + done, static_cast<int>(n));
    dst += written;
    done += n;
  }
}

}  // namespace vardex
