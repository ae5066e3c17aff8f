#pragma once
// In-memory stand-ins for every platform facility, for the unit tests.
//
// State is plain data that a test seeds and inspects (files, registry keys,
// services, windows...). Every call is appended to `calls` by its Win32 name,
// and any call can be made to fail through `faults`: by name and occurrence,
// or by its position among all calls, which lets a test fail each call of a
// procedure in turn.
//
// One file pair per facility; FakePlatform composes them.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/fake/fake_devices.h"
#include "platform/fake/fake_files.h"
#include "platform/fake/fake_mutexes.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_resources.h"
#include "platform/fake/fake_services.h"
#include "platform/fake/fake_shutdown.h"
#include "platform/fake/fake_sleep.h"
#include "platform/fake/fake_system.h"
#include "platform/fake/fake_versions.h"
#include "platform/fake/fake_windows.h"
#include "platform/platform.h"

namespace kst::fake {

// Thrown by every call after a power cut; of no standard kind, so that only
// a catch-all can absorb it.
struct PowerCut {};

// The files, registry keys and services of a machine as one picture: as it
// runs, or as its disk would hold them after a power cut.
struct MachineView {
  std::map<std::string, std::vector<uint8_t>, NoCase> files;
  std::map<std::string, FakeRegKeyData, NoCase> keys;
  std::map<std::string, FakeServiceEntry, NoCase> services;
};

// The machine as Windows finds it once it has started again from `disk`:
// the pending renames carried out in order (each one whose source is
// missing, or whose target exists without leave to replace it, skipped) and
// their value removed, the services marked for deletion gone.
MachineView AfterRestart(MachineView disk);

// The whole fake system, installed as the current platform while it lives.
class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Records a call and applies the fault plan. On an injected fault, sets the
  // last error code and returns it.
  std::optional<uint32_t> Call(const std::string& name);
  // Records a call that the fault plan does not check.
  void Record(const std::string& name);
  // Records a handle being closed; never throws, and after a power cut it is
  // not recorded (closing changes nothing that survives the cut).
  void RecordClose(const std::string& name);

  // Handles still open across all facilities.
  int OpenHandles() const;

  // The machine as it runs.
  MachineView Live() const;
  // The registry keys (service keys by their path) changed since their last
  // flush, in order.
  std::vector<std::string> UnflushedKeys() const;
  // What the disk would hold after a power cut now, at worst: every file
  // creation, rename, replacement and deletion, each file's bytes as of its
  // last flush, and of the registry only what was flushed, except that the
  // keys in `written` had all their changes written by the system on its own.
  MachineView AfterPowerCut(const std::set<std::string, NoCase>& written = {}) const;
  // Everything reaches the disk, as when the system shuts down in order.
  void SettleOnDisk();

  // The driver of service `name` is loaded: the service runs and its image
  // is in use (it can be neither deleted, moved away nor replaced).
  void LoadFilter(const std::string& name);
  // Windows starts again after the power was lost: everything not on the
  // disk is gone, the machine is then as AfterRestart makes it (file
  // attributes and version resources follow their files), and the drivers
  // load again as their start types say: boot and system start, and demand
  // start when a class's LowerFilters names the service (each class has
  // devices). The clock starts anew. No handle may be open.
  void Restart();

  // Cuts the power after the `calls`-th recorded call from now on: every
  // later call throws PowerCut before it changes anything, so the state is
  // the one the cut left. `atCut` runs once, at the cut.
  void CutPowerAfter(int calls, std::function<void()> atCut = nullptr);
  bool PowerWasCut() const { return powerCut_; }
  // Calls recorded that count towards a cut (every call but the closes).
  int CountedCalls() const { return counted_; }

  FaultPlan faults;
  std::vector<std::string> calls;
  // Runs before each call that the fault plan checks, with its name; a test
  // can throw from it to stand for a failure raised inside a call.
  std::function<void(const std::string& call)> beforeCall;

  FakeSystem system{*this};
  FakeFileSystem files{*this};
  FakeResources resources{*this};
  FakeRegistry registry{*this};
  FakeServices services{*this};
  FakeDevices devices{*this};
  FakeVersionResources versions{*this};
  FakeWindows windows{*this};
  FakeMessageBoxes boxes{*this};
  FakeShutdown shutdown{*this};
  FakeSleep sleep{*this};
  FakeMutexes mutexes{*this};

  Platform platform{system,  files, resources, registry, services, devices, versions,
                    windows, boxes, shutdown,  sleep,    mutexes};

 private:
  void CountTowardsCut();

  std::optional<int> callsBeforeCut_;
  std::function<void()> atCut_;
  bool powerCut_ = false;
  int counted_ = 0;
  ScopedPlatform installed_{platform};
};

}  // namespace kst::fake
