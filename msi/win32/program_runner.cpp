#include "msi/win32/program_runner.h"

#include "platform/win32/handles.h"

namespace kst::win32 {
namespace {

// Kernel objects whose invalid value is null: processes, threads, pipes.
struct ObjectHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueObject = UniqueHandle<ObjectHandleTraits>;

struct MsiRecordTraits {
  using Type = MSIHANDLE;
  static Type Invalid() { return 0; }
  static void Close(Type h) { ::MsiCloseHandle(h); }
};
using UniqueRecord = UniqueHandle<MsiRecordTraits>;

constexpr DWORD kPollMs = 20;

// Moves what the pipe holds now into the output without blocking; false once
// the pipe is broken (every writer has closed it).
bool DrainPipe(HANDLE pipe, BoundedOutput& output) {
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    DWORD read = 0;
    DWORD want = available < sizeof buffer ? available : DWORD(sizeof buffer);
    if (!::ReadFile(pipe, buffer, want, &read, nullptr) || read == 0) return false;
    output.Append(buffer, read);
  }
}

// Waits for the process, reading its output while it runs, until it ends or
// the deadline passes. Reading never blocks, so a program that keeps the
// pipe open (or a child of it that inherited the pipe) cannot hold the
// action past the deadline.
bool WaitReading(HANDLE process, HANDLE pipe, DWORD timeoutMs, BoundedOutput* output) {
  DWORD started = ::GetTickCount();
  bool pipeOpen = pipe != nullptr;
  for (;;) {
    if (pipeOpen) pipeOpen = DrainPipe(pipe, *output);
    DWORD elapsed = ::GetTickCount() - started;
    if (elapsed >= timeoutMs) return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    DWORD wait = pipeOpen ? kPollMs : timeoutMs - elapsed;
    if (wait > timeoutMs - elapsed) wait = timeoutMs - elapsed;
    if (::WaitForSingleObject(process, wait) == WAIT_OBJECT_0) {
      if (pipeOpen) DrainPipe(pipe, *output);
      return true;
    }
  }
}

}  // namespace

ProgramEnd InstallerActionHost::Run(const std::string& program, const std::string& arguments,
                                    uint32_t timeoutMs, BoundedOutput* output) {
  ProgramEnd end;
  UniqueObject readEnd, writeEnd;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (output) {
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, 0) ||
        !::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
      end.code = ::GetLastError();
      return end;
    }
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
  }
  // The program's own folder as its current directory; never the caller's.
  std::string folder = program.substr(0, program.rfind('\\') + 1);
  std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr,
                        CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &info)) {
    end.code = ::GetLastError();
    return end;
  }
  UniqueObject process(info.hProcess), thread(info.hThread);
  writeEnd.Reset();  // only the child holds the writing end now
  if (!WaitReading(process.Get(), readEnd.Get(), timeoutMs, output)) {
    ::TerminateProcess(process.Get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(process.Get(), 5000);
    end.how = ProgramEnd::How::kTimedOut;
    return end;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.Get(), &code);
  end.how = ProgramEnd::How::kExited;
  end.code = code;
  return end;
}

void InstallerActionHost::Log(const std::string& line) {
  // The text goes in as a field, not as the template, so that brackets in
  // what a program printed are not read as properties to format.
  UniqueRecord record(::MsiCreateRecord(1));
  if (!record.Valid()) return;
  ::MsiRecordSetStringA(record.Get(), 0, "[1]");
  ::MsiRecordSetStringA(record.Get(), 1, line.c_str());
  ::MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record.Get());
}

}  // namespace kst::win32
