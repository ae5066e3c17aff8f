#include "platform/win32/windows_api.h"

#include "platform/win32/adapters.h"
#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

class File final : public IFile {
 public:
  explicit File(HANDLE handle) : handle_(handle) {}

  bool Write(const void* data, uint32_t size, uint32_t& written) override {
    DWORD count = 0;
    BOOL ok = ::WriteFile(handle_.Get(), data, size, &count, nullptr);
    written = count;
    return ok != FALSE;
  }

  bool Flush() override { return ::FlushFileBuffers(handle_.Get()) != FALSE; }

  bool Read(void* data, uint32_t size, uint32_t& read) override {
    DWORD count = 0;
    BOOL ok = ::ReadFile(handle_.Get(), data, size, &count, nullptr);
    read = count;
    return ok != FALSE;
  }

 private:
  UniqueFileHandle handle_;
};

}  // namespace

std::string FileSystem::SystemDirectory() {
  // The whole name even past MAX_PATH (the call then answers the size it
  // needs), so callers can refuse it instead of using an empty or cut one.
  std::string directory(MAX_PATH, '\0');
  UINT length = ::GetSystemDirectoryA(directory.data(), MAX_PATH);
  if (length >= MAX_PATH) {
    directory.assign(length, '\0');
    length = ::GetSystemDirectoryA(directory.data(), length);
    if (length >= directory.size()) length = 0;
  }
  directory.resize(length);
  return directory;
}

std::unique_ptr<IFile> FileSystem::Create(const std::string& path, uint32_t access,
                                          uint32_t share, uint32_t disposition,
                                          uint32_t attributes) {
  HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition, attributes,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<File>(h);
}

bool FileSystem::Delete(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != FALSE;
}

bool FileSystem::Exists(const std::string& path) {
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(::FindFirstFileA(path.c_str(), &found));
  return search.Valid() && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileSystem::MoveReplacing(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool FileSystem::Move(const std::string& from, const std::string& to) {
  return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool FileSystem::ReplaceAtRestart(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool FileSystem::DeleteAtRestart(const std::string& path) {
  return ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool FileSystem::LastWriteTime(const std::string& path, uint64_t& fileTime) {
  WIN32_FIND_DATAA found;
  UniqueFindHandle search(::FindFirstFileA(path.c_str(), &found));
  if (!search.Valid() || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  fileTime = uint64_t(found.ftLastWriteTime.dwHighDateTime) << 32 | found.ftLastWriteTime.dwLowDateTime;
  return true;
}

uint32_t FileSystem::Attributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

bool FileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

}  // namespace kst::win32
