#pragma once
// In-memory stand-ins for every platform facility, for the unit tests.
//
// State is plain data that a test seeds and inspects (files, registry keys,
// services, windows...). Every call is appended to `calls` by its Win32 name,
// and any call can be made to fail through `faults`: by name and occurrence,
// or by its position among all calls, which lets a test fail each call of a
// procedure in turn.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kst::fake {

// Case-insensitive ordering, as Windows compares paths, key and value names.
struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Which calls fail, and with what error code (or registry status).
class FaultPlan {
 public:
  // Fails the `occurrence`-th call (1-based) of `call`; 0 fails every call.
  void Fail(const std::string& call, uint32_t error, int occurrence = 0);
  // Fails the call at this position (1-based) among all calls checked.
  void FailCallNumber(int position, uint32_t error);
  // Counts the call and returns the error to fail it with, if any.
  std::optional<uint32_t> Check(const std::string& call);
  int TotalChecked() const { return total_; }

 private:
  struct Rule {
    std::string call;
    uint32_t error;
    int occurrence;
  };
  std::vector<Rule> rules_;
  std::map<int, uint32_t> byPosition_;
  std::map<std::string, int> seen_;
  int total_ = 0;
};

class FakePlatform;

class FakeSystem : public ISystem {
 public:
  explicit FakeSystem(FakePlatform& p) : p_(p) {}
  bool GetVersionEx(uint32_t recordSize, uint32_t& platformId) override;
  bool IsWow64Process() override { return wow64; }
  ErrorCode GetLastError() override { return lastError; }
  void SetLastError(ErrorCode code) override { lastError = code; }
  std::string FormatSystemMessage(ErrorCode code) override;

  uint32_t platformId = win::kVerPlatformWin32Nt;
  bool refuseExtendedRecord = false;  // the 156-byte record is refused
  bool refuseBasicRecord = false;     // the 148-byte record is refused
  bool wow64 = false;
  ErrorCode lastError = 0;
  std::map<ErrorCode, std::string> messages;  // default: "Message <code>.\r\n"

 private:
  FakePlatform& p_;
};

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

class FakeResources : public IResources {
 public:
  explicit FakeResources(FakePlatform& p) : p_(p) {}
  ResourceRef Find(int id, const char* type) override;
  ResourceRef FindNamed(const char* name, int type) override;
  const void* Lock(ResourceRef resource) override;
  uint32_t Size(ResourceRef resource) override;

  std::map<int, std::vector<uint8_t>> images;  // type "DRIVER" by id
  std::map<std::string, std::string> rcData;   // type RCDATA by name

 private:
  // The bytes `resource` stands for, or null.
  const void* Bytes(ResourceRef resource, uint32_t& size) const;
  FakePlatform& p_;
};

// The bytes of a REG_MULTI_SZ value: each entry with its zero, then one more.
std::vector<uint8_t> MultiSzBytes(const std::vector<std::string>& entries);

struct FakeRegValue {
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const FakeRegValue&) const = default;
};
using FakeRegKeyData = std::map<std::string, FakeRegValue, NoCase>;

// The entries of a REG_MULTI_SZ value of `keys`, read up to the first empty
// string (or the end of the bytes); nullopt when the key or value is missing.
std::optional<std::vector<std::string>> MultiSzOf(
    const std::map<std::string, FakeRegKeyData, NoCase>& keys, const std::string& key,
    const std::string& value);

// Durability: a change reaches the disk when its key is flushed (RegFlushKey);
// until then a power cut may lose it. Seeded keys count as on the disk. A
// service's key (opened by its path) stands for the service itself: flushing
// it makes the service's creation or deletion durable.
class FakeRegistry : public IRegistry {
 public:
  explicit FakeRegistry(FakePlatform& p) : p_(p) {}
  RegStatus OpenLocalMachineKey(const std::string& path, std::unique_ptr<IRegKey>& key) override;
  // A key opened to read refuses every write with ERROR_ACCESS_DENIED.
  RegStatus OpenLocalMachineKeyToRead(const std::string& path,
                                      std::unique_ptr<IRegKey>& key) override;

  // Seeds a REG_MULTI_SZ value from entries: each with its zero, then one more.
  void SetMultiSz(const std::string& key, const std::string& value,
                  const std::vector<std::string>& entries);
  // The entries of a stored list, read up to the first empty string (or the
  // end of the bytes); nullopt when the key or value does not exist.
  std::optional<std::vector<std::string>> MultiSz(const std::string& key,
                                                  const std::string& value) const;

  std::map<std::string, FakeRegKeyData, NoCase> keys;
  // Keys changed since their last flush, each with what the disk holds of it
  // (nullopt: the key is not on the disk).
  std::map<std::string, std::optional<FakeRegKeyData>, NoCase> unflushed;
  int openKeys = 0;

 private:
  friend class FakeRegKey;
  friend class FakeFileSystem;
  friend class FakePlatform;
  // Keeps what the disk holds of `path` before its first change since a flush.
  void NoteChange(const std::string& path);
  // A key of `keys`, or the key of an existing service.
  bool Exists(const std::string& path) const;
  FakePlatform& p_;
};

struct FakeServiceEntry {
  ServiceConfig config;
  // Deleted while its driver was loaded: the service stays, opens and can
  // be read, refuses every change with ERROR_SERVICE_MARKED_FOR_DELETE, and
  // goes when Windows next starts. Windows keeps the mark in the service's
  // key, so it is on the disk once that key is flushed.
  bool markedForDeletion = false;
  bool operator==(const FakeServiceEntry&) const = default;
};

// The service control manager keeps its services in the registry: a
// creation or deletion reaches the disk when the service's key is flushed.
class FakeServices : public IServices {
 public:
  explicit FakeServices(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IServiceManager> OpenManager(uint32_t access) override;

  // "SYSTEM\CurrentControlSet\Services\<name>".
  static std::string KeyPath(const std::string& name);
  // The service whose key `path` is, or nullopt.
  static std::optional<std::string> NameOfKey(const std::string& path);

  std::map<std::string, FakeServiceEntry, NoCase> services;
  // The services whose driver is loaded now (FakePlatform::LoadFilter, Restart).
  std::set<std::string, NoCase> running;
  // Services created or deleted since their key's last flush, each with what
  // the disk holds of it (nullopt: not on the disk).
  std::map<std::string, std::optional<FakeServiceEntry>, NoCase> unflushed;
  int openHandles = 0;
  // The access asked for by every OpenSCManagerA and OpenServiceA, in order.
  std::vector<uint32_t> managerAccess;
  std::vector<uint32_t> serviceAccess;

 private:
  friend class FakeServiceManager;
  friend class FakeService;
  void NoteChange(const std::string& name);
  FakePlatform& p_;
};

// Answers one DeviceIoControl of a fake control device.
using FakeDeviceHandler =
    std::function<int(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                      uint32_t outSize, uint8_t* referenced, uint32_t referencedSize)>;

class FakeDevices : public IDevices {
 public:
  explicit FakeDevices(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IDevice> Open(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition) override;

  std::map<std::string, FakeDeviceHandler, NoCase> devices;  // by device path
  std::vector<uint32_t> codes;  // every control code sent, in order
  struct OpenMode {
    uint32_t access, share, disposition;
  };
  std::vector<OpenMode> openModes;  // of every open asked for, in order
  int openHandles = 0;
  int mostOpenAtOnce = 0;
  int opens = 0;

 private:
  friend class FakeDevice;
  FakePlatform& p_;
};

class FakeVersionResources : public IVersionResources {
 public:
  explicit FakeVersionResources(FakePlatform& p) : p_(p) {}
  uint32_t InfoSize(const std::string& path) override;
  bool Info(const std::string& path, uint32_t size, void* block) override;
  bool QueryRoot(const void* block, const void*& value, uint32_t& length) override;

  // Seeds the version of an existing (or new) file: a well-formed fixed record.
  void SetVersion(const std::string& path, uint16_t a, uint16_t b, uint16_t c, uint16_t d);

  // The root value of each file's version block, as VerQueryValueA answers
  // it; files without an entry have no version resource.
  std::map<std::string, std::vector<uint8_t>, NoCase> records;
  // A resource whose root value lies about itself: the offset from the start
  // of the block and the length that VerQueryValueA answers. Unset: the
  // record, with its own length.
  std::optional<std::pair<size_t, uint32_t>> lyingRoot;

 private:
  FakePlatform& p_;
};

struct FakeWindow {
  WindowHandle handle = 0;
  std::string className;
  std::string title;
};

struct WindowEvent {
  enum Kind { kDebugOutput, kCopyData } kind;
  WindowHandle window = 0;
  std::string text;              // debug text, or the block's bytes up to their first zero
  uint32_t dwData = 0;
  uint32_t cbData = 0;
  std::vector<uint8_t> block;    // the cbData bytes sent
};

class FakeWindows : public IWindows {
 public:
  explicit FakeWindows(FakePlatform& p) : p_(p) {}
  WindowHandle Find(const char* className, const char* title) override;
  void DebugOutput(const char* text) override;
  // Records the block unless the receiver is in `hung`: then nothing is
  // delivered, the clock moves on by the timeout and the send fails.
  bool SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData, const void* data,
                    uint32_t timeoutMs) override;

  WindowHandle Open(const std::string& className, const std::string& title);
  void Close(WindowHandle window);

  std::vector<FakeWindow> windows;
  std::vector<WindowEvent> events;
  std::set<WindowHandle> hung;        // their threads take no messages
  std::vector<uint32_t> sendTimeouts;  // the timeout of every copy-data send
  int lookups = 0;
  // Runs before each lookup with its number (1-based), so a test can make
  // windows come and go between the lookups of one call.
  std::function<void(int lookup)> beforeLookup;

 private:
  FakePlatform& p_;
  WindowHandle next_ = 0x100;
};

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t flags = 0;
};

class FakeMessageBoxes : public IMessageBoxes {
 public:
  explicit FakeMessageBoxes(FakePlatform& p) : p_(p) {}
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;

  std::vector<ShownBox> shown;
  std::deque<int> answers;     // taken in order; when empty, defaultAnswer
  int defaultAnswer = win::kIdNo;
  // Runs for each box once it is recorded, before it is answered; a test may
  // throw from it to make the box fail.
  std::function<void(const ShownBox&)> onShow;

 private:
  FakePlatform& p_;
};

class FakeShutdown : public IShutdown {
 public:
  explicit FakeShutdown(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IToken> OpenProcessToken(uint32_t access) override;
  bool LookupPrivilegeValue(const char* name, Luid& luid) override;
  bool ExitWindows(uint32_t flags, uint32_t reason) override;

  Luid shutdownLuid{0x13, 0};
  bool holdsShutdownPrivilege = true;  // else adjusting leaves ERROR_NOT_ALL_ASSIGNED
  std::vector<std::pair<Luid, uint32_t>> adjusted;
  struct Request {
    uint32_t flags;
    uint32_t reason;
  };
  std::vector<Request> exitRequests;  // accepted restart requests
  int openTokens = 0;

 private:
  friend class FakeToken;
  FakePlatform& p_;
};

// A sleep moves the clock on by its length and returns at once.
class FakeSleep : public ISleep {
 public:
  explicit FakeSleep(FakePlatform& p) : p_(p) {}
  void Sleep(uint32_t milliseconds) override;
  uint32_t TickCount() override;
  // The uptime `tickWraps` * 2^32 + `ticks`, unless `hasTickCount64` is false.
  bool TickCount64(uint64_t& milliseconds) override;
  // `bootTime` plus the uptime.
  uint64_t SystemTime() override;
  // SystemTime without recording a call.
  uint64_t Now() const;
  std::vector<uint32_t> sleeps;
  uint32_t ticks = 0;  // the clock; tests move it on to stand for slow calls
  // A tick count that lags behind the waits (a coarse or stalled clock):
  // Sleep then leaves `ticks` where it is.
  bool clockLags = false;
  // How often `ticks` has wrapped since the start: the uptime's high half.
  uint32_t tickWraps = 0;
  bool hasTickCount64 = true;  // false: a system before Windows Vista
  uint64_t bootTime = kFakeBootTime;  // FILETIME of the system's start

  // 2024-01-01 00:00 UTC.
  static constexpr uint64_t kFakeBootTime = 133485408000000000ull;

 private:
  FakePlatform& p_;
};

// Named mutexes, shared with other processes that a test stands for. Names
// are compared with regard to case, as Windows compares them.
class FakeMutexes : public IMutexes {
 public:
  explicit FakeMutexes(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IMutex> Create(const std::string& name, bool adminsOnly) override;
  std::unique_ptr<IMutex> Open(const std::string& name) override;

  struct Named {
    enum class Owner { kNone, kThisProcess, kAnother, kAbandoned };
    Owner owner = Owner::kNone;
    int ownedCount = 0;   // this process's recursive ownership
    bool adminsOnly = false;  // created with the administrators-only descriptor
    int handles = 0;      // this process's open handles
    bool keptByAnother = false;  // another process has it open
    // While another process owns it: it gives it up once a wait has lasted
    // this long (never when unset), releasing it or ending without doing so.
    std::optional<uint32_t> anotherReleasesAfterMs;
    bool anotherEndsHoldingIt = false;
  };

  // Another run of the program holds `name` (created as the program creates
  // it), and gives it up after `releasesAfterMs` of waiting, if ever.
  void HeldByAnother(const std::string& name, std::optional<uint32_t> releasesAfterMs = {},
                     bool endsHoldingIt = false, bool adminsOnly = true);
  bool Exists(const std::string& name) const;
  bool OwnedByThisProcess(const std::string& name) const;
  // True when this process owns any mutex now.
  bool OwnsAny() const;

  std::map<std::string, Named> named;
  // Names with a backslash are refused with ERROR_PATH_NOT_FOUND, as on NT 4
  // without Terminal Services, which has no "Global\" namespace.
  bool prefixRefused = false;
  // False on a system without security (the 9x family): a descriptor cannot
  // be built, with ERROR_CALL_NOT_IMPLEMENTED.
  bool descriptorsImplemented = true;
  // False for an unprivileged process: it may not create a "Global\" name
  // nor open an administrators-only mutex (ERROR_ACCESS_DENIED).
  bool privileged = true;
  // Every name created (or opened through creation) and whether it was asked
  // with the administrators-only descriptor, in order.
  std::vector<std::pair<std::string, bool>> creations;
  int openHandles = 0;

 private:
  friend class FakeMutex;
  std::unique_ptr<IMutex> HandleTo(const std::string& name);
  FakePlatform& p_;
};

// Thrown by every call after a power cut; of no standard kind, so that only
// a catch-all can absorb it.
struct PowerCut {};

// The files, registry keys and services of a machine as one picture: as it
// runs, or as its disk would hold them after a power cut.
struct MachineView {
  std::map<std::string, std::vector<uint8_t>, NoCase> files;
  std::map<std::string, FakeRegKeyData, NoCase> keys;
  std::map<std::string, FakeServiceEntry, NoCase> services;
};

// The machine as Windows finds it once it has started again from `disk`:
// the pending renames carried out in order (each one whose source is
// missing, or whose target exists without leave to replace it, skipped) and
// their value removed, the services marked for deletion gone.
MachineView AfterRestart(MachineView disk);

// The whole fake system, installed as the current platform while it lives.
class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Records a call and applies the fault plan. On an injected fault, sets the
  // last error code and returns it.
  std::optional<uint32_t> Call(const std::string& name);
  // Records a call that the fault plan does not check.
  void Record(const std::string& name);
  // Records a handle being closed; never throws, and after a power cut it is
  // not recorded (closing changes nothing that survives the cut).
  void RecordClose(const std::string& name);

  // Handles still open across all facilities.
  int OpenHandles() const;

  // The machine as it runs.
  MachineView Live() const;
  // The registry keys (service keys by their path) changed since their last
  // flush, in order.
  std::vector<std::string> UnflushedKeys() const;
  // What the disk would hold after a power cut now, at worst: every file
  // creation, rename, replacement and deletion, each file's bytes as of its
  // last flush, and of the registry only what was flushed, except that the
  // keys in `written` had all their changes written by the system on its own.
  MachineView AfterPowerCut(const std::set<std::string, NoCase>& written = {}) const;
  // Everything reaches the disk, as when the system shuts down in order.
  void SettleOnDisk();

  // The driver of service `name` is loaded: the service runs and its image
  // is in use (it can be neither deleted, moved away nor replaced).
  void LoadFilter(const std::string& name);
  // Windows starts again after the power was lost: everything not on the
  // disk is gone, the machine is then as AfterRestart makes it (file
  // attributes and version resources follow their files), and the drivers
  // load again as their start types say: boot and system start, and demand
  // start when a class's LowerFilters names the service (each class has
  // devices). The clock starts anew. No handle may be open.
  void Restart();

  // Cuts the power after the `calls`-th recorded call from now on: every
  // later call throws PowerCut before it changes anything, so the state is
  // the one the cut left. `atCut` runs once, at the cut.
  void CutPowerAfter(int calls, std::function<void()> atCut = nullptr);
  bool PowerWasCut() const { return powerCut_; }
  // Calls recorded that count towards a cut (every call but the closes).
  int CountedCalls() const { return counted_; }

  FaultPlan faults;
  std::vector<std::string> calls;
  // Runs before each call that the fault plan checks, with its name; a test
  // can throw from it to stand for a failure raised inside a call.
  std::function<void(const std::string& call)> beforeCall;

  FakeSystem system{*this};
  FakeFileSystem files{*this};
  FakeResources resources{*this};
  FakeRegistry registry{*this};
  FakeServices services{*this};
  FakeDevices devices{*this};
  FakeVersionResources versions{*this};
  FakeWindows windows{*this};
  FakeMessageBoxes boxes{*this};
  FakeShutdown shutdown{*this};
  FakeSleep sleep{*this};
  FakeMutexes mutexes{*this};

  Platform platform{system,  files, resources, registry, services, devices, versions,
                    windows, boxes, shutdown,  sleep,    mutexes};

 private:
  void CountTowardsCut();

  std::optional<int> callsBeforeCut_;
  std::function<void()> atCut_;
  bool powerCut_ = false;
  int counted_ = 0;
  ScopedPlatform installed_{platform};
};

}  // namespace kst::fake
