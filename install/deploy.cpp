#include "install/deploy.h"

#include <memory>
#include <vector>

#include "diag/error_text.h"
#include "diag/trace.h"
#include "platform/platform.h"

namespace kst {
namespace {

constexpr const char* kCopyFailedText = "Faile to copy driver to system directory!";
// Extensions of the files of our own beside an image: the new image while it
// is written, and on the 9x family the old one while the two are swapped.
constexpr const char* kNewImageExtension = ".~nw";
constexpr const char* kOldImageExtension = ".~ol";

// Creates the file, truncating an existing one (a stale one of our own). When
// it cannot be opened for reading and writing, it is deleted and created anew
// with write access only.
std::unique_ptr<IFile> CreateTarget(IFileSystem& files, const std::string& path) {
  auto create = [&](uint32_t access) {
    return files.Create(path, access, 0, win::kCreateAlways, win::kFileAttributeNormal);
  };
  std::unique_ptr<IFile> file = create(win::kGenericRead | win::kGenericWrite);
  if (file) return file;
  DeleteOwnFile(path);
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

// The name of a file of our own beside `path`: its extension replaced by
// `extension`. Of the same length, it fits wherever the path fits; an 8.3
// name stays one; and no family loads a file of that extension as a driver.
std::string SiblingPath(const std::string& path, const char* extension) {
  size_t dot = path.find_last_of("\\.");
  if (dot == std::string::npos || path[dot] != '.') return path + extension;
  return path.substr(0, dot) + extension;
}

bool FlushImage(IFile& file) {
  if (file.Flush()) return true;
  Trace("Copyfile: Failed to flush file!");
  return false;
}

// The 9x family has no replacing move, and its MoveFileA refuses a target
// that exists. So the old image steps aside under a name of our own, the new
// one takes its place, and the old one comes back when that fails. A stop
// between the two moves leaves no image rather than a partial one: nothing
// lists a VxD there, so the system starts without it.
bool SwapIn(const std::string& temp, const std::string& path) {
  IFileSystem& files = Sys().files;
  std::string backup = SiblingPath(path, kOldImageExtension);
  DeleteOwnFile(backup);  // left by a run that was stopped between the moves
  bool hadOld = files.Move(path, backup);
  if (!hadOld && Sys().system.GetLastError() != win::kErrorFileNotFound) return false;
  if (!files.Move(temp, path)) {
    if (hadOld) files.Move(backup, path);
    return false;
  }
  // The old image keeps its attributes under the backup name: a read-only
  // one is made writable here, or it would block every later installation.
  if (hadOld) DeleteOwnFile(backup);
  return true;
}

// Puts the complete, flushed image at `temp` in the place of `path` in one
// step; the image at `path` stays as it was when that cannot be done (for
// example while the loaded driver holds it).
bool PutInPlace(const std::string& temp, const std::string& path) {
  MakeWritable(path);  // a read-only image cannot be replaced
  bool replaced = Sys().files.MoveReplacing(temp, path) ||
                  (Sys().system.GetLastError() == win::kErrorCallNotImplemented &&
                   SwapIn(temp, path));
  if (!replaced) Trace("Copyfile: Failed to replace file!" + path);
  return replaced;
}

// The body of one copy, between the first trace line and the closing one.
// The image is written to a file of our own beside `path` and replaces the
// file there only once it is whole on the disk: an image that is listed
// must never be seen empty or partial, whatever fails or stops the copy.
bool CopyTo(const std::string& path, int resourceId) {
  std::string temp = SiblingPath(path, kNewImageExtension);
  std::unique_ptr<IFile> file = CreateTarget(Sys().files, temp);
  if (!file) {
    Trace("Copyfile: CreateFile failed!" + temp);  // the file that could not be created
    return false;
  }
  Trace("Copyfile: CreateFile success!");
  bool complete = WriteImage(*file, resourceId) && FlushImage(*file);
  file.reset();  // closed before it is moved or deleted
  if (!complete || !PutInPlace(temp, path)) {
    DeleteOwnFile(temp);
    return false;
  }
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

bool Copyfile(const std::string& relativePath, int resourceId, Interaction interaction) {
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
  if (!copied) ShowFailure(interaction, kCopyFailedText);
  return copied;
}

void MakeWritable(const std::string& path) {
  IFileSystem& files = Sys().files;
  uint32_t attributes = files.Attributes(path);
  if (attributes == win::kInvalidFileAttributes || !(attributes & win::kFileAttributeReadOnly)) {
    return;
  }
  attributes &= ~win::kFileAttributeReadOnly;
  files.SetAttributes(path, attributes != 0 ? attributes : win::kFileAttributeNormal);
}

bool DeleteOwnFile(const std::string& path) {
  MakeWritable(path);
  if (Sys().files.Delete(path) || Sys().system.GetLastError() == win::kErrorFileNotFound) {
    return true;
  }
  Trace("Failed to DeleteFile " + path + "\n" + LastErrorText());
  return false;
}

std::vector<std::string> OwnFilesBeside(const std::string& imagePath) {
  return {SiblingPath(imagePath, kNewImageExtension), SiblingPath(imagePath, kOldImageExtension)};
}

bool Copyfile(const DriverImage& image, Interaction interaction) {
  return Copyfile(image.relativePath, image.resourceId, interaction);
}

bool DeployDriverImages(Interaction interaction) {
  if (!IsWindowsNT()) return Copyfile(kKestruneVxd, interaction);
  for (const FilterDriver* driver : kNtDrivers) {
    if (!Copyfile(driver->image, interaction)) return false;
  }
  return true;
}

}  // namespace kst
