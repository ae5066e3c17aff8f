#include "platform/win32/windows_api.h"

#include <string>

#include "platform/win32/adapters.h"

namespace kst::win32 {
namespace {

using InfoSizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// The three functions of the system's own version.dll; null members when the
// library or a function cannot be had.
struct VersionLibrary {
  InfoSizeFn infoSize = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Loads version.dll by its full path in the system directory, never by a
// bare name that a search could resolve to a planted copy. Loaded once and
// kept for the life of the process.
VersionLibrary LoadVersionLibrary() {
  VersionLibrary library;
  std::string directory(MAX_PATH, '\0');
  UINT length = ::GetSystemDirectoryA(directory.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return library;
  directory.resize(length);
  HMODULE module = ::LoadLibraryA((directory + "\\version.dll").c_str());
  if (module == nullptr) return library;
  library.infoSize = Bind<InfoSizeFn>(module, "GetFileVersionInfoSizeA");
  library.info = Bind<InfoFn>(module, "GetFileVersionInfoA");
  library.query = Bind<QueryFn>(module, "VerQueryValueA");
  return library;
}

const VersionLibrary& Library() {
  static const VersionLibrary library = LoadVersionLibrary();
  return library;
}

}  // namespace

uint32_t VersionResources::InfoSize(const std::string& path) {
  if (Library().infoSize == nullptr) return 0;
  DWORD handle = 0;
  return Library().infoSize(path.c_str(), &handle);
}

bool VersionResources::Info(const std::string& path, uint32_t size, void* block) {
  if (Library().info == nullptr) return false;
  return Library().info(path.c_str(), 0, size, block) != FALSE;
}

bool VersionResources::QueryRoot(const void* block, const void*& value, uint32_t& length) {
  value = nullptr;
  length = 0;
  if (Library().query == nullptr) return false;
  void* found = nullptr;
  UINT size = 0;
  char root[] = "\\";
  if (!Library().query(block, root, &found, &size)) return false;
  value = found;
  length = size;
  return true;
}

void RemoveCurrentDirectoryFromDllSearch() {
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  HMODULE kernel = ::GetModuleHandleA("kernel32");
  if (kernel == nullptr) return;
  auto setDllDirectory = Bind<SetDllDirectoryFn>(kernel, "SetDllDirectoryA");
  if (setDllDirectory != nullptr) setDllDirectory("");
}

}  // namespace kst::win32
