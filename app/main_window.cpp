#include "app/main_window.h"

#include "device/status_display.h"
#include "diag/no_throw.h"
#include "install/deploy.h"
#include "install/procedures.h"
#include "install/reboot.h"
#include "platform/platform.h"

namespace kst {
namespace {

std::string& Title() {
  static std::string title;
  return title;
}

// False when the user declined to install over an installed filter.
bool ConfirmReinstall(IMainWindow& window) {
  if (!window.InstalledMark()) return true;
  int answer = Sys().boxes.Show("Kestrune alreay installed!\nRe-install again?",
                                window.Caption(), win::kMbYesNo | win::kMbIconQuestion);
  return answer == win::kIdYes;
}

void RunChosenProcedure(IMainWindow& window) {
  if (window.InstallOption().Checked()) {
    if (ConfirmReinstall(window)) InstallKestrune(true);
  } else {
    UnInstallKestrune(true);
  }
}

}  // namespace

const FormExpectations& MainFormExpectations() {
  using K = ControlKind;
  static const FormExpectations expectations{
      {{"BtnOk", K::kButton},
       {"BtnClose", K::kButton},
       {"BtnExitWindows", K::kButton},
       {"GroupBox1", K::kGroupBox},
       {"RadioButton2", K::kRadioButton},
       {"RadioButton1", K::kRadioButton},
       {"GroupBox2", K::kGroupBox},
       {"Kestrune1", K::kLabel},
       {"Kestrune2", K::kLabel},
       {"Morvellin1", K::kLabel},
       {"Morvellin2", K::kLabel},
       {"LabelStatus1", K::kLabel},
       {"LabelStatus2", K::kLabel},
       {"CbDeviceList", K::kComboList},
       {"Host1", K::kLabel},
       {"Host2", K::kLabel},
       {"Target1", K::kLabel},
       {"Target2", K::kLabel}},
      {"FormCreate", "BtnOkClick", "BtnCloseClick", "BtnExitWindowsClick"}};
  return expectations;
}

void FormCreate(IMainWindow& window) {
  window.SetCaption(ApplicationTitle());
  IRadioButton& install = window.InstallOption();
  install.SetCaption(install.Caption() + " ( " + kCarriedDriverVersion + " )");
  window.BtnExitWindows().SetVisible(true);
  window.KeepInstalledMark(MarksInstalled(RefreshDriverStatus(window)));
}

void BtnOkClick(IMainWindow& window) {
  // The procedures report their own failures; the window stays usable.
  NoThrow([&] { RunChosenProcedure(window); });
}

void BtnCloseClick(IMainWindow& window) { window.Close(); }

void BtnExitWindowsClick(IMainWindow&) { RebootWindows(); }

void SetApplicationTitle(const std::string& title) { Title() = title; }

std::string ApplicationTitle() { return Title(); }

std::string ExceptionBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
    return message + ".";
  return message;
}

void ShowExceptionBox(const std::string& message) {
  Sys().boxes.Show(ExceptionBoxText(message), ApplicationTitle(),
                   win::kMbOk | win::kMbIconError);
}

}  // namespace kst
