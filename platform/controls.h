#pragma once
// What the status display and the main window's handlers need of the
// window framework's controls. The Win32 framework implements it over real
// controls; unit tests use plain in-memory controls.
#include <string>

namespace kst {

class IControl {
 public:
  virtual ~IControl() = default;
  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

// A radio button: a control that is checked or not.
class IRadioButton : public virtual IControl {
 public:
  virtual bool Checked() const = 0;
  virtual void SetChecked(bool checked) = 0;
};

// A drop-down list that cannot be edited.
class IComboList : public virtual IControl {
 public:
  virtual void Clear() = 0;
  virtual void Add(const std::string& line) = 0;
  virtual int Count() const = 0;
  virtual std::string Line(int index) const = 0;
  virtual int Selected() const = 0;  // -1 when no line is selected
  virtual void Select(int index) = 0;
};

}  // namespace kst
