// Loading the form description from arbitrary resource bytes.
//
// Input: the resource's bytes, as the window framework hands them to the
// parser. A description is either refused with the description's own error
// or accepted whole; an accepted one keeps every promise of the format, and
// written out again it reads back the same.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "app/form_description.h"
#include "app/main_window.h"
#include "tests/fuzz/fuzz_check.h"

namespace kst {
namespace {

constexpr int kLimit = 32767;

bool IsName(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

bool InRange(int v, int low) { return v >= low && v <= kLimit; }

int CountLines(std::string_view text) {
  return int(std::count(text.begin(), text.end(), '\n')) + 1;
}

void CheckControl(const FormDescription& form, size_t index) {
  const ControlDescription& c = form.controls[index];
  FUZZ_CHECK(IsName(c.name) && c.name != form.name);
  for (size_t j = 0; j < index; ++j) {
    const ControlDescription& e = form.controls[j];
    FUZZ_CHECK(e.name != c.name);
    if (e.parent != c.parent) continue;
    FUZZ_CHECK(c.tabOrder < 0 || e.tabOrder != c.tabOrder);
    FUZZ_CHECK(!(c.checked && e.checked));
  }
  bool parentIsContainer = c.parent == form.name;
  for (size_t j = 0; j < index; ++j)
    if (form.controls[j].name == c.parent && form.controls[j].kind == ControlKind::kGroupBox)
      parentIsContainer = true;
  FUZZ_CHECK(parentIsContainer);
  FUZZ_CHECK(InRange(c.left, -kLimit) && InRange(c.top, -kLimit));
  FUZZ_CHECK(InRange(c.width, 1) && InRange(c.height, 1));
  FUZZ_CHECK(c.tabOrder >= -1);
  FUZZ_CHECK(c.onClick.empty() || IsName(c.onClick));
  FUZZ_CHECK(!c.checked || c.kind == ControlKind::kRadioButton);
  FUZZ_CHECK(c.caption.empty() || c.kind != ControlKind::kComboList);
  FUZZ_CHECK(c.itemHeight >= 0 && c.itemHeight <= 255);
  FUZZ_CHECK(c.comboStyle != ComboStyle::kOwnerDrawFixed || c.itemHeight > 0);
}

void CheckAccepted(const FormDescription& f, int lines) {
  FUZZ_CHECK(IsName(f.name));
  FUZZ_CHECK(InRange(f.clientWidth, 1) && InRange(f.clientHeight, 1));
  FUZZ_CHECK(f.className.empty() || IsName(f.className));
  FUZZ_CHECK(f.onCreate.empty() || IsName(f.onCreate));
  if (!f.activeControl.empty()) {
    const ControlDescription* focus = f.Find(f.activeControl);
    FUZZ_CHECK(focus && focus->kind != ControlKind::kLabel &&
               focus->kind != ControlKind::kGroupBox);
  }
  int previousLine = 0;
  for (size_t i = 0; i < f.controls.size(); ++i) {
    CheckControl(f, i);
    FUZZ_CHECK(f.controls[i].line > previousLine && f.controls[i].line <= lines);
    previousLine = f.controls[i].line;
  }
}

// ---- Writing a description out again ---------------------------------------

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out + "\"";
}

const char* ColourWord(SystemColour c) {
  switch (c) {
    case SystemColour::kButtonFace: return "btnface";
    case SystemColour::kWindow: return "window";
    default: return "windowtext";
  }
}

std::string Write(const FormDescription& f) {
  std::string s = "form " + f.name + " client=" + std::to_string(f.clientWidth) + "x" +
                  std::to_string(f.clientHeight) + " caption=" + Quoted(f.caption) +
                  " border=" + (f.border == FormBorder::kSingle ? "single" : "sizeable") +
                  " position=" + (f.centred ? "centred" : "designed") +
                  " colour=" + ColourWord(f.colour) + " fontcolour=" + ColourWord(f.fontColour) +
                  " font=" + Quoted(f.fontName) + "\n";
  if (!f.className.empty()) s += "  class=" + f.className + "\n";
  if (f.fontHeight != 0) s += "  fontheight=" + std::to_string(f.fontHeight) + "\n";
  if (!f.icon.empty()) s += "  icon=" + f.icon + "\n";
  if (!f.onCreate.empty()) s += "  oncreate=" + f.onCreate + "\n";
  if (!f.activeControl.empty()) s += "  focus=" + f.activeControl + "\n";
  for (const ControlDescription& c : f.controls) {
    s += std::string(KindWord(c.kind)) + " " + c.name + " parent=" + c.parent +
         " pos=" + std::to_string(c.left) + "," + std::to_string(c.top) +
         " size=" + std::to_string(c.width) + "x" + std::to_string(c.height) +
         " visible=" + (c.visible ? "true" : "false") + " enabled=" +
         (c.enabled ? "true" : "false") + " tag=" + std::to_string(c.tag) +
         " align=" + (c.alignTop ? "top" : "none") + "\n";
    if (c.kind != ControlKind::kComboList) s += "  caption=" + Quoted(c.caption) + "\n";
    if (c.tabOrder >= 0) s += "  tab=" + std::to_string(c.tabOrder) + "\n";
    if (!c.onClick.empty()) s += "  onclick=" + c.onClick + "\n";
    if (c.kind == ControlKind::kRadioButton) s += std::string("  checked=") + (c.checked ? "true" : "false") + "\n";
    if (c.kind == ControlKind::kLabel)
      s += std::string("  transparent=") + (c.transparent ? "true" : "false") +
           " autosize=" + (c.autoSize ? "true" : "false") + "\n";
    if (c.kind == ControlKind::kComboList) {
      s += std::string("  style=") +
           (c.comboStyle == ComboStyle::kOwnerDrawFixed ? "ownerdrawfixed" : "droplist") + "\n";
      if (c.itemHeight > 0) s += "  itemheight=" + std::to_string(c.itemHeight) + "\n";
    }
  }
  return s;
}

bool SameControl(const ControlDescription& a, const ControlDescription& b) {
  return a.kind == b.kind && a.name == b.name && a.parent == b.parent && a.left == b.left &&
         a.top == b.top && a.width == b.width && a.height == b.height && a.caption == b.caption &&
         a.visible == b.visible && a.enabled == b.enabled && a.tabOrder == b.tabOrder &&
         a.tag == b.tag && a.alignTop == b.alignTop && a.onClick == b.onClick &&
         a.checked == b.checked && a.transparent == b.transparent && a.autoSize == b.autoSize &&
         a.comboStyle == b.comboStyle && a.itemHeight == b.itemHeight;
}

bool SameForm(const FormDescription& a, const FormDescription& b) {
  return a.name == b.name && a.className == b.className && a.caption == b.caption &&
         a.clientWidth == b.clientWidth && a.clientHeight == b.clientHeight &&
         a.border == b.border && a.centred == b.centred && a.colour == b.colour &&
         a.fontName == b.fontName && a.fontHeight == b.fontHeight &&
         a.fontColour == b.fontColour && a.icon == b.icon && a.onCreate == b.onCreate &&
         a.activeControl == b.activeControl && a.controls.size() == b.controls.size() &&
         std::equal(a.controls.begin(), a.controls.end(), b.controls.begin(), SameControl);
}

void CheckRefusal(const FormDescriptionError& e, int lines) {
  FUZZ_CHECK(e.Line() >= 1 && e.Line() <= lines);
  FUZZ_CHECK(std::strncmp(e.what(), "Form description, line ", 23) == 0);
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  int lines = kst::CountLines(text);
  kst::FormDescription form;
  try {
    form = kst::ParseFormDescription(text);
  } catch (const kst::FormDescriptionError& e) {
    kst::CheckRefusal(e, lines);
    return 0;
  }
  kst::CheckAccepted(form, lines);
  std::string written = kst::Write(form);
  kst::FormDescription again;
  try {
    again = kst::ParseFormDescription(written);
  } catch (const kst::FormDescriptionError& e) {
    std::fprintf(stderr, "%s\n%s", e.what(), written.c_str());
    FUZZ_CHECK(!"an accepted description written out is refused");
  }
  FUZZ_CHECK(kst::SameForm(form, again));
  try {
    kst::RequireExpectations(form, kst::MainFormExpectations());
    for (const auto& [name, kind] : kst::MainFormExpectations().controls)
      FUZZ_CHECK(form.Find(name) && form.Find(name)->kind == kind);
  } catch (const kst::FormDescriptionError& e) {
    FUZZ_CHECK(e.Line() >= 0 && e.Line() <= lines);
  }
  return 0;
}
