#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kst::fake {
namespace {

constexpr RegStatus kRegFileNotFound = 2;
constexpr RegStatus kRegMoreData = 234;
constexpr uint32_t kVersionMagic = 0xFEEF04BD;  // the fixed-info signature
constexpr uint32_t kFixedRecordSize = 52;
constexpr uint32_t kBlockHeaderSize = 16;

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

bool NoCase::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](unsigned char x, unsigned char y) {
                                        return std::toupper(x) < std::toupper(y);
                                      });
}

namespace {

// Windows compares paths without regard to case.
bool SamePath(const std::string& a, const std::string& b) { return !NoCase()(a, b) && !NoCase()(b, a); }

}  // namespace

// ---- FaultPlan ------------------------------------------------------------

void FaultPlan::Fail(const std::string& call, uint32_t error, int occurrence) {
  rules_.push_back({call, error, occurrence});
}

void FaultPlan::FailCallNumber(int position, uint32_t error) { byPosition_[position] = error; }

std::optional<uint32_t> FaultPlan::Check(const std::string& call) {
  ++total_;
  int nth = ++seen_[call];
  auto at = byPosition_.find(total_);
  if (at != byPosition_.end()) return at->second;
  for (const Rule& r : rules_) {
    if (r.call == call && (r.occurrence == 0 || r.occurrence == nth)) return r.error;
  }
  return std::nullopt;
}

// ---- FakePlatform -----------------------------------------------------------

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

void FakePlatform::CountTowardsCut() {
  if (!powerCut_ && callsBeforeCut_) {
    if (*callsBeforeCut_ == 0) {
      powerCut_ = true;
      if (atCut_) atCut_();
    } else {
      --*callsBeforeCut_;
    }
  }
  if (powerCut_) throw PowerCut{};
  ++counted_;
}

void FakePlatform::CutPowerAfter(int count, std::function<void()> atCut) {
  callsBeforeCut_ = count;
  atCut_ = std::move(atCut);
}

void FakePlatform::Record(const std::string& name) {
  CountTowardsCut();
  calls.push_back(name);
}

void FakePlatform::RecordClose(const std::string& name) {
  if (!powerCut_) calls.push_back(name);
}

std::optional<uint32_t> FakePlatform::Call(const std::string& name) {
  Record(name);
  if (beforeCall) beforeCall(name);
  std::optional<uint32_t> fault = faults.Check(name);
  if (fault) system.lastError = *fault;
  return fault;
}

int FakePlatform::OpenHandles() const {
  return int(files.open.size()) + registry.openKeys + services.openHandles + devices.openHandles +
         shutdown.openTokens + mutexes.openHandles;
}

MachineView FakePlatform::Live() const {
  MachineView view{{}, registry.keys, services.services};
  for (const auto& [path, file] : files.files) view.files[path] = file.bytes;
  return view;
}

std::vector<std::string> FakePlatform::UnflushedKeys() const {
  std::vector<std::string> keys;
  for (const auto& [path, disk] : registry.unflushed) keys.push_back(path);
  for (const auto& [name, disk] : services.unflushed) keys.push_back(FakeServices::KeyPath(name));
  return keys;
}

MachineView FakePlatform::AfterPowerCut(const std::set<std::string, NoCase>& written) const {
  MachineView view = Live();
  for (const auto& [path, file] : files.files) view.files[path] = file.OnDisk();
  for (const auto& [path, disk] : registry.unflushed) {
    if (written.count(path)) continue;
    view.keys.erase(path);
    if (disk) view.keys[path] = *disk;
  }
  for (const auto& [name, disk] : services.unflushed) {
    if (written.count(FakeServices::KeyPath(name))) continue;
    view.services.erase(name);
    if (disk) view.services[name] = *disk;
  }
  return view;
}

void FakePlatform::SettleOnDisk() {
  registry.unflushed.clear();
  services.unflushed.clear();
  for (auto& [path, file] : files.files) file.unflushed.reset();
}

namespace {

// One request of a PendingFileRenameOperations value, as Windows reads it:
// the source, then the target ("" for a deletion; a leading '!' lets it
// replace a file that is there).
struct PendingRename {
  std::string from;
  std::string to;
  bool replaces = false;
};

std::string WithoutNtPrefix(const std::string& path) {
  return path.rfind("\\??\\", 0) == 0 ? path.substr(4) : path;
}

// The value's strings, each up to its zero (the last one up to the end),
// taken in pairs over the whole length: a deletion's empty target does not
// end the value. The closing zero makes a last, unpaired empty string.
std::vector<PendingRename> PendingRenamesOf(const std::vector<uint8_t>& bytes) {
  std::vector<std::string> strings;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = at;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    strings.emplace_back(bytes.begin() + long(at), bytes.begin() + long(end));
    at = end + 1;
  }
  std::vector<PendingRename> renames;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    PendingRename r{WithoutNtPrefix(strings[i]), strings[i + 1], false};
    if (!r.to.empty() && r.to[0] == '!') {
      r.replaces = true;
      r.to.erase(0, 1);
    }
    r.to = WithoutNtPrefix(r.to);
    renames.push_back(r);
  }
  return renames;
}

// What a restart does with files, on whichever picture of them.
struct FileOps {
  std::function<bool(const std::string&)> has;
  std::function<void(const std::string&)> remove;
  std::function<void(const std::string& from, const std::string& to)> move;
};

// Carries out the pending renames of `keys` in order and removes the value.
void CarryOutPendingRenames(std::map<std::string, FakeRegKeyData, NoCase>& keys,
                            const FileOps& ops) {
  auto key = keys.find(kSessionManagerKey);
  if (key == keys.end()) return;
  auto value = key->second.find(kPendingRenamesValue);
  if (value == key->second.end()) return;
  for (const PendingRename& r : PendingRenamesOf(value->second.bytes)) {
    if (r.from.empty() || !ops.has(r.from) || SamePath(r.from, r.to)) continue;  // onto itself: no change
    if (r.to.empty()) {
      ops.remove(r.from);
    } else if (!ops.has(r.to) || r.replaces) {
      if (ops.has(r.to)) ops.remove(r.to);
      ops.move(r.from, r.to);
    }
  }
  key->second.erase(value);
}

void RemoveMarkedServices(std::map<std::string, FakeServiceEntry, NoCase>& services) {
  std::erase_if(services, [](const auto& entry) { return entry.second.markedForDeletion; });
}

}  // namespace

MachineView AfterRestart(MachineView disk) {
  auto& files = disk.files;
  CarryOutPendingRenames(
      disk.keys, {[&](const std::string& path) { return files.count(path) != 0; },
                  [&](const std::string& path) { files.erase(path); },
                  [&](const std::string& from, const std::string& to) {
                    std::vector<uint8_t> bytes = std::move(files[from]);
                    files.erase(from);
                    files[to] = std::move(bytes);
                  }});
  RemoveMarkedServices(disk.services);
  return disk;
}

void FakePlatform::LoadFilter(const std::string& name) {
  services.running.insert(name);
  auto service = services.services.find(name);
  if (service != services.services.end()) files.locked.insert(service->second.config.binaryPath);
}

void FakePlatform::Restart() {
  // The power goes: what is not on the disk is lost, and every process ends.
  for (auto& [path, file] : files.files) {
    file.bytes = file.OnDisk();
    file.unflushed.reset();
  }
  for (const auto& [path, disk] : registry.unflushed) {
    registry.keys.erase(path);
    if (disk) registry.keys[path] = *disk;
  }
  for (const auto& [name, disk] : services.unflushed) {
    services.services.erase(name);
    if (disk) services.services[name] = *disk;
  }
  registry.unflushed.clear();
  services.unflushed.clear();
  files.open.clear();
  files.locked.clear();
  services.running.clear();
  // Windows starts: the pending renames before any driver loads.
  CarryOutPendingRenames(registry.keys,
                         {[&](const std::string& path) { return files.Has(path); },
                          [&](const std::string& path) { files.EraseEntry(path); },
                          [&](const std::string& from, const std::string& to) {
                            files.MoveEntry(from, to);
                          }});
  RemoveMarkedServices(services.services);
  std::set<std::string, NoCase> listed;
  for (const auto& [key, values] : registry.keys) {
    for (const std::string& name : MultiSzOf(registry.keys, key, "LowerFilters").value_or(
             std::vector<std::string>{})) {
      listed.insert(name);
    }
  }
  for (const auto& [name, entry] : services.services) {
    uint32_t start = entry.config.startType;
    bool starts = start <= 1 || (start == win::kServiceDemandStart && listed.count(name));
    if (starts && files.Has(entry.config.binaryPath)) LoadFilter(name);
  }
  sleep.bootTime = sleep.Now() + 60ull * 10000000;  // a minute to shut down and start
  sleep.ticks = 0;
  sleep.tickWraps = 0;
}

// ---- FakeSystem -------------------------------------------------------------

bool FakeSystem::GetVersionEx(uint32_t recordSize, uint32_t& id) {
  if (p_.Call("GetVersionExA")) return false;
  bool refused = recordSize == win::kOsVersionInfoExSize ? refuseExtendedRecord
                                                         : refuseBasicRecord;
  if (refused) return false;
  id = platformId;
  return true;
}

std::string FakeSystem::FormatSystemMessage(ErrorCode code) {
  p_.Record("FormatMessageA");
  auto it = messages.find(code);
  if (it != messages.end()) return it->second;
  return "Message " + std::to_string(code) + ".\r\n";
}

// ---- Files --------------------------------------------------------------------

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
  p_.Record("FindFirstFileA");
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

// ---- Resources ------------------------------------------------------------------

ResourceRef FakeResources::Find(int id, const char* type) {
  if (p_.Call("FindResourceA")) return 0;
  if (std::strcmp(type, "DRIVER") != 0 || images.count(id) == 0) return 0;
  return ResourceRef(id);
}

// A named resource stands for the address of its text, which no image id
// comes near.
ResourceRef FakeResources::FindNamed(const char* name, int type) {
  if (p_.Call("FindResourceA")) return 0;
  auto it = rcData.find(name);
  if (type != win::kRtRcData || it == rcData.end()) return 0;
  return reinterpret_cast<ResourceRef>(&it->second);
}

const void* FakeResources::Bytes(ResourceRef resource, uint32_t& size) const {
  if (resource <= uintptr_t(INT32_MAX)) {
    auto image = images.find(int(resource));
    if (image != images.end()) {
      size = uint32_t(image->second.size());
      return image->second.data();
    }
  }
  for (const auto& [name, text] : rcData) {
    if (reinterpret_cast<ResourceRef>(&text) != resource) continue;
    size = uint32_t(text.size());
    return text.data();
  }
  size = 0;
  return nullptr;
}

const void* FakeResources::Lock(ResourceRef resource) {
  if (p_.Call("LockResource")) return nullptr;
  uint32_t size = 0;
  return Bytes(resource, size);
}

uint32_t FakeResources::Size(ResourceRef resource) {
  p_.Record("SizeofResource");
  uint32_t size = 0;
  Bytes(resource, size);
  return size;
}

// ---- Registry -------------------------------------------------------------------

// A key of the registry, or a service's key, which stands for the service:
// it holds no values here, and flushing it makes the service durable.
class FakeRegKey : public IRegKey {
 public:
  FakeRegKey(FakeRegistry& reg, FakePlatform& p, std::string path, bool readOnly = false)
      : reg_(reg), p_(p), path_(std::move(path)), readOnly_(readOnly),
        service_(FakeServices::NameOfKey(path_)) {
    ++reg_.openKeys;
  }
  ~FakeRegKey() override {
    p_.RecordClose("RegCloseKey");
    --reg_.openKeys;
  }

  RegStatus QueryValue(const char* name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    if (auto f = p_.Call("RegQueryValueExA")) return RegStatus(*f);
    if (service_) return kRegFileNotFound;
    FakeRegKeyData& key = reg_.keys[path_];
    auto it = key.find(name);
    if (it == key.end()) return kRegFileNotFound;
    const FakeRegValue& v = it->second;
    if (type) *type = v.type;
    uint32_t need = uint32_t(v.bytes.size());
    if (data == nullptr) {
      if (size) *size = need;
      return 0;
    }
    if (size == nullptr || *size < need) {
      if (size) *size = need;
      return kRegMoreData;
    }
    std::copy(v.bytes.begin(), v.bytes.end(), data);
    *size = need;
    return 0;
  }

  RegStatus SetValue(const char* name, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
    if (auto f = p_.Call("RegSetValueExA")) return RegStatus(*f);
    if (readOnly_ || service_) return RegStatus(win::kErrorAccessDenied);
    reg_.NoteChange(path_);
    reg_.keys[path_][name] = FakeRegValue{type, std::vector<uint8_t>(data, data + size)};
    return 0;
  }

  RegStatus DeleteValue(const char* name) override {
    if (auto f = p_.Call("RegDeleteValueA")) return RegStatus(*f);
    if (readOnly_ || service_) return RegStatus(win::kErrorAccessDenied);
    if (reg_.keys[path_].count(name) == 0) return kRegFileNotFound;
    reg_.NoteChange(path_);
    reg_.keys[path_].erase(name);
    return 0;
  }

  RegStatus Flush() override {
    if (auto f = p_.Call("RegFlushKey")) return RegStatus(*f);
    reg_.unflushed.erase(path_);
    if (service_) p_.services.unflushed.erase(*service_);
    return 0;
  }

 private:
  FakeRegistry& reg_;
  FakePlatform& p_;
  std::string path_;
  bool readOnly_;
  std::optional<std::string> service_;
};

void FakeRegistry::NoteChange(const std::string& path) {
  if (unflushed.count(path)) return;
  auto key = keys.find(path);
  unflushed[path] = key == keys.end() ? std::nullopt : std::optional<FakeRegKeyData>(key->second);
}

namespace {

const std::string kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

}  // namespace

std::string FakeServices::KeyPath(const std::string& name) { return kServicesKey + name; }

std::optional<std::string> FakeServices::NameOfKey(const std::string& path) {
  if (path.size() <= kServicesKey.size() ||
      !SamePath(path.substr(0, kServicesKey.size()), kServicesKey)) {
    return std::nullopt;
  }
  std::string name = path.substr(kServicesKey.size());
  if (name.find('\\') != std::string::npos) return std::nullopt;
  return name;
}

void FakeServices::NoteChange(const std::string& name) {
  if (unflushed.count(name)) return;
  auto service = services.find(name);
  unflushed[name] =
      service == services.end() ? std::nullopt : std::optional<FakeServiceEntry>(service->second);
}

bool FakeRegistry::Exists(const std::string& path) const {
  std::optional<std::string> service = FakeServices::NameOfKey(path);
  return service ? p_.services.services.count(*service) != 0 : keys.count(path) != 0;
}

RegStatus FakeRegistry::OpenLocalMachineKeyToRead(const std::string& path,
                                                  std::unique_ptr<IRegKey>& key) {
  if (auto f = p_.Call("RegOpenKeyExA")) return RegStatus(*f);
  if (!Exists(path)) return kRegFileNotFound;
  key = std::make_unique<FakeRegKey>(*this, p_, path, true);
  return 0;
}

RegStatus FakeRegistry::OpenLocalMachineKey(const std::string& path,
                                            std::unique_ptr<IRegKey>& key) {
  if (auto f = p_.Call("RegOpenKeyA")) return RegStatus(*f);
  if (!Exists(path)) return kRegFileNotFound;
  key = std::make_unique<FakeRegKey>(*this, p_, path);
  return 0;
}

std::vector<uint8_t> MultiSzBytes(const std::vector<std::string>& entries) {
  std::vector<uint8_t> bytes;
  for (const std::string& e : entries) {
    bytes.insert(bytes.end(), e.begin(), e.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

void FakeRegistry::SetMultiSz(const std::string& key, const std::string& value,
                              const std::vector<std::string>& entries) {
  keys[key][value] = FakeRegValue{win::kRegMultiSz, MultiSzBytes(entries)};
}

std::optional<std::vector<std::string>> FakeRegistry::MultiSz(const std::string& key,
                                                              const std::string& value) const {
  return MultiSzOf(keys, key, value);
}

std::optional<std::vector<std::string>> MultiSzOf(
    const std::map<std::string, FakeRegKeyData, NoCase>& keys, const std::string& key,
    const std::string& value) {
  auto k = keys.find(key);
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.find(value);
  if (v == k->second.end()) return std::nullopt;
  std::vector<std::string> out;
  const auto& b = v->second.bytes;
  size_t i = 0;
  while (i < b.size() && b[i] != 0) {
    size_t end = i;
    while (end < b.size() && b[end] != 0) ++end;
    out.emplace_back(b.begin() + long(i), b.begin() + long(end));
    i = end + 1;
  }
  return out;
}

// ---- Services -------------------------------------------------------------------

class FakeService : public IService {
 public:
  FakeService(FakeServices& s, FakePlatform& p, std::string name, uint32_t access)
      : s_(s), p_(p), name_(std::move(name)), access_(access) {
    ++s_.openHandles;
  }
  ~FakeService() override {
    p_.RecordClose("CloseServiceHandle");
    --s_.openHandles;
  }
  // A running service is only marked; the service manager removes it at the
  // next start of Windows.
  bool Delete() override {
    if (p_.Call("DeleteService")) return false;
    FakeServiceEntry* entry = Entry(win::kDelete);
    if (entry == nullptr) return false;
    s_.NoteChange(name_);
    if (s_.running.count(name_)) {
      entry->markedForDeletion = true;
    } else {
      s_.services.erase(name_);
    }
    return true;
  }
  bool ChangeNothing() override {
    if (p_.Call("ChangeServiceConfigA")) return false;
    return Entry(win::kServiceChangeConfig) != nullptr;
  }
  bool QueryConfig(ServiceConfig& config) override {
    if (p_.Call("QueryServiceConfigA")) return false;
    auto it = s_.services.find(name_);
    if (it == s_.services.end() || !(access_ & win::kServiceQueryConfig)) return false;
    const ServiceConfig& stored = it->second.config;
    config.displayName = stored.displayName;
    config.serviceType = stored.serviceType;
    config.startType = stored.startType;
    config.errorControl = stored.errorControl;
    config.binaryPath = stored.binaryPath;
    config.loadOrderGroup = stored.loadOrderGroup;
    return true;
  }

 private:
  // The service, for a change that needs `right`; null with the last error
  // code set when the handle lacks the right, the service is gone or it is
  // marked for deletion.
  FakeServiceEntry* Entry(uint32_t right) {
    auto it = s_.services.find(name_);
    uint32_t error = !(access_ & right)           ? win::kErrorAccessDenied
                     : it == s_.services.end()    ? win::kErrorServiceDoesNotExist
                     : it->second.markedForDeletion ? win::kErrorServiceMarkedForDelete
                                                    : 0;
    if (error == 0) return &it->second;
    p_.system.lastError = error;
    return nullptr;
  }

  FakeServices& s_;
  FakePlatform& p_;
  std::string name_;
  uint32_t access_;
};

class FakeServiceManager : public IServiceManager {
 public:
  FakeServiceManager(FakeServices& s, FakePlatform& p) : s_(s), p_(p) { ++s_.openHandles; }
  ~FakeServiceManager() override {
    p_.RecordClose("CloseServiceHandle");
    --s_.openHandles;
  }

  std::unique_ptr<IService> Open(const std::string& name, uint32_t access) override {
    s_.serviceAccess.push_back(access);
    if (p_.Call("OpenServiceA")) return nullptr;
    if (s_.services.count(name) == 0) {
      p_.system.lastError = win::kErrorServiceDoesNotExist;
      return nullptr;
    }
    return std::make_unique<FakeService>(s_, p_, name, access);
  }

  std::unique_ptr<IService> Create(const ServiceConfig& config) override {
    if (p_.Call("CreateServiceA")) return nullptr;
    auto existing = s_.services.find(config.name);
    if (existing != s_.services.end()) {
      p_.system.lastError = existing->second.markedForDeletion
                                ? win::kErrorServiceMarkedForDelete
                                : 1073;  // ERROR_SERVICE_EXISTS
      return nullptr;
    }
    s_.NoteChange(config.name);
    s_.services[config.name] = FakeServiceEntry{config};
    return std::make_unique<FakeService>(s_, p_, config.name, config.desiredAccess);
  }

 private:
  FakeServices& s_;
  FakePlatform& p_;
};

std::unique_ptr<IServiceManager> FakeServices::OpenManager(uint32_t access) {
  managerAccess.push_back(access);
  if (p_.Call("OpenSCManagerA")) return nullptr;
  return std::make_unique<FakeServiceManager>(*this, p_);
}

// ---- Devices ----------------------------------------------------------------------

class FakeDevice : public IDevice {
 public:
  FakeDevice(FakeDevices& d, FakePlatform& p, FakeDeviceHandler h)
      : d_(d), p_(p), handler_(std::move(h)) {
    ++d_.openHandles;
    d_.mostOpenAtOnce = std::max(d_.mostOpenAtOnce, d_.openHandles);
  }
  ~FakeDevice() override {
    p_.RecordClose("CloseHandle");
    --d_.openHandles;
  }
  int Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
              uint8_t* referenced, uint32_t referencedSize) override {
    d_.codes.push_back(code);
    if (p_.Call("DeviceIoControl")) return 0;
    return handler_(code, static_cast<const uint8_t*>(in), inSize, static_cast<uint8_t*>(out),
                    outSize, referenced, referencedSize);
  }

 private:
  FakeDevices& d_;
  FakePlatform& p_;
  FakeDeviceHandler handler_;
};

std::unique_ptr<IDevice> FakeDevices::Open(const std::string& path, uint32_t access,
                                           uint32_t share, uint32_t disposition) {
  openModes.push_back({access, share, disposition});
  if (p_.Call("CreateFileA")) return nullptr;
  auto it = devices.find(path);
  if (it == devices.end()) {
    p_.system.lastError = win::kErrorFileNotFound;
    return nullptr;
  }
  ++opens;
  return std::make_unique<FakeDevice>(*this, p_, it->second);
}

// ---- Version resources --------------------------------------------------------------

void FakeVersionResources::SetVersion(const std::string& path, uint16_t a, uint16_t b,
                                      uint16_t c, uint16_t d) {
  std::vector<uint8_t> record(kFixedRecordSize, 0);
  PutLe32(record.data(), kVersionMagic);
  PutLe32(record.data() + 4, 0x00010000);  // the record's structure version
  PutLe32(record.data() + 8, uint32_t(a) << 16 | b);
  PutLe32(record.data() + 12, uint32_t(c) << 16 | d);
  records[path] = std::move(record);
  p_.files.files[path];  // the file exists too
}

// The block is a small header holding the record's length, then the record.
uint32_t FakeVersionResources::InfoSize(const std::string& path) {
  if (p_.Call("GetFileVersionInfoSizeA")) return 0;
  auto it = records.find(path);
  if (!p_.files.Has(path) || it == records.end()) {
    p_.system.lastError = win::kErrorFileNotFound;
    return 0;
  }
  return kBlockHeaderSize + uint32_t(it->second.size());
}

bool FakeVersionResources::Info(const std::string& path, uint32_t size, void* block) {
  if (p_.Call("GetFileVersionInfoA")) return false;
  auto it = records.find(path);
  if (it == records.end() || size < kBlockHeaderSize + it->second.size()) return false;
  auto* b = static_cast<uint8_t*>(block);
  std::memset(b, 0, size);
  PutLe32(b, uint32_t(it->second.size()));
  std::copy(it->second.begin(), it->second.end(), b + kBlockHeaderSize);
  return true;
}

bool FakeVersionResources::QueryRoot(const void* block, const void*& value, uint32_t& length) {
  value = nullptr;
  length = 0;
  if (p_.Call("VerQueryValueA")) return false;
  const auto* b = static_cast<const uint8_t*>(block);
  if (lyingRoot) {
    value = b + lyingRoot->first;
    length = lyingRoot->second;
    return true;
  }
  length = Le32(b);
  value = b + kBlockHeaderSize;
  return true;
}

// ---- Windows ------------------------------------------------------------------------

WindowHandle FakeWindows::Open(const std::string& className, const std::string& title) {
  windows.push_back({next_, className, title});
  return next_++;
}

void FakeWindows::Close(WindowHandle window) {
  windows.erase(std::remove_if(windows.begin(), windows.end(),
                               [&](const FakeWindow& w) { return w.handle == window; }),
                windows.end());
}

WindowHandle FakeWindows::Find(const char* className, const char* title) {
  p_.Record("FindWindowA");
  ++lookups;
  if (beforeLookup) beforeLookup(lookups);
  for (const FakeWindow& w : windows) {
    bool classMatches = !NoCase()(w.className, className) && !NoCase()(className, w.className);
    if (classMatches && (title == nullptr || w.title == title)) return w.handle;
  }
  return 0;
}

void FakeWindows::DebugOutput(const char* text) {
  p_.Record("OutputDebugStringA");
  events.push_back({WindowEvent::kDebugOutput, 0, text, 0, 0, {}});
}

bool FakeWindows::SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                               const void* data, uint32_t timeoutMs) {
  p_.Record("SendMessageTimeoutA");
  sendTimeouts.push_back(timeoutMs);
  if (hung.count(window) != 0) {
    p_.sleep.ticks += timeoutMs;
    return false;
  }
  WindowEvent e{WindowEvent::kCopyData, window, {}, dwData, cbData, {}};
  const auto* b = static_cast<const uint8_t*>(data);
  e.block.assign(b, b + cbData);
  e.text.assign(reinterpret_cast<const char*>(b), strnlen(reinterpret_cast<const char*>(b), cbData));
  events.push_back(std::move(e));
  return true;
}

// ---- Message boxes --------------------------------------------------------------------

int FakeMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  p_.Record("MessageBoxA");
  shown.push_back({text, caption, flags});
  if (onShow) onShow(shown.back());
  if (answers.empty()) return (flags & win::kMbYesNo) ? defaultAnswer : win::kIdOk;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

// ---- Token and shutdown ------------------------------------------------------------------

class FakeToken : public IToken {
 public:
  FakeToken(FakeShutdown& s, FakePlatform& p, uint32_t access) : s_(s), p_(p), access_(access) {
    ++s_.openTokens;
  }
  ~FakeToken() override {
    p_.RecordClose("CloseHandle");
    --s_.openTokens;
  }
  bool AdjustPrivilege(const Luid& luid, uint32_t attributes) override {
    if (p_.Call("AdjustTokenPrivileges")) return false;
    if ((access_ & win::kTokenAdjustPrivileges) == 0) {
      p_.system.lastError = win::kErrorAccessDenied;  // as for a token opened without the right
      return false;
    }
    s_.adjusted.emplace_back(luid, attributes);
    // Like Windows: the call succeeds but reports through the last error
    // whether every privilege could be enabled.
    p_.system.lastError = s_.holdsShutdownPrivilege ? 0 : win::kErrorNotAllAssigned;
    return true;
  }

 private:
  FakeShutdown& s_;
  FakePlatform& p_;
  uint32_t access_;
};

std::unique_ptr<IToken> FakeShutdown::OpenProcessToken(uint32_t access) {
  if (p_.Call("OpenProcessToken")) return nullptr;
  return std::make_unique<FakeToken>(*this, p_, access);
}

bool FakeShutdown::LookupPrivilegeValue(const char* name, Luid& luid) {
  if (p_.Call("LookupPrivilegeValueA")) return false;
  if (std::string(name) != "SeShutdownPrivilege") return false;
  luid = shutdownLuid;
  return true;
}

bool FakeShutdown::ExitWindows(uint32_t flags, uint32_t reason) {
  if (p_.Call("ExitWindowsEx")) return false;
  exitRequests.push_back({flags, reason});
  return true;
}

// ---- Sleep --------------------------------------------------------------------------------

void FakeSleep::Sleep(uint32_t milliseconds) {
  p_.Record("Sleep");
  sleeps.push_back(milliseconds);
  if (!clockLags) ticks += milliseconds;
}

uint32_t FakeSleep::TickCount() {
  p_.Record("GetTickCount");
  return ticks;
}

bool FakeSleep::TickCount64(uint64_t& milliseconds) {
  p_.Record("GetTickCount64");
  if (!hasTickCount64) return false;
  milliseconds = uint64_t(tickWraps) << 32 | ticks;
  return true;
}

uint64_t FakeSleep::SystemTime() {
  p_.Record("GetSystemTimeAsFileTime");
  return Now();
}

uint64_t FakeSleep::Now() const {
  constexpr uint64_t kPerMillisecond = 10000;
  return bootTime + (uint64_t(tickWraps) << 32 | ticks) * kPerMillisecond;
}

}  // namespace kst::fake

namespace kst::fake {

// ---- Mutexes --------------------------------------------------------------------------------

class FakeMutex : public IMutex {
 public:
  FakeMutex(FakeMutexes& m, FakePlatform& p, std::string name) : m_(m), p_(p), name_(std::move(name)) {
    ++m_.openHandles;
    ++m_.named[name_].handles;
  }
  // The object goes with its last handle unless another process keeps it;
  // an owned one stays owned, as the owning thread has not ended.
  ~FakeMutex() override {
    p_.RecordClose("CloseHandle");
    --m_.openHandles;
    FakeMutexes::Named& n = m_.named[name_];
    --n.handles;
    if (n.handles == 0 && n.owner == FakeMutexes::Named::Owner::kNone && !n.keptByAnother) {
      m_.named.erase(name_);
    }
  }

  // A wait on a mutex another process owns moves the clock on by what it
  // waited, so that the bounds of a wait show without waiting.
  WaitResult Wait(uint32_t timeoutMs) override {
    using Owner = FakeMutexes::Named::Owner;
    if (p_.Call("WaitForSingleObject")) return WaitResult::kFailed;
    FakeMutexes::Named& n = m_.named[name_];
    switch (n.owner) {
      case Owner::kNone:
      case Owner::kThisProcess:
        return Take(n, WaitResult::kAcquired);
      case Owner::kAbandoned:
        return Take(n, WaitResult::kAbandoned);
      case Owner::kAnother:
        break;
    }
    if (n.anotherReleasesAfterMs && *n.anotherReleasesAfterMs <= timeoutMs) {
      p_.sleep.ticks += *n.anotherReleasesAfterMs;
      n.anotherReleasesAfterMs.reset();
      n.keptByAnother = false;
      n.owner = Owner::kNone;
      return Take(n, n.anotherEndsHoldingIt ? WaitResult::kAbandoned : WaitResult::kAcquired);
    }
    p_.sleep.ticks += timeoutMs;
    if (n.anotherReleasesAfterMs) *n.anotherReleasesAfterMs -= timeoutMs;
    return WaitResult::kTimedOut;
  }

  bool Release() override {
    if (p_.Call("ReleaseMutex")) return false;
    FakeMutexes::Named& n = m_.named[name_];
    if (n.owner != FakeMutexes::Named::Owner::kThisProcess) {
      p_.system.lastError = win::kErrorNotOwner;
      return false;
    }
    if (--n.ownedCount == 0) n.owner = FakeMutexes::Named::Owner::kNone;
    return true;
  }

 private:
  static WaitResult Take(FakeMutexes::Named& n, WaitResult result) {
    n.owner = FakeMutexes::Named::Owner::kThisProcess;
    ++n.ownedCount;
    return result;
  }

  FakeMutexes& m_;
  FakePlatform& p_;
  std::string name_;
};

void FakeMutexes::HeldByAnother(const std::string& name, std::optional<uint32_t> releasesAfterMs,
                                bool endsHoldingIt, bool adminsOnly) {
  Named& n = named[name];
  n.owner = Named::Owner::kAnother;
  n.keptByAnother = true;
  n.adminsOnly = adminsOnly;
  n.anotherReleasesAfterMs = releasesAfterMs;
  n.anotherEndsHoldingIt = endsHoldingIt;
}

bool FakeMutexes::Exists(const std::string& name) const { return named.count(name) != 0; }

bool FakeMutexes::OwnedByThisProcess(const std::string& name) const {
  auto it = named.find(name);
  return it != named.end() && it->second.owner == Named::Owner::kThisProcess;
}

bool FakeMutexes::OwnsAny() const {
  for (const auto& [name, n] : named) {
    if (n.owner == Named::Owner::kThisProcess) return true;
  }
  return false;
}

std::unique_ptr<IMutex> FakeMutexes::HandleTo(const std::string& name) {
  return std::make_unique<FakeMutex>(*this, p_, name);
}

std::unique_ptr<IMutex> FakeMutexes::Create(const std::string& name, bool adminsOnly) {
  if (p_.Call("CreateMutexA")) return nullptr;
  creations.emplace_back(name, adminsOnly);
  if (adminsOnly && !descriptorsImplemented) {
    p_.system.lastError = win::kErrorCallNotImplemented;
    return nullptr;
  }
  if (prefixRefused && name.find('\\') != std::string::npos) {
    p_.system.lastError = win::kErrorPathNotFound;
    return nullptr;
  }
  if (Exists(name)) {
    if (named[name].adminsOnly && !privileged) {
      p_.system.lastError = win::kErrorAccessDenied;
      return nullptr;
    }
    p_.system.lastError = win::kErrorAlreadyExists;
    return HandleTo(name);
  }
  if (!privileged && name.rfind("Global\\", 0) == 0) {
    p_.system.lastError = win::kErrorAccessDenied;
    return nullptr;
  }
  named[name].adminsOnly = adminsOnly;
  p_.system.lastError = 0;
  return HandleTo(name);
}

std::unique_ptr<IMutex> FakeMutexes::Open(const std::string& name) {
  if (p_.Call("OpenMutexA")) return nullptr;
  if (!Exists(name)) {
    p_.system.lastError = win::kErrorFileNotFound;
    return nullptr;
  }
  if (named[name].adminsOnly && !privileged) {
    p_.system.lastError = win::kErrorAccessDenied;
    return nullptr;
  }
  return HandleTo(name);
}

}  // namespace kst::fake
