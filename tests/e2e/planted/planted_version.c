/* A stand-in for a version.dll that someone placed beside the program: when
 * any process loads it, it leaves the file "planted-dll-loaded.txt" in its
 * own folder, and "planted-dll-called.txt" once a program calls it for a
 * version resource. It exports the three functions the program once imported from
 * version.dll, so a program importing them statically starts with it. */
#include <windows.h>

static HINSTANCE self_;

static void LeaveMarker(HINSTANCE self, const char* name) {
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') --length;
  lstrcpyA(path + length, name);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, "loaded\r\n", 8, &written, NULL);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    self_ = self;
    LeaveMarker(self, "planted-dll-loaded.txt");
  }
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR path, LPDWORD handle) {
  (void)path;
  LeaveMarker(self_, "planted-dll-called.txt");
  if (handle) *handle = 0;
  return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR path, DWORD handle, DWORD size,
                                                      LPVOID block) {
  (void)path, (void)handle, (void)size, (void)block;
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR sub, LPVOID* value,
                                                 PUINT length) {
  (void)block, (void)sub, (void)value, (void)length;
  return FALSE;
}
