#pragma once
// The main window over in-memory controls, with the captions, visibility,
// checks and tags the form description gives them at design.
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/fake/fake_controls.h"

namespace kst::test {

class FakeMainWindow : public IMainWindow {
 public:
  FakeMainWindow() { radioButton1.SetChecked(true), radioButton1.changes = 0; }

  IControl& BtnOk() override { return btnOk; }
  IControl& BtnClose() override { return btnClose; }
  IControl& BtnExitWindows() override { return btnExitWindows; }
  IControl& GroupBox1() override { return groupBox1; }
  IRadioButton& RadioButton2() override { return radioButton2; }
  IRadioButton& InstallOption() override { return radioButton1; }
  IControl& GroupBox2() override { return groupBox2; }
  IControl& Kestrune1() override { return kestrune1; }
  IControl& KestruneVersion() override { return kestrune2; }
  IControl& MorvellinCaption() override { return morvellin1; }
  IControl& MorvellinVersion() override { return morvellin2; }
  IControl& LabelStatus1() override { return labelStatus1; }
  IControl& InstallState() override { return labelStatus2; }
  IComboList& DeviceList() override { return cbDeviceList; }
  IControl& Host1() override { return host1; }
  IControl& EntryCount() override { return host2; }
  IControl& Target1() override { return target1; }
  IControl& DeviceCount() override { return target2; }

  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& text) override { caption = text; }
  void Close() override { ++closes; }
  void KeepInstalledMark(bool marked) override { installedMark = marked; }
  bool InstalledMark() const override { return installedMark; }

  // The controls the status display never writes.
  std::vector<fake::FakeControl*> NotStatusControls() {
    return {&btnOk,      &btnClose,     &btnExitWindows, &groupBox1, &radioButton2,
            &groupBox2,  &kestrune1,    &labelStatus1,   &host1,     &target1};
  }

  fake::FakeControl btnOk{"&Execute"};
  fake::FakeControl btnClose{"&Close"};
  fake::FakeControl btnExitWindows{"Exit Windows", false};
  fake::FakeControl groupBox1{"Options"};
  fake::FakeRadioButton radioButton2{"UnInstall Kestrune stroge device filter"};
  fake::FakeRadioButton radioButton1{"Install Kestrune stroge device filter"};
  fake::FakeControl groupBox2{"Driver Information"};
  fake::FakeControl kestrune1{"Kestrune:"};
  fake::FakeControl kestrune2{"1.4."};
  fake::FakeControl morvellin1{"Morvellin:"};
  fake::FakeControl morvellin2{"1.4."};
  fake::FakeControl labelStatus1{"Status:"};
  fake::FakeControl labelStatus2{"UnInstall"};
  fake::FakeComboList cbDeviceList;
  fake::FakeControl host1{"Host:"};
  fake::FakeControl host2{"0"};
  fake::FakeControl target1{"Target:"};
  fake::FakeControl target2{"0"};

  std::string caption = "Install Kestrune";
  int closes = 0;
  bool installedMark = false;
};

}  // namespace kst::test
