#include "app/win32/window_mode.h"

#include "app/form_description.h"
#include "app/win32/framework.h"

namespace kst {

// The main window: the form "TMAIN", whose controls are found by their
// names once the description has been held to the window's expectations.
class TMain : public framework::TForm, public IMainWindow {
 public:
  void Create() {
#define KST_BIND_HANDLER(name) {#name, [this] { kst::name(*this); }},
    Build(MainFormDescription(), {KST_MAIN_FORM_HANDLERS(KST_BIND_HANDLER)});
#undef KST_BIND_HANDLER
  }

#define KST_DEFINE_ACCESSOR(name, kind, accessor)                 \
  ControlInterface<ControlKind::kind>& accessor() override {      \
    return Control<ControlInterface<ControlKind::kind>>(#name);   \
  }
#define KST_NO_ACCESSOR(name, kind)
  KST_MAIN_FORM_CONTROLS(KST_DEFINE_ACCESSOR, KST_NO_ACCESSOR)
#undef KST_DEFINE_ACCESSOR
#undef KST_NO_ACCESSOR

  std::string Caption() const override { return TForm::Caption(); }
  void SetCaption(const std::string& caption) override { TForm::SetCaption(caption); }
  void Close() override { TForm::Close(); }
  void KeepInstalledMark(bool marked) override { installedMark_ = marked; }
  bool InstalledMark() const override { return installedMark_; }

 private:
  bool installedMark_ = false;
};

void InitializeApplication() { framework::application::SetExceptionHandler(ShowExceptionBox); }

void RunWindowMode() {
  TMain main;
  main.Create();
  framework::application::Run(main);
}

}  // namespace kst
