#include "platform/fake/fake_files.h"

#include <algorithm>

#include "platform/fake/fake_platform.h"

namespace kst::fake {

class FakeFile : public IFile {
 public:
  FakeFile(FakeFileSystem& fs, FakePlatform& p, int handle) : fs_(fs), p_(p), handle_(handle) {}
  // (writes append: every file the program writes it has just created)
  ~FakeFile() override {
    p_.RecordClose("CloseHandle");
    fs_.open.erase(handle_);
  }

  // Writes reach the file the handle is open on, wherever it has moved; a
  // file deleted under the handle takes nothing more.
  bool Write(const void* data, uint32_t size, uint32_t& written) override {
    written = 0;
    if (p_.Call("WriteFile")) return false;
    uint32_t n = fs_.writeLimit ? std::min(size, *fs_.writeLimit) : size;
    const std::string& path = fs_.open.at(handle_).path;
    if (!path.empty()) {
      FakeFileData& file = fs_.files[path];
      if (!file.unflushed) file.unflushed = file.bytes;
      const auto* b = static_cast<const uint8_t*>(data);
      file.bytes.insert(file.bytes.end(), b, b + n);
      file.lastWrite = p_.sleep.Now();
    }
    written = n;
    return true;
  }

  bool Flush() override {
    if (p_.Call("FlushFileBuffers")) return false;
    const std::string& path = fs_.open.at(handle_).path;
    if (fs_.Has(path)) fs_.files[path].unflushed.reset();
    return true;
  }

  bool Read(void* data, uint32_t size, uint32_t& read) override {
    read = 0;
    if (p_.Call("ReadFile")) return false;
    const FakeFileSystem::OpenHandle& handle = fs_.open.at(handle_);
    if (!(handle.access & win::kGenericRead)) {
      p_.system.lastError = win::kErrorAccessDenied;
      return false;
    }
    if (!fs_.Has(handle.path)) return true;  // deleted under the handle: nothing to read
    const std::vector<uint8_t>& bytes = fs_.files[handle.path].bytes;
    size_t n = position_ < bytes.size() ? std::min(size_t(size), bytes.size() - position_) : 0;
    std::copy_n(bytes.begin() + long(position_), n, static_cast<uint8_t*>(data));
    position_ += n;
    read = uint32_t(n);
    return true;
  }

 private:
  FakeFileSystem& fs_;
  FakePlatform& p_;
  int handle_;
  size_t position_ = 0;
};

bool FakeFileSystem::MayOpen(const std::string& path, uint32_t access, uint32_t share) const {
  auto covers = [](uint32_t access, uint32_t share) {
    return (!(access & win::kGenericRead) || (share & win::kFileShareRead)) &&
           (!(access & win::kGenericWrite) || (share & win::kFileShareWrite));
  };
  for (const auto& [number, handle] : open) {
    if (handle.path.empty() || !SamePath(handle.path, path)) continue;
    if (!covers(access, handle.share) || !covers(handle.access, share)) return false;
  }
  return true;
}

// True, with ERROR_PATH_NOT_FOUND, when the folder of `path` does not exist.
bool FakeFileSystem::FolderMissing(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos || !missingFolders.count(path.substr(0, slash))) return false;
  p_.system.lastError = win::kErrorPathNotFound;
  return true;
}

bool FakeFileSystem::MayDeleteOrMove(const std::string& path) {
  for (const auto& [number, handle] : open) {
    if (SamePath(handle.path, path) && !(handle.share & win::kFileShareDelete)) {
      p_.system.lastError = win::kErrorSharingViolation;
      return false;
    }
  }
  return true;
}

std::unique_ptr<IFile> FakeFileSystem::Create(const std::string& path, uint32_t access,
                                              uint32_t share, uint32_t disposition, uint32_t) {
  if (p_.Call("CreateFileA")) return nullptr;
  if (FolderMissing(path)) return nullptr;
  if (disposition == win::kOpenExisting && !Has(path)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return nullptr;
  }
  if (!MayOpen(path, access, share)) {
    p_.system.lastError = win::kErrorSharingViolation;
    return nullptr;
  }
  bool writes = (access & win::kGenericWrite) || disposition == win::kCreateAlways;
  if (Has(path) && files[path].ReadOnly() && writes) {
    p_.system.lastError = win::kErrorAccessDenied;
    return nullptr;
  }
  // Truncation, like creation, is on the disk at once.
  if (disposition == win::kCreateAlways) {
    files[path] = FakeFileData{{}, win::kFileAttributeNormal, {}, p_.sleep.Now()};
  }
  int handle = nextHandle_++;
  open[handle] = OpenHandle{path, access, share};
  return std::make_unique<FakeFile>(*this, p_, handle);
}

bool FakeFileSystem::Delete(const std::string& path) {
  if (p_.Call("DeleteFileA")) return false;
  if (FolderMissing(path)) return false;
  if (locked.count(path)) {
    p_.system.lastError = win::kErrorAccessDenied;
    return false;
  }
  if (!Has(path)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return false;
  }
  if (files[path].ReadOnly()) {
    p_.system.lastError = win::kErrorAccessDenied;
    return false;
  }
  if (!MayDeleteOrMove(path)) return false;
  EraseEntry(path);
  return true;
}

// The file goes, with its version resource; handles on it take nothing more.
void FakeFileSystem::EraseEntry(const std::string& path) {
  files.erase(path);
  for (auto& [number, handle] : open) {
    if (SamePath(handle.path, path)) handle.path.clear();
  }
  p_.versions.records.erase(path);
}

// The file, its open handles and its version resource take the new name.
void FakeFileSystem::MoveEntry(const std::string& from, const std::string& to) {
  files[to] = std::move(files[from]);
  files.erase(from);
  for (auto& [number, handle] : open) {
    if (SamePath(handle.path, from)) handle.path = to;
  }
  auto& records = p_.versions.records;
  auto record = records.find(from);
  if (record == records.end()) {
    records.erase(to);
    return;
  }
  records[to] = std::move(record->second);
  records.erase(from);
}

bool FakeFileSystem::MoveReplacing(const std::string& from, const std::string& to) {
  if (p_.Call("MoveFileExA")) return false;
  if (p_.system.platformId == win::kVerPlatformWin32Windows) {
    p_.system.lastError = win::kErrorCallNotImplemented;
    return false;
  }
  if (FolderMissing(from) || FolderMissing(to)) return false;
  if (!Has(from)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return false;
  }
  if (locked.count(from) || locked.count(to) || (Has(to) && files[to].ReadOnly())) {
    p_.system.lastError = win::kErrorAccessDenied;
    return false;
  }
  if (!MayDeleteOrMove(from) || (Has(to) && !MayDeleteOrMove(to))) return false;
  MoveEntry(from, to);
  return true;
}

bool FakeFileSystem::Move(const std::string& from, const std::string& to) {
  if (p_.Call("MoveFileA")) return false;
  if (FolderMissing(from) || FolderMissing(to)) return false;
  if (!Has(from)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return false;
  }
  if (Has(to)) {
    p_.system.lastError = win::kErrorAlreadyExists;
    return false;
  }
  if (locked.count(from)) {
    p_.system.lastError = win::kErrorAccessDenied;
    return false;
  }
  if (!MayDeleteOrMove(from)) return false;
  MoveEntry(from, to);
  return true;
}

uint32_t FakeFileSystem::Attributes(const std::string& path) {
  if (p_.Call("GetFileAttributesA")) return win::kInvalidFileAttributes;
  if (!Has(path)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return win::kInvalidFileAttributes;
  }
  return files[path].attributes;
}

bool FakeFileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  if (p_.Call("SetFileAttributesA")) return false;
  if (!Has(path)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return false;
  }
  files[path].attributes = attributes;
  return true;
}

bool FakeFileSystem::Exists(const std::string& path) {
  p_.Record("FindFirstFileA");
  return Has(path);
}

bool FakeFileSystem::LastWriteTime(const std::string& path, uint64_t& fileTime) {
  if (p_.Call("FindFirstFileA")) return false;
  if (!Has(path)) return false;
  fileTime = files[path].lastWrite;
  return true;
}

namespace {

// The name a request at restart gives a path: the NT form of a drive path.
std::string NtPath(const std::string& path) { return "\\??\\" + path; }

}  // namespace

// Windows keeps the requests in the order they were made: each appended to
// the value (created when it is missing), whose closing zero moves behind it.
bool FakeFileSystem::RecordAtRestart(const std::string& from, const std::string& target) {
  if (p_.system.platformId == win::kVerPlatformWin32Windows) {
    p_.system.lastError = win::kErrorCallNotImplemented;
    return false;
  }
  FakeRegistry& registry = p_.registry;
  registry.NoteChange(kSessionManagerKey);
  FakeRegValue& value = registry.keys[kSessionManagerKey][kPendingRenamesValue];
  if (value.type != win::kRegMultiSz || value.bytes.empty()) value = {win::kRegMultiSz, {0}};
  value.bytes.pop_back();  // the closing zero
  std::vector<uint8_t> added = MultiSzBytes({NtPath(from), target});
  value.bytes.insert(value.bytes.end(), added.begin(), added.end());
  return true;
}

bool FakeFileSystem::ReplaceAtRestart(const std::string& from, const std::string& to) {
  if (p_.Call("MoveFileExA")) return false;
  return RecordAtRestart(from, "!" + NtPath(to));
}

bool FakeFileSystem::DeleteAtRestart(const std::string& path) {
  if (p_.Call("MoveFileExA")) return false;
  return RecordAtRestart(path, "");
}

}  // namespace kst::fake
