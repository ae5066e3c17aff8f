#pragma once
// The application title: the caption of the main window, of the usage box
// and of the exception box. Set once by the entry; empty until then.
#include <string>

namespace kst {

void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

}  // namespace kst
