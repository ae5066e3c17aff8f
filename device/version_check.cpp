#include "device/version_check.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "device/text_format.h"
#include "device/version_record.h"
#include "diag/trace.h"
#include "install/deploy.h"
#include "platform/platform.h"

namespace kst {
namespace {

int32_t High16(uint32_t v) { return int32_t(v >> 16); }
int32_t Low16(uint32_t v) { return int32_t(v & 0xFFFF); }

// The bytes of `value`..`value + length` that lie inside `block`: the answer
// comes from the file's own resource, so it is not trusted to stay there.
size_t LengthInside(const std::vector<uint8_t>& block, const void* value, uint32_t length) {
  const auto* at = static_cast<const uint8_t*>(value);
  const uint8_t* begin = block.data();
  const uint8_t* end = begin + block.size();
  if (at == nullptr || at < begin || at >= end) return 0;
  return std::min(size_t(length), size_t(end - at));
}

}  // namespace

std::optional<std::string> FileVersionAt(const std::string& path) {
  IVersionResources& versions = Sys().versions;
  uint32_t size = versions.InfoSize(path);
  if (size == 0) {
    Trace("Lost file: " + path);
    return std::nullopt;
  }
  std::vector<uint8_t> block(size);
  const void* root = nullptr;
  uint32_t length = 0;
  std::optional<std::pair<uint32_t, uint32_t>> version;
  if (versions.Info(path, size, block.data()) && versions.QueryRoot(block.data(), root, length)) {
    version = ReadFixedFileVersion(static_cast<const uint8_t*>(root),
                                   LengthInside(block, root, length));
  }
  if (!version) {
    Trace("Lost VerQueryValue: " + path);
    return std::nullopt;
  }
  return FileVersionText(version->first, version->second);
}

std::string FileVersionText(uint32_t fileVersionMS, uint32_t fileVersionLS) {
  return WsprintfText("%d.%d.%d.%d", {High16(fileVersionMS), Low16(fileVersionMS),
                                      High16(fileVersionLS), Low16(fileVersionLS)});
}

std::optional<std::string> CheckDriverFliterVersion(const std::string& relativePath) {
  Trace("CheckDriverFliterVersion: " + relativePath);
  std::optional<std::string> path = SystemPath(relativePath);
  if (!path) {
    // A path too long for the system's buffer names no file it could open.
    Trace("Lost file: " + PathForTrace(path, relativePath));
    return std::nullopt;
  }
  std::optional<std::string> version = FileVersionAt(*path);
  if (version) Trace(relativePath + " Version: " + *version);
  return version;
}

}  // namespace kst
