#pragma once
// The seam between the system's logic and Windows. Every Windows facility the
// logic uses is one small interface here; platform/win32 holds the thin
// adapters over the real calls, platform/fake the in-memory fakes the unit
// tests run against. Texts are 8-bit ANSI strings, as the A-variants take them.
//
// Handles never cross the seam: an operation that opens something returns an
// owning object (null on failure) whose destructor closes it.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_constants.h"

namespace kst {

using ErrorCode = uint32_t;  // a thread's last system error code
using RegStatus = int32_t;   // the status a registry call returns; 0 = success

// ---- Version information and the last error code -------------------------
class ISystem {
 public:
  virtual ~ISystem() = default;
  // GetVersionExA with a zero-filled record whose size field is `recordSize`.
  // Returns the call's success; `platformId` receives the record's platform
  // identifier (0 when the call refused and left the record zeroed).
  virtual bool GetVersionEx(uint32_t recordSize, uint32_t& platformId) = 0;
  // True when this process is a 32-bit process running on 64-bit Windows.
  virtual bool IsWow64Process() = 0;
  virtual ErrorCode GetLastError() = 0;
  virtual void SetLastError(ErrorCode code) = 0;
  // FormatMessageA(ALLOCATE_BUFFER | FROM_SYSTEM, code, LANG_SYSTEM_DEFAULT)
  // with the system's buffer copied and released. Empty when the system has
  // no text; the text keeps the line ending the system gave it.
  virtual std::string FormatSystemMessage(ErrorCode code) = 0;
};

// ---- Files and the system directory --------------------------------------
class IFile {
 public:
  virtual ~IFile() = default;  // closes the file
  // One WriteFile request without overlapped structure. Returns the call's
  // success; `written` receives the byte count the call reported.
  virtual bool Write(const void* data, uint32_t size, uint32_t& written) = 0;
  // FlushFileBuffers: true when everything written has reached the disk.
  virtual bool Flush() = 0;
  // One ReadFile request without overlapped structure. Returns the call's
  // success; `read` receives the byte count the call reported (0 at the end).
  virtual bool Read(void* data, uint32_t size, uint32_t& read) = 0;
};

// Where Windows keeps the requests of IFileSystem::ReplaceAtRestart and
// DeleteAtRestart, below HKEY_LOCAL_MACHINE: a REG_MULTI_SZ of pairs, the
// source ("\??\" and its path), then the target ("!\??\" and its path for
// a replacing move, an empty string for a deletion), and one more zero.
inline constexpr const char* kSessionManagerKey =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kPendingRenamesValue = "PendingFileRenameOperations";

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // GetSystemDirectoryA into a buffer of MAX_PATH characters; the call's
  // result is not examined, so a failure yields what the buffer holds (empty).
  virtual std::string SystemDirectory() = 0;
  // CreateFileA without security attributes or template. Null on failure,
  // with the last error code set.
  virtual std::unique_ptr<IFile> Create(const std::string& path, uint32_t access,
                                        uint32_t share, uint32_t disposition,
                                        uint32_t attributes) = 0;
  // DeleteFileA: true when the file was deleted.
  virtual bool Delete(const std::string& path) = 0;
  // True when a file of that path can be found.
  virtual bool Exists(const std::string& path) = 0;
  // MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH):
  // true when `to` has become the file `from` was, in one step. The 9x family
  // lacks the call: it fails there with ERROR_CALL_NOT_IMPLEMENTED.
  virtual bool MoveReplacing(const std::string& from, const std::string& to) = 0;
  // MoveFileA: renames `from` to `to`, failing when `to` exists.
  virtual bool Move(const std::string& from, const std::string& to) = 0;
  // MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT):
  // nothing moves now; when Windows next starts, before any driver loads,
  // `to` becomes the file `from` is then. Windows appends the request to the
  // value PendingFileRenameOperations of the Session Manager key
  // (kSessionManagerKey), so it is on the disk once that key is flushed, and
  // carries the requests out in the order they were made. The 9x family
  // lacks the call: ERROR_CALL_NOT_IMPLEMENTED.
  virtual bool ReplaceAtRestart(const std::string& from, const std::string& to) = 0;
  // MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT): the file is
  // deleted when Windows next starts; recorded and carried out as above.
  virtual bool DeleteAtRestart(const std::string& path) = 0;
  // FindFirstFileA on the path: the last write time of the file it finds
  // (FILETIME: 100 ns units since 1601, UTC). False when no file is found.
  virtual bool LastWriteTime(const std::string& path, uint64_t& fileTime) = 0;
  // GetFileAttributesA: the file's attributes, or kInvalidFileAttributes with
  // the last error code set when it cannot be found.
  virtual uint32_t Attributes(const std::string& path) = 0;
  // SetFileAttributesA: true when the file has these attributes now.
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
};

// ---- The executable's own resources --------------------------------------
using ResourceRef = uintptr_t;  // 0 = not found

class IResources {
 public:
  virtual ~IResources() = default;
  // FindResourceA in the program's own module by number and type name.
  virtual ResourceRef Find(int id, const char* type) = 0;
  // FindResourceA in the program's own module by name and type number
  // (MAKEINTRESOURCEA(type)).
  virtual ResourceRef FindNamed(const char* name, int type) = 0;
  // LoadResource followed by LockResource; null when it cannot be had.
  virtual const void* Lock(ResourceRef resource) = 0;
  // SizeofResource.
  virtual uint32_t Size(ResourceRef resource) = 0;
};

// ---- Registry below HKEY_LOCAL_MACHINE -----------------------------------
class IRegKey {
 public:
  virtual ~IRegKey() = default;  // closes the key
  // RegQueryValueExA. `data` may be null for a size query; `size` is in/out.
  virtual RegStatus QueryValue(const char* name, uint32_t* type, uint8_t* data,
                               uint32_t* size) = 0;
  virtual RegStatus SetValue(const char* name, uint32_t type, const uint8_t* data,
                             uint32_t size) = 0;
  virtual RegStatus DeleteValue(const char* name) = 0;
  // RegFlushKey: returns once the key's changes are on the disk. Until then a
  // power cut may lose them, while file operations made after them survive.
  virtual RegStatus Flush() = 0;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // RegOpenKeyA(HKEY_LOCAL_MACHINE, path). On success `key` owns the key. A
  // service's key is "SYSTEM\CurrentControlSet\Services\<name>".
  virtual RegStatus OpenLocalMachineKey(const std::string& path,
                                        std::unique_ptr<IRegKey>& key) = 0;
  // RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ): a key that can be
  // read and never written. On success `key` owns the key.
  virtual RegStatus OpenLocalMachineKeyToRead(const std::string& path,
                                              std::unique_ptr<IRegKey>& key) = 0;
};

// ---- Service control manager ---------------------------------------------
struct ServiceConfig {
  std::string name;
  std::string displayName;
  uint32_t desiredAccess = 0;
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  std::string binaryPath;
  std::string loadOrderGroup;  // empty: no group is passed
};

class IService {
 public:
  virtual ~IService() = default;  // closes the service handle
  // DeleteService: true when the deletion was accepted.
  virtual bool Delete() = 0;
  // ChangeServiceConfigA(service, SERVICE_NO_CHANGE for the type, start and
  // error control, null for the tag and every text): changes nothing, and
  // tells whether a change could be made. It needs a handle opened with
  // SERVICE_CHANGE_CONFIG; it fails with ERROR_SERVICE_MARKED_FOR_DELETE
  // while the service awaits its deletion at the next start of Windows.
  virtual bool ChangeNothing() = 0;
  // QueryServiceConfigA: fills the display name, type, start type, error
  // control, binary path and load order group of `config` (a missing text
  // gives an empty one). False when the service cannot tell; `config` is
  // then left as it was.
  virtual bool QueryConfig(ServiceConfig& config) = 0;
};

class IServiceManager {
 public:
  virtual ~IServiceManager() = default;  // closes the manager handle
  // OpenServiceA: null when the service cannot be opened.
  virtual std::unique_ptr<IService> Open(const std::string& name, uint32_t access) = 0;
  // CreateServiceA with no tag, dependencies, account or password. Null on
  // failure, the reason in the last error code.
  virtual std::unique_ptr<IService> Create(const ServiceConfig& config) = 0;
};

class IServices {
 public:
  virtual ~IServices() = default;
  // OpenSCManagerA on the local machine's active database. Null on failure.
  virtual std::unique_ptr<IServiceManager> OpenManager(uint32_t access) = 0;
};

// ---- A driver's control device -------------------------------------------
class IDevice {
 public:
  virtual ~IDevice() = default;  // closes the device handle
  // One synchronous DeviceIoControl; returns the call's result as given.
  // `referenced` names the buffer that an address inside the input refers to
  // (the data buffer of a pass-through request). The real device reaches it
  // through that address; fakes, which cannot follow a 32-bit address, use
  // this argument. The Win32 adapter ignores it.
  virtual int Control(uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint8_t* referenced = nullptr,
                      uint32_t referencedSize = 0) = 0;
};

class IDevices {
 public:
  virtual ~IDevices() = default;
  // CreateFileA on a device path with flags 0; null when it cannot be opened.
  virtual std::unique_ptr<IDevice> Open(const std::string& path, uint32_t access,
                                        uint32_t share, uint32_t disposition) = 0;
};

// ---- Version resources of files ------------------------------------------
class IVersionResources {
 public:
  virtual ~IVersionResources() = default;
  // GetFileVersionInfoSizeA: 0 when the file or its version resource is missing.
  virtual uint32_t InfoSize(const std::string& path) = 0;
  // GetFileVersionInfoA into `block` of `size` bytes.
  virtual bool Info(const std::string& path, uint32_t size, void* block) = 0;
  // VerQueryValueA(block, "\\"): the call's success, with `value` and
  // `length` as it answered them (the root value of a version block is the
  // fixed file information record, not checked here).
  virtual bool QueryRoot(const void* block, const void*& value, uint32_t& length) = 0;
};

// ---- Windows and messages ------------------------------------------------
using WindowHandle = uintptr_t;  // 0 = none

class IWindows {
 public:
  virtual ~IWindows() = default;
  // FindWindowA; a null `title` matches any title.
  virtual WindowHandle Find(const char* className, const char* title) = 0;
  // OutputDebugStringA.
  virtual void DebugOutput(const char* text) = 0;
  // SendMessageTimeoutA(window, WM_COPYDATA, 0, &COPYDATASTRUCT{dwData, cbData,
  // data}, SMTO_ABORTIFHUNG, timeoutMs, &result). True when the receiver handled
  // the message in time; false when the system judged its thread hung, the
  // timeout ran out or the window is gone. The receiver's answer is not reported.
  virtual bool SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                            const void* data, uint32_t timeoutMs) = 0;
};

// ---- Message boxes -------------------------------------------------------
class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // A modal box for the whole application; returns the button pressed.
  virtual int Show(const std::string& text, const std::string& caption, uint32_t flags) = 0;
};

// ---- Process token and system shutdown -----------------------------------
struct Luid {
  uint32_t lowPart = 0;
  int32_t highPart = 0;
};

class IToken {
 public:
  virtual ~IToken() = default;  // closes the token handle
  // AdjustTokenPrivileges(token, FALSE, {1, {luid, attributes}}, 0, NULL, NULL).
  virtual bool AdjustPrivilege(const Luid& luid, uint32_t attributes) = 0;
};

class IShutdown {
 public:
  virtual ~IShutdown() = default;
  // OpenProcessToken(GetCurrentProcess(), access). Null on failure.
  virtual std::unique_ptr<IToken> OpenProcessToken(uint32_t access) = 0;
  // LookupPrivilegeValueA on the local system; `luid` is left as it was on failure.
  virtual bool LookupPrivilegeValue(const char* name, Luid& luid) = 0;
  // ExitWindowsEx: true when the request was accepted.
  virtual bool ExitWindows(uint32_t flags, uint32_t reason) = 0;
};

// ---- Sleep and the clocks -------------------------------------
class ISleep {
 public:
  virtual ~ISleep() = default;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // GetTickCount: milliseconds since the system started, wrapping at 2^32;
  // only differences of two readings mean anything.
  virtual uint32_t TickCount() = 0;
  // GetTickCount64, bound at run time (systems before Windows Vista lack
  // it): milliseconds since the system started, without wrapping. False
  // where the system has no such call.
  virtual bool TickCount64(uint64_t& milliseconds) = 0;
  // GetSystemTimeAsFileTime: the time now, as a FILETIME (100 ns units since
  // 1601, UTC).
  virtual uint64_t SystemTime() = 0;
};

// ---- Named mutexes ----------------------------------------------------------
// What a wait on a mutex came to. Abandoned: this thread owns it now, from
// an owner that ended without releasing it.
enum class WaitResult { kAcquired, kAbandoned, kTimedOut, kFailed };

class IMutex {
 public:
  // Closes the handle (CloseHandle). Closing does not release a mutex this
  // thread owns: it stays owned until the thread ends, then is abandoned.
  virtual ~IMutex() = default;
  // WaitForSingleObject(mutex, timeoutMs); kFailed with the last error code set.
  virtual WaitResult Wait(uint32_t timeoutMs) = 0;
  // ReleaseMutex: true when this thread owned it and has given it up.
  virtual bool Release() = 0;
};

class IMutexes {
 public:
  virtual ~IMutexes() = default;
  // CreateMutexA(attributes, FALSE, name): creates the mutex, or opens the
  // existing one asking MUTEX_ALL_ACCESS. With `adminsOnly`, a new mutex gets
  // a security descriptor whose DACL grants access to SYSTEM and the
  // Administrators group only (InitializeSecurityDescriptor,
  // AllocateAndInitializeSid, InitializeAcl, AddAccessAllowedAce,
  // SetSecurityDescriptorDacl; the 9x family answers those with
  // ERROR_CALL_NOT_IMPLEMENTED). Null on failure, the reason in the last
  // error code.
  virtual std::unique_ptr<IMutex> Create(const std::string& name, bool adminsOnly) = 0;
  // OpenMutexA(SYNCHRONIZE, FALSE, name): null when there is no such mutex
  // (ERROR_FILE_NOT_FOUND) or it may not be opened (ERROR_ACCESS_DENIED).
  virtual std::unique_ptr<IMutex> Open(const std::string& name) = 0;
};

// The facilities of one running system. The program installs the Win32 set
// at start; unit tests install a fake set for the span of a test.
struct Platform {
  ISystem& system;
  IFileSystem& files;
  IResources& resources;
  IRegistry& registry;
  IServices& services;
  IDevices& devices;
  IVersionResources& versions;
  IWindows& windows;
  IMessageBoxes& boxes;
  IShutdown& shutdown;
  ISleep& sleep;
  IMutexes& mutexes;
};

// The installed platform. Calling it with none installed is a programming error.
Platform& Sys();

// Installs `platform` for the lifetime of this object and restores the
// previous one afterwards.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace kst
