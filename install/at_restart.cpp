#include "install/at_restart.h"

#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/class_filters.h"
#include "platform/platform.h"

namespace kst {
namespace {

// A request that was made but may not survive a power cut is no request:
// the caller counts on it only once it is on the disk.
bool Flushed(bool requested, const std::string& path) {
  if (!requested) {
    Trace("Failed to MoveFileEx " + path + "\n" + LastErrorText());
    return false;
  }
  RegStatus status = FlushLocalMachineKey(kSessionManagerKey);
  if (status == win::kErrorSuccess) return true;
  Trace(std::string("Failed to RegFlushKey ") + kSessionManagerKey);
  return false;
}

}  // namespace

std::optional<std::vector<PendingRename>> ReadPendingRenames() {
  StoredValue value = ReadStoredValue(kSessionManagerKey, kPendingRenamesValue, kMaxPendingRenamesSize);
  switch (value.state) {
    case StoredValue::State::kNoKey:
    case StoredValue::State::kNoValue:
      return std::vector<PendingRename>{};
    case StoredValue::State::kUnreadable:
      return std::nullopt;
    case StoredValue::State::kRead:
      break;
  }
  if (value.type != win::kRegMultiSz) return std::nullopt;
  return ParsePendingRenames(value.bytes);
}

bool ReplaceFileAtRestart(const std::string& from, const std::string& to) {
  return Flushed(Sys().files.ReplaceAtRestart(from, to), from);
}

bool DeleteFileAtRestart(const std::string& path) {
  return Flushed(Sys().files.DeleteAtRestart(path), path);
}

}  // namespace kst
