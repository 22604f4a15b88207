#include "py_memory_classifier.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "json_convert.h"
#include "memory_classifier.h"
#include "py_memory.h"
#include "text.h"

namespace vardex::py {
namespace {

constexpr std::array<std::string_view, 5> kReadPathKeys = {"path", "file_path", "filePath", "target", "file"};

const std::vector<std::string>& default_read_tool_names() {
  static const std::vector<std::string> names = {"memory_search", "memory_get"};
  return names;
}

// General file-reading tools: a read of one counts only for a memory path.
const std::vector<std::string>& default_generic_read_tool_names() {
  static const std::vector<std::string> names = {"read", "read_file"};
  return names;
}

bool is_non_empty(std::string_view text) { return !text.empty(); }

// Whether the call reads the agent's memory: a memory tool, or a generic read tool on a
// path matching the default patterns or the caller's extra `patterns`.
bool classify_memory_read(const json::Value& event, const json::Value& ctx,
                          const std::vector<std::string>* read_tool_names, const std::vector<std::string>* patterns,
                          const std::vector<std::string>* generic_read_tool_names) {
  const std::string tool_name = extract_tool_name(event, ctx);
  if (tool_name.empty()) return false;
  const std::string lower = to_lower(tool_name);
  if (tool_name_in(lower, read_tool_names != nullptr ? *read_tool_names : default_read_tool_names())) return true;
  if (!tool_name_in(lower, generic_read_tool_names != nullptr ? *generic_read_tool_names
                                                              : default_generic_read_tool_names())) {
    return false;
  }
  const json::Value& args = pick_args(event, ctx);
  const std::string* path = first_string(args, kReadPathKeys, &is_non_empty);
  if (path == nullptr) return false;
  return matches_memory_path(*path, default_memory_path_patterns()) ||
         (patterns != nullptr && matches_memory_path(*path, *patterns));
}

}  // namespace

PyObject* py_classify_memory_write(const Args& a) {
  const auto event = to_json(a.object(0));
  if (!event) return nullptr;
  const auto ctx = to_json(a.object(1));
  if (!ctx) return nullptr;
  return to_py(classify_memory_write(*event, *ctx, MemoryWriteOptions{a.opt_str_list(2), a.opt_str_list(3)}));
}

PyObject* py_classify_memory_read(const Args& a) {
  const auto event = to_json(a.object(0));
  if (!event) return nullptr;
  const auto ctx = to_json(a.object(1));
  if (!ctx) return nullptr;
  return to_py(classify_memory_read(*event, *ctx, a.opt_str_list(2), a.opt_str_list(3), a.opt_str_list(4)));
}

}  // namespace vardex::py
