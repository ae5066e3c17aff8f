#pragma once
// The Win32 adapters of the platform seam: each class forwards to the
// A-variant calls its interface names, with the arguments stated there, and
// adds nothing of its own.
#include "platform/platform.h"

namespace kst::win32 {

class System final : public ISystem {
 public:
  bool GetVersionEx(uint32_t recordSize, uint32_t& platformId) override;
  bool IsWow64Process() override;
  ErrorCode GetLastError() override;
  void SetLastError(ErrorCode code) override;
  std::string FormatSystemMessage(ErrorCode code) override;
};

class FileSystem final : public IFileSystem {
 public:
  std::string SystemDirectory() override;
  std::unique_ptr<IFile> Create(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition, uint32_t attributes) override;
  bool Delete(const std::string& path) override;
  // FindFirstFileA on the path: true when it finds an entry that is not a
  // directory.
  bool Exists(const std::string& path) override;
  bool MoveReplacing(const std::string& from, const std::string& to) override;
  bool Move(const std::string& from, const std::string& to) override;
  bool ReplaceAtRestart(const std::string& from, const std::string& to) override;
  bool DeleteAtRestart(const std::string& path) override;
  // FindFirstFileA rather than GetFileAttributesExA, which the first systems
  // of the 9x family lack: an import they lack would keep the program from
  // starting there.
  bool LastWriteTime(const std::string& path, uint64_t& fileTime) override;
  uint32_t Attributes(const std::string& path) override;
  bool SetAttributes(const std::string& path, uint32_t attributes) override;
};

class Resources final : public IResources {
 public:
  ResourceRef Find(int id, const char* type) override;
  ResourceRef FindNamed(const char* name, int type) override;
  const void* Lock(ResourceRef resource) override;
  uint32_t Size(ResourceRef resource) override;
};

class Registry final : public IRegistry {
 public:
  RegStatus OpenLocalMachineKey(const std::string& path,
                                std::unique_ptr<IRegKey>& key) override;
  RegStatus OpenLocalMachineKeyToRead(const std::string& path,
                                      std::unique_ptr<IRegKey>& key) override;
};

class Services final : public IServices {
 public:
  std::unique_ptr<IServiceManager> OpenManager(uint32_t access) override;
};

class Devices final : public IDevices {
 public:
  std::unique_ptr<IDevice> Open(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition) override;
};

// version.dll is not among the libraries the system always takes from its
// own directory, so it is not imported: its functions are bound at first use
// from the system directory by full path. Without them every call fails as
// for a file without a version resource.
class VersionResources final : public IVersionResources {
 public:
  uint32_t InfoSize(const std::string& path) override;
  bool Info(const std::string& path, uint32_t size, void* block) override;
  bool QueryRoot(const void* block, const void*& value, uint32_t& length) override;
};

// Takes the current directory out of the DLL search path where the system
// offers SetDllDirectoryA (bound at run time: older systems lack it).
void RemoveCurrentDirectoryFromDllSearch();

class Windows final : public IWindows {
 public:
  WindowHandle Find(const char* className, const char* title) override;
  void DebugOutput(const char* text) override;
  bool SendCopyData(WindowHandle window, uint32_t dwData, uint32_t cbData,
                    const void* data, uint32_t timeoutMs) override;
};

class MessageBoxes final : public IMessageBoxes {
 public:
  // Owned by the application's active window when there is one, so that the
  // box blocks the application's windows; without one it has no owner.
  int Show(const std::string& text, const std::string& caption, uint32_t flags) override;
};

class Shutdown final : public IShutdown {
 public:
  std::unique_ptr<IToken> OpenProcessToken(uint32_t access) override;
  bool LookupPrivilegeValue(const char* name, Luid& luid) override;
  bool ExitWindows(uint32_t flags, uint32_t reason) override;
};

class Mutexes final : public IMutexes {
 public:
  std::unique_ptr<IMutex> Create(const std::string& name, bool adminsOnly) override;
  std::unique_ptr<IMutex> Open(const std::string& name) override;
};

class Sleeper final : public ISleep {
 public:
  void Sleep(uint32_t milliseconds) override;
  uint32_t TickCount() override;
  bool TickCount64(uint64_t& milliseconds) override;
  uint64_t SystemTime() override;
};

}  // namespace kst::win32
