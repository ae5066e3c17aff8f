#pragma once
// The renames and deletions Windows carries out at its next start, before
// any driver loads (the value PendingFileRenameOperations), read from the
// value's bytes. Pure byte work, no platform calls.
#include <cstdint>
#include <string>
#include <vector>

namespace kst {

// One request, as Windows reads it.
struct PendingRename {
  std::string from;  // the source's path, its "\??\" taken off
  std::string to;    // the target's path likewise; empty: the source is deleted
  bool replaces = false;  // the target came with '!': a file there is replaced
};

// The requests of a PendingFileRenameOperations value, in the order Windows
// carries them out. The value's strings (each up to its zero, a last one
// without its zero up to the value's end) are taken in pairs over the whole
// value: a deletion's target is an empty string, so the first empty string
// does not end it. The value's closing zero leaves one empty string without
// a partner; any last string without one is no request. Other programs'
// requests are kept as they stand, whatever their form.
std::vector<PendingRename> ParsePendingRenames(const std::vector<uint8_t>& value);

// The path without a leading "\??\", the NT form of a drive path.
std::string WithoutNtPrefix(std::string path);

// True when two paths name the same file as the requests name it: equal
// without regard to ASCII case once a leading "\??\" of either is taken off.
bool SameFilePath(const std::string& a, const std::string& b);

// The last request that names `path`, as its source or its target; null
// when none does. After it no request changes the file at `path`.
const PendingRename* LastNaming(const std::vector<PendingRename>& renames, const std::string& path);

// True when a request other than `except` names `path`.
bool NamedElsewhere(const std::vector<PendingRename>& renames, const std::string& path,
                    const PendingRename* except);

}  // namespace kst
