#include "install/deploy.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "diag/error_text.h"
#include "diag/trace.h"
#include "install/at_restart.h"
#include "install/family.h"
#include "platform/platform.h"

namespace kst {
namespace {

constexpr const char* kCopyFailedText = "Faile to copy driver to system directory!";
// Extensions of the files of our own beside an image: the new image while it
// is written, and on the 9x family the old one while the two are swapped.
constexpr const char* kNewImageExtension = ".~nw";
constexpr const char* kOldImageExtension = ".~ol";
// Further names for the new image, for when a request for the restart names
// the first: a file a request will move over the image is never rewritten,
// since a power cut during the write would leave it partial.
constexpr const char* kNewImageExtensions[] = {kNewImageExtension, ".~n1", ".~n2", ".~n3"};

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

// The embedded image `resourceId` and its size; null, with the trace line
// that names the failed step in `failure`, when it cannot be had.
const void* LockImage(int resourceId, uint32_t& size, const char*& failure) {
  IResources& resources = Sys().resources;
  ResourceRef resource = resources.Find(resourceId, "DRIVER");
  failure = "Copyfile: Failed to FindResource!";
  if (resource == 0) return nullptr;
  const void* image = resources.Lock(resource);
  failure = "Copyfile: Failed to LockResource!";
  size = image ? resources.Size(resource) : 0;
  return image;
}

// Writes the embedded image `resourceId` into `file` in one request.
bool WriteImage(IFile& file, int resourceId) {
  uint32_t size = 0;
  const char* failure = nullptr;
  const void* image = LockImage(resourceId, size, failure);
  if (image == nullptr) {
    Trace(failure);
    return false;
  }
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

// How the new image took the place of the old one.
enum class Placed { kNot, kNow, kAtRestart };

// Puts the complete, flushed image at `temp` in the place of `path`: at once
// in one step, or, while the loaded driver holds the file or a request for
// the restart names it, by a request of its own that Windows carries out
// after those at its next start. The image at `path` stays as it was until
// then, and for good when neither can be done. Only an image that is there
// is replaced at the restart: until then a listed driver needs a file.
Placed PutInPlace(const std::string& temp, const std::string& path, bool named) {
  bool atRestart = named;
  if (!named) {
    MakeWritable(path);  // a read-only image cannot be replaced
    if (Sys().files.MoveReplacing(temp, path)) return Placed::kNow;
    ErrorCode error = Sys().system.GetLastError();
    if (error == win::kErrorCallNotImplemented && SwapIn(temp, path)) return Placed::kNow;
    atRestart = FileInUse(error);
  }
  if (atRestart && Sys().files.Exists(path) && ReplaceFileAtRestart(temp, path)) {
    return Placed::kAtRestart;
  }
  Trace("Copyfile: Failed to replace file!" + path);
  return Placed::kNot;
}

// True when the file at `path` holds exactly the embedded image.
bool HoldsImage(const std::string& path, int resourceId) {
  uint32_t size = 0;
  const char* failure = nullptr;
  const void* image = LockImage(resourceId, size, failure);
  if (image == nullptr) return false;
  std::unique_ptr<IFile> file =
      Sys().files.Create(path, win::kGenericRead, win::kFileShareRead, win::kOpenExisting, 0);
  if (!file) return false;
  std::vector<uint8_t> bytes(size_t(size) + 1);  // one more: a longer file differs
  uint32_t read = 0;
  return file->Read(bytes.data(), uint32_t(bytes.size()), read) && read == size &&
         std::equal(bytes.begin(), bytes.begin() + read, static_cast<const uint8_t*>(image));
}

// True when the last request that names the image at `path` replaces it
// with a file holding this very image that no other request touches: the
// restart will put the image in place as it is.
bool AlreadyInPlaceAtRestart(const std::vector<PendingRename>& renames, const PendingRename& last,
                             const std::string& path, int resourceId) {
  return last.replaces && SameFilePath(last.to, path) && !SameFilePath(last.from, path) &&
         !NamedElsewhere(renames, last.from, &last) && Sys().files.Exists(path) &&
         HoldsImage(last.from, resourceId);
}

// A name of our own beside `path` for the new image that no request names.
std::optional<std::string> FreeNewImageName(const std::string& path,
                                            const std::vector<PendingRename>& renames) {
  for (const char* extension : kNewImageExtensions) {
    std::string name = SiblingPath(path, extension);
    if (!LastNaming(renames, name)) return name;
  }
  return std::nullopt;
}

// Writes the image whole and flushed into a file of its own at `temp`, and
// closes it: a file still open could be neither moved nor deleted.
bool WriteWhole(const std::string& temp, int resourceId) {
  std::unique_ptr<IFile> file = CreateTarget(Sys().files, temp);
  if (!file) {
    Trace("Copyfile: CreateFile failed!" + temp);  // the file that could not be created
    return false;
  }
  Trace("Copyfile: CreateFile success!");
  return WriteImage(*file, resourceId) && FlushImage(*file);
}

// The body of one copy, between the first trace line and the closing one.
// The image is written to a file of our own beside `path` and replaces the
// file there only once it is whole on the disk: an image that is listed
// must never be seen empty or partial, whatever fails or stops the copy.
// The requests for the restart come first: one that already puts this very
// image in place is left as it is, and one that names the image makes the
// new image follow it at the restart, never take its place now (the request
// would act on it afterwards).
bool CopyTo(const std::string& path, int resourceId) {
  const std::string inUse = "Copyfile: " + path + " in use, replaced at restart";
  std::optional<std::vector<PendingRename>> renames = ReadPendingRenames();
  if (!renames) {
    Trace(std::string("Copyfile: Failed to read ") + kPendingRenamesValue + "!");
    return false;
  }
  const PendingRename* last = LastNaming(*renames, path);
  if (last && AlreadyInPlaceAtRestart(*renames, *last, path, resourceId)) {
    Trace(inUse);
    return true;
  }
  std::optional<std::string> temp = FreeNewImageName(path, *renames);
  if (!temp) {
    Trace("Copyfile: Failed to replace file!" + path);
    return false;
  }
  Placed placed = WriteWhole(*temp, resourceId) ? PutInPlace(*temp, path, last != nullptr)
                                                : Placed::kNot;
  if (placed == Placed::kNot) {
    DeleteOwnFile(*temp);
    return false;
  }
  Trace(placed == Placed::kNow ? "Copyfile: " + path : inUse);
  return true;
}

}  // namespace

bool FileInUse(ErrorCode error) {
  return error == win::kErrorAccessDenied || error == win::kErrorSharingViolation;
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
  if (Sys().files.Delete(path)) return true;
  // No file, or no folder to hold one (a 9x machine without Iosubsys): gone.
  ErrorCode error = Sys().system.GetLastError();
  if (error == win::kErrorFileNotFound || error == win::kErrorPathNotFound) return true;
  Trace("Failed to DeleteFile " + path + "\n" + LastErrorText());
  return false;
}

std::vector<std::string> OwnFilesBeside(const std::string& imagePath) {
  std::vector<std::string> files;
  for (const char* extension : kNewImageExtensions) files.push_back(SiblingPath(imagePath, extension));
  files.push_back(SiblingPath(imagePath, kOldImageExtension));
  return files;
}

bool Copyfile(const DriverImage& image, Interaction interaction) {
  return Copyfile(image.relativePath, image.resourceId, interaction);
}

bool DeployDriverImages(Interaction interaction) {
  for (const FamilyDriver& driver : DriversOf(RunningFamily())) {
    if (!Copyfile(*driver.image, interaction)) return false;
  }
  return true;
}

}  // namespace kst
