#pragma once
// ActionHost over the system and msi.dll: programs started with
// CreateProcessA and bounded in time, lines written with MsiProcessMessage.
#include "platform/win32/windows_api.h"

#include <msiquery.h>

#include "msi/package_action.h"

namespace kst::win32 {

class InstallerActionHost : public ActionHost {
 public:
  explicit InstallerActionHost(MSIHANDLE install) : install_(install) {}
  ProgramEnd Run(const std::string& program, const std::string& arguments, uint32_t timeoutMs,
                 BoundedOutput* output) override;
  void Log(const std::string& line) override;

 private:
  MSIHANDLE install_;
};

}  // namespace kst::win32
