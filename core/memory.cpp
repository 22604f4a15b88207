#include "memory.h"

#include <utility>

namespace vardex {

MemorySnapshot create_memory_snapshot(std::vector<MemoryEntry> entries, std::uint64_t taken_at) {
  return MemorySnapshot{std::move(entries), taken_at};
}

}  // namespace vardex
