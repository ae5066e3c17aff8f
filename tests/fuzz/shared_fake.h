#pragma once
// One fake platform for the whole run: building a fresh one for every input
// costs more than most inputs' own work. Fresh() clears what earlier inputs
// left in the records the targets read.
#include "platform/fake/fake_platform.h"

namespace kst::fuzz {

inline fake::FakePlatform& Fresh() {
  static fake::FakePlatform fp;
  fp.calls.clear();
  fp.windows.events.clear();
  fp.devices.codes.clear();
  fp.devices.opens = 0;
  fp.devices.mostOpenAtOnce = 0;
  fp.sleep.sleeps.clear();
  fp.boxes.shown.clear();
  fp.registry.keys.clear();
  return fp;
}

}  // namespace kst::fuzz
