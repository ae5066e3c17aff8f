#pragma once

namespace kst {

// Installs the running family's drivers. True means the drivers are in place
// and take effect after a restart. With `interactive`, success ends with the
// restart question.
bool InstallKestrune(bool interactive);

// Removes them again; true when the driver files are gone, or on the NT
// family go when Windows next starts (the loaded filter holds them until
// then). With `interactive`, success ends with the restart question.
bool UnInstallKestrune(bool interactive);
bool UnInstallKestruneNT();
bool UnInstallKestrune9X();

}  // namespace kst
