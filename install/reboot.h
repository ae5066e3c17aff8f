#pragma once

namespace kst {

// Enables the shutdown privilege and asks Windows for a forced restart.
// True when Windows accepted the request; each failure is one trace line.
bool RebootWindows();

}  // namespace kst
