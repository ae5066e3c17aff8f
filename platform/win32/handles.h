#pragma once
// Owning wrappers for the Win32 handle families the adapters open. Each
// family has its own type and its own invalid value. Closing never disturbs
// the thread's last error code, so a caller can read the code of a failed
// call after the objects of that call have gone.
#include "platform/win32/windows_api.h"

namespace kst::win32 {

// Owns one handle of the family described by `Traits`:
//   using Type = ...;  static Type Invalid();  static void Close(Type);
template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type Get() const { return handle_; }
  bool Valid() const { return handle_ != Traits::Invalid(); }
  // A place for a call that returns the handle through a pointer.
  Type* Receive() {
    Reset();
    return &handle_;
  }
  void Reset() {
    if (!Valid()) return;
    DWORD lastError = ::GetLastError();
    Traits::Close(handle_);
    ::SetLastError(lastError);
    handle_ = Traits::Invalid();
  }

 private:
  Type handle_ = Traits::Invalid();
};

// Files and devices opened by CreateFileA.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};

// Searches begun by FindFirstFileA.
struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};

// Registry keys.
struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};

// Service control manager and service handles.
struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseServiceHandle(h); }
};

// Access tokens.
struct TokenHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};

// Mutexes (CreateMutexA, OpenMutexA); null when there is none.
struct MutexHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};

using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueTokenHandle = UniqueHandle<TokenHandleTraits>;
using UniqueMutexHandle = UniqueHandle<MutexHandleTraits>;

}  // namespace kst::win32
