/* A stand-in for a version.dll that someone placed beside the program. It
 * leaves marker files in its own folder:
 *   "planted-dll-loaded.txt" when any module of a process loads it;
 *   "planted-dll-bound.txt"  when the program's own import table points into
 *                            it, that is, the program imports it statically;
 *   "planted-dll-called.txt" when one of the ANSI functions the program reads
 *                            versions with is called in it.
 * The system's own modules may load version.dll for their wide functions;
 * those are forwarded to kernelbase (see planted_version.def), so such a
 * load changes nothing they do and leaves only the first marker. */
#include <windows.h>

static HINSTANCE self_;

static void LeaveMarker(const char* name) {
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(self_, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') --length;
  lstrcpyA(path + length, name);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, "yes\r\n", 5, &written, NULL);
  CloseHandle(file);
}

/* Whether an import address table entry of the process's main module points
 * into this DLL. By the time DllMain runs, the loader has bound every import
 * of the main module, so a static import of this DLL shows here, while a load
 * by a system module does not. */
static BOOL MainModuleIsBoundToSelf(void) {
  const BYTE* base = (const BYTE*)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS* nt =
      (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  const IMAGE_NT_HEADERS* own =
      (const IMAGE_NT_HEADERS*)((const BYTE*)self_ + ((const IMAGE_DOS_HEADER*)self_)->e_lfanew);
  ULONG_PTR first = (ULONG_PTR)self_;
  ULONG_PTR last = first + own->OptionalHeader.SizeOfImage;
  const IMAGE_DATA_DIRECTORY* imports =
      &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports->VirtualAddress == 0) return FALSE;
  const IMAGE_IMPORT_DESCRIPTOR* entry =
      (const IMAGE_IMPORT_DESCRIPTOR*)(base + imports->VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    const ULONG_PTR* thunk = (const ULONG_PTR*)(base + entry->FirstThunk);
    for (; *thunk != 0; ++thunk) {
      if (*thunk >= first && *thunk < last) return TRUE;
    }
  }
  return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    self_ = self;
    LeaveMarker("planted-dll-loaded.txt");
    if (MainModuleIsBoundToSelf()) LeaveMarker("planted-dll-bound.txt");
  }
  return TRUE;
}

/* The ANSI functions answer as for a file without a version resource. */
DWORD WINAPI PlantedInfoSizeA(LPCSTR path, LPDWORD handle) {
  (void)path;
  LeaveMarker("planted-dll-called.txt");
  if (handle) *handle = 0;
  return 0;
}

BOOL WINAPI PlantedInfoA(LPCSTR path, DWORD handle, DWORD size, LPVOID block) {
  (void)path, (void)handle, (void)size, (void)block;
  LeaveMarker("planted-dll-called.txt");
  return FALSE;
}

BOOL WINAPI PlantedQueryA(LPCVOID block, LPCSTR sub, LPVOID* value, PUINT length) {
  (void)block, (void)sub, (void)value, (void)length;
  LeaveMarker("planted-dll-called.txt");
  return FALSE;
}
