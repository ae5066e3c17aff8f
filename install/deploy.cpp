#include "install/deploy.h"

#include <memory>

#include "diag/error_text.h"
#include "diag/trace.h"
#include "platform/platform.h"

namespace kst {
namespace {

constexpr const char* kCopyFailedText = "Faile to copy driver to system directory!";

// Creates the target file, truncating an existing one. When the file cannot
// be opened for reading and writing, it is deleted and created anew with
// write access only.
std::unique_ptr<IFile> CreateTarget(IFileSystem& files, const std::string& path) {
  auto create = [&](uint32_t access) {
    return files.Create(path, access, 0, win::kCreateAlways, win::kFileAttributeNormal);
  };
  std::unique_ptr<IFile> file = create(win::kGenericRead | win::kGenericWrite);
  if (file) return file;
  files.Delete(path);
  return create(win::kGenericWrite);
}

// The path, or nothing when it would not name the intended file: without the
// directory it would start at the root of the current drive, and past
// MAX_PATH the system would cut it.
std::optional<std::string> PathIn(const std::string& directory, const std::string& relativePath) {
  if (directory.empty()) return std::nullopt;
  std::string path = directory + relativePath;
  if (path.size() >= win::kMaxPath) return std::nullopt;
  return path;
}

// Writes the embedded image `resourceId` into `file` in one request.
bool WriteImage(IFile& file, int resourceId) {
  IResources& resources = Sys().resources;
  ResourceRef resource = resources.Find(resourceId, "DRIVER");
  if (resource == 0) {
    Trace("Copyfile: Failed to FindResource!");
    return false;
  }
  const void* image = resources.Lock(resource);
  if (image == nullptr) {
    Trace("Copyfile: Failed to LockResource!");
    return false;
  }
  uint32_t size = resources.Size(resource);
  uint32_t written = 0;
  if (file.Write(image, size, written) && written == size) return true;
  Trace("Copyfile: Failed to write file!" + DecimalText(int32_t(size)) + " / " +
        DecimalText(int32_t(written)));
  return false;
}

// The body of one copy, between the first trace line and the closing one.
bool CopyTo(const std::string& path, int resourceId) {
  std::unique_ptr<IFile> file = CreateTarget(Sys().files, path);
  if (!file) {
    Trace("Copyfile: CreateFile failed!" + path);
    return false;
  }
  Trace("Copyfile: CreateFile success!");
  if (!WriteImage(*file, resourceId)) return false;
  Trace("Copyfile: " + path);
  return true;
}

}  // namespace

bool IsWindowsNT() {
  uint32_t platformId = 0;
  if (!Sys().system.GetVersionEx(win::kOsVersionInfoExSize, platformId)) {
    platformId = 0;
    Sys().system.GetVersionEx(win::kOsVersionInfoSize, platformId);
  }
  return platformId == win::kVerPlatformWin32Nt;
}

std::optional<std::string> SystemPath(const std::string& relativePath) {
  return PathIn(Sys().files.SystemDirectory(), relativePath);
}

std::string PathForTrace(const std::optional<std::string>& path, const std::string& relativePath) {
  return path ? *path : Sys().files.SystemDirectory() + relativePath;
}

bool Copyfile(const std::string& relativePath, int resourceId) {
  std::string directory = Sys().files.SystemDirectory();
  std::optional<std::string> path = PathIn(directory, relativePath);
  bool copied = false;
  if (path) {
    Trace("Copy driver to: " + *path);
    copied = CopyTo(*path, resourceId);
  } else {
    // Refused before any file is touched: a truncated or rootless path would
    // name another file than the one the services and the version check use.
    Trace(directory.empty() ? "Copyfile: Failed to get system directory!"
                            : "Copyfile: Failed to build path, too long: " + directory + relativePath);
  }
  Trace("===== Copyfile ===========");
  if (!copied) {
    Sys().boxes.Show(kCopyFailedText, kFiltersCaption, win::kMbOk | win::kMbIconError);
  }
  return copied;
}

bool Copyfile(const DriverImage& image) { return Copyfile(image.relativePath, image.resourceId); }

bool DeployDriverImages() {
  if (!IsWindowsNT()) return Copyfile(kKestruneVxd);
  for (const FilterDriver* driver : kNtDrivers) {
    if (!Copyfile(driver->image)) return false;
  }
  return true;
}

}  // namespace kst
