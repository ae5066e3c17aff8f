#pragma once
// The form description: the data from which the window framework builds a
// form (kinds, parents, positions, sizes, captions, visibility, tab order,
// border, centring, font, colour, icon). It is stored as text in the
// program's resources and read by a pure parser that either yields the whole
// description or throws; a malformed description never yields a partial one.
//
// Text format, one record per form or control:
//
//   # a comment line
//   form Main
//     caption="Install Kestrune" client=319x215 border=single
//   button BtnOk
//     parent=Main pos=152,186 size=75x25 caption="&Execute" tab=0
//
// A record begins with "<kind> <name>" at the start of a line; the lines
// indented below it (and the rest of its first line) hold its settings as
// key=value. A value is a decimal integer, a word, a pair ("152,186" for a
// position, "75x25" for a size) or a double-quoted text in which \" \\ and
// \n stand for a quote, a backslash and a line feed. The form record comes
// first; every control names its parent, which is the form or a group box
// described before it. Controls are created in the order of their records.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diag/failure.h"

namespace kst {

// A description that cannot be built; the message names the line.
class FormDescriptionError : public Failure {
 public:
  FormDescriptionError(int line, const std::string& message);
  int Line() const { return line_; }

 private:
  int line_;
};

enum class ControlKind { kButton, kGroupBox, kRadioButton, kLabel, kComboList };

// The system colours a description may name.
enum class SystemColour { kButtonFace, kWindow, kWindowText };

enum class FormBorder { kSingle, kSizeable };

enum class ComboStyle { kDropDownList, kOwnerDrawFixed };

struct ControlDescription {
  ControlKind kind = ControlKind::kLabel;
  std::string name;
  std::string parent;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  std::string caption;
  bool visible = true;
  bool enabled = true;
  int tabOrder = -1;  // -1: not a tab stop
  int tag = 0;
  bool alignTop = false;  // stays at the parent's top edge, spanning its width
  std::string onClick;    // handler name, empty for none
  bool checked = false;       // radio buttons
  bool transparent = false;   // labels
  bool autoSize = true;       // labels
  ComboStyle comboStyle = ComboStyle::kDropDownList;
  int itemHeight = 0;  // owner-drawn fixed lists: the height of every item
  int line = 0;        // where the record begins
};

struct FormDescription {
  std::string name;
  std::string className;
  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
  FormBorder border = FormBorder::kSizeable;
  bool centred = false;
  SystemColour colour = SystemColour::kButtonFace;
  std::string fontName;
  int fontHeight = 0;  // as a logical font height: negative = character height
  SystemColour fontColour = SystemColour::kWindowText;
  std::string icon;          // resource name or number; empty for none
  std::string onCreate;      // handler name, empty for none
  std::string activeControl; // the control that has the focus at start
  std::vector<ControlDescription> controls;

  // The control of that name, or null.
  const ControlDescription* Find(const std::string& name) const;
};

// Parses a whole description; throws FormDescriptionError on the first fault.
FormDescription ParseFormDescription(std::string_view text);

// What a program expects of a description: controls by name and kind, and
// the handler names it can bind. Throws FormDescriptionError when the
// description lacks a control, has one of another kind, or names a handler
// the program does not know.
struct FormExpectations {
  std::vector<std::pair<std::string, ControlKind>> controls;
  std::vector<std::string> handlers;
};
void RequireExpectations(const FormDescription& form, const FormExpectations& expected);

// How a control takes the keyboard focus within its form.
struct FocusStyle {
  bool tabStop = false;     // Tab stops on it
  bool groupStart = false;  // it starts a group that the arrow keys move within
};

// The radio buttons that follow each other under one parent are one group,
// as in any dialog: the first of them starts it and only the checked one is a
// tab stop, so Tab reaches the group once and the arrow keys move between
// its buttons. Every other control starts a group of its own and is a tab
// stop when it has a tab position, a group box never. `index` is the
// control's place in `form.controls`, the order they are created in.
FocusStyle FocusStyleOf(const FormDescription& form, size_t index);

// The kind's word in the text format ("button", "group", ...).
const char* KindWord(ControlKind kind);

}  // namespace kst
