#include "app/win32/window_mode.h"

#include <memory>

#include "app/form_description.h"
#include "app/win32/framework.h"

namespace kst {

using framework::TButton;
using framework::TComboBox;
using framework::TGroupBox;
using framework::TLabel;
using framework::TRadioButton;

// The main window: the form "TMAIN" with its controls as members, in the
// order of its description, and its handlers.
class TMain : public framework::TForm, public IMainWindow {
 public:
  void Create() {
    FormDescription description =
        ParseFormDescription(framework::application::FormResource("TMAIN"));
    RequireExpectations(description, MainFormExpectations());
    Build(description,
          {{"FormCreate", [this] { FormCreate(); }},
           {"BtnOkClick", [this] { BtnOkClick(); }},
           {"BtnCloseClick", [this] { BtnCloseClick(); }},
           {"BtnExitWindowsClick", [this] { BtnExitWindowsClick(); }}});
  }

  void FormCreate() { kst::FormCreate(*this); }
  void BtnOkClick() { kst::BtnOkClick(*this); }
  void BtnCloseClick() { kst::BtnCloseClick(*this); }
  void BtnExitWindowsClick() { kst::BtnExitWindowsClick(*this); }

  IControl& BtnOk() override { return *btnOk_; }
  IControl& BtnClose() override { return *btnClose_; }
  IControl& BtnExitWindows() override { return *btnExitWindows_; }
  IControl& GroupBox1() override { return *groupBox1_; }
  IRadioButton& RadioButton2() override { return *radioButton2_; }
  IRadioButton& InstallOption() override { return *radioButton1_; }
  IControl& GroupBox2() override { return *groupBox2_; }
  IControl& Kestrune1() override { return *kestrune1_; }
  IControl& KestruneVersion() override { return *kestrune2_; }
  IControl& MorvellinCaption() override { return *morvellin1_; }
  IControl& MorvellinVersion() override { return *morvellin2_; }
  IControl& LabelStatus1() override { return *labelStatus1_; }
  IControl& InstallState() override { return *labelStatus2_; }
  IComboList& DeviceList() override { return *cbDeviceList_; }
  IControl& Host1() override { return *host1_; }
  IControl& EntryCount() override { return *host2_; }
  IControl& Target1() override { return *target1_; }
  IControl& DeviceCount() override { return *target2_; }

  std::string Caption() const override { return TForm::Caption(); }
  void SetCaption(const std::string& caption) override { TForm::SetCaption(caption); }
  void Close() override { TForm::Close(); }
  void KeepInstalledMark(bool marked) override { installedMark_ = marked; }
  bool InstalledMark() const override { return installedMark_; }

 protected:
  void Loaded() override {
    btnOk_ = &Control<TButton>("BtnOk");
    btnClose_ = &Control<TButton>("BtnClose");
    btnExitWindows_ = &Control<TButton>("BtnExitWindows");
    groupBox1_ = &Control<TGroupBox>("GroupBox1");
    radioButton2_ = &Control<TRadioButton>("RadioButton2");
    radioButton1_ = &Control<TRadioButton>("RadioButton1");
    groupBox2_ = &Control<TGroupBox>("GroupBox2");
    kestrune1_ = &Control<TLabel>("Kestrune1");
    kestrune2_ = &Control<TLabel>("Kestrune2");
    morvellin1_ = &Control<TLabel>("Morvellin1");
    morvellin2_ = &Control<TLabel>("Morvellin2");
    labelStatus1_ = &Control<TLabel>("LabelStatus1");
    labelStatus2_ = &Control<TLabel>("LabelStatus2");
    cbDeviceList_ = &Control<TComboBox>("CbDeviceList");
    host1_ = &Control<TLabel>("Host1");
    host2_ = &Control<TLabel>("Host2");
    target1_ = &Control<TLabel>("Target1");
    target2_ = &Control<TLabel>("Target2");
  }

 private:
  TButton* btnOk_ = nullptr;
  TButton* btnClose_ = nullptr;
  TButton* btnExitWindows_ = nullptr;
  TGroupBox* groupBox1_ = nullptr;
  TRadioButton* radioButton2_ = nullptr;
  TRadioButton* radioButton1_ = nullptr;
  TGroupBox* groupBox2_ = nullptr;
  TLabel* kestrune1_ = nullptr;
  TLabel* kestrune2_ = nullptr;
  TLabel* morvellin1_ = nullptr;
  TLabel* morvellin2_ = nullptr;
  TLabel* labelStatus1_ = nullptr;
  TLabel* labelStatus2_ = nullptr;
  TComboBox* cbDeviceList_ = nullptr;
  TLabel* host1_ = nullptr;
  TLabel* host2_ = nullptr;
  TLabel* target1_ = nullptr;
  TLabel* target2_ = nullptr;
  bool installedMark_ = false;
};

TMain* Main = nullptr;

void InitializeApplication() { framework::application::Initialize(); }

void RunWindowMode() {
  auto main = std::make_unique<TMain>();
  Main = main.get();
  struct Forget {
    ~Forget() { Main = nullptr; }
  } forget;
  main->Create();
  framework::application::Run(*main);
}

}  // namespace kst
