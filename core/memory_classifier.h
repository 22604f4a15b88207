// Whether an agent's tool call writes its memory files: tool-name extraction, the argument
// container, memory-path matching and the choice of the written text, on the JSON values of
// the host's event and context.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json.h"
#include "memory.h"

namespace vardex {

// Path patterns of memory files used when the caller gives none.
std::span<const std::string> default_memory_path_patterns();

// The value of the first of `keys` in `object` that holds a string for which `accept` (if
// given) is true; null when none does or `object` is not an object.
const std::string* first_string(const json::Value& object, std::span<const std::string_view> keys,
                                bool (*accept)(std::string_view) = nullptr);

// Whether the lower-cased `lower_tool_name` equals the lower-cased form of one of `names`.
bool tool_name_in(std::string_view lower_tool_name, std::span<const std::string> names);

// The tool name: the event's "toolName", else the context's "tool"."name", "toolName" or
// "name", the first that holds a string (even an empty one); empty when none does.
std::string extract_tool_name(const json::Value& event, const json::Value& ctx);

// The first of the event's then the context's "params", "args", "arguments" that is present
// and not null; a null value when there is none.
const json::Value& pick_args(const json::Value& event, const json::Value& ctx);

// Whether `path` matches one of `patterns`. Path and patterns are compared with backslashes
// turned into slashes and fully lower-cased. A pattern without "/" must equal the base name;
// one starting with "/" may occur anywhere; any other must occur at the start or right after
// a "/". Empty patterns never match.
bool matches_memory_path(std::string_view path, std::span<const std::string> patterns);

// The text a write puts into the file, from its arguments `args` (an object) and the
// lower-cased tool name: the joined "edits", else the tool's own content key, else the
// first fallback content key holding a string. Empty when there is none.
std::optional<std::string> pick_content(const json::Value& args, std::string_view lower_tool_name);

struct MemoryWriteOptions {
  const std::vector<std::string>* patterns = nullptr;    ///< replaces the default path patterns
  const std::vector<std::string>* tool_names = nullptr;  ///< replaces "write", "edit", "multiedit"
};

// The entry a tool call writes to a memory file (key: the path as given, value: the text,
// source: "plugin:" + tool name), or empty when the call is not such a write. Cannot fail.
std::optional<MemoryEntry> classify_memory_write(const json::Value& event, const json::Value& ctx,
                                                 const MemoryWriteOptions& options);

}  // namespace vardex
