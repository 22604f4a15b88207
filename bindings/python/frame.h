// The one function frame: every exported function is a row of the function table (name,
// parameters with their conversion kind and default, implementation). The frame binds
// positional and keyword arguments, converts each parameter in order (attaching the note
// "while processing 'x'" to a conversion failure), calls the implementation and turns any
// C++ exception into a Python one. Implementations get converted values and return
// ret(result).
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "classes.h"
#include "error.h"
#include "errors.h"

namespace vardex::py {

enum class Kind : std::uint8_t {
  Str,         ///< str (or subclass), delivered as UTF-8
  OptStr,      ///< None or str
  Bytes,       ///< bytes (or subclass) only
  ByteSeq,     ///< bytes, bytearray or a sequence of ints 0..255, copied
  Int,         ///< int or __index__, signed 64-bit
  UInt,        ///< int or __index__, unsigned 64-bit
  Float,       ///< anything float() accepts
  Bool,        ///< True or False only (or a NumPy boolean)
  OptStrList,  ///< None or a non-str sequence of str
  Object,      ///< passed through; the implementation converts it
};

struct Param {
  const char* name;
  Kind kind;
  // The default as written in the signature ("None" or a quoted text such as "\"raw\"");
  // null for a required parameter.
  const char* default_text = nullptr;
};

inline constexpr std::size_t kMaxParams = 8;

// The converted arguments of one call, valid for the duration of the call.
class Args {
 public:
  using Value = std::variant<std::monostate, std::string_view, std::span<const std::uint8_t>, Bytes, std::int64_t,
                             std::uint64_t, double, bool, std::vector<std::string>, PyObject*>;

  std::string_view str(std::size_t i) const { return std::get<std::string_view>(values_[i]); }
  std::optional<std::string_view> opt_str(std::size_t i) const;
  std::span<const std::uint8_t> bytes(std::size_t i) const;  // Bytes and ByteSeq
  std::int64_t int64(std::size_t i) const { return std::get<std::int64_t>(values_[i]); }
  std::uint64_t uint64(std::size_t i) const { return std::get<std::uint64_t>(values_[i]); }
  double float64(std::size_t i) const { return std::get<double>(values_[i]); }
  bool boolean(std::size_t i) const { return std::get<bool>(values_[i]); }
  // The list, or null when None was given or the parameter was omitted.
  const std::vector<std::string>* opt_str_list(std::size_t i) const {
    return std::get_if<std::vector<std::string>>(&values_[i]);
  }
  PyObject* object(std::size_t i) const { return std::get<PyObject*>(values_[i]); }

  Value& operator[](std::size_t i) { return values_[i]; }

 private:
  std::array<Value, kMaxParams> values_;
};

using Impl = PyObject* (*)(const Args&);

struct Function {
  const char* name;
  std::array<Param, kMaxParams> params{};
  std::size_t nparams = 0;
  Impl impl = nullptr;

  constexpr Function(const char* n, std::initializer_list<Param> ps, Impl f) : name(n), impl(f) {
    for (const Param& p : ps) params[nparams++] = p;
  }
};

// "name(a, b=None)\n--\n\n": the stored doc that gives the text signature and no docstring.
std::string text_signature(const Function& f);

// Runs the frame for one call of `f` (METH_FASTCALL | METH_KEYWORDS).
PyObject* call(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The result of an implementation: the converted value, or ValueError for a core error.
template <class T>
PyObject* ret(Result<T> result) {
  if (!result.ok()) return raise_error(result.error());
  return to_py(std::move(result).value());
}
inline PyObject* ret(Status result) {
  if (!result.ok()) return raise_error(result.error());
  Py_RETURN_NONE;
}

}  // namespace vardex::py
