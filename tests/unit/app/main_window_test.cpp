#include "app/main_window.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "device/control_device.h"
#include "install/drivers.h"
#include "platform/fake/fake_platform.h"
#include "tests/unit/app/carried_form.h"
#include "tests/unit/app/fake_main_window.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::FakeMainWindow;

const char* const kReinstallQuestion = "Kestrune alreay installed!\nRe-install again?";
const char* const kInstalledCaption = "Kestrune installed";
const char* const kUninstalledCaption = "Kestrune uninstalled";

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetApplicationTitle("Kestrune Install Tools");
    // The procedures run on the 9x family here: one image, no services, so
    // which procedure ran shows in the file and in the restart question.
    fp.system.platformId = win::kVerPlatformWin32Windows;
    fp.resources.images[kKestruneVxd.resourceId] = {'V', 'X', 'D'};
  }

  std::string VxdPath() const { return fp.files.systemDirectory + kKestruneVxd.relativePath; }

  std::vector<std::string> BoxCaptions() const {
    std::vector<std::string> captions;
    for (const auto& box : fp.boxes.shown) captions.push_back(box.caption);
    return captions;
  }

  FakePlatform fp;
  FakeMainWindow window;
};

TEST_F(MainWindow, FormCreateSetsTitleOptionAndExitButtonThenRefreshes) {
  FormCreate(window);

  EXPECT_EQ(window.caption, "Kestrune Install Tools");
  EXPECT_EQ(window.InstallOption().Caption(), "Install Kestrune stroge device filter ( 1.4.2.11 )");
  EXPECT_TRUE(window.ExitWindowsButton().Visible());
  // Fresh machine: the refresh ran and found nothing installed.
  EXPECT_EQ(window.InstallState().Caption(), "Uninstall");
  EXPECT_EQ(window.KestruneVersion().Caption(), "");
  EXPECT_FALSE(window.installedMark);
  EXPECT_TRUE(window.InstallOption().Checked());
  EXPECT_TRUE(fp.boxes.shown.empty());
}

TEST_F(MainWindow, FormCreateKeepsTheMarkOfAFilterRunningOnNt) {
  fp.system.platformId = win::kVerPlatformWin32Nt;
  for (const FilterDriver* d : kNtDrivers) {
    fp.versions.SetVersion(fp.files.systemDirectory + d->image.relativePath, 1, 4, 2, 11);
  }
  // A filter that accepts every request and reports no entries.
  fp.devices.devices[KST_CONTROL_DEVICE_PATH] = [](uint32_t, const uint8_t*, uint32_t, uint8_t* out,
                                              uint32_t outSize, uint8_t*, uint32_t) {
    if (out) std::fill(out, out + outSize, uint8_t(0));
    return 1;
  };

  FormCreate(window);
  EXPECT_TRUE(window.installedMark);
  EXPECT_EQ(window.InstallState().Caption(), "Install");

  fp.boxes.answers = {win::kIdNo};
  BtnOkClick(window);
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Kestrune Install Tools"});
}

// On the 9x family an installed filter leaves the option unmarked, so
// installing again asks nothing first.
TEST_F(MainWindow, FormCreateLeavesNoMarkForAFilterRunningOn9x) {
  fp.versions.SetVersion(VxdPath(), 1, 4, 2, 11);
  // A filter that reports one entry, of no adapter and without letter.
  fp.devices.devices[KST_CONTROL_DEVICE_PATH] = [](uint32_t, const uint8_t*, uint32_t, uint8_t* out,
                                              uint32_t outSize, uint8_t*, uint32_t) {
    if (out) std::fill(out, out + outSize, uint8_t(0));
    if (out && outSize == 4) out[0] = 1;
    return 1;
  };

  FormCreate(window);
  EXPECT_EQ(window.InstallState().Caption(), "Install");
  EXPECT_FALSE(window.installedMark);

  BtnOkClick(window);
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{kInstalledCaption})
      << "installed at once, then the restart question";
}

TEST_F(MainWindow, FormCreateUsesTheTitleSetAtThatMoment) {
  SetApplicationTitle("Other Title");
  FormCreate(window);
  EXPECT_EQ(window.caption, "Other Title");
}

TEST_F(MainWindow, FormCreateLeavesARefreshExceptionToTheFramework) {
  window.KestruneVersion().beforeChange = [] { throw std::runtime_error("no more handles"); };

  EXPECT_THROW(FormCreate(window), std::runtime_error);

  // The steps before the refresh have been made.
  EXPECT_EQ(window.caption, "Kestrune Install Tools");
  EXPECT_EQ(window.InstallOption().Caption(), "Install Kestrune stroge device filter ( 1.4.2.11 )");
  EXPECT_TRUE(window.ExitWindowsButton().Visible());
  EXPECT_EQ(window.InstallState().Caption(), "UnInstall");
}

// ---- BtnOkClick ---------------------------------------------------------------

struct ExecuteRow {
  const char* name;
  bool installChosen;
  bool marked;  // the window keeps the installed mark
  std::vector<int> answers;  // to the boxes, in order; the rest answered No
  std::vector<std::string> captions;  // of the boxes shown, in order
  bool vxdAfter;  // the file exists afterwards (it exists before for an uninstall)
};

void PrintTo(const ExecuteRow& row, std::ostream* os) { *os << row.name; }


class Execute : public MainWindow, public ::testing::WithParamInterface<ExecuteRow> {};

TEST_P(Execute, RunsTheChosenProcedureAfterTheQuestionRules) {
  const ExecuteRow& row = GetParam();
  FormCreate(window);
  window.InstallOption().SetChecked(row.installChosen);
  window.installedMark = row.marked;
  if (!row.installChosen) fp.files.files[VxdPath()];
  fp.boxes.answers.assign(row.answers.begin(), row.answers.end());

  BtnOkClick(window);

  EXPECT_EQ(BoxCaptions(), row.captions);
  EXPECT_EQ(fp.files.Has(VxdPath()), row.vxdAfter);
  EXPECT_TRUE(fp.shutdown.exitRequests.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Execute,
    ::testing::Values(
        ExecuteRow{"InstallUnmarkedAsksNothingFirst", true, false, {}, {kInstalledCaption}, true},
        ExecuteRow{"InstallMarkedYes", true, true, {win::kIdYes},
                   {"Kestrune Install Tools", kInstalledCaption}, true},
        ExecuteRow{"InstallMarkedNoDoesNothing", true, true, {win::kIdNo},
                   {"Kestrune Install Tools"}, false},
        // Only Yes goes on; any other answer counts as No.
        ExecuteRow{"InstallMarkedOkDoesNothing", true, true, {win::kIdOk},
                   {"Kestrune Install Tools"}, false},
        ExecuteRow{"UninstallMarkedAsksNothing", false, true, {}, {kUninstalledCaption}, false},
        ExecuteRow{"UninstallUnmarked", false, false, {}, {kUninstalledCaption}, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(MainWindow, ReinstallQuestionUsesTheWindowsCaptionAtThatMoment) {
  FormCreate(window);
  window.installedMark = true;
  window.caption = "Renamed";

  BtnOkClick(window);

  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].text, kReinstallQuestion);
  EXPECT_EQ(fp.boxes.shown[0].caption, "Renamed");
  EXPECT_EQ(fp.boxes.shown[0].flags, win::kMbYesNo | win::kMbIconQuestion);
}

TEST_F(MainWindow, ExecuteLeavesTheStatusShownAtStart) {
  FormCreate(window);
  BtnOkClick(window);
  ASSERT_TRUE(fp.files.Has(VxdPath()));

  EXPECT_EQ(window.InstallState().Caption(), "Uninstall");
  EXPECT_EQ(window.KestruneVersion().Caption(), "");
  EXPECT_FALSE(window.installedMark);
}

TEST_F(MainWindow, SecondExecuteAsksAgain) {
  FormCreate(window);
  window.installedMark = true;

  BtnOkClick(window);
  BtnOkClick(window);

  EXPECT_EQ(BoxCaptions(),
            (std::vector<std::string>{"Kestrune Install Tools", "Kestrune Install Tools"}));
}

TEST_F(MainWindow, ExceptionBeforeTheProcedureEndsSilently) {
  FormCreate(window);
  window.installedMark = true;
  fp.boxes.onShow = [](const fake::ShownBox&) { throw std::runtime_error("out of memory"); };

  EXPECT_NO_THROW(BtnOkClick(window));

  EXPECT_EQ(fp.boxes.shown.size(), 1u);  // the question, which failed
  EXPECT_FALSE(fp.files.Has(VxdPath()));
}

TEST_F(MainWindow, ExceptionInsideTheProcedureEndsSilently) {
  FormCreate(window);
  fp.boxes.onShow = [](const fake::ShownBox& box) {
    if (box.caption == kInstalledCaption) throw std::bad_alloc();
  };

  EXPECT_NO_THROW(BtnOkClick(window));

  EXPECT_TRUE(fp.files.Has(VxdPath()));  // the procedure ran up to its question
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{kInstalledCaption});
  EXPECT_TRUE(fp.shutdown.exitRequests.empty());
}

TEST_F(MainWindow, NonStandardExceptionEndsSilentlyToo) {
  FormCreate(window);
  fp.boxes.onShow = [](const fake::ShownBox&) { throw 42; };
  EXPECT_NO_THROW(BtnOkClick(window));
}

// ---- The other handlers -------------------------------------------------------

TEST_F(MainWindow, CloseClosesTheWindowOnly) {
  FormCreate(window);
  BtnCloseClick(window);
  EXPECT_EQ(window.closes, 1);
  EXPECT_TRUE(fp.boxes.shown.empty());
  EXPECT_TRUE(fp.shutdown.exitRequests.empty());
}

TEST_F(MainWindow, ExitWindowsRestartsAtOnceWithoutQuestion) {
  FormCreate(window);
  BtnExitWindowsClick(window);
  EXPECT_EQ(fp.shutdown.exitRequests.size(), 1u);
  EXPECT_TRUE(fp.boxes.shown.empty());
  EXPECT_EQ(window.closes, 0);
}

// ---- The exception display ----------------------------------------------------

TEST(ExceptionBoxText, FullStopAfterCharactersAboveIt) {
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},                       // nothing to end
      {"Out of memory", "Out of memory."},
      {"Error 5", "Error 5."},        // a digit is above the full stop
      {"Done.", "Done."},             // the full stop itself
      {"Really?", "Really?."},        // '?' has a higher code
      {"Failed!", "Failed!"},         // '!' has a lower code
      {"(none)", "(none)"},           // ')' has a lower code
      {"a-", "a-"},                   // '-' has a lower code
      {"path/", "path/."},            // '/' is the first code above '.'
      {"line\n", "line\n"},           // control characters are below
      {"caf\xE9", "caf\xE9."},        // 8-bit characters count as above
  };
  for (const auto& [message, shown] : rows) EXPECT_EQ(ExceptionBoxText(message), shown) << message;
}

TEST(ShowExceptionBox, ErrorBoxCaptionedWithTheTitle) {
  FakePlatform fp;
  SetApplicationTitle("Kestrune Install Tools");

  ShowExceptionBox("Form description, line 3: the description is empty");

  ASSERT_EQ(fp.boxes.shown.size(), 1u);
  EXPECT_EQ(fp.boxes.shown[0].text, "Form description, line 3: the description is empty.");
  EXPECT_EQ(fp.boxes.shown[0].caption, "Kestrune Install Tools");
  EXPECT_EQ(fp.boxes.shown[0].flags, win::kMbOk | win::kMbIconError);
}

// ---- The description read from the program's resources --------------------------

// A control added to the form but not to the window's table would be built
// and never held to its kind.
TEST(MainFormExpectations, ListEveryControlOfTheCarriedFormWithItsKind) {
  FormDescription form = ParseFormDescription(test::MainFormText());
  std::map<std::string, ControlKind> described, expected;
  for (const ControlDescription& c : form.controls) described[c.name] = c.kind;
  for (const auto& [name, kind] : MainFormExpectations().controls) expected[name] = kind;
  EXPECT_EQ(expected, described);
  EXPECT_EQ(MainFormExpectations().controls.size(), form.controls.size());  // none twice
}

// Replaces the first `from` in the description the fake resources hold.
std::function<void(FakePlatform&)> Replacing(std::string from, std::string to) {
  return [from, to](FakePlatform& fp) {
    std::string& text = fp.resources.rcData["TMAIN"];
    text.replace(text.find(from), from.size(), to);
  };
}

struct FormResourceRow {
  const char* name;
  std::function<void(FakePlatform&)> arrange;
  const char* fault;  // a part of the message; null when the description is read
};

void PrintTo(const FormResourceRow& row, std::ostream* os) { *os << row.name; }

class FormResource : public ::testing::TestWithParam<FormResourceRow> {};

TEST_P(FormResource, IsReadParsedAndHeldToTheWindowsNeeds) {
  const FormResourceRow& row = GetParam();
  FakePlatform fp;
  fp.resources.rcData["TMAIN"] = test::MainFormText();
  ASSERT_FALSE(fp.resources.rcData["TMAIN"].empty());
  row.arrange(fp);

  if (!row.fault) {
    FormDescription form = MainFormDescription();
    EXPECT_EQ(form.name, "Main");
    EXPECT_NE(form.Find("CbDeviceList"), nullptr);  // the last record: all of it was read
    return;
  }
  try {
    MainFormDescription();
    ADD_FAILURE() << "no exception";
  } catch (const Failure& e) {
    EXPECT_NE(std::string(e.what()).find(row.fault), std::string::npos) << e.what();
  }
}

const char* const kNotFound = "Resource TMAIN not found";

INSTANTIATE_TEST_SUITE_P(
    Cases, FormResource,
    ::testing::Values(
        FormResourceRow{"Carried", [](FakePlatform&) {}, nullptr},
        FormResourceRow{"Missing", [](FakePlatform& fp) { fp.resources.rcData.clear(); },
                        kNotFound},
        // Names are not matched by their beginning.
        FormResourceRow{"OnlyALongerName",
                        [](FakePlatform& fp) {
                          fp.resources.rcData["TMAIN2"] = fp.resources.rcData["TMAIN"];
                          fp.resources.rcData.erase("TMAIN");
                        },
                        kNotFound},
        // A driver image of any id is not a form.
        FormResourceRow{"OnlyDriverImages",
                        [](FakePlatform& fp) {
                          fp.resources.rcData.clear();
                          fp.resources.images[105] = {'f', 'o', 'r', 'm'};
                        },
                        kNotFound},
        FormResourceRow{"FindFails",
                        [](FakePlatform& fp) { fp.faults.Fail("FindResourceA", 1813); },
                        kNotFound},
        FormResourceRow{"LockFails", [](FakePlatform& fp) { fp.faults.Fail("LockResource", 8); },
                        kNotFound},
        FormResourceRow{"Empty", [](FakePlatform& fp) { fp.resources.rcData["TMAIN"].clear(); },
                        "empty"},
        FormResourceRow{"CutShort",
                        [](FakePlatform& fp) {
                          std::string& text = fp.resources.rcData["TMAIN"];
                          text.resize(text.find("combo CbDeviceList"));
                        },
                        "the form has no control \"CbDeviceList\""},
        FormResourceRow{"ControlRenamed", Replacing("label Target2", "label Target3"),
                        "the form has no control \"Target2\""},
        FormResourceRow{"ControlOfAnotherKind", Replacing("label Host1", "button Host1"),
                        "\"Host1\" must be a label, not a button"},
        FormResourceRow{"UnknownHandler",
                        Replacing("onclick=BtnCloseClick", "onclick=BtnQuitClick"),
                        "\"BtnQuitClick\" is not known"},
        // The resource's size bounds the text, not a zero inside it.
        FormResourceRow{"ZeroInside",
                        Replacing("label Host1", std::string("label Host1\0", 12)),
                        ": \"Host1"}),  // the name with the zero is refused
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace kst
