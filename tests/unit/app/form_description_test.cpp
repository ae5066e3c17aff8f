#include "app/form_description.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/unit/app/carried_form.h"

namespace kst {
namespace {

const char* const kForm = "form Main client=100x50\n";

FormDescription Parse(const std::string& controls) {
  return ParseFormDescription(kForm + controls);
}

TEST(FormDescription, MinimalFormHasDefaults) {
  FormDescription f = ParseFormDescription("form Main client=1x1");
  EXPECT_EQ(f.name, "Main");
  EXPECT_EQ(f.clientWidth, 1);
  EXPECT_EQ(f.border, FormBorder::kSizeable);
  EXPECT_FALSE(f.centred);
  EXPECT_TRUE(f.controls.empty());
}

TEST(FormDescription, SettingsContinueOnIndentedLinesAndCommentsAreSkipped) {
  FormDescription f = ParseFormDescription(
      "# heading\r\n"
      "form Main\r\n"
      "  client=319x215 border=single\r\n"
      "\t# an indented comment\r\n"
      "\tposition=centred caption=\"a \\\"quoted\\\" \\\\ text\\n\"\r\n"
      "\r\n"
      "label L parent=Main\n"
      "   pos=-3,4 size=5x6 caption=\"\"\n");
  EXPECT_EQ(f.clientHeight, 215);
  EXPECT_EQ(f.border, FormBorder::kSingle);
  EXPECT_TRUE(f.centred);
  EXPECT_EQ(f.caption, "a \"quoted\" \\ text\n");
  ASSERT_EQ(f.controls.size(), 1u);
  EXPECT_EQ(f.controls[0].left, -3);
  EXPECT_EQ(f.controls[0].caption, "");
  EXPECT_EQ(f.controls[0].line, 7);
}

TEST(FormDescription, KindSpecificSettings) {
  FormDescription f = Parse(
      "group G parent=Main pos=0,0 size=10x10 align=top tab=3\n"
      "radio R parent=G pos=1,1 size=5x5 checked=true tag=-7 tab=0 onclick=Pick\n"
      "combo C parent=G pos=1,1 size=5x5 style=ownerdrawfixed itemheight=16 enabled=false\n"
      "label L parent=Main pos=1,1 size=5x5 transparent=true autosize=false visible=false\n"
      "button B parent=Main pos=1,1 size=5x5 onclick=Go tab=0\n");
  const ControlDescription& g = f.controls[0];
  EXPECT_TRUE(g.alignTop);
  EXPECT_EQ(g.kind, ControlKind::kGroupBox);
  const ControlDescription& r = *f.Find("R");
  EXPECT_TRUE(r.checked);
  EXPECT_EQ(r.tag, -7);
  EXPECT_EQ(r.onClick, "Pick");
  const ControlDescription& c = *f.Find("C");
  EXPECT_EQ(c.comboStyle, ComboStyle::kOwnerDrawFixed);
  EXPECT_EQ(c.itemHeight, 16);
  EXPECT_FALSE(c.enabled);
  const ControlDescription& l = *f.Find("L");
  EXPECT_TRUE(l.transparent);
  EXPECT_FALSE(l.autoSize);
  EXPECT_FALSE(l.visible);
  EXPECT_EQ(l.tabOrder, -1);
  EXPECT_EQ(f.Find("B")->onClick, "Go");
  EXPECT_EQ(f.Find("Main"), nullptr);  // the form is no control
}

// The ends of every range are values like any other.
TEST(FormDescription, LargestAndSmallestValuesAreTaken) {
  FormDescription f = ParseFormDescription(
      "form Main client=32767x32767 icon=65535 fontheight=-32767\n"
      "combo C parent=Main pos=-32767,32767 size=32767x1 itemheight=255 tag=2147483647\n"
      "combo D parent=Main pos=0,0 size=1x1 itemheight=1 tag=-2147483648\n");
  EXPECT_EQ(f.clientWidth, 32767);
  EXPECT_EQ(f.icon, "65535");
  EXPECT_EQ(f.fontHeight, -32767);
  const ControlDescription& c = *f.Find("C");
  EXPECT_EQ(c.left, -32767);
  EXPECT_EQ(c.top, 32767);
  EXPECT_EQ(c.width, 32767);
  EXPECT_EQ(c.itemHeight, 255);
  EXPECT_EQ(c.tag, INT32_MAX);
  EXPECT_EQ(f.Find("D")->itemHeight, 1);
  EXPECT_EQ(f.Find("D")->tag, INT32_MIN);
}

TEST(FormDescription, SameTabPositionUnderDifferentParentsIsFine) {
  FormDescription f = Parse(
      "group G parent=Main pos=0,0 size=10x10 tab=0\n"
      "button B parent=G pos=1,1 size=5x5 tab=0\n");
  EXPECT_EQ(f.controls.size(), 2u);
}

// Each malformed description, the line the error names, and a part of its message.
struct Malformed {
  const char* name;
  const char* text;
  int line;
  const char* message;
};

void PrintTo(const Malformed& row, std::ostream* os) { *os << row.name; }


class MalformedDescription : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedDescription, IsRejectedNamingTheLine) {
  const Malformed& m = GetParam();
  try {
    ParseFormDescription(m.text);
    FAIL() << "accepted";
  } catch (const FormDescriptionError& e) {
    EXPECT_EQ(e.Line(), m.line) << e.what();
    EXPECT_NE(std::string(e.what()).find(m.message), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("line " + std::to_string(m.line)), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedDescription,
    ::testing::Values(
        // Nothing but comments and blank lines.
        Malformed{"Empty", "# only\n\n", 1, "empty"},
        // Settings with no record to belong to.
        Malformed{"IndentedFirst", "  client=1x1\nform Main\n", 1, "before the first record"},
        // A control before the form.
        Malformed{"ControlFirst", "button B parent=Main pos=0,0 size=1x1\n", 1,
                  "must begin with the form"},
        Malformed{"SecondForm", "form A client=1x1\nform B client=1x1\n", 2, "one form"},
        Malformed{"UnknownKind", "form M client=1x1\nslider S parent=M pos=0,0 size=1x1\n", 2,
                  "unknown kind \"slider\""},
        Malformed{"NoName", "form\n", 1, "has no name"},
        // A setting where the name should be.
        Malformed{"SettingForName", "form client=1x1\n", 1, "has no name"},
        Malformed{"BadName", "form 9Lives client=1x1\n", 1, "not a valid name"},
        Malformed{"DuplicateName",
                  "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1\n"
                  "label L parent=M pos=0,0 size=1x1\n",
                  3, "used twice"},
        // A control may not take the form's name.
        Malformed{"ControlNamedLikeForm",
                  "form M client=1x1\nlabel M parent=M pos=0,0 size=1x1\n", 2, "used twice"},
        Malformed{"FormLacksClient", "form M caption=\"x\"\n", 1, "lacks \"client\""},
        Malformed{"ControlLacksParent", "form M client=1x1\nlabel L pos=0,0 size=1x1\n", 2,
                  "lacks \"parent\""},
        Malformed{"ControlLacksSize", "form M client=1x1\nlabel L parent=M pos=0,0\n", 2,
                  "lacks \"size\""},
        Malformed{"UnknownKey", "form M client=1x1 colour=btnface shade=3\n", 1,
                  "not a setting of a form"},
        // A setting of another kind: labels cannot be tab stops.
        Malformed{"KeyOfOtherKind", "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1 tab=0\n",
                  2, "not a setting of a label"},
        // Lists show lines, not a caption.
        Malformed{"ComboCaption",
                  "form M client=1x1\ncombo C parent=M pos=0,0 size=1x1 caption=\"x\"\n", 2,
                  "not a setting of a combo"},
        Malformed{"KeyTwice", "form M client=1x1\n  client=2x2\n", 2, "given twice"},
        Malformed{"ControlKeyTwice",
                  "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1\n  pos=1,1\n", 3,
                  "given twice"},
        Malformed{"NoEquals", "form M client\n", 1, "has no '='"},
        Malformed{"EmptyValue", "form M client= border=single\n", 1, "empty value"},
        Malformed{"UnclosedQuote", "form M client=1x1 caption=\"open\n", 1, "not closed"},
        Malformed{"TextRunsOn", "form M client=1x1 caption=\"a\"b\n", 1, "followed by other"},
        Malformed{"UnknownEscape", "form M client=1x1 caption=\"a\\tb\"\n", 1,
                  "unknown escape"},
        Malformed{"EscapeAtEnd", "form M client=1x1 caption=\"a\\", 1, "inside an escape"},
        // A caption must be quoted text, a number must not be.
        Malformed{"BareCaption", "form M client=1x1 caption=Main\n", 1, "quoted text"},
        Malformed{"QuotedNumber", "form M client=1x1 fontheight=\"-11\"\n", 1, "no quoted"},
        Malformed{"SizeWithComma", "form M client=1,1\n", 1, "joined by 'x'"},
        Malformed{"PosWithX",
                  "form M client=1x1\nlabel L parent=M pos=1x1 size=1x1\n", 2, "joined by ','"},
        Malformed{"SizeNotNumber", "form M client=ax1\n", 1, "whole number"},
        Malformed{"SizeTrailing", "form M client=1x1px\n", 1, "whole number"},
        Malformed{"SizeZero", "form M client=0x10\n", 1, "out of range"},
        Malformed{"SizeNegative",
                  "form M client=1x1\nlabel L parent=M pos=0,0 size=5x-1\n", 2, "out of range"},
        // One past each range's end.
        Malformed{"PosJustTooFar",
                  "form M client=1x1\nlabel L parent=M pos=0,-32768 size=1x1\n", 2,
                  "out of range"},
        Malformed{"ClientJustTooWide", "form M client=32768x1\n", 1, "out of range"},
        Malformed{"IconJustTooHigh", "form M client=1x1 icon=65536\n", 1, "out of range"},
        Malformed{"ItemHeightJustTooHigh",
                  "form M client=1x1\ncombo C parent=M pos=0,0 size=1x1 itemheight=256\n", 2,
                  "out of range"},
        Malformed{"PosTooFar",
                  "form M client=1x1\nlabel L parent=M pos=40000,0 size=1x1\n", 2,
                  "out of range"},
        Malformed{"NumberOverflow",
                  "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1 tag=99999999999\n", 2,
                  "out of range"},
        Malformed{"FontHeightZero", "form M client=1x1 fontheight=0\n", 1, "cannot be 0"},
        Malformed{"BadFlag", "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1 visible=yes\n",
                  2, "true or false"},
        Malformed{"BadBorder", "form M client=1x1 border=thick\n", 1, "does not accept"},
        Malformed{"BadColour", "form M client=1x1 colour=red\n", 1, "does not accept"},
        Malformed{"IconZero", "form M client=1x1 icon=0\n", 1, "out of range"},
        Malformed{"HandlerNotAName",
                  "form M client=1x1\nbutton B parent=M pos=0,0 size=1x1 onclick=a.b\n", 2,
                  "needs a name"},
        Malformed{"ParentUnknown", "form M client=1x1\nlabel L parent=G pos=0,0 size=1x1\n", 2,
                  "parent \"G\""},
        // Only group boxes hold controls.
        Malformed{"ParentNotGroup",
                  "form M client=1x1\nlabel A parent=M pos=0,0 size=1x1\n"
                  "label B parent=A pos=0,0 size=1x1\n",
                  3, "parent \"A\""},
        // A parent must be described before its children.
        Malformed{"ParentLater",
                  "form M client=1x1\nlabel L parent=G pos=0,0 size=1x1\n"
                  "group G parent=M pos=0,0 size=1x1\n",
                  2, "parent \"G\""},
        Malformed{"OwnerDrawWithoutHeight",
                  "form M client=1x1\ncombo C parent=M pos=0,0 size=1x1 style=ownerdrawfixed\n",
                  2, "lacks \"itemheight\""},
        Malformed{"ItemHeightZero",
                  "form M client=1x1\ncombo C parent=M pos=0,0 size=1x1 itemheight=0\n", 2,
                  "out of range"},
        Malformed{"TabTwiceInParent",
                  "form M client=1x1\nbutton A parent=M pos=0,0 size=1x1 tab=1\n"
                  "button B parent=M pos=0,0 size=1x1 tab=1\n",
                  3, "tab position 1"},
        // Position 0 is a tab position like any other.
        Malformed{"TabZeroTwiceInParent",
                  "form M client=1x1\nbutton A parent=M pos=0,0 size=1x1 tab=0\n"
                  "combo B parent=M pos=0,0 size=1x1 tab=0\n",
                  3, "tab position 0"},
        Malformed{"NegativeTab",
                  "form M client=1x1\nbutton A parent=M pos=0,0 size=1x1 tab=-1\n", 2,
                  "out of range"},
        Malformed{"TwoCheckedRadios",
                  "form M client=1x1\nradio A parent=M pos=0,0 size=1x1 checked=true\n"
                  "radio B parent=M pos=0,0 size=1x1 checked=true\n",
                  3, "second radio"},
        Malformed{"FocusUnknown", "form M client=1x1 focus=Nowhere\n", 1, "not described"},
        // The focus must go to a control that can take it.
        Malformed{"FocusOnLabel",
                  "form M client=1x1 focus=L\nlabel L parent=M pos=0,0 size=1x1\n", 1,
                  "cannot take the focus"},
        // A group box never takes the focus, even with a tab position.
        Malformed{"FocusOnGroup",
                  "form M client=1x1 focus=G\ngroup G parent=M pos=0,0 size=1x1 tab=0\n", 1,
                  "cannot take the focus"}),
    [](const auto& info) { return info.param.name; });

// ---- The main window's description, as the program carries it ---------------

using test::MainFormText;

TEST(MainFormDescription, WindowSettings) {
  FormDescription f = ParseFormDescription(MainFormText());
  EXPECT_EQ(f.className, "TMain");
  EXPECT_EQ(f.caption, "Install Kestrune");
  EXPECT_EQ(f.clientWidth, 319);
  EXPECT_EQ(f.clientHeight, 215);
  EXPECT_EQ(f.border, FormBorder::kSingle);
  EXPECT_TRUE(f.centred);
  EXPECT_EQ(f.colour, SystemColour::kButtonFace);
  EXPECT_EQ(f.fontName, "MS Sans Serif");
  EXPECT_EQ(f.fontHeight, -11);
  EXPECT_EQ(f.fontColour, SystemColour::kWindowText);
  EXPECT_FALSE(f.icon.empty());
  EXPECT_EQ(f.onCreate, "FormCreate");
  EXPECT_EQ(f.activeControl, "BtnClose");
}

struct Expected {
  const char* name;
  ControlKind kind;
  const char* parent;
  int left, top, width, height;
  const char* caption;
  int tab;
};

TEST(MainFormDescription, ControlsInCreationOrder) {
  using K = ControlKind;
  const Expected rows[] = {
      {"BtnOk", K::kButton, "Main", 152, 186, 75, 25, "&Execute", 0},
      {"BtnClose", K::kButton, "Main", 234, 186, 75, 25, "&Close", 1},
      {"BtnExitWindows", K::kButton, "Main", 4, 186, 75, 25, "Exit Windows", 2},
      {"GroupBox1", K::kGroupBox, "Main", 0, 0, 319, 65, "Options", 3},
      {"RadioButton2", K::kRadioButton, "GroupBox1", 12, 36, 275, 17,
       "UnInstall Kestrune stroge device filter", 0},
      {"RadioButton1", K::kRadioButton, "GroupBox1", 12, 14, 275, 17,
       "Install Kestrune stroge device filter", 1},
      {"GroupBox2", K::kGroupBox, "Main", 0, 65, 319, 114, "Driver Information", 4},
      {"Kestrune1", K::kLabel, "GroupBox2", 12, 18, 46, 13, "Kestrune:", -1},
      {"Kestrune2", K::kLabel, "GroupBox2", 72, 18, 18, 13, "1.4.", -1},
      {"Morvellin1", K::kLabel, "GroupBox2", 12, 39, 51, 13, "Morvellin:", -1},
      {"Morvellin2", K::kLabel, "GroupBox2", 72, 39, 18, 13, "1.4.", -1},
      {"LabelStatus1", K::kLabel, "GroupBox2", 12, 60, 33, 13, "Status:", -1},
      {"LabelStatus2", K::kLabel, "GroupBox2", 72, 62, 41, 13, "UnInstall", -1},
      {"Host1", K::kLabel, "GroupBox2", 186, 18, 25, 13, "Host:", -1},
      {"Host2", K::kLabel, "GroupBox2", 230, 18, 6, 13, "0", -1},
      {"Target1", K::kLabel, "GroupBox2", 186, 39, 34, 13, "Target:", -1},
      {"Target2", K::kLabel, "GroupBox2", 230, 39, 6, 13, "0", -1},
      {"CbDeviceList", K::kComboList, "GroupBox2", 6, 82, 305, 22, "", 0},
  };
  FormDescription f = ParseFormDescription(MainFormText());
  ASSERT_EQ(f.controls.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const ControlDescription& c = f.controls[i];
    const Expected& e = rows[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(c.name, e.name);
    EXPECT_EQ(c.kind, e.kind);
    EXPECT_EQ(c.parent, e.parent);
    EXPECT_EQ((std::vector<int>{c.left, c.top, c.width, c.height}),
              (std::vector<int>{e.left, e.top, e.width, e.height}));
    EXPECT_EQ(c.caption, e.caption);
    EXPECT_EQ(c.tabOrder, e.tab);
    EXPECT_EQ(c.visible, c.name != "BtnExitWindows");
    EXPECT_EQ(c.checked, c.name == "RadioButton1");
    EXPECT_EQ(c.tag, 0);
  }
}

TEST(MainFormDescription, HandlersAndSpecialControls) {
  FormDescription f = ParseFormDescription(MainFormText());
  EXPECT_EQ(f.Find("BtnOk")->onClick, "BtnOkClick");
  EXPECT_EQ(f.Find("BtnClose")->onClick, "BtnCloseClick");
  EXPECT_EQ(f.Find("BtnExitWindows")->onClick, "BtnExitWindowsClick");
  EXPECT_TRUE(f.Find("RadioButton1")->onClick.empty());
  EXPECT_TRUE(f.Find("GroupBox1")->alignTop);
  EXPECT_TRUE(f.Find("GroupBox2")->alignTop);
  for (const char* name : {"Kestrune2", "Morvellin2", "Host2", "Target2"})
    EXPECT_TRUE(f.Find(name)->transparent) << name;
  EXPECT_FALSE(f.Find("LabelStatus2")->transparent);
  const ControlDescription* list = f.Find("CbDeviceList");
  EXPECT_EQ(list->comboStyle, ComboStyle::kOwnerDrawFixed);
  EXPECT_EQ(list->itemHeight, 16);
}

// ---- What a program expects of a description -----------------------------------

const FormExpectations kExpects{{{"Go", ControlKind::kButton}, {"Box", ControlKind::kGroupBox}},
                                {"GoClick", "Created"}};

TEST(RequireExpectations, AcceptsWhatTheProgramKnows) {
  EXPECT_NO_THROW(RequireExpectations(
      Parse("group Box parent=Main pos=0,0 size=9x9\n"
            "button Go parent=Box pos=0,0 size=1x1 onclick=GoClick\n"
            "button Other parent=Main pos=0,0 size=1x1\n"),  // extra controls are fine
      kExpects));
}

TEST(RequireExpectations, RejectsMissingControlsWrongKindsAndUnknownHandlers) {
  const std::pair<const char*, const char*> rows[] = {
      // The button is missing.
      {"group Box parent=Main pos=0,0 size=9x9\n", "no control \"Go\""},
      // The button is described as a label.
      {"group Box parent=Main pos=0,0 size=9x9\nlabel Go parent=Main pos=0,0 size=1x1\n",
       "must be a button, not a label"},
      // A click handler the program cannot bind.
      {"group Box parent=Main pos=0,0 size=9x9\n"
       "button Go parent=Main pos=0,0 size=1x1 onclick=GoClik\n",
       "handler \"GoClik\""},
  };
  for (const auto& [controls, message] : rows) {
    try {
      RequireExpectations(Parse(controls), kExpects);
      ADD_FAILURE() << "accepted: " << controls;
    } catch (const FormDescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

TEST(RequireExpectations, RejectsAnUnknownCreationHandler) {
  FormDescription f = ParseFormDescription(
      "form Main client=9x9 oncreate=Create\n"
      "group Box parent=Main pos=0,0 size=9x9\nbutton Go parent=Main pos=0,0 size=1x1\n");
  EXPECT_THROW(RequireExpectations(f, kExpects), FormDescriptionError);
}

// ---- Keyboard focus: radio buttons as one group ---------------------------------

struct FocusRow {
  const char* control;
  bool tabStop, groupStart;
};

void ExpectFocusStyles(const FormDescription& f, const std::vector<FocusRow>& rows) {
  for (const FocusRow& r : rows) {
    size_t index = 0;
    while (index < f.controls.size() && f.controls[index].name != r.control) ++index;
    ASSERT_LT(index, f.controls.size()) << r.control;
    FocusStyle style = FocusStyleOf(f, index);
    EXPECT_EQ(style.tabStop, r.tabStop) << r.control;
    EXPECT_EQ(style.groupStart, r.groupStart) << r.control;
  }
}

TEST(FocusStyleOf, RadioButtonsOfOneParentAreOneGroupWithOneTabStop) {
  FormDescription f = Parse(
      "group G parent=Main pos=0,0 size=9x9 tab=0\n"
      "radio A parent=G pos=0,0 size=1x1 tab=0\n"
      "radio B parent=G pos=0,0 size=1x1 tab=1 checked=true\n"
      "radio C parent=G pos=0,0 size=1x1 tab=2\n"
      "group H parent=Main pos=0,0 size=9x9 tab=1\n"
      "radio D parent=H pos=0,0 size=1x1\n"  // none checked: no tab stop in the group
      "radio E parent=H pos=0,0 size=1x1\n"
      "label L parent=Main pos=0,0 size=1x1\n"
      "radio F parent=Main pos=0,0 size=1x1 checked=true\n"  // after a label: a new group
      "button Go parent=Main pos=0,0 size=1x1 tab=2\n"
      "button Off parent=Main pos=0,0 size=1x1\n");
  ExpectFocusStyles(f, {{"G", false, true},
                        {"A", false, true},
                        {"B", true, false},
                        {"C", false, false},
                        {"H", false, true},
                        {"D", false, true},
                        {"E", false, false},
                        {"L", false, true},
                        {"F", true, true},
                        {"Go", true, true},
                        {"Off", false, true}});
}

TEST(FocusStyleOf, MainWindowOptionsTakeTabOnlyAtTheCheckedInstall) {
  ExpectFocusStyles(ParseFormDescription(MainFormText()),
                    {{"RadioButton2", false, true},
                     {"RadioButton1", true, false},
                     {"BtnOk", true, true},
                     {"BtnClose", true, true}});
}

}  // namespace
}  // namespace kst
