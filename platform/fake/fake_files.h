#pragma once
// The fake file system: files with what of them is on the disk, open
// handles, files in use, and the requests for the next start of Windows.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

struct FakeFileData {
  std::vector<uint8_t> bytes;
  uint32_t attributes = win::kFileAttributeNormal;
  // The bytes the disk holds, while they differ from `bytes`: set by the
  // first write after a flush, cleared by FlushFileBuffers. Seeded data
  // counts as on the disk.
  std::optional<std::vector<uint8_t>> unflushed;
  // FILETIME of the last creation, truncation or write (FakeSleep's clock);
  // a rename keeps it. Seeded files have 0 unless a test sets it.
  uint64_t lastWrite = 0;

  bool ReadOnly() const { return (attributes & win::kFileAttributeReadOnly) != 0; }
  const std::vector<uint8_t>& OnDisk() const { return unflushed ? *unflushed : bytes; }
};

class FakeFileSystem : public IFileSystem {
 public:
  explicit FakeFileSystem(FakePlatform& p) : p_(p) {}
  std::string SystemDirectory() override { return systemDirectory; }
  std::unique_ptr<IFile> Create(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition, uint32_t attributes) override;
  bool Delete(const std::string& path) override;
  bool Exists(const std::string& path) override;
  // On the 9x family (the system's platform id) it fails with
  // ERROR_CALL_NOT_IMPLEMENTED, as its stub does.
  bool MoveReplacing(const std::string& from, const std::string& to) override;
  // A read-only file, as on Windows, can be renamed (keeping the attribute)
  // but neither deleted, replaced nor opened for writing.
  bool Move(const std::string& from, const std::string& to) override;
  // Append the request to PendingFileRenameOperations of the registry's
  // Session Manager key, in Windows' own format: a registry change like any
  // other, on the disk once that key is flushed. Neither file is looked at
  // now. On the 9x family they fail with ERROR_CALL_NOT_IMPLEMENTED.
  bool ReplaceAtRestart(const std::string& from, const std::string& to) override;
  bool DeleteAtRestart(const std::string& path) override;
  // Recorded as FindFirstFileA, not checked against the fault plan.
  bool LastWriteTime(const std::string& path, uint64_t& fileTime) override;
  uint32_t Attributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;

  bool Has(const std::string& path) const { return files.count(path) != 0; }

  // A handle CreateFileA gave out: the file it is open on (empty once that
  // file was deleted under it), its access, and what it lets other openers do.
  struct OpenHandle {
    std::string path;
    uint32_t access = 0;
    uint32_t share = 0;
  };

  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::map<std::string, FakeFileData, NoCase> files;
  // In use by a loaded driver: cannot be deleted, moved away or replaced.
  std::set<std::string, NoCase> locked;
  // Folders that do not exist (e.g. "C:\\WINDOWS\\system32\\Iosubsys"): a file
  // in one can be neither created, deleted nor moved there, and the answer
  // is ERROR_PATH_NOT_FOUND, as Windows gives it.
  std::set<std::string, NoCase> missingFolders;
  std::optional<uint32_t> writeLimit;    // a write stores at most this many bytes
  // The handles open now, by number. As on Windows, a file open without
  // FILE_SHARE_DELETE can be neither deleted, moved nor replaced, and one
  // open without the sharing another opener needs cannot be opened again.
  std::map<int, OpenHandle> open;

 private:
  friend class FakePlatform;
  void MoveEntry(const std::string& from, const std::string& to);
  void EraseEntry(const std::string& path);
  bool RecordAtRestart(const std::string& from, const std::string& target);
  // False, with ERROR_SHARING_VIOLATION, when a handle open on `path` does
  // not share deletion (which a move or a replacement needs too).
  bool MayDeleteOrMove(const std::string& path);
  bool FolderMissing(const std::string& path);
  bool MayOpen(const std::string& path, uint32_t access, uint32_t share) const;

  int nextHandle_ = 1;

  friend class FakeFile;
  FakePlatform& p_;
};

}  // namespace kst::fake
