#pragma once
// The main window's behaviour, apart from any window system: its handlers
// run against IMainWindow, which the window framework implements over the
// real window (TMain) and tests implement over in-memory controls.
#include <string>

#include "app/form_description.h"
#include "device/status_display.h"
#include "platform/controls.h"

namespace kst {

// The main window: its controls by name, its caption, and closing it.
class IMainWindow : public IDriverStatusView {
 public:
  virtual IControl& BtnOk() = 0;
  virtual IControl& BtnClose() = 0;
  virtual IControl& BtnExitWindows() = 0;
  virtual IControl& GroupBox1() = 0;
  virtual IRadioButton& RadioButton2() = 0;
  virtual IControl& GroupBox2() = 0;
  virtual IControl& Kestrune1() = 0;
  virtual IControl& LabelStatus1() = 0;
  virtual IControl& Host1() = 0;
  virtual IControl& Target1() = 0;

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Closes the window; for the main window this ends the message loop.
  virtual void Close() = 0;

  // What the window keeps of the driver status it showed when created:
  // whether the filter counts as installed and running, so that "&Execute"
  // asks before installing over it.
  virtual void KeepInstalledMark(bool marked) = 0;
  virtual bool InstalledMark() const = 0;
};

// The controls and handlers the main window needs of its description "TMAIN".
const FormExpectations& MainFormExpectations();

// Once, after the controls exist and before the window is first shown:
// caption, install option with the carried version, "Exit Windows" shown,
// then the status display, whose installed mark the window keeps.
// Exceptions are left to the framework.
void FormCreate(IMainWindow& window);

// Runs the chosen procedure; asks first when the window keeps the
// already-installed mark. Ends silently on any exception.
void BtnOkClick(IMainWindow& window);

void BtnCloseClick(IMainWindow& window);

// Asks Windows to restart at once, without a question.
void BtnExitWindowsClick(IMainWindow& window);

// The application title: the caption of the main window, of the usage box
// and of the exception box. Empty until set.
void SetApplicationTitle(const std::string& title);
std::string ApplicationTitle();

// The exception display's text: the message with a full stop added when its
// last character has a higher code than the full stop.
std::string ExceptionBoxText(const std::string& message);

// Shows an exception's message in an error box (error icon, OK) captioned
// with the application title, through the platform's message boxes.
void ShowExceptionBox(const std::string& message);

}  // namespace kst
