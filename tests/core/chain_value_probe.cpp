// Reads JSON lines describing chain values and transactions and prints their encodings,
// Merkle hashes and signed hex, so that the Python tests can compare them with their own
// rendering, including the kinds and shapes that the module's functions never produce.
//
//   {"value": V}  ->  "<encoding hex> <merkle hash hex>"
//   {"sign": {"rid": hex, "name": text, "args": [text, ...], "key": hex}}  ->  "<transaction hex>"
//
// V is null, a string, an integer, an array of V, {"bytes": hex}, {"big": two's-complement
// hex} or {"dict": [[key, V], ...]}. A failure prints "error: " and its text.
#include <iostream>
#include <string>

#include "chain_value.h"
#include "hex.h"
#include "json.h"
#include "signing.h"

namespace {

using vardex::ChainValue;
namespace json = vardex::json;

vardex::Result<vardex::Bytes, std::string> bytes_of(const json::Value& hex) {
  auto bytes = vardex::hex_decode(hex.as_string() != nullptr ? *hex.as_string() : "?");
  if (!bytes.ok()) return bytes.error().message();
  return std::move(bytes).value();
}

vardex::Result<ChainValue, std::string> value_of(const json::Value& v) {
  if (v.is_null()) return ChainValue();
  if (const std::string* s = v.as_string()) return ChainValue::string(*s);
  if (const auto n = v.as_int64()) return ChainValue::integer(*n);
  if (const json::Array* a = v.as_array()) {
    ChainValue::Elements elements;
    for (const json::Value& e : *a) {
      VARDEX_ASSIGN_OR_RETURN(ChainValue element, value_of(e));
      elements.push_back(std::move(element));
    }
    return ChainValue::array(std::move(elements));
  }
  if (const json::Value* hex = v.find("bytes")) {
    VARDEX_ASSIGN_OR_RETURN(vardex::Bytes bytes, bytes_of(*hex));
    return ChainValue::byte_array(std::move(bytes));
  }
  if (const json::Value* hex = v.find("big")) {
    VARDEX_ASSIGN_OR_RETURN(vardex::Bytes bytes, bytes_of(*hex));
    return ChainValue::big_integer(std::move(bytes));
  }
  if (const json::Value* dict = v.find("dict"); dict != nullptr && dict->as_array() != nullptr) {
    ChainValue::Entries entries;
    for (const json::Value& entry : *dict->as_array()) {
      const json::Array* pair = entry.as_array();
      if (pair == nullptr || pair->size() != 2 || (*pair)[0].as_string() == nullptr) return std::string("bad entry");
      VARDEX_ASSIGN_OR_RETURN(ChainValue value, value_of((*pair)[1]));
      entries.emplace_back(*(*pair)[0].as_string(), std::move(value));
    }
    return ChainValue::dictionary(std::move(entries));
  }
  return std::string("unknown value");
}

std::string text_of(const json::Value& request, const char* key) {
  const json::Value* v = request.find(key);
  return v != nullptr && v->as_string() != nullptr ? *v->as_string() : std::string();
}

std::string answer(const json::Value& line) {
  if (const json::Value* v = line.find("value")) {
    auto value = value_of(*v);
    if (!value.ok()) return "error: " + value.error();
    return vardex::hex_encode(vardex::encode_chain_value(value.value())) + " " +
           vardex::hex_encode(vardex::chain_merkle_hash(value.value()));
  }
  if (const json::Value* request = line.find("sign")) {
    std::vector<std::string> args;
    if (const json::Value* a = request->find("args"); a != nullptr && a->as_array() != nullptr) {
      for (const json::Value& arg : *a->as_array()) args.push_back(arg.as_string() ? *arg.as_string() : "");
    }
    auto hex = vardex::sign_op(text_of(*request, "name"), std::move(args), text_of(*request, "key"),
                               text_of(*request, "rid"));
    return hex.ok() ? hex.value() : "error: " + hex.error().message();
  }
  return "error: unknown request";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    auto request = json::parse(line);
    std::cout << (request.ok() ? answer(request.value()) : "error: " + request.error()) << '\n';
  }
  return 0;
}
