#include "device/version_check.h"

#include <optional>
#include <vector>

#include "device/text_format.h"
#include "diag/trace.h"
#include "install/deploy.h"
#include "platform/platform.h"

namespace kst {
namespace {

int32_t High16(uint32_t v) { return int32_t(v >> 16); }
int32_t Low16(uint32_t v) { return int32_t(v & 0xFFFF); }

// The file version of the file at `path`; nullopt after tracing the failure.
std::optional<std::string> ReadVersionText(const std::string& path) {
  IVersionResources& versions = Sys().versions;
  uint32_t size = versions.InfoSize(path);
  if (size == 0) {
    Trace("Lost file: " + path);
    return std::nullopt;
  }
  std::vector<uint8_t> block(size);
  uint32_t ms = 0, ls = 0;
  if (!versions.Info(path, size, block.data()) ||
      !versions.FixedFileVersion(block.data(), ms, ls)) {
    Trace("Lost VerQueryValue: " + path);
    return std::nullopt;
  }
  return FileVersionText(ms, ls);
}

}  // namespace

std::string FileVersionText(uint32_t fileVersionMS, uint32_t fileVersionLS) {
  return WsprintfText("%d.%d.%d.%d", {High16(fileVersionMS), Low16(fileVersionMS),
                                      High16(fileVersionLS), Low16(fileVersionLS)});
}

InstalledVersion CheckDriverFliterVersion(const std::string& relativePath) {
  Trace("CheckDriverFliterVersion: " + relativePath);
  std::optional<std::string> path = SystemPath(relativePath);
  if (!path) {
    // A path too long for the system's buffer names no file it could open.
    Trace("Lost file: " + PathForTrace(path, relativePath));
    return {};
  }
  InstalledVersion found{ReadVersionText(*path)};
  if (!found.text) return found;
  Trace(relativePath + " Version: " + *found.text);
  found.current = *found.text == kCarriedDriverVersion;
  return found;
}

}  // namespace kst
