#pragma once
// The main window over in-memory controls, each with the caption,
// visibility, enabled state, check and tag the carried form description
// gives it at design.
#include <stdexcept>
#include <string>
#include <type_traits>

#include "app/main_window.h"
#include "platform/fake/fake_controls.h"
#include "tests/unit/app/carried_form.h"

namespace kst::test {

// The in-memory control standing for a control of that kind.
template <ControlKind kind>
struct FakeControlOf {
  using type = fake::FakeControl;
};
template <>
struct FakeControlOf<ControlKind::kRadioButton> {
  using type = fake::FakeRadioButton;
};
template <>
struct FakeControlOf<ControlKind::kComboList> {
  using type = fake::FakeComboList;
};

class FakeMainWindow : public IMainWindow {
 public:
  explicit FakeMainWindow(const FormDescription& form = CarriedForm()) : caption(form.caption) {
#define KST_DESIGN(name, kind, accessor) Design(accessor##_, form, #name);
#define KST_NOTHING(name, kind)
    KST_MAIN_FORM_CONTROLS(KST_DESIGN, KST_NOTHING)
#undef KST_DESIGN
  }

  // Each accessor returns the in-memory control, so a test reaches its
  // change count and the rest.
#define KST_FAKE_ACCESSOR(name, kind, accessor)                              \
  typename FakeControlOf<ControlKind::kind>::type& accessor() override {     \
    return accessor##_;                                                      \
  }
  KST_MAIN_FORM_CONTROLS(KST_FAKE_ACCESSOR, KST_NOTHING)
#undef KST_FAKE_ACCESSOR

  std::string Caption() const override { return caption; }
  void SetCaption(const std::string& text) override { caption = text; }
  void Close() override { ++closes; }
  void KeepInstalledMark(bool marked) override { installedMark = marked; }
  bool InstalledMark() const override { return installedMark; }

  std::string caption;
  int closes = 0;
  bool installedMark = false;

 private:
  static const FormDescription& CarriedForm() {
    static const FormDescription form = ParseFormDescription(MainFormText());
    return form;
  }

  template <typename Fake>
  static void Design(Fake& control, const FormDescription& form, const std::string& name) {
    const ControlDescription* d = form.Find(name);
    if (!d) throw std::logic_error("the form has no control " + name);
    control.SetCaption(d->caption);
    control.SetVisible(d->visible);
    control.SetEnabled(d->enabled);
    if constexpr (std::is_base_of_v<IRadioButton, Fake>) control.SetChecked(d->checked);
    control.changes = 0;
  }

#define KST_FAKE_MEMBER(name, kind, accessor) \
  typename FakeControlOf<ControlKind::kind>::type accessor##_;
  KST_MAIN_FORM_CONTROLS(KST_FAKE_MEMBER, KST_NOTHING)
#undef KST_FAKE_MEMBER
#undef KST_NOTHING
};

}  // namespace kst::test
