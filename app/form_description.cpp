#include "app/form_description.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace kst {
namespace {

struct Value {
  std::string text;
  bool quoted = false;
};

struct Setting {
  std::string key;
  Value value;
  int line = 0;
};

struct Record {
  std::string kind;
  std::string name;
  int line = 0;
  std::vector<Setting> settings;
};

[[noreturn]] void Fail(int line, const std::string& message) {
  throw FormDescriptionError(line, message);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsIdentifier(const std::string& s) {
  if (s.empty()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

// Scans the words and settings of one line.
class LineScanner {
 public:
  LineScanner(std::string_view text, int line) : text_(text), line_(line) {}

  bool AtEnd() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ == text_.size();
  }

  std::string Word() {
    size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    return std::string(text_.substr(start, pos_ - start));
  }

  Setting NextSetting() {
    size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '=' && !IsBlank(text_[pos_])) ++pos_;
    Setting s;
    s.key = std::string(text_.substr(start, pos_ - start));
    s.line = line_;
    if (pos_ == text_.size() || text_[pos_] != '=')
      Fail(line_, "setting \"" + s.key + "\" has no '=' and value");
    ++pos_;
    s.value = pos_ < text_.size() && text_[pos_] == '"' ? Quoted() : Value{Word(), false};
    if (s.value.text.empty() && !s.value.quoted)
      Fail(line_, "setting \"" + s.key + "\" has an empty value");
    return s;
  }

 private:
  Value Quoted() {
    Value v{"", true};
    for (++pos_; pos_ < text_.size(); ++pos_) {
      char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        if (pos_ < text_.size() && !IsBlank(text_[pos_]))
          Fail(line_, "text value is followed by other characters");
        return v;
      }
      if (c == '\\') v.text += Escape();
      else v.text += c;
    }
    Fail(line_, "text value is not closed by a quote");
  }

  char Escape() {
    if (++pos_ == text_.size()) Fail(line_, "text value ends inside an escape");
    switch (text_[pos_]) {
      case '"': return '"';
      case '\\': return '\\';
      case 'n': return '\n';
      default: Fail(line_, std::string("unknown escape \\") + text_[pos_]);
    }
  }

  std::string_view text_;
  int line_;
  size_t pos_ = 0;
};

void ScanSettings(LineScanner& scanner, Record& record) {
  while (!scanner.AtEnd()) record.settings.push_back(scanner.NextSetting());
}

Record StartRecord(LineScanner& scanner, int line) {
  Record r;
  r.line = line;
  r.kind = scanner.Word();
  if (scanner.AtEnd()) Fail(line, "record \"" + r.kind + "\" has no name");
  r.name = scanner.Word();
  if (r.name.find('=') != std::string::npos)
    Fail(line, "record \"" + r.kind + "\" has no name");
  if (!IsIdentifier(r.name)) Fail(line, "\"" + r.name + "\" is not a valid name");
  ScanSettings(scanner, r);
  return r;
}

std::vector<Record> SplitRecords(std::string_view text) {
  std::vector<Record> records;
  int line = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view row = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line;
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    LineScanner scanner(row, line);
    if (scanner.AtEnd()) continue;
    size_t first = row.find_first_not_of(" \t");
    if (row[first] == '#') continue;
    if (first == 0) {
      records.push_back(StartRecord(scanner, line));
    } else {
      if (records.empty()) Fail(line, "indented settings before the first record");
      ScanSettings(scanner, records.back());
    }
  }
  return records;
}

// ---- Values -----------------------------------------------------------------

void RequireBare(const Setting& s) {
  if (s.value.quoted) Fail(s.line, "setting \"" + s.key + "\" takes no quoted text");
}

int Number(const Setting& s, std::string_view text, int low, int high) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  bool whole = end == text.data() + text.size() && !text.empty();
  if (error == std::errc::result_out_of_range && whole)
    Fail(s.line, "setting \"" + s.key + "\" is out of range: " + std::string(text));
  if (error != std::errc() || !whole)
    Fail(s.line, "setting \"" + s.key + "\" needs a whole number, not \"" +
                     std::string(text) + "\"");
  if (value < low || value > high)
    Fail(s.line, "setting \"" + s.key + "\" is out of range: " + std::string(text));
  return value;
}

constexpr int kCoordinateLimit = 32767;

int Integer(const Setting& s, int low = -kCoordinateLimit, int high = kCoordinateLimit) {
  RequireBare(s);
  return Number(s, s.value.text, low, high);
}

std::pair<int, int> Pair(const Setting& s, char separator, int low) {
  RequireBare(s);
  size_t at = s.value.text.find(separator);
  if (at == std::string::npos)
    Fail(s.line, "setting \"" + s.key + "\" needs two numbers joined by '" +
                     std::string(1, separator) + "'");
  std::string_view text(s.value.text);
  return {Number(s, text.substr(0, at), low, kCoordinateLimit),
          Number(s, text.substr(at + 1), low, kCoordinateLimit)};
}

bool Flag(const Setting& s) {
  RequireBare(s);
  if (s.value.text == "true") return true;
  if (s.value.text == "false") return false;
  Fail(s.line, "setting \"" + s.key + "\" needs true or false");
}

std::string Text(const Setting& s) {
  if (!s.value.quoted) Fail(s.line, "setting \"" + s.key + "\" needs a quoted text");
  return s.value.text;
}

std::string Name(const Setting& s) {
  RequireBare(s);
  if (!IsIdentifier(s.value.text))
    Fail(s.line, "setting \"" + s.key + "\" needs a name, not \"" + s.value.text + "\"");
  return s.value.text;
}

// A resource is named by a word or by a positive number.
std::string ResourceName(const Setting& s) {
  RequireBare(s);
  bool digits = s.value.text.find_first_not_of("0123456789") == std::string::npos;
  if (digits) Number(s, s.value.text, 1, 65535);
  else Name(s);
  return s.value.text;
}

template <typename T>
T Choice(const Setting& s, const std::map<std::string, T>& choices) {
  RequireBare(s);
  auto it = choices.find(s.value.text);
  if (it == choices.end())
    Fail(s.line, "setting \"" + s.key + "\" does not accept \"" + s.value.text + "\"");
  return it->second;
}

const std::map<std::string, SystemColour> kColours = {
    {"btnface", SystemColour::kButtonFace},
    {"window", SystemColour::kWindow},
    {"windowtext", SystemColour::kWindowText}};

// ---- Records ----------------------------------------------------------------

template <typename Target>
using Appliers = std::map<std::string, std::function<void(Target&, const Setting&)>>;

template <typename Target>
std::set<std::string> Apply(Target& target, const Record& record,
                            const Appliers<Target>& appliers) {
  std::set<std::string> seen;
  for (const Setting& s : record.settings) {
    auto it = appliers.find(s.key);
    if (it == appliers.end())
      Fail(s.line, "\"" + s.key + "\" is not a setting of a " + record.kind);
    if (!seen.insert(s.key).second) Fail(s.line, "setting \"" + s.key + "\" is given twice");
    it->second(target, s);
  }
  return seen;
}

const Appliers<FormDescription>& FormAppliers() {
  using F = FormDescription;
  static const Appliers<F> appliers = {
      {"class", [](F& f, const Setting& s) { f.className = Name(s); }},
      {"caption", [](F& f, const Setting& s) { f.caption = Text(s); }},
      {"client", [](F& f, const Setting& s) {
         std::tie(f.clientWidth, f.clientHeight) = Pair(s, 'x', 1);
       }},
      {"border", [](F& f, const Setting& s) {
         f.border = Choice(s, std::map<std::string, FormBorder>{
                                  {"single", FormBorder::kSingle},
                                  {"sizeable", FormBorder::kSizeable}});
       }},
      {"position", [](F& f, const Setting& s) {
         f.centred = Choice(s, std::map<std::string, bool>{{"centred", true},
                                                          {"designed", false}});
       }},
      {"colour", [](F& f, const Setting& s) { f.colour = Choice(s, kColours); }},
      {"font", [](F& f, const Setting& s) { f.fontName = Text(s); }},
      {"fontheight", [](F& f, const Setting& s) {
         f.fontHeight = Integer(s);
         if (f.fontHeight == 0) Fail(s.line, "setting \"fontheight\" cannot be 0");
       }},
      {"fontcolour", [](F& f, const Setting& s) { f.fontColour = Choice(s, kColours); }},
      {"icon", [](F& f, const Setting& s) { f.icon = ResourceName(s); }},
      {"oncreate", [](F& f, const Setting& s) { f.onCreate = Name(s); }},
      {"focus", [](F& f, const Setting& s) { f.activeControl = Name(s); }},
  };
  return appliers;
}

using C = ControlDescription;

Appliers<C> CommonAppliers() {
  return {
      {"parent", [](C& c, const Setting& s) { c.parent = Name(s); }},
      {"pos", [](C& c, const Setting& s) {
         std::tie(c.left, c.top) = Pair(s, ',', -kCoordinateLimit);
       }},
      {"size", [](C& c, const Setting& s) { std::tie(c.width, c.height) = Pair(s, 'x', 1); }},
      {"caption", [](C& c, const Setting& s) { c.caption = Text(s); }},
      {"visible", [](C& c, const Setting& s) { c.visible = Flag(s); }},
      {"enabled", [](C& c, const Setting& s) { c.enabled = Flag(s); }},
      {"tag", [](C& c, const Setting& s) { c.tag = Integer(s, INT32_MIN, INT32_MAX); }},
      {"align", [](C& c, const Setting& s) {
         c.alignTop = Choice(s, std::map<std::string, bool>{{"top", true}, {"none", false}});
       }},
  };
}

void AddTabAndClick(Appliers<C>& a) {
  a["tab"] = [](C& c, const Setting& s) { c.tabOrder = Integer(s, 0); };
  a["onclick"] = [](C& c, const Setting& s) { c.onClick = Name(s); };
}

const Appliers<C>& ControlAppliers(ControlKind kind) {
  static const std::map<ControlKind, Appliers<C>> byKind = [] {
    std::map<ControlKind, Appliers<C>> m;
    Appliers<C> button = CommonAppliers();
    AddTabAndClick(button);
    m[ControlKind::kButton] = button;
    Appliers<C> group = CommonAppliers();
    group["tab"] = [](C& c, const Setting& s) { c.tabOrder = Integer(s, 0); };
    m[ControlKind::kGroupBox] = group;
    Appliers<C> radio = button;
    radio["checked"] = [](C& c, const Setting& s) { c.checked = Flag(s); };
    m[ControlKind::kRadioButton] = radio;
    Appliers<C> label = CommonAppliers();
    label["transparent"] = [](C& c, const Setting& s) { c.transparent = Flag(s); };
    label["autosize"] = [](C& c, const Setting& s) { c.autoSize = Flag(s); };
    m[ControlKind::kLabel] = label;
    Appliers<C> combo = CommonAppliers();
    combo.erase("caption");
    combo["tab"] = [](C& c, const Setting& s) { c.tabOrder = Integer(s, 0); };
    combo["style"] = [](C& c, const Setting& s) {
      c.comboStyle = Choice(s, std::map<std::string, ComboStyle>{
                                   {"droplist", ComboStyle::kDropDownList},
                                   {"ownerdrawfixed", ComboStyle::kOwnerDrawFixed}});
    };
    combo["itemheight"] = [](C& c, const Setting& s) { c.itemHeight = Integer(s, 1, 255); };
    m[ControlKind::kComboList] = combo;
    return m;
  }();
  return byKind.at(kind);
}

const std::map<std::string, ControlKind>& KindsByWord() {
  static const std::map<std::string, ControlKind> kinds = {
      {"button", ControlKind::kButton},     {"group", ControlKind::kGroupBox},
      {"radio", ControlKind::kRadioButton}, {"label", ControlKind::kLabel},
      {"combo", ControlKind::kComboList}};
  return kinds;
}

void RequireKeys(const Record& r, const std::set<std::string>& seen,
                 std::initializer_list<const char*> keys) {
  for (const char* key : keys)
    if (!seen.count(key)) Fail(r.line, r.kind + " \"" + r.name + "\" lacks \"" + key + "\"");
}

FormDescription BuildForm(const Record& r) {
  if (r.kind != "form") Fail(r.line, "the description must begin with the form record");
  FormDescription form;
  form.name = r.name;
  RequireKeys(r, Apply(form, r, FormAppliers()), {"client"});
  return form;
}

bool IsContainer(const FormDescription& form, const std::string& name) {
  if (name == form.name) return true;
  const ControlDescription* c = form.Find(name);
  return c && c->kind == ControlKind::kGroupBox;
}

ControlDescription BuildControl(const FormDescription& form, const Record& r) {
  auto kind = KindsByWord().find(r.kind);
  if (kind == KindsByWord().end()) {
    if (r.kind == "form") Fail(r.line, "a description holds one form record only");
    Fail(r.line, "unknown kind \"" + r.kind + "\"");
  }
  if (r.name == form.name || form.Find(r.name))
    Fail(r.line, "name \"" + r.name + "\" is used twice");
  ControlDescription c;
  c.kind = kind->second;
  c.name = r.name;
  c.line = r.line;
  RequireKeys(r, Apply(c, r, ControlAppliers(c.kind)), {"parent", "pos", "size"});
  if (!IsContainer(form, c.parent))
    Fail(r.line, "parent \"" + c.parent + "\" is not the form or an earlier group");
  if (c.comboStyle == ComboStyle::kOwnerDrawFixed && c.itemHeight == 0)
    Fail(r.line, "owner-drawn list \"" + c.name + "\" lacks \"itemheight\"");
  return c;
}

// Cross-record rules: unique tab positions and one checked radio per parent.
void CheckSiblings(const FormDescription& form) {
  std::set<std::pair<std::string, int>> tabs;
  std::set<std::string> checkedIn;
  for (const ControlDescription& c : form.controls) {
    if (c.tabOrder >= 0 && !tabs.insert({c.parent, c.tabOrder}).second)
      Fail(c.line, "tab position " + std::to_string(c.tabOrder) + " is used twice in \"" +
                       c.parent + "\"");
    if (c.checked && !checkedIn.insert(c.parent).second)
      Fail(c.line, "a second radio button is checked in \"" + c.parent + "\"");
  }
}

void CheckFocus(const FormDescription& form, int line) {
  if (form.activeControl.empty()) return;
  const ControlDescription* c = form.Find(form.activeControl);
  if (!c) Fail(line, "focus control \"" + form.activeControl + "\" is not described");
  if (c->kind == ControlKind::kLabel || c->kind == ControlKind::kGroupBox)
    Fail(line, "focus control \"" + form.activeControl + "\" cannot take the focus");
}

}  // namespace

FormDescriptionError::FormDescriptionError(int line, const std::string& message)
    : std::runtime_error("Form description, line " + std::to_string(line) + ": " + message),
      line_(line) {}

const ControlDescription* FormDescription::Find(const std::string& name) const {
  for (const ControlDescription& c : controls)
    if (c.name == name) return &c;
  return nullptr;
}

const char* KindWord(ControlKind kind) {
  for (const auto& [word, k] : KindsByWord())
    if (k == kind) return word.c_str();
  return "?";
}

FormDescription ParseFormDescription(std::string_view text) {
  std::vector<Record> records = SplitRecords(text);
  if (records.empty()) Fail(1, "the description is empty");
  FormDescription form = BuildForm(records.front());
  for (size_t i = 1; i < records.size(); ++i)
    form.controls.push_back(BuildControl(form, records[i]));
  CheckSiblings(form);
  CheckFocus(form, records.front().line);
  return form;
}

void RequireExpectations(const FormDescription& form, const FormExpectations& expected) {
  for (const auto& [name, kind] : expected.controls) {
    const ControlDescription* c = form.Find(name);
    if (!c) Fail(0, "the form has no control \"" + name + "\"");
    if (c->kind != kind)
      Fail(c->line, "control \"" + name + "\" must be a " + KindWord(kind) + ", not a " +
                        KindWord(c->kind));
  }
  auto known = [&](const std::string& handler) {
    return handler.empty() || std::find(expected.handlers.begin(), expected.handlers.end(),
                                        handler) != expected.handlers.end();
  };
  if (!known(form.onCreate)) Fail(0, "handler \"" + form.onCreate + "\" is not known");
  for (const ControlDescription& c : form.controls)
    if (!known(c.onClick)) Fail(c.line, "handler \"" + c.onClick + "\" is not known");
}

}  // namespace kst
