#pragma once
// The window framework: forms built from a form description resource, and
// the few kinds of control the program needs, over plain Win32 windows.
//
// A form owns its controls. Events reach the program through handlers bound
// by the names the description gives them ("onclick=BtnOkClick"). An
// exception that escapes a handler goes to the application's exception
// handler and the form goes on running; it never crosses a window procedure.
#include "platform/win32/windows_api.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/form_description.h"
#include "platform/controls.h"

namespace kst::framework {

class TForm;

using Handler = std::function<void()>;

// A handler the program offers, under the name a description binds it by.
struct NamedHandler {
  std::string name;
  Handler handler;
};

// Owns a GDI object and deletes it on every path.
class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object = nullptr) : object_(object) {}
  ~GdiObject() { Reset(); }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ Get() const { return object_; }
  void Reset(HGDIOBJ object = nullptr);

 private:
  HGDIOBJ object_;
};

// A control of a form: one child window with the form's font.
class TControl : public virtual IControl {
 public:
  TControl(TForm& form, const ControlDescription& description);
  ~TControl() override = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;
  bool Visible() const override;  // the control's own flag, not its parent's
  void SetVisible(bool visible) override;
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

  HWND Handle() const { return handle_; }
  const ControlDescription& Description() const { return description_; }

  // Creates the window below `parent`; throws when Windows refuses.
  void CreateWindowIn(HWND parent, int id, FocusStyle focus);

  // Notification from the control (WM_COMMAND code); a button runs its click.
  virtual void Notify(WORD code);

  // The handler a click runs; empty for none.
  void BindClick(Handler click) { click_ = std::move(click); }

 protected:
  virtual const char* WindowClass() const = 0;
  virtual DWORD Style() const = 0;
  virtual DWORD ExStyle() const { return 0; }
  virtual int CreateHeight() const { return description_.height; }
  // Runs the bound click handler, if any, when `code` is a click.
  void RunClick(WORD code) const;
  TForm& form_;

 private:
  const ControlDescription description_;
  HWND handle_ = nullptr;
  Handler click_;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  void Notify(WORD code) override;

 protected:
  const char* WindowClass() const override { return "BUTTON"; }
  DWORD Style() const override { return BS_PUSHBUTTON; }
};

// A group box holds controls; the messages its children send to their parent
// are passed on to the form.
class TGroupBox : public TControl {
 public:
  using TControl::TControl;

 protected:
  const char* WindowClass() const override { return "BUTTON"; }
  DWORD Style() const override { return BS_GROUPBOX; }
  DWORD ExStyle() const override { return WS_EX_CONTROLPARENT; }
};

// Radio buttons of one parent form a group: checking one unchecks the others.
class TRadioButton : public TControl, public IRadioButton {
 public:
  using TControl::TControl;
  bool Checked() const override;
  void SetChecked(bool checked) override;
  void Notify(WORD code) override;

 protected:
  const char* WindowClass() const override { return "BUTTON"; }
  DWORD Style() const override { return BS_AUTORADIOBUTTON; }
};

// A label sizes itself to its text in the form's font unless told otherwise.
class TLabel : public TControl {
 public:
  using TControl::TControl;
  void SetCaption(const std::string& caption) override;
  void AdjustSize();

 protected:
  const char* WindowClass() const override { return "STATIC"; }
  DWORD Style() const override { return SS_LEFT; }
};

// A drop-down list that cannot be edited. Owner-drawn fixed lists are drawn
// by the framework: each item's background filled, its text 2 pixels from
// the item's left edge, at its top.
class TComboBox : public TControl, public IComboList {
 public:
  using TControl::TControl;
  void Clear() override;
  void Add(const std::string& line) override;
  int Count() const override;
  std::string Line(int index) const override;
  int Selected() const override;
  void Select(int index) override;

  void DrawItem(const DRAWITEMSTRUCT& item, HFONT font) const;
  // Sets the closed field to the described height, whatever edges this
  // Windows draws around the items.
  void FitFieldHeight();

 protected:
  const char* WindowClass() const override { return "COMBOBOX"; }
  DWORD Style() const override;
  // The dropped list's room; the closed field keeps the described height.
  int CreateHeight() const override;
};

// A top-level window built from a form description.
class TForm {
 public:
  TForm();
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Builds the window and every control of `description`, binds the named
  // handlers, then runs the creation handler. Throws (with nothing left
  // behind) when the description names an unknown handler or Windows refuses
  // a window; an exception from the creation handler is shown and the form
  // is still built.
  void Build(const FormDescription& description, const std::vector<NamedHandler>& handlers);

  // Shows the window (centred when described so) and gives the focus to the
  // described control.
  void Show();

  std::string Caption() const;
  void SetCaption(const std::string& caption);
  // Asks the window to close; the main form's closing ends the message loop.
  void Close();

  HWND Handle() const { return handle_; }
  HFONT Font() const { return static_cast<HFONT>(font_.Get()); }
  // The control of that name and kind; throws when there is none.
  template <typename T>
  T& Control(std::string_view name) const;
  std::vector<TControl*> Children(const std::string& parent) const;

  // Runs a handler, handing any exception that escapes it to the
  // application's exception handler.
  void Run(const Handler& handler) const;

  bool isMainForm = false;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool HandleChildMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  LRESULT ColourStatic(HDC dc, HWND control);
  void CreateFormWindow();
  void CreateControls();
  void BindHandlers(const std::vector<NamedHandler>& handlers);
  void OrderTabStops();
  void OrderTabStopsIn(const std::string& parent);
  void AlignControls();
  TControl* ById(int id) const;
  TControl* ByHandle(HWND hwnd) const;
  // The control of that name; throws when there is none.
  TControl& Named(std::string_view name) const;
  [[noreturn]] void WrongKind(const TControl& control) const;

  FormDescription description_;
  std::vector<std::unique_ptr<TControl>> controls_;
  Handler onCreate_;
  HWND handle_ = nullptr;
  GdiObject font_;
  std::map<HWND, WNDPROC> containerProcs_;
};

template <typename T>
T& TForm::Control(std::string_view name) const {
  TControl& control = Named(name);
  if (T* typed = dynamic_cast<T*>(&control)) return *typed;
  WrongKind(control);
}

// The application object: one per process.
namespace application {

// Receives the message of every exception that escapes a handler or a
// window procedure ("Unexpected failure" for one that is no std::exception).
// Until one is set, such exceptions are dropped.
void SetExceptionHandler(std::function<void(const std::string&)> handler);

// Hands the exception being caught to the exception handler; call only
// inside a catch block.
void HandleException();

// Shows `main` and runs the message loop until the main form is destroyed.
void Run(TForm& main);

}  // namespace application

}  // namespace kst::framework
