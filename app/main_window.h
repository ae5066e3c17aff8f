#pragma once
// The main window's behaviour, apart from any window system: its handlers
// run against IMainWindow, which the window framework implements over the
// real window (TMain) and tests implement over in-memory controls.
#include <string>

#include "app/application_title.h"
#include "app/form_description.h"
#include "device/status_display.h"
#include "platform/controls.h"

// The controls of the main form "TMAIN", one row each: the name the form
// gives the control, its kind and, for a control the program reaches after
// building, the accessor of IMainWindow that returns it. The form's
// expectations list every row, in this order; the window and the test
// window make their accessors from the same rows.
//   REACHED(name, kind, accessor)   BUILT(name, kind): only the framework uses it
#define KST_MAIN_FORM_CONTROLS(REACHED, BUILT)                 \
  BUILT(BtnOk, kButton)                                        \
  BUILT(BtnClose, kButton)                                     \
  REACHED(BtnExitWindows, kButton, ExitWindowsButton)          \
  BUILT(GroupBox1, kGroupBox)                                  \
  BUILT(RadioButton2, kRadioButton)                            \
  REACHED(RadioButton1, kRadioButton, InstallOption)           \
  BUILT(GroupBox2, kGroupBox)                                  \
  BUILT(Kestrune1, kLabel)                                     \
  REACHED(Kestrune2, kLabel, KestruneVersion)                  \
  REACHED(Morvellin1, kLabel, MorvellinCaption)                \
  REACHED(Morvellin2, kLabel, MorvellinVersion)                \
  BUILT(LabelStatus1, kLabel)                                  \
  REACHED(LabelStatus2, kLabel, InstallState)                  \
  REACHED(CbDeviceList, kComboList, DeviceList)                \
  BUILT(Host1, kLabel)                                         \
  REACHED(Host2, kLabel, EntryCount)                           \
  BUILT(Target1, kLabel)                                       \
  REACHED(Target2, kLabel, DeviceCount)

// The handlers the main form's description binds by name, each the function
// of that name below.
#define KST_MAIN_FORM_HANDLERS(HANDLER) \
  HANDLER(FormCreate)                   \
  HANDLER(BtnOkClick)                   \
  HANDLER(BtnCloseClick)                \
  HANDLER(BtnExitWindowsClick)

namespace kst {

// The interface through which a control of that kind is reached.
template <ControlKind kind>
struct ControlInterfaceOf {
  using type = IControl;
};
template <>
struct ControlInterfaceOf<ControlKind::kRadioButton> {
  using type = IRadioButton;
};
template <>
struct ControlInterfaceOf<ControlKind::kComboList> {
  using type = IComboList;
};
template <ControlKind kind>
using ControlInterface = typename ControlInterfaceOf<kind>::type;

// The main window: the controls the program reaches, its caption, and
// closing it.
class IMainWindow : public IDriverStatusView {
 public:
#define KST_DECLARE_ACCESSOR(name, kind, accessor) \
  virtual ControlInterface<ControlKind::kind>& accessor() = 0;
#define KST_NO_ACCESSOR(name, kind)
  KST_MAIN_FORM_CONTROLS(KST_DECLARE_ACCESSOR, KST_NO_ACCESSOR)
#undef KST_DECLARE_ACCESSOR
#undef KST_NO_ACCESSOR

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

// The description "TMAIN" from the program's resources (RCDATA), parsed and
// held to MainFormExpectations(); throws when it is missing, malformed or
// falls short of them.
FormDescription MainFormDescription();

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

// The exception display's text: the message with a full stop added when its
// last character has a higher code than the full stop.
std::string ExceptionBoxText(const std::string& message);

// Shows an exception's message in an error box (error icon, OK) captioned
// with the application title, through the platform's message boxes.
void ShowExceptionBox(const std::string& message);

}  // namespace kst
