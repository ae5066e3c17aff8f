#pragma once
// Plain in-memory controls for tests of code that drives window controls.
// Each counts the changes made to it, so a test can show that a control was
// left alone, and runs `beforeChange` (when set) first, so a test can make
// a change fail by throwing from it.
#include <functional>
#include <string>
#include <vector>

#include "platform/controls.h"

namespace kst::fake {

class FakeControl : public virtual IControl {
 public:
  explicit FakeControl(std::string caption = "", bool visible = true)
      : caption_(std::move(caption)), visible_(visible) {}

  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { Change(), caption_ = caption; }
  bool Visible() const override { return visible_; }
  void SetVisible(bool visible) override { Change(), visible_ = visible; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { Change(), enabled_ = enabled; }

  int changes = 0;
  std::function<void()> beforeChange;

 protected:
  void Change() {
    if (beforeChange) beforeChange();
    ++changes;
  }

 private:
  std::string caption_;
  bool visible_;
  bool enabled_ = true;
};

class FakeRadioButton : public FakeControl, public IRadioButton {
 public:
  using FakeControl::FakeControl;
  bool Checked() const override { return checked_; }
  void SetChecked(bool checked) override { Change(), checked_ = checked; }

 private:
  bool checked_ = false;
};

// Behaves as a drop-down list does: an index out of range selects nothing.
class FakeComboList : public FakeControl, public IComboList {
 public:
  using FakeControl::FakeControl;
  void Clear() override { Change(), lines_.clear(), selected_ = -1; }
  void Add(const std::string& line) override { Change(), lines_.push_back(line); }
  int Count() const override { return int(lines_.size()); }
  std::string Line(int index) const override { return lines_.at(size_t(index)); }
  int Selected() const override { return selected_; }
  void Select(int index) override {
    Change();
    selected_ = index >= 0 && index < Count() ? index : -1;
  }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
  int selected_ = -1;
};

}  // namespace kst::fake
