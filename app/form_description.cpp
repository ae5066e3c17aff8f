#include "app/form_description.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

#include "diag/error_text.h"

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

// Throws the error of `line` whose message is the parts joined.
[[noreturn]] void Fail(int line, std::initializer_list<std::string_view> parts) {
  std::string message;
  for (std::string_view part : parts) message += part;
  throw FormDescriptionError(line, message);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsIdentifier(std::string_view s) {
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
      Fail(line_, {"setting \"", s.key, "\" has no '=' and value"});
    ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '"') Quoted(s.value);
    else s.value.text = Word();
    if (s.value.text.empty() && !s.value.quoted)
      Fail(line_, {"setting \"", s.key, "\" has an empty value"});
    return s;
  }

 private:
  void Quoted(Value& v) {
    v.quoted = true;
    for (++pos_; pos_ < text_.size(); ++pos_) {
      char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        if (pos_ < text_.size() && !IsBlank(text_[pos_]))
          Fail(line_, {"text value is followed by other characters"});
        return;
      }
      v.text += c == '\\' ? Escape() : c;
    }
    Fail(line_, {"text value is not closed by a quote"});
  }

  char Escape() {
    if (++pos_ == text_.size()) Fail(line_, {"text value ends inside an escape"});
    switch (text_[pos_]) {
      case '"': return '"';
      case '\\': return '\\';
      case 'n': return '\n';
      default: Fail(line_, {"unknown escape \\", text_.substr(pos_, 1)});
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
  if (scanner.AtEnd()) Fail(line, {"record \"", r.kind, "\" has no name"});
  r.name = scanner.Word();
  if (r.name.find('=') != std::string::npos) Fail(line, {"record \"", r.kind, "\" has no name"});
  if (!IsIdentifier(r.name)) Fail(line, {"\"", r.name, "\" is not a valid name"});
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
      if (records.empty()) Fail(line, {"indented settings before the first record"});
      ScanSettings(scanner, records.back());
    }
  }
  return records;
}

// ---- Values -----------------------------------------------------------------

void RequireBare(const Setting& s) {
  if (s.value.quoted) Fail(s.line, {"setting \"", s.key, "\" takes no quoted text"});
}

int Number(const Setting& s, std::string_view text, int low, int high) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  bool whole = end == text.data() + text.size() && !text.empty();
  if (error == std::errc::result_out_of_range && whole)
    Fail(s.line, {"setting \"", s.key, "\" is out of range: ", text});
  if (error != std::errc() || !whole)
    Fail(s.line, {"setting \"", s.key, "\" needs a whole number, not \"", text, "\""});
  if (value < low || value > high)
    Fail(s.line, {"setting \"", s.key, "\" is out of range: ", text});
  return value;
}

constexpr int kCoordinateLimit = 32767;

int Integer(const Setting& s, int low = -kCoordinateLimit, int high = kCoordinateLimit) {
  RequireBare(s);
  return Number(s, s.value.text, low, high);
}

// Two numbers joined by `separator`, each from `low` to the coordinate limit.
void Pair(const Setting& s, char separator, int low, int& first, int& second) {
  RequireBare(s);
  size_t at = s.value.text.find(separator);
  if (at == std::string::npos)
    Fail(s.line, {"setting \"", s.key, "\" needs two numbers joined by '",
                  std::string_view(&separator, 1), "'"});
  std::string_view text(s.value.text);
  first = Number(s, text.substr(0, at), low, kCoordinateLimit);
  second = Number(s, text.substr(at + 1), low, kCoordinateLimit);
}

bool Flag(const Setting& s) {
  RequireBare(s);
  if (s.value.text == "true") return true;
  if (s.value.text == "false") return false;
  Fail(s.line, {"setting \"", s.key, "\" needs true or false"});
}

std::string Text(const Setting& s) {
  if (!s.value.quoted) Fail(s.line, {"setting \"", s.key, "\" needs a quoted text"});
  return s.value.text;
}

std::string Name(const Setting& s) {
  RequireBare(s);
  if (!IsIdentifier(s.value.text))
    Fail(s.line, {"setting \"", s.key, "\" needs a name, not \"", s.value.text, "\""});
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

// One word a setting accepts and what it stands for.
template <typename T>
struct Word {
  const char* word;
  T value;
};

template <typename T, size_t N>
T Choice(const Setting& s, const Word<T> (&words)[N]) {
  RequireBare(s);
  for (const Word<T>& w : words)
    if (s.value.text == w.word) return w.value;
  Fail(s.line, {"setting \"", s.key, "\" does not accept \"", s.value.text, "\""});
}

constexpr Word<SystemColour> kColours[] = {{"btnface", SystemColour::kButtonFace},
                                           {"window", SystemColour::kWindow},
                                           {"windowtext", SystemColour::kWindowText}};
constexpr Word<FormBorder> kBorders[] = {{"single", FormBorder::kSingle},
                                         {"sizeable", FormBorder::kSizeable}};
constexpr Word<bool> kPositions[] = {{"centred", true}, {"designed", false}};
constexpr Word<bool> kAlignments[] = {{"top", true}, {"none", false}};
constexpr Word<ComboStyle> kComboStyles[] = {{"droplist", ComboStyle::kDropDownList},
                                             {"ownerdrawfixed", ComboStyle::kOwnerDrawFixed}};
constexpr Word<ControlKind> kKinds[] = {{"button", ControlKind::kButton},
                                        {"group", ControlKind::kGroupBox},
                                        {"radio", ControlKind::kRadioButton},
                                        {"label", ControlKind::kLabel},
                                        {"combo", ControlKind::kComboList}};

// ---- Records ----------------------------------------------------------------

using F = FormDescription;
using C = ControlDescription;

// A setting the form record accepts.
struct FormSetting {
  const char* key;
  void (*apply)(F&, const Setting&);
};

const FormSetting kFormSettings[] = {
    {"class", [](F& f, const Setting& s) { f.className = Name(s); }},
    {"caption", [](F& f, const Setting& s) { f.caption = Text(s); }},
    {"client", [](F& f, const Setting& s) { Pair(s, 'x', 1, f.clientWidth, f.clientHeight); }},
    {"border", [](F& f, const Setting& s) { f.border = Choice(s, kBorders); }},
    {"position", [](F& f, const Setting& s) { f.centred = Choice(s, kPositions); }},
    {"colour", [](F& f, const Setting& s) { f.colour = Choice(s, kColours); }},
    {"font", [](F& f, const Setting& s) { f.fontName = Text(s); }},
    {"fontheight",
     [](F& f, const Setting& s) {
       f.fontHeight = Integer(s);
       if (f.fontHeight == 0) Fail(s.line, {"setting \"fontheight\" cannot be 0"});
     }},
    {"fontcolour", [](F& f, const Setting& s) { f.fontColour = Choice(s, kColours); }},
    {"icon", [](F& f, const Setting& s) { f.icon = ResourceName(s); }},
    {"oncreate", [](F& f, const Setting& s) { f.onCreate = Name(s); }},
    {"focus", [](F& f, const Setting& s) { f.activeControl = Name(s); }},
};

constexpr unsigned KindBit(ControlKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr unsigned kButton = KindBit(ControlKind::kButton);
constexpr unsigned kGroup = KindBit(ControlKind::kGroupBox);
constexpr unsigned kRadio = KindBit(ControlKind::kRadioButton);
constexpr unsigned kLabel = KindBit(ControlKind::kLabel);
constexpr unsigned kCombo = KindBit(ControlKind::kComboList);
constexpr unsigned kEveryKind = kButton | kGroup | kRadio | kLabel | kCombo;

// A setting of control records, and the kinds (bits) that accept it.
struct ControlSetting {
  const char* key;
  unsigned kinds;
  void (*apply)(C&, const Setting&);
};

const ControlSetting kControlSettings[] = {
    {"parent", kEveryKind, [](C& c, const Setting& s) { c.parent = Name(s); }},
    {"pos", kEveryKind,
     [](C& c, const Setting& s) { Pair(s, ',', -kCoordinateLimit, c.left, c.top); }},
    {"size", kEveryKind, [](C& c, const Setting& s) { Pair(s, 'x', 1, c.width, c.height); }},
    // Lists show lines, not a caption.
    {"caption", kEveryKind & ~kCombo, [](C& c, const Setting& s) { c.caption = Text(s); }},
    {"visible", kEveryKind, [](C& c, const Setting& s) { c.visible = Flag(s); }},
    {"enabled", kEveryKind, [](C& c, const Setting& s) { c.enabled = Flag(s); }},
    {"tag", kEveryKind,
     [](C& c, const Setting& s) { c.tag = Integer(s, INT32_MIN, INT32_MAX); }},
    {"align", kEveryKind, [](C& c, const Setting& s) { c.alignTop = Choice(s, kAlignments); }},
    {"tab", kButton | kGroup | kRadio | kCombo,
     [](C& c, const Setting& s) { c.tabOrder = Integer(s, 0); }},
    {"onclick", kButton | kRadio, [](C& c, const Setting& s) { c.onClick = Name(s); }},
    {"checked", kRadio, [](C& c, const Setting& s) { c.checked = Flag(s); }},
    {"transparent", kLabel, [](C& c, const Setting& s) { c.transparent = Flag(s); }},
    {"autosize", kLabel, [](C& c, const Setting& s) { c.autoSize = Flag(s); }},
    {"style", kCombo, [](C& c, const Setting& s) { c.comboStyle = Choice(s, kComboStyles); }},
    {"itemheight", kCombo, [](C& c, const Setting& s) { c.itemHeight = Integer(s, 1, 255); }},
};

// Refuses a key given twice in one record; the keys seen so far are in
// `settings` before `s`.
void RequireFirstOfKey(const std::vector<Setting>& settings, const Setting& s) {
  for (const Setting* earlier = settings.data(); earlier != &s; ++earlier)
    if (earlier->key == s.key) Fail(s.line, {"setting \"", s.key, "\" is given twice"});
}

[[noreturn]] void UnknownSetting(const Record& r, const Setting& s) {
  Fail(s.line, {"\"", s.key, "\" is not a setting of a ", r.kind});
}

void ApplyFormSettings(F& form, const Record& r) {
  for (const Setting& s : r.settings) {
    auto known = std::find_if(std::begin(kFormSettings), std::end(kFormSettings),
                              [&](const FormSetting& fs) { return s.key == fs.key; });
    if (known == std::end(kFormSettings)) UnknownSetting(r, s);
    RequireFirstOfKey(r.settings, s);
    known->apply(form, s);
  }
}

void ApplyControlSettings(C& control, const Record& r) {
  unsigned kind = KindBit(control.kind);
  for (const Setting& s : r.settings) {
    auto known = std::find_if(std::begin(kControlSettings), std::end(kControlSettings),
                              [&](const ControlSetting& cs) {
                                return (cs.kinds & kind) && s.key == cs.key;
                              });
    if (known == std::end(kControlSettings)) UnknownSetting(r, s);
    RequireFirstOfKey(r.settings, s);
    known->apply(control, s);
  }
}

void RequireKeys(const Record& r, std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    bool given = std::any_of(r.settings.begin(), r.settings.end(),
                             [&](const Setting& s) { return s.key == key; });
    if (!given) Fail(r.line, {r.kind, " \"", r.name, "\" lacks \"", key, "\""});
  }
}

FormDescription BuildForm(const Record& r) {
  if (r.kind != "form") Fail(r.line, {"the description must begin with the form record"});
  FormDescription form;
  form.name = r.name;
  ApplyFormSettings(form, r);
  RequireKeys(r, {"client"});
  return form;
}

bool IsContainer(const FormDescription& form, const std::string& name) {
  if (name == form.name) return true;
  const ControlDescription* c = form.Find(name);
  return c && c->kind == ControlKind::kGroupBox;
}

ControlDescription BuildControl(const FormDescription& form, const Record& r) {
  auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                           [&](const Word<ControlKind>& k) { return r.kind == k.word; });
  if (kind == std::end(kKinds)) {
    if (r.kind == "form") Fail(r.line, {"a description holds one form record only"});
    Fail(r.line, {"unknown kind \"", r.kind, "\""});
  }
  if (r.name == form.name || form.Find(r.name))
    Fail(r.line, {"name \"", r.name, "\" is used twice"});
  ControlDescription c;
  c.kind = kind->value;
  c.name = r.name;
  c.line = r.line;
  ApplyControlSettings(c, r);
  RequireKeys(r, {"parent", "pos", "size"});
  if (!IsContainer(form, c.parent))
    Fail(r.line, {"parent \"", c.parent, "\" is not the form or an earlier group"});
  if (c.comboStyle == ComboStyle::kOwnerDrawFixed && c.itemHeight == 0)
    Fail(r.line, {"owner-drawn list \"", c.name, "\" lacks \"itemheight\""});
  return c;
}

// Cross-record rules: unique tab positions and one checked radio per parent.
// A form holds a few dozen controls, so each is compared with those before it.
void CheckSiblings(const FormDescription& form) {
  const std::vector<ControlDescription>& all = form.controls;
  for (auto c = all.begin(); c != all.end(); ++c) {
    auto earlierSibling = [&](auto same) {
      return std::any_of(all.begin(), c, [&](const ControlDescription& earlier) {
        return earlier.parent == c->parent && same(earlier);
      });
    };
    if (c->tabOrder >= 0 &&
        earlierSibling([&](const ControlDescription& e) { return e.tabOrder == c->tabOrder; }))
      Fail(c->line, {"tab position ", DecimalText(c->tabOrder), " is used twice in \"",
                     c->parent, "\""});
    if (c->checked && earlierSibling([](const ControlDescription& e) { return e.checked; }))
      Fail(c->line, {"a second radio button is checked in \"", c->parent, "\""});
  }
}

void CheckFocus(const FormDescription& form, int line) {
  if (form.activeControl.empty()) return;
  const ControlDescription* c = form.Find(form.activeControl);
  if (!c) Fail(line, {"focus control \"", form.activeControl, "\" is not described"});
  if (c->kind == ControlKind::kLabel || c->kind == ControlKind::kGroupBox)
    Fail(line, {"focus control \"", form.activeControl, "\" cannot take the focus"});
}

}  // namespace

FormDescriptionError::FormDescriptionError(int line, const std::string& message)
    : Failure("Form description, line " + DecimalText(line) + ": " + message),
      line_(line) {}

const ControlDescription* FormDescription::Find(const std::string& name) const {
  for (const ControlDescription& c : controls)
    if (c.name == name) return &c;
  return nullptr;
}

const char* KindWord(ControlKind kind) {
  for (const Word<ControlKind>& k : kKinds)
    if (k.value == kind) return k.word;
  return "?";
}

FormDescription ParseFormDescription(std::string_view text) {
  std::vector<Record> records = SplitRecords(text);
  if (records.empty()) Fail(1, {"the description is empty"});
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
    if (!c) Fail(0, {"the form has no control \"", name, "\""});
    if (c->kind != kind)
      Fail(c->line, {"control \"", name, "\" must be a ", KindWord(kind), ", not a ",
                     KindWord(c->kind)});
  }
  auto known = [&](const std::string& handler) {
    return handler.empty() || std::find(expected.handlers.begin(), expected.handlers.end(),
                                        handler) != expected.handlers.end();
  };
  if (!known(form.onCreate)) Fail(0, {"handler \"", form.onCreate, "\" is not known"});
  for (const ControlDescription& c : form.controls)
    if (!known(c.onClick)) Fail(c.line, {"handler \"", c.onClick, "\" is not known"});
}

FocusStyle FocusStyleOf(const FormDescription& form, size_t index) {
  const ControlDescription& c = form.controls.at(index);
  if (c.kind != ControlKind::kRadioButton) {
    return {c.tabOrder >= 0 && c.kind != ControlKind::kGroupBox, true};
  }
  const ControlDescription* previous = index > 0 ? &form.controls[index - 1] : nullptr;
  bool continuesGroup = previous != nullptr && previous->kind == ControlKind::kRadioButton &&
                        previous->parent == c.parent;
  return {c.checked, !continuesGroup};
}

}  // namespace kst
