// Python surface of keys and agent identity: the KeyPair and AgentAuth classes (equality,
// no hash, reprs that never show the private key) and the wrappers that build them.
#pragma once

#include <Python.h>

#include <string>

#include "classes.h"
#include "frame.h"
#include "identity.h"

namespace vardex::py {

// Equality for the two key classes: == and != against an instance of the same class,
// NotImplemented for everything else.
template <class T>
PyObject* compare_keys(const T& self, PyObject* other, int op) {
  const T* that = record_if<T>(other);
  if ((op != Py_EQ && op != Py_NE) || that == nullptr) Py_RETURN_NOTIMPLEMENTED;
  return to_py((self == *that) == (op == Py_EQ));
}

// "'" + the first 10 characters of a public key + "…'" (public-key hex is ASCII).
inline std::string repr_short_pubkey(const std::string& pubkey) { return "'" + pubkey.substr(0, 10) + "\u2026'"; }

template <>
struct Record<KeyPair> {
  static constexpr const char* name = "KeyPair";
  static constexpr Field fields[] = {field<&KeyPair::priv_key>("priv_key"), field<&KeyPair::pub_key>("pub_key")};
  static std::string repr(const KeyPair& k) {
    return "KeyPair(priv_key='<redacted>', pub_key=" + repr_short_pubkey(k.pub_key) + ")";
  }
  static PyObject* richcompare(const KeyPair& k, PyObject* other, int op) { return compare_keys(k, other, op); }
};

template <>
struct Record<AgentAuth> {
  static constexpr const char* name = "AgentAuth";
  static constexpr Field fields[] = {field<&AgentAuth::privkey>("privkey"), field<&AgentAuth::pubkey>("pubkey")};
  static std::string repr(const AgentAuth& a) {
    return "AgentAuth(privkey='<redacted>', pubkey=" + repr_short_pubkey(a.pubkey) + ")";
  }
  static PyObject* richcompare(const AgentAuth& a, PyObject* other, int op) { return compare_keys(a, other, op); }
};

}  // namespace vardex::py
