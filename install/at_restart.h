#pragma once
// Changes to files that Windows makes at its next start: reading the ones
// requested so far, and requesting more.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "install/pending_renames.h"

namespace kst {

// The most bytes of PendingFileRenameOperations that are read; a larger
// value counts as unreadable. Other programs' requests can make it long.
inline constexpr uint32_t kMaxPendingRenamesSize = 4 * 1024 * 1024;

// The requests waiting for the next start, read with read rights only; none
// when there is no such value. Nullopt when the value cannot be read whole
// or is no REG_MULTI_SZ: what it requests is then unknown. Traces nothing.
std::optional<std::vector<PendingRename>> ReadPendingRenames();

// Requests that `to` becomes the file `from` is (ReplaceAtRestart), or that
// `path` is deleted (DeleteAtRestart), when Windows next starts, after every
// request made before, and flushes the Session Manager key: true once the
// request is on the disk. A failure is traced.
bool ReplaceFileAtRestart(const std::string& from, const std::string& to);
bool DeleteFileAtRestart(const std::string& path);

}  // namespace kst
