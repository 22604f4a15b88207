#include "memory_classifier.h"

#include <algorithm>
#include <array>
#include <utility>

#include "text.h"

namespace vardex {
namespace {

constexpr std::array<std::string_view, 5> kWritePathKeys = {"file_path", "path", "filename", "target", "file"};
constexpr std::array<std::string_view, 5> kEditContentKeys = {"newText", "new_string", "new_str", "newStr",
                                                              "replacement"};
constexpr std::array<std::string_view, 8> kFallbackContentKeys = {
    "content", "newText", "new_string", "new_str", "newStr", "replacement", "value", "text"};
constexpr std::array<std::string_view, 1> kContentKey = {"content"};

const std::vector<std::string>& default_write_tool_names() {
  static const std::vector<std::string> names = {"write", "edit", "multiedit"};
  return names;
}

// Backslashes as slashes, then the full Unicode lower-case mapping.
std::string normalize_path(std::string_view path) {
  std::string slashed(path);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return to_lower(slashed);
}

// Whether `pattern` occurs in `path` at the start or right after a "/". Every occurrence
// counts, overlapping ones included.
bool occurs_at_segment_start(std::string_view path, std::string_view pattern) {
  for (std::size_t pos = path.find(pattern); pos != std::string_view::npos; pos = path.find(pattern, pos + 1)) {
    if (pos == 0 || path[pos - 1] == '/') return true;
  }
  return false;
}

bool has_non_white_space(std::string_view text) { return !trim(text).empty(); }

}  // namespace

std::span<const std::string> default_memory_path_patterns() {
  static const std::vector<std::string> patterns = {
      "/.openclaw/workspace/", "/.openclaw/memory/", "/.claude/projects/", "/memory/", "memory/",
      "Memory.md",             "DREAMS.md",          "CLAUDE.md",          "AGENTS.md"};
  return patterns;
}

const std::string* first_string(const json::Value& object, std::span<const std::string_view> keys,
                                bool (*accept)(std::string_view)) {
  for (std::string_view key : keys) {
    const json::Value* v = object.find(key);
    const std::string* text = v != nullptr ? v->as_string() : nullptr;
    if (text != nullptr && (accept == nullptr || accept(*text))) return text;
  }
  return nullptr;
}

bool tool_name_in(std::string_view lower_tool_name, std::span<const std::string> names) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return to_lower(n) == lower_tool_name; });
}

std::string extract_tool_name(const json::Value& event, const json::Value& ctx) {
  constexpr std::array<std::string_view, 1> kEventKeys = {"toolName"};
  constexpr std::array<std::string_view, 1> kToolKeys = {"name"};
  constexpr std::array<std::string_view, 2> kContextKeys = {"toolName", "name"};
  if (const std::string* name = first_string(event, kEventKeys)) return *name;
  if (const json::Value* tool = ctx.find("tool")) {
    if (const std::string* name = first_string(*tool, kToolKeys)) return *name;
  }
  if (const std::string* name = first_string(ctx, kContextKeys)) return *name;
  return {};
}

const json::Value& pick_args(const json::Value& event, const json::Value& ctx) {
  static const json::Value null;
  for (const json::Value* source : {&event, &ctx}) {
    for (std::string_view key : {"params", "args", "arguments"}) {
      const json::Value* v = source->find(key);
      if (v != nullptr && !v->is_null()) return *v;
    }
  }
  return null;
}

bool matches_memory_path(std::string_view path, std::span<const std::string> patterns) {
  const std::string norm = normalize_path(path);
  const std::size_t slash = norm.rfind('/');
  const std::string_view base = slash == std::string::npos ? std::string_view(norm) : std::string_view(norm).substr(slash + 1);
  for (const std::string& raw : patterns) {
    if (raw.empty()) continue;
    const std::string pattern = normalize_path(raw);
    if (pattern.find('/') == std::string::npos) {
      if (pattern == base) return true;
    } else if (pattern.front() == '/') {
      if (norm.find(pattern) != std::string::npos) return true;
    } else if (occurs_at_segment_start(norm, pattern)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> pick_content(const json::Value& args, std::string_view lower_tool_name) {
  if (const json::Value* edits = args.find("edits"); edits != nullptr && edits->as_array() != nullptr) {
    std::string joined;
    bool first = true;
    for (const json::Value& edit : *edits->as_array()) {
      const std::string* text = first_string(edit, kEditContentKeys);
      if (text == nullptr) continue;
      if (!first) joined.push_back('\n');
      joined += *text;
      first = false;
    }
    return joined;
  }
  const std::string* text = nullptr;
  if (lower_tool_name == "edit") {
    text = first_string(args, kEditContentKeys);
  } else if (lower_tool_name == "write" || lower_tool_name == "multiedit") {
    text = first_string(args, kContentKey);
  }
  if (text == nullptr) text = first_string(args, kFallbackContentKeys);
  if (text == nullptr) return std::nullopt;
  return *text;
}

std::optional<MemoryEntry> classify_memory_write(const json::Value& event, const json::Value& ctx,
                                                 const MemoryWriteOptions& options) {
  const std::span<const std::string> patterns =
      options.patterns != nullptr ? std::span<const std::string>(*options.patterns) : default_memory_path_patterns();
  const std::vector<std::string>& tool_names =
      options.tool_names != nullptr ? *options.tool_names : default_write_tool_names();

  std::string tool_name = extract_tool_name(event, ctx);
  if (tool_name.empty()) return std::nullopt;
  const std::string lower = to_lower(tool_name);
  if (!tool_name_in(lower, tool_names)) return std::nullopt;
  const json::Value& args = pick_args(event, ctx);
  if (args.as_object() == nullptr) return std::nullopt;
  const std::string* path = first_string(args, kWritePathKeys, &has_non_white_space);
  if (path == nullptr || !matches_memory_path(*path, patterns)) return std::nullopt;
  std::optional<std::string> content = pick_content(args, lower);
  if (!content || content->empty()) return std::nullopt;
  return MemoryEntry{*path, std::move(*content), "plugin:" + std::move(tool_name), std::nullopt};
}

}  // namespace vardex
