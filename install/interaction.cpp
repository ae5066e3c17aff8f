#include "install/interaction.h"

#include "diag/trace.h"
#include "install/drivers.h"
#include "platform/platform.h"

namespace kst {

void ShowFailure(Interaction interaction, const std::string& text) {
  if (interaction == Interaction::kQuiet) {
    Trace(text);
    return;
  }
  Sys().boxes.Show(text, kFiltersCaption, win::kMbOk | win::kMbIconError);
}

}  // namespace kst
