// The custom action DLL's entry points, named by DllEntry in KstIns.wxs.
//
//   KstInstall, KstUninstall  deferred, not impersonated: the filter's
//                             install and removal (msi/package_action.h).
//                             Their data (CustomActionData) is the folder
//                             of the installed programs.
//   KstRestartCheck           immediate, after InstallFinalize: asks for the
//                             restart that a deferred action found needed.
//   KstUpgradeHandover        immediate, just before RemoveExistingProducts
//                             when an older version is installed: marks the
//                             removal that follows as part of an upgrade.
//
// An upgrade keeps the filter installed: the older version's removal must
// not run KstIns.exe /U, since the newer version's install upgrades the
// filter in place. Windows Installer tells that removal by
// UPGRADINGPRODUCTCODE, which the package's condition reads; an installer
// that removes the older version without setting it (Wine's does) is caught
// by the handover: a named file mapping that lives exactly as long as the
// upgrading session's action server. In the global namespace, creating it
// from outside session 0 takes SeCreateGlobalPrivilege, so an ordinary user
// cannot plant it to make a later removal keep the filter.
//
// Windows Installer refuses MsiSetMode in deferred actions, so a deferred
// action that ends with a restart pending leaves a volatile registry key
// behind, and the immediate action after InstallFinalize turns it into
// MSIRUNMODE_REBOOTATEND: msiexec then ends with 3010 and schedules the
// restart (or only reports it under REBOOT=ReallySuppress). The two actions
// run in different processes, as different users and, since Windows Vista,
// in different sessions and window stations, so the mark must be one the
// whole machine sees: a key below HKEY_LOCAL_MACHINE, which every user may
// read. Volatile, it is gone at the restart it asks for; every deferred
// action of ours removes it before it starts, so an earlier run's mark is
// never taken for this one's.
#include "platform/win32/windows_api.h"

#include <msiquery.h>

#include <exception>
#include <string>

#include "msi/package_action.h"
#include "msi/win32/program_runner.h"

namespace {

const char kRestartKey[] = "SOFTWARE\\Kestrune package restart pending";
const char kHandoverName[] = "Kestrune package upgrade";

// The handover's name in the global namespace, or the plain name where the
// system knows no namespaces (NT 4 without Terminal Services, the 9x family).
std::string HandoverName(bool global) {
  return std::string(global ? "Global\\" : "") + kHandoverName;
}

bool UpgradeUnderway() {
  for (bool global : {true, false}) {
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, HandoverName(global).c_str());
    if (mapping) {
      ::CloseHandle(mapping);
      return true;
    }
  }
  return false;
}

void ClearRestartMark() { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRestartKey); }

// A volatile key: it lives in memory only and ends with the restart.
void SetRestartMark() {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRestartKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    ::RegCloseKey(key);
  }
}

bool RestartMarked() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRestartKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

std::string ActionData(MSIHANDLE install) {
  char empty[1] = "";
  DWORD size = 0;
  if (::MsiGetPropertyA(install, "CustomActionData", empty, &size) != ERROR_MORE_DATA) return "";
  std::string data(size + 1, '\0');
  size = DWORD(data.size());
  if (::MsiGetPropertyA(install, "CustomActionData", &data[0], &size) != ERROR_SUCCESS) return "";
  data.resize(size);
  return data;
}

using Procedure = kst::PackageOutcome (*)(kst::ActionHost&, const std::string&);

UINT RunDeferred(MSIHANDLE install, Procedure procedure) {
  kst::win32::InstallerActionHost host(install);
  try {
    ClearRestartMark();
    std::string data = ActionData(install);
    std::string folder = kst::ProgramFolderOf(data);
    if (folder.empty()) {
      host.Log("Kestrune: the programs' folder \"" + data + "\" cannot be used");
      return kst::ActionReturnOf(kst::PackageOutcome::kFailure);
    }
    kst::PackageOutcome outcome = procedure(host, folder);
    if (outcome == kst::PackageOutcome::kRestartRequired) SetRestartMark();
    return kst::ActionReturnOf(outcome);
  } catch (const std::exception& e) {
    host.Log(std::string("Kestrune: the action failed: ") + e.what());
    return kst::ActionReturnOf(kst::PackageOutcome::kFailure);
  }
}

}  // namespace

extern "C" {

__declspec(dllexport) UINT __stdcall KstInstall(MSIHANDLE install) {
  return RunDeferred(install, kst::InstallFilter);
}

__declspec(dllexport) UINT __stdcall KstUninstall(MSIHANDLE install) {
  if (UpgradeUnderway()) {
    ClearRestartMark();
    kst::win32::InstallerActionHost host(install);
    host.Log("Kestrune: a newer version of the package replaces this one; the filter stays "
             "installed for its install");
    return ERROR_SUCCESS;
  }
  return RunDeferred(install, kst::UninstallFilter);
}

// The mapping's handle is left open on purpose: the object lasts as long as
// this session's action server, and ends with it however the session ends.
__declspec(dllexport) UINT __stdcall KstUpgradeHandover(MSIHANDLE install) {
  try {
    kst::win32::InstallerActionHost host(install);
    for (bool global : {true, false}) {
      HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1,
                                            HandoverName(global).c_str());
      if (mapping) {
        host.Log("Kestrune: upgrading; the older version's removal keeps the filter installed");
        return ERROR_SUCCESS;
      }
    }
    host.Log("Kestrune: the upgrade could not be marked (error " +
             std::to_string(::GetLastError()) + ")");
  } catch (const std::exception&) {
    // Windows Installer's UPGRADINGPRODUCTCODE still guards the removal.
  }
  return ERROR_SUCCESS;
}

__declspec(dllexport) UINT __stdcall KstRestartCheck(MSIHANDLE install) {
  // Run as the user, this action may read the mark but not remove it.
  if (!RestartMarked()) return ERROR_SUCCESS;
  UINT result = ::MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
  try {
    kst::win32::InstallerActionHost host(install);
    host.Log(result == ERROR_SUCCESS
                 ? "Kestrune: Windows must restart to finish; the restart is scheduled"
                 : "Kestrune: Windows must restart to finish, but the restart could not be "
                   "scheduled (error " + std::to_string(result) + ")");
  } catch (const std::exception&) {
    // The line is lost; the restart is asked for all the same.
  }
  return ERROR_SUCCESS;
}

}  // extern "C"
