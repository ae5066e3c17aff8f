#pragma once
// The fake service control manager: services, their deletion mark, and
// which drivers are loaded.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_base.h"
#include "platform/platform.h"

namespace kst::fake {

struct FakeServiceEntry {
  ServiceConfig config;
  // Deleted while its driver was loaded: the service stays, opens and can
  // be read, refuses every change with ERROR_SERVICE_MARKED_FOR_DELETE, and
  // goes when Windows next starts. Windows keeps the mark in the service's
  // key, so it is on the disk once that key is flushed.
  bool markedForDeletion = false;
  bool operator==(const FakeServiceEntry&) const = default;
};

// The service control manager keeps its services in the registry: a
// creation or deletion reaches the disk when the service's key is flushed.
class FakeServices : public IServices {
 public:
  explicit FakeServices(FakePlatform& p) : p_(p) {}
  std::unique_ptr<IServiceManager> OpenManager(uint32_t access) override;

  // "SYSTEM\CurrentControlSet\Services\<name>".
  static std::string KeyPath(const std::string& name);
  // The service whose key `path` is, or nullopt.
  static std::optional<std::string> NameOfKey(const std::string& path);

  std::map<std::string, FakeServiceEntry, NoCase> services;
  // The services whose driver is loaded now (FakePlatform::LoadFilter, Restart).
  std::set<std::string, NoCase> running;
  // Services created or deleted since their key's last flush, each with what
  // the disk holds of it (nullopt: not on the disk).
  std::map<std::string, std::optional<FakeServiceEntry>, NoCase> unflushed;
  int openHandles = 0;
  // The access asked for by every OpenSCManagerA and OpenServiceA, in order.
  std::vector<uint32_t> managerAccess;
  std::vector<uint32_t> serviceAccess;

 private:
  friend class FakeServiceManager;
  friend class FakeService;
  void NoteChange(const std::string& name);
  FakePlatform& p_;
};

}  // namespace kst::fake
