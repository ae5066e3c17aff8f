#pragma once
// What the requests for the next start of Windows make of one file, for
// KstCheck, which names the state after the restart. No platform calls.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "install/pending_renames.h"

namespace kst {

// What the requests make of the file at `path`.
struct RestartFate {
  bool present = false;  // a file is at `path` once they are carried out
  // When a request moved it there: the path of the file it is now.
  std::optional<std::string> from;
};

// Follows the requests in order from the files as they are now
// (`existsNow`, asked only of the paths on the way to `path`). A request
// whose source is missing, or whose target exists without leave to replace
// it, is skipped, as Windows skips it.
RestartFate FateAtRestart(const std::vector<PendingRename>& renames, const std::string& path,
                          const std::function<bool(const std::string&)>& existsNow);

}  // namespace kst
