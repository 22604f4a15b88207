// Python surface of organisation encryption and memory content encryption: the domain
// argument, the EncryptedMemory class and the wrappers that keep derived keys wiped.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

#include "classes.h"
#include "crypto_ecies.h"
#include "crypto_memory.h"
#include "frame.h"

namespace vardex::py {

// The domain named `text`, or nullopt with ValueError "unknown ECIES domain: ..." set.
std::optional<EciesDomain> parse_ecies_domain(std::string_view text);

// encrypt_for_org(plaintext, org_pub_key_hex, aad, domain="raw")
PyObject* py_encrypt_for_org(const Args& a);
// decrypt_for_org(payload, org_priv_key_hex, aad, domain="raw")
PyObject* py_decrypt_for_org(const Args& a);
// encrypted_length(plaintext_byte_length)
PyObject* py_encrypted_length(const Args& a);
// derive_memory_key(privkey_hex)
PyObject* py_derive_memory_key(const Args& a);

template <>
struct Record<EncryptedMemory> {
  static constexpr const char* name = "EncryptedMemory";
  static constexpr Field fields[] = {field<&EncryptedMemory::ciphertext>("ciphertext"),
                                     field<&EncryptedMemory::nonce>("nonce")};
  static std::string repr(const EncryptedMemory& m) {
    return "EncryptedMemory(ciphertext=<" + std::to_string(m.ciphertext.size()) + " bytes>, nonce=<" +
           std::to_string(m.nonce.size()) + " bytes>)";
  }
};

}  // namespace vardex::py
