#include "app/win32/framework.h"

#include <algorithm>
#include <charconv>

#include "diag/failure.h"

namespace kst::framework {
namespace {

const char* const kFormProperty = "KstForm";
constexpr int kFirstControlId = 100;
constexpr int kDroppedLines = 8;  // lines the dropped list has room for

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

int SystemColourIndex(SystemColour colour) {
  switch (colour) {
    case SystemColour::kButtonFace: return COLOR_BTNFACE;
    case SystemColour::kWindow: return COLOR_WINDOW;
    case SystemColour::kWindowText: return COLOR_WINDOWTEXT;
  }
  return COLOR_BTNFACE;
}

[[noreturn]] void WindowsRefused(const std::string& what) {
  throw Failure("Cannot create " + what + " (error " + std::to_string(GetLastError()) + ")");
}

std::string WindowText(HWND hwnd) {
  int length = GetWindowTextLengthA(hwnd);
  std::string text(size_t(length) + 1, '\0');
  int copied = GetWindowTextA(hwnd, &text[0], length + 1);
  text.resize(size_t(std::max(copied, 0)));
  return text;
}

// Loads the described icon: a number is a resource id, a word a name.
HICON LoadFormIcon(const std::string& icon) {
  if (icon.empty()) return nullptr;
  bool number = icon.find_first_not_of("0123456789") == std::string::npos;
  int resource = 0;
  if (number) std::from_chars(icon.data(), icon.data() + icon.size(), resource);
  const char* id = number ? MAKEINTRESOURCEA(resource) : icon.c_str();
  return static_cast<HICON>(LoadImageA(Instance(), id, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
}

std::function<void(const std::string&)>& ExceptionHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}


}  // namespace

// ---- GdiObject ----------------------------------------------------------------

void GdiObject::Reset(HGDIOBJ object) {
  if (object_) DeleteObject(object_);
  object_ = object;
}

// ---- TControl -------------------------------------------------------------------

TControl::TControl(TForm& form, const ControlDescription& description)
    : form_(form), description_(description) {}

void TControl::CreateWindowIn(HWND parent, int id, FocusStyle focus) {
  const ControlDescription& d = description_;
  DWORD style = WS_CHILD | Style();
  if (d.visible) style |= WS_VISIBLE;
  if (!d.enabled) style |= WS_DISABLED;
  if (focus.tabStop) style |= WS_TABSTOP;
  if (focus.groupStart) style |= WS_GROUP;
  handle_ = CreateWindowExA(ExStyle(), WindowClass(), d.caption.c_str(), style, d.left, d.top,
                            d.width, CreateHeight(), parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(),
                            nullptr);
  if (!handle_) WindowsRefused("control \"" + d.name + "\"");
  SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(form_.Font()), FALSE);
}

std::string TControl::Caption() const { return WindowText(handle_); }

void TControl::SetCaption(const std::string& caption) { SetWindowTextA(handle_, caption.c_str()); }

bool TControl::Visible() const { return (GetWindowLongA(handle_, GWL_STYLE) & WS_VISIBLE) != 0; }

void TControl::SetVisible(bool visible) { ShowWindow(handle_, visible ? SW_SHOW : SW_HIDE); }

bool TControl::Enabled() const { return IsWindowEnabled(handle_) != FALSE; }

void TControl::SetEnabled(bool enabled) { EnableWindow(handle_, enabled ? TRUE : FALSE); }

void TControl::Notify(WORD) {}

void TControl::RunClick(WORD code) const {
  if (code == BN_CLICKED && click_) form_.Run(click_);
}

void TButton::Notify(WORD code) { RunClick(code); }

// ---- TRadioButton ---------------------------------------------------------------

bool TRadioButton::Checked() const {
  return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

namespace {

void SetTabStop(HWND window, bool tabStop) {
  LONG style = GetWindowLongA(window, GWL_STYLE);
  LONG wanted = tabStop ? (style | WS_TABSTOP) : (style & ~LONG(WS_TABSTOP));
  if (wanted != style) SetWindowLongA(window, GWL_STYLE, wanted);
}

}  // namespace

// The tab stop goes with the check, so Tab always reaches the checked button.
void TRadioButton::SetChecked(bool checked) {
  SendMessageA(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!checked) return;
  SetTabStop(Handle(), true);
  for (TControl* sibling : form_.Children(Description().parent)) {
    auto* radio = dynamic_cast<TRadioButton*>(sibling);
    if (radio && radio != this) {
      SendMessageA(radio->Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
      SetTabStop(radio->Handle(), false);
    }
  }
}

// A click, or an arrow key that moved the focus here, checks this button;
// the check and the tab stop are set here too, so they never part.
void TRadioButton::Notify(WORD code) {
  if (code == BN_CLICKED) SetChecked(true);
  RunClick(code);
}

// ---- TLabel ---------------------------------------------------------------------

void TLabel::SetCaption(const std::string& caption) {
  TControl::SetCaption(caption);
  AdjustSize();
}

// The text's extent in the form's font; an empty text measures as one blank,
// so an empty label keeps the height of a line.
void TLabel::AdjustSize() {
  if (!Description().autoSize) return;
  std::string text = Caption();
  if (text.empty()) text = " ";
  HDC dc = GetDC(Handle());
  if (!dc) return;
  HGDIOBJ previous = SelectObject(dc, form_.Font());
  RECT extent{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), int(text.size()), &extent, DT_CALCRECT | DT_LEFT | DT_EXPANDTABS);
  SelectObject(dc, previous);
  ReleaseDC(Handle(), dc);
  SetWindowPos(Handle(), nullptr, 0, 0, extent.right, extent.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- TComboBox ------------------------------------------------------------------

DWORD TComboBox::Style() const {
  DWORD style = CBS_DROPDOWNLIST | WS_VSCROLL;
  if (Description().comboStyle == ComboStyle::kOwnerDrawFixed)
    style |= CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
  return style;
}

int TComboBox::CreateHeight() const {
  int line = std::max(Description().itemHeight, 16);
  return Description().height + kDroppedLines * line + 2;
}

void TComboBox::Clear() { SendMessageA(Handle(), CB_RESETCONTENT, 0, 0); }

void TComboBox::Add(const std::string& line) {
  LRESULT at = SendMessageA(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  if (at == CB_ERR || at == CB_ERRSPACE) throw Failure("Cannot add a list line");
}

int TComboBox::Count() const { return int(SendMessageA(Handle(), CB_GETCOUNT, 0, 0)); }

std::string TComboBox::Line(int index) const {
  LRESULT length = SendMessageA(Handle(), CB_GETLBTEXTLEN, WPARAM(index), 0);
  if (length == CB_ERR) throw Failure("List index out of bounds");
  std::string text(size_t(length) + 1, '\0');
  LRESULT copied =
      SendMessageA(Handle(), CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied == CB_ERR ? 0 : size_t(copied));
  return text;
}

int TComboBox::Selected() const { return int(SendMessageA(Handle(), CB_GETCURSEL, 0, 0)); }

void TComboBox::Select(int index) { SendMessageA(Handle(), CB_SETCURSEL, WPARAM(index), 0); }

// Windows may report the field's item height in other terms than it takes
// it, so each step corrects the last height set by the remaining difference.
void TComboBox::FitFieldHeight() {
  LRESULT field = SendMessageA(Handle(), CB_GETITEMHEIGHT, WPARAM(-1), 0);
  if (field == CB_ERR) return;
  for (int step = 0; step < 4; ++step) {
    RECT r;
    if (!GetWindowRect(Handle(), &r)) return;
    int difference = Description().height - (r.bottom - r.top);
    if (difference == 0 || field + difference <= 0) return;
    field += difference;
    SendMessageA(Handle(), CB_SETITEMHEIGHT, WPARAM(-1), LPARAM(field));
  }
}

void TComboBox::DrawItem(const DRAWITEMSTRUCT& item, HFONT font) const {
  HDC dc = item.hDC;
  RECT area = item.rcItem;
  bool selected = (item.itemState & ODS_SELECTED) != 0;
  FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID != UINT(-1)) {
    std::string text = Line(int(item.itemID));
    int colour = (item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT
                 : selected                      ? COLOR_HIGHLIGHTTEXT
                                                 : COLOR_WINDOWTEXT;
    HGDIOBJ previous = SelectObject(dc, font);
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF ink = SetTextColor(dc, GetSysColor(colour));
    TextOutA(dc, area.left + 2, area.top, text.c_str(), int(text.size()));
    SetTextColor(dc, ink);
    SetBkMode(dc, mode);
    SelectObject(dc, previous);
  }
  if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
    DrawFocusRect(dc, &area);
}

// ---- TForm ----------------------------------------------------------------------

TForm::TForm() = default;

TForm::~TForm() {
  if (handle_) {
    isMainForm = false;
    DestroyWindow(handle_);
  }
}

void TForm::Build(const FormDescription& description,
                  const std::vector<NamedHandler>& handlers) {
  description_ = description;
  try {
    CreateFormWindow();
    CreateControls();
    BindHandlers(handlers);
    OrderTabStops();
  } catch (...) {
    if (handle_) DestroyWindow(handle_);
    controls_.clear();
    throw;
  }
  if (onCreate_) Run(onCreate_);
}

void TForm::CreateFormWindow() {
  const FormDescription& d = description_;
  std::string className = d.className.empty() ? "TForm" : d.className;
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = Instance();
  windowClass.hIcon = LoadFormIcon(d.icon);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // A system colour index plus one stands for that colour's brush.
  windowClass.hbrBackground =
      reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(SystemColourIndex(d.colour) + 1));
  windowClass.lpszClassName = className.c_str();
  if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    WindowsRefused("window class \"" + className + "\"");

  font_.Reset(CreateFontA(d.fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, d.fontName.c_str()));
  if (!font_.Get()) WindowsRefused("font \"" + d.fontName + "\"");

  // No WS_CLIPCHILDREN: group boxes leave their inside to the form's background.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  if (d.border == FormBorder::kSizeable) style |= WS_THICKFRAME;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  RECT frame{0, 0, d.clientWidth, d.clientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  CreateWindowExA(exStyle, className.c_str(), d.caption.c_str(), style, CW_USEDEFAULT,
                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                  nullptr, Instance(), this);
  if (!handle_) WindowsRefused("window \"" + d.name + "\"");
}

void TForm::CreateControls() {
  for (const ControlDescription& d : description_.controls) {
    std::unique_ptr<TControl> control;
    switch (d.kind) {
      case ControlKind::kButton: control = std::make_unique<TButton>(*this, d); break;
      case ControlKind::kGroupBox: control = std::make_unique<TGroupBox>(*this, d); break;
      case ControlKind::kRadioButton: control = std::make_unique<TRadioButton>(*this, d); break;
      case ControlKind::kLabel: control = std::make_unique<TLabel>(*this, d); break;
      case ControlKind::kComboList: control = std::make_unique<TComboBox>(*this, d); break;
    }
    HWND parent = d.parent == description_.name ? handle_ : Control<TGroupBox>(d.parent).Handle();
    TControl& created = *control;
    controls_.push_back(std::move(control));  // found by its id while it is created
    created.CreateWindowIn(parent, kFirstControlId + int(controls_.size()) - 1,
                           FocusStyleOf(description_, controls_.size() - 1));
    if (d.kind == ControlKind::kGroupBox) {
      SetPropA(created.Handle(), kFormProperty, this);
      containerProcs_[created.Handle()] = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
          created.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ContainerProc)));
    }
    if (auto* label = dynamic_cast<TLabel*>(&created)) label->AdjustSize();
    if (auto* list = dynamic_cast<TComboBox*>(&created)) list->FitFieldHeight();
    if (d.checked) dynamic_cast<TRadioButton&>(created).SetChecked(true);
  }
}

void TForm::BindHandlers(const std::vector<NamedHandler>& handlers) {
  auto find = [&](const std::string& name, int line) -> const Handler& {
    for (const NamedHandler& h : handlers)
      if (h.name == name) return h.handler;
    throw FormDescriptionError(line, "handler \"" + name + "\" is not known to the program");
  };
  if (!description_.onCreate.empty()) onCreate_ = find(description_.onCreate, 0);
  for (const auto& control : controls_) {
    const ControlDescription& d = control->Description();
    if (!d.onClick.empty()) control->BindClick(find(d.onClick, d.line));
  }
}

// Windows moves the focus through siblings in their z-order.
void TForm::OrderTabStops() {
  OrderTabStopsIn(description_.name);
  for (const auto& c : controls_)
    if (c->Description().kind == ControlKind::kGroupBox) OrderTabStopsIn(c->Description().name);
}

void TForm::OrderTabStopsIn(const std::string& parent) {
  // In tab order; a description gives each stop of a parent its own position.
  std::vector<TControl*> stops;
  for (TControl* c : Children(parent)) {
    int tab = c->Description().tabOrder;
    if (tab < 0) continue;
    auto later = std::find_if(stops.begin(), stops.end(),
                              [&](TControl* s) { return s->Description().tabOrder > tab; });
    stops.insert(later, c);
  }
  HWND after = HWND_TOP;
  for (TControl* c : stops) {
    SetWindowPos(c->Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = c->Handle();
  }
}

// Top-aligned controls of the form span its client width.
void TForm::AlignControls() {
  RECT client;
  if (!GetClientRect(handle_, &client)) return;
  for (TControl* c : Children(description_.name)) {
    if (!c->Description().alignTop) continue;
    RECT r;
    GetWindowRect(c->Handle(), &r);
    SetWindowPos(c->Handle(), nullptr, 0, 0, client.right, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void TForm::Show() {
  if (description_.centred) {
    RECT r;
    GetWindowRect(handle_, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    SetWindowPos(handle_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(handle_, SW_SHOWNORMAL);
  UpdateWindow(handle_);
  if (!description_.activeControl.empty())
    SetFocus(Control<TControl>(description_.activeControl).Handle());
}

std::string TForm::Caption() const { return WindowText(handle_); }

void TForm::SetCaption(const std::string& caption) { SetWindowTextA(handle_, caption.c_str()); }

void TForm::Close() { PostMessageA(handle_, WM_CLOSE, 0, 0); }

std::vector<TControl*> TForm::Children(const std::string& parent) const {
  std::vector<TControl*> children;
  for (const auto& c : controls_)
    if (c->Description().parent == parent) children.push_back(c.get());
  return children;
}

void TForm::Run(const Handler& handler) const {
  try {
    handler();
  } catch (...) {
    application::HandleException();
  }
}

TControl* TForm::ById(int id) const {
  size_t index = size_t(id - kFirstControlId);
  return id >= kFirstControlId && index < controls_.size() ? controls_[index].get() : nullptr;
}

TControl* TForm::ByHandle(HWND hwnd) const {
  for (const auto& c : controls_)
    if (c->Handle() == hwnd) return c.get();
  return nullptr;
}

TControl& TForm::Named(std::string_view name) const {
  for (const auto& c : controls_)
    if (c->Description().name == name) return *c;
  throw FormDescriptionError(0, "the form has no control \"" + std::string(name) + "\"");
}

void TForm::WrongKind(const TControl& control) const {
  const ControlDescription& d = control.Description();
  throw FormDescriptionError(d.line,
                             "control \"" + d.name + "\" is not of the kind the program expects");
}

LRESULT TForm::ColourStatic(HDC dc, HWND control) {
  SetTextColor(dc, GetSysColor(SystemColourIndex(description_.fontColour)));
  SetBkColor(dc, GetSysColor(SystemColourIndex(description_.colour)));
  TControl* c = ByHandle(control);
  if (c && c->Description().transparent) SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetSysColorBrush(SystemColourIndex(description_.colour)));
}

// Messages that controls send to their parent, whichever window that is.
bool TForm::HandleChildMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_COMMAND: {
      TControl* c = lParam ? ByHandle(reinterpret_cast<HWND>(lParam)) : nullptr;
      if (!c) return false;
      c->Notify(HIWORD(wParam));
      result = 0;
      return true;
    }
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      TControl* c = ById(int(item->CtlID));
      if (!c || c->Description().itemHeight <= 0) return false;
      item->itemHeight = UINT(c->Description().itemHeight);
      result = TRUE;
      return true;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      auto* list = dynamic_cast<TComboBox*>(ById(int(item->CtlID)));
      if (!list) return false;
      list->DrawItem(*item, Font());
      result = TRUE;
      return true;
    }
    case WM_CTLCOLORSTATIC:
      result = ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      return true;
  }
  return false;
}

LRESULT TForm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleChildMessage(message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_SIZE:
      AlignControls();
      return 0;
    case WM_CLOSE:
      DestroyWindow(handle_);
      return 0;
    case WM_DESTROY:
      if (isMainForm) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
      handle_ = nullptr;
      return 0;
  }
  return DefWindowProcA(handle_, message, wParam, lParam);
}

LRESULT CALLBACK TForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<TForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->handle_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!form) return DefWindowProcA(hwnd, message, wParam, lParam);
  try {
    return form->OnMessage(message, wParam, lParam);
  } catch (...) {
    application::HandleException();
    return 0;
  }
}

LRESULT CALLBACK TForm::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* form = static_cast<TForm*>(GetPropA(hwnd, kFormProperty));
  if (!form) return DefWindowProcA(hwnd, message, wParam, lParam);
  WNDPROC original = form->containerProcs_[hwnd];
  if (message == WM_NCDESTROY) {
    RemovePropA(hwnd, kFormProperty);
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    form->containerProcs_.erase(hwnd);
    return CallWindowProcA(original, hwnd, message, wParam, lParam);
  }
  try {
    LRESULT result = 0;
    if (form->HandleChildMessage(message, wParam, lParam, result)) return result;
  } catch (...) {
    application::HandleException();
    return 0;
  }
  return CallWindowProcA(original, hwnd, message, wParam, lParam);
}

// ---- The application object ---------------------------------------------------------

namespace application {

void SetExceptionHandler(std::function<void(const std::string&)> handler) {
  ExceptionHandler() = std::move(handler);
}

void HandleException() {
  std::string message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unexpected failure";
  }
  if (ExceptionHandler()) ExceptionHandler()(message);
}

void Run(TForm& main) {
  main.isMainForm = true;
  main.Show();
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (main.Handle() && IsDialogMessageA(main.Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace application

}  // namespace kst::framework
