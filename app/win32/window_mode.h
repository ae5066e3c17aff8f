#pragma once
// Window mode of the entry: the main window over the window framework.
// The application title and the exception display are portable and live in
// app/main_window.h, included here so the entry finds the whole set.
#include "app/main_window.h"

namespace kst {

// Routes the exceptions that escape the window framework's handlers to the
// exception display; call once before any window exists.
void InitializeApplication();

// Creates the main window from the form description "TMAIN" as the main
// form, shows it and runs the message loop until it is closed. A malformed
// or missing description throws before any window is shown.
void RunWindowMode();

}  // namespace kst
