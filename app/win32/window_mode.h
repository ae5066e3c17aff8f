#pragma once
// Window mode of the entry: the application object and the main window.
// The application title and the exception display are portable and live in
// app/main_window.h, included here so the entry finds the whole set.
#include <string>

#include "app/main_window.h"

namespace kst {

class TMain;

// The main window while window mode runs; null before and after.
extern TMain* Main;

// Prepares the window framework; call once before anything else of it.
void InitializeApplication();

// Creates TMain from the form description "TMAIN" as the main form, shows it
// and runs the message loop until it is closed. A malformed or missing
// description throws before any window is shown.
void RunWindowMode();

}  // namespace kst
