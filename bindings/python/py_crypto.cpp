#include "py_crypto.h"

#include <cstdint>

#include "crypto.h"
#include "text.h"

namespace vardex::py {

std::optional<EciesDomain> parse_ecies_domain(std::string_view text) {
  const std::optional<EciesDomain> domain = ecies_domain_named(text);
  if (!domain) {
    raise_value_error("unknown ECIES domain: " + debug_quote(text) +
                      " (expected 'toolcall' | 'verdict' | 'note' | 'policy' | 'raw')");
  }
  return domain;
}

PyObject* py_encrypt_for_org(const Args& a) {
  const std::optional<EciesDomain> domain = parse_ecies_domain(a.str(3));
  if (!domain) return nullptr;
  return ret(encrypt_for_org(as_bytes(a.str(0)), a.str(1), a.str(2), *domain));
}

PyObject* py_decrypt_for_org(const Args& a) {
  const std::optional<EciesDomain> domain = parse_ecies_domain(a.str(3));
  if (!domain) return nullptr;
  return ret(decrypt_for_org(a.bytes(0), a.str(1), a.str(2), *domain));
}

PyObject* py_encrypted_length(const Args& a) {
  const std::uint64_t n = a.uint64(0);
  if (n <= UINT64_MAX - kEnvelopeOverhead) return to_py(n + kEnvelopeOverhead);
  // Past the 64-bit range the exact sum is still the useful answer.
  PyObject* length = to_py(n);
  PyObject* overhead = length == nullptr ? nullptr : to_py(std::uint64_t{kEnvelopeOverhead});
  PyObject* sum = overhead == nullptr ? nullptr : PyNumber_Add(length, overhead);
  Py_XDECREF(length);
  Py_XDECREF(overhead);
  return sum;
}

PyObject* py_derive_memory_key(const Args& a) {
  // The key is wiped when `key` goes out of scope; Python gets its own copy.
  const Result<Secret<32>> key = derive_memory_key(a.str(0));
  if (!key.ok()) return raise_error(key.error());
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(key.value().data()), key.value().size());
}

}  // namespace vardex::py
