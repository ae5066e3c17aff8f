#include "app/main_window.h"

#include "device/status_display.h"
#include "diag/failure.h"
#include "diag/no_throw.h"
#include "install/procedures.h"
#include "install/reboot.h"
#include "platform/platform.h"

namespace kst {
namespace {

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

// The bytes of the RCDATA resource `name` as text; throws when there is none.
std::string RcDataText(const char* name) {
  IResources& resources = Sys().resources;
  ResourceRef resource = resources.FindNamed(name, win::kRtRcData);
  const void* data = resource ? resources.Lock(resource) : nullptr;
  if (!data) throw Failure(std::string("Resource ") + name + " not found");
  return std::string(static_cast<const char*>(data), resources.Size(resource));
}

}  // namespace

const FormExpectations& MainFormExpectations() {
#define KST_EXPECT_CONTROL(name, kind, ...) {#name, ControlKind::kind},
#define KST_EXPECT_HANDLER(name) #name,
  static const FormExpectations expectations{
      {KST_MAIN_FORM_CONTROLS(KST_EXPECT_CONTROL, KST_EXPECT_CONTROL)},
      {KST_MAIN_FORM_HANDLERS(KST_EXPECT_HANDLER)}};
#undef KST_EXPECT_CONTROL
#undef KST_EXPECT_HANDLER
  return expectations;
}

FormDescription MainFormDescription() {
  FormDescription description = ParseFormDescription(RcDataText("TMAIN"));
  RequireExpectations(description, MainFormExpectations());
  return description;
}

void FormCreate(IMainWindow& window) {
  window.SetCaption(ApplicationTitle());
  IRadioButton& install = window.InstallOption();
  install.SetCaption(install.Caption() + " ( " + kCarriedDriverVersion + " )");
  window.ExitWindowsButton().SetVisible(true);
  window.KeepInstalledMark(MarksInstalled(RefreshDriverStatus(window)));
}

void BtnOkClick(IMainWindow& window) {
  // The procedures report their own failures; the window stays usable.
  NoThrow([&] { RunChosenProcedure(window); });
}

void BtnCloseClick(IMainWindow& window) { window.Close(); }

void BtnExitWindowsClick(IMainWindow&) { RebootWindows(); }

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
