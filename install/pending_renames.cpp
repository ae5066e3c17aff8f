#include "install/pending_renames.h"

#include "install/filter_list.h"

namespace kst {

std::string WithoutNtPrefix(std::string path) {
  const std::string prefix = "\\??\\";
  if (path.compare(0, prefix.size(), prefix) == 0) path.erase(0, prefix.size());
  return path;
}

std::vector<PendingRename> ParsePendingRenames(const std::vector<uint8_t>& value) {
  std::vector<PendingRename> renames;
  std::string source;
  bool haveSource = false;
  size_t at = 0;
  while (at < value.size()) {
    size_t end = at;
    while (end < value.size() && value[end] != 0) ++end;
    std::string text(value.begin() + long(at), value.begin() + long(end));
    at = end + 1;
    if (!haveSource) {
      source = std::move(text);
      haveSource = true;
      continue;
    }
    PendingRename rename{WithoutNtPrefix(source), {}, !text.empty() && text[0] == '!'};
    rename.to = WithoutNtPrefix(text.substr(rename.replaces ? 1 : 0));
    renames.push_back(std::move(rename));
    haveSource = false;
  }
  return renames;
}

bool SameFilePath(const std::string& a, const std::string& b) {
  return SameFilterName(WithoutNtPrefix(a), WithoutNtPrefix(b));
}

const PendingRename* LastNaming(const std::vector<PendingRename>& renames, const std::string& path) {
  const PendingRename* last = nullptr;
  for (const PendingRename& r : renames) {
    if (SameFilePath(r.from, path) || SameFilePath(r.to, path)) last = &r;
  }
  return last;
}

bool NamedElsewhere(const std::vector<PendingRename>& renames, const std::string& path,
                    const PendingRename* except) {
  for (const PendingRename& r : renames) {
    if (&r != except && (SameFilePath(r.from, path) || SameFilePath(r.to, path))) return true;
  }
  return false;
}

}  // namespace kst
