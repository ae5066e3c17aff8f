#include "install/reboot.h"

#include <memory>

#include "diag/trace.h"
#include "platform/platform.h"

namespace kst {
namespace {

enum class PrivilegeOutcome { kEnabled, kNoToken, kNotEnabled };

// Enables the shutdown privilege in the process token. The token is closed
// before this returns; the privilege stays enabled for the process's life.
// Success is judged by the last error code alone: the adjustment succeeds
// even for a privilege the process does not hold.
PrivilegeOutcome EnableShutdownPrivilege() {
  IShutdown& shutdown = Sys().shutdown;
  std::unique_ptr<IToken> token =
      shutdown.OpenProcessToken(win::kTokenAdjustPrivileges | win::kTokenQuery);
  if (!token) return PrivilegeOutcome::kNoToken;
  Luid luid;
  shutdown.LookupPrivilegeValue("SeShutdownPrivilege", luid);  // result not examined
  Sys().system.SetLastError(0);
  token->AdjustPrivilege(luid, win::kSePrivilegeEnabled);
  return Sys().system.GetLastError() == 0 ? PrivilegeOutcome::kEnabled
                                          : PrivilegeOutcome::kNotEnabled;
}

}  // namespace

bool RebootWindows() {
  switch (EnableShutdownPrivilege()) {
    case PrivilegeOutcome::kNoToken:
      Trace("error: OpenProcessToken");
      return false;
    case PrivilegeOutcome::kNotEnabled:
      Trace("error: AdjustTokenPrivileges");
      return false;
    case PrivilegeOutcome::kEnabled:
      break;
  }
  if (Sys().shutdown.ExitWindows(win::kEwxReboot | win::kEwxForce,
                                 win::kShutdownReasonOsReconfig)) {
    return true;
  }
  Trace("error: ExitWindowsEx");
  return false;
}

}  // namespace kst
