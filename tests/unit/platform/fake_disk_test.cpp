// What the fakes keep after a power cut: the worst case Windows allows, which
// the install and uninstall procedures are judged against.
#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace kst {
namespace {

using fake::FakePlatform;
using Bytes = std::vector<uint8_t>;

const std::string kFile = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.sys";
const std::string kOther = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.~nw";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B}";
const std::string kOtherClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A}";

void Write(IFile& file, const Bytes& bytes) {
  uint32_t written = 0;
  ASSERT_TRUE(file.Write(bytes.data(), uint32_t(bytes.size()), written));
}

std::unique_ptr<IFile> CreateAlways(FakePlatform& fp, const std::string& path) {
  return fp.files.Create(path, win::kGenericWrite, 0, win::kCreateAlways, 0);
}

// A class key whose list now names Kestrune, the change not yet flushed.
std::unique_ptr<IRegKey> ListKestrune(FakePlatform& fp) {
  fp.registry.keys[kClass];
  std::unique_ptr<IRegKey> key;
  const Bytes list = fake::MultiSzBytes({"Kestrune"});
  if (fp.registry.OpenLocalMachineKey(kClass, key) != 0 ||
      key->SetValue("LowerFilters", win::kRegMultiSz, list.data(), uint32_t(list.size())) != 0) {
    return nullptr;
  }
  return key;
}

TEST(FakeDisk, FileDataIsOnTheDiskFromItsFlushOn) {
  FakePlatform fp;
  auto file = CreateAlways(fp, kFile);
  Write(*file, {1, 2});
  EXPECT_EQ(fp.AfterPowerCut().files.at(kFile), Bytes{}) << "created and truncated at once, data not yet";
  ASSERT_TRUE(file->Flush());
  Write(*file, {3});
  EXPECT_EQ(fp.AfterPowerCut().files.at(kFile), (Bytes{1, 2}));
  EXPECT_EQ(fp.Live().files.at(kFile), (Bytes{1, 2, 3}));
  ASSERT_TRUE(file->Flush());
  EXPECT_EQ(fp.AfterPowerCut().files.at(kFile), (Bytes{1, 2, 3}));
}

TEST(FakeDisk, RenamesReplacementsAndDeletionsAreOnTheDiskAtOnce) {
  FakePlatform fp;
  fp.files.files[kFile].bytes = {9, 9};  // seeded: on the disk
  {
    auto file = CreateAlways(fp, kOther);
    Write(*file, {1});
  }
  ASSERT_TRUE(fp.files.MoveReplacing(kOther, kFile));
  fake::MachineView disk = fp.AfterPowerCut();
  EXPECT_EQ(disk.files.count(kOther), 0u);
  EXPECT_EQ(disk.files.at(kFile), Bytes{}) << "the moved file's data was never flushed";
  ASSERT_TRUE(fp.files.Delete(kFile));
  EXPECT_TRUE(fp.AfterPowerCut().files.empty());
}

TEST(FakeDisk, RegistryChangesAreOnTheDiskFromTheirKeysFlushOn) {
  FakePlatform fp;
  fp.registry.SetMultiSz(kClass, "LowerFilters", {"other"});  // seeded: on the disk
  fp.registry.keys[kOtherClass];
  std::unique_ptr<IRegKey> key, other;
  ASSERT_EQ(fp.registry.OpenLocalMachineKey(kClass, key), 0);
  ASSERT_EQ(fp.registry.OpenLocalMachineKey(kOtherClass, other), 0);
  const Bytes list = fake::MultiSzBytes({"Kestrune", "other"});
  ASSERT_EQ(key->SetValue("LowerFilters", win::kRegMultiSz, list.data(), uint32_t(list.size())), 0);
  EXPECT_EQ(fp.UnflushedKeys(), std::vector<std::string>{kClass});
  ASSERT_EQ(other->Flush(), 0);
  EXPECT_EQ(fake::MultiSzOf(fp.AfterPowerCut().keys, kClass, "LowerFilters"),
            std::vector<std::string>{"other"});
  EXPECT_EQ(fake::MultiSzOf(fp.AfterPowerCut({kClass}).keys, kClass, "LowerFilters"),
            (std::vector<std::string>{"Kestrune", "other"}))
      << "written by the system on its own";
  ASSERT_EQ(key->Flush(), 0);
  EXPECT_TRUE(fp.UnflushedKeys().empty());
  ASSERT_EQ(key->DeleteValue("LowerFilters"), 0);
  EXPECT_EQ(fake::MultiSzOf(fp.AfterPowerCut().keys, kClass, "LowerFilters"),
            (std::vector<std::string>{"Kestrune", "other"}));
}

TEST(FakeDisk, ServicesAreOnTheDiskFromTheirKeysFlushOn) {
  FakePlatform fp;
  const std::string serviceKey = "SYSTEM\\CurrentControlSet\\Services\\Kestrune";
  std::unique_ptr<IRegKey> key;
  EXPECT_EQ(fp.registry.OpenLocalMachineKey(serviceKey, key), RegStatus(win::kErrorFileNotFound));
  auto manager = fp.services.OpenManager(win::kScManagerAllAccess);
  ServiceConfig config;
  config.name = "Kestrune";
  ASSERT_TRUE(manager->Create(config));
  EXPECT_EQ(fp.UnflushedKeys(), std::vector<std::string>{serviceKey});
  EXPECT_EQ(fp.AfterPowerCut().services.count("Kestrune"), 0u);
  ASSERT_EQ(fp.registry.OpenLocalMachineKey(serviceKey, key), 0);
  ASSERT_EQ(key->Flush(), 0);
  key.reset();
  EXPECT_EQ(fp.AfterPowerCut().services.count("Kestrune"), 1u);
  ASSERT_TRUE(manager->Open("Kestrune", win::kDelete)->Delete());
  EXPECT_EQ(fp.AfterPowerCut().services.count("Kestrune"), 1u) << "the deletion is not flushed";
  EXPECT_EQ(fp.Live().services.count("Kestrune"), 0u);
}

TEST(FakeDisk, AFailedFlushKeepsNothing) {
  FakePlatform fp;
  std::unique_ptr<IRegKey> key = ListKestrune(fp);
  ASSERT_TRUE(key);
  fp.faults.Fail("RegFlushKey", 1016);
  EXPECT_EQ(key->Flush(), 1016);
  EXPECT_FALSE(fake::MultiSzOf(fp.AfterPowerCut().keys, kClass, "LowerFilters"));
  auto file = CreateAlways(fp, kFile);
  Write(*file, {1});
  fp.faults.Fail("FlushFileBuffers", 1117);
  EXPECT_FALSE(file->Flush());
  EXPECT_EQ(fp.AfterPowerCut().files.at(kFile), Bytes{});
}

TEST(FakeDisk, SettlingPutsEverythingOnTheDisk) {
  FakePlatform fp;
  std::unique_ptr<IRegKey> key = ListKestrune(fp);
  ASSERT_TRUE(key);
  auto file = CreateAlways(fp, kFile);
  Write(*file, {1});
  fp.SettleOnDisk();
  fake::MachineView disk = fp.AfterPowerCut();
  EXPECT_EQ(disk.files.at(kFile), Bytes{1});
  EXPECT_EQ(fake::MultiSzOf(disk.keys, kClass, "LowerFilters"), std::vector<std::string>{"Kestrune"});
}

}  // namespace
}  // namespace kst
