#include "install/deploy.h"
#include "install/family.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/fake/fake_platform.h"
#include "tests/unit/support/driver_files.h"
#include "tests/unit/support/trace_capture.h"

namespace kst {
namespace {

using fake::FakePlatform;
using test::TraceCapture;
using Lines = std::vector<std::string>;

using test::kKestruneFile;
using test::kMorvellinFile;
using test::kSysDir;
using test::kVxdFile;

std::vector<uint8_t> Image(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7);
  return bytes;
}

void SeedImages(FakePlatform& fp) {
  fp.resources.images[104] = Image(16855, 1);
  fp.resources.images[105] = Image(9000, 2);
  fp.resources.images[106] = Image(5000, 3);
}

const fake::ShownBox kCopyFailedBox{"Faile to copy driver to system directory!",
                                    "SCSI SRB Command Filters", 16};

void ExpectBoxes(const FakePlatform& fp, size_t count) {
  ASSERT_EQ(fp.boxes.shown.size(), count);
  for (const auto& box : fp.boxes.shown) {
    EXPECT_EQ(box.text, kCopyFailedBox.text);
    EXPECT_EQ(box.caption, kCopyFailedBox.caption);
    EXPECT_EQ(box.flags, kCopyFailedBox.flags);
  }
}

// ---- Family test ------------------------------------------------------------

TEST(RunningFamily, Table) {
  struct Row {
    const char* what;
    uint32_t platformId;
    bool refuseExtended, refuseBasic;
    bool nt;
  } rows[] = {
      {"NT with the extended record", 2, false, false, true},
      {"NT, extended record refused, basic accepted", 2, true, false, true},
      {"both records refused: the record stays zero", 2, true, true, false},
      {"9x platform id", 1, false, false, false},
      {"Win32s platform id", 0, false, false, false},
      {"unknown platform id", 3, false, false, false},
  };
  for (const Row& r : rows) {
    FakePlatform fp;
    fp.system.platformId = r.platformId;
    fp.system.refuseExtendedRecord = r.refuseExtended;
    fp.system.refuseBasicRecord = r.refuseBasic;
    EXPECT_EQ(RunningFamily() == WindowsFamily::kNt, r.nt) << r.what;
  }
}

TEST(RunningFamily, AsksAgainEveryTime) {
  FakePlatform fp;
  EXPECT_EQ(RunningFamily(), WindowsFamily::kNt);
  fp.system.platformId = win::kVerPlatformWin32Windows;
  EXPECT_EQ(RunningFamily(), WindowsFamily::k9x);
}

// ---- Deployment ---------------------------------------------------------------

TEST(DeployDriverImages, NtWritesBothImagesByteIdenticalInOrder) {
  FakePlatform fp;
  SeedImages(fp);
  TraceCapture trace(fp);
  EXPECT_TRUE(DeployDriverImages(Interaction::kInteractive));
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(fp.files.files[kMorvellinFile].bytes, fp.resources.images[105]);
  EXPECT_FALSE(fp.files.Has(kVxdFile));
  EXPECT_EQ(trace.Lines(), (Lines{"Copy driver to: " + kKestruneFile, "Copyfile: CreateFile success!",
                                  "Copyfile: " + kKestruneFile, "===== Copyfile ===========",
                                  "Copy driver to: " + kMorvellinFile, "Copyfile: CreateFile success!",
                                  "Copyfile: " + kMorvellinFile, "===== Copyfile ==========="}));
  ExpectBoxes(fp, 0);
  EXPECT_EQ(fp.OpenHandles(), 0);
}

TEST(DeployDriverImages, NineXWritesOnlyTheVxd) {
  FakePlatform fp;
  fp.system.platformId = win::kVerPlatformWin32Windows;
  SeedImages(fp);
  EXPECT_TRUE(DeployDriverImages(Interaction::kInteractive));
  EXPECT_EQ(fp.files.files[kVxdFile].bytes, fp.resources.images[106]);
  EXPECT_EQ(fp.files.files.size(), 1u);
}

// A 9x machine without the Iosubsys folder: the copy fails with its own
// lines only; finding no file of ours to clear there is no failure.
TEST(DeployDriverImages, NineXWithoutTheFolderFailsTheCopyAlone) {
  FakePlatform fp;
  TraceCapture trace(fp);
  fp.system.platformId = win::kVerPlatformWin32Windows;
  fp.files.missingFolders.insert(kSysDir + "\\Iosubsys");
  SeedImages(fp);
  EXPECT_FALSE(DeployDriverImages(Interaction::kQuiet));
  EXPECT_EQ(trace.Lines(), (Lines{"Copy driver to: " + kVxdFile,
                                  "Copyfile: CreateFile failed!" + kSysDir + "\\Iosubsys\\Kestrune.~nw",
                                  "===== Copyfile ===========",
                                  "Faile to copy driver to system directory!"}));
  EXPECT_TRUE(fp.files.files.empty());
}

TEST(DeployDriverImages, ExistingFileIsReplacedWhole) {
  FakePlatform fp;
  SeedImages(fp);
  fp.files.files[kKestruneFile].bytes = Image(40000, 9);
  EXPECT_TRUE(DeployDriverImages(Interaction::kInteractive));
  EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  EXPECT_EQ(fp.files.files.size(), 2u);
}

TEST(DeployDriverImages, NewImageIsFlushedBeforeItReplacesTheOldInOneStep) {
  FakePlatform fp;
  SeedImages(fp);
  fp.files.files[kKestruneFile].bytes = Image(40000, 9);
  EXPECT_TRUE(Copyfile("\\Drivers\\Kestrune.sys", 104, Interaction::kInteractive));
  std::vector<std::string> steps;
  for (const auto& c : fp.calls) {
    if (c == "CreateFileA" || c == "WriteFile" || c == "FlushFileBuffers" ||
        c == "MoveFileExA" || c == "MoveFileA" || c == "DeleteFileA") {
      steps.push_back(c);
    }
  }
  EXPECT_EQ(steps, (Lines{"CreateFileA", "WriteFile", "FlushFileBuffers", "MoveFileExA"}));
}

TEST(DeployDriverImages, FirstImageFailingStopsBeforeTheSecond) {
  FakePlatform fp;
  SeedImages(fp);
  fp.faults.Fail("CreateFileA", 5, 0);  // nothing can be created
  TraceCapture trace(fp);
  EXPECT_FALSE(DeployDriverImages(Interaction::kInteractive));
  EXPECT_FALSE(fp.files.Has(kMorvellinFile));
  ExpectBoxes(fp, 1);
  EXPECT_EQ(trace.Lines(), (Lines{"Copy driver to: " + kKestruneFile,
                                  "Copyfile: CreateFile failed!" + kSysDir + "\\Drivers\\Kestrune.~nw",
                                  "===== Copyfile ==========="}));
  // No resource is looked up once the file cannot be created.
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "FindResourceA"), 0);
}

TEST(DeployDriverImages, SecondImageFailingLeavesTheFirstOnDisk) {
  FakePlatform fp;
  SeedImages(fp);
  fp.resources.images.erase(105);
  EXPECT_FALSE(DeployDriverImages(Interaction::kInteractive));
  EXPECT_TRUE(fp.files.Has(kKestruneFile));
  EXPECT_FALSE(fp.files.Has(kMorvellinFile)) << "never a partial image";
  EXPECT_EQ(fp.files.files.size(), 1u) << "no file of our own is left";
  ExpectBoxes(fp, 1);
}

// ---- One copy: every way it can fail ------------------------------------------------

struct CopyCase {
  const char* what;
  std::function<void(FakePlatform&)> arrange;
  bool ok;
  Lines middle;  // the lines between "Copy driver to: " and the closing line
  bool fileLeft;
};

class CopyfileCases : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyfileCases, TracesBoxesAndResult) {
  const CopyCase& c = GetParam();
  FakePlatform fp;
  SeedImages(fp);
  c.arrange(fp);
  TraceCapture trace(fp);
  EXPECT_EQ(Copyfile("\\Drivers\\Kestrune.sys", 104, Interaction::kInteractive), c.ok);
  Lines expected{"Copy driver to: " + kKestruneFile};
  expected.insert(expected.end(), c.middle.begin(), c.middle.end());
  expected.push_back("===== Copyfile ===========");
  EXPECT_EQ(trace.Lines(), expected);
  ExpectBoxes(fp, c.ok ? 0 : 1);
  EXPECT_EQ(fp.files.Has(kKestruneFile), c.fileLeft);
  if (c.fileLeft) {
    EXPECT_EQ(fp.files.files[kKestruneFile].bytes, fp.resources.images[104]);
  }
  EXPECT_EQ(fp.files.files.size(), c.fileLeft ? 1u : 0u) << "no file of our own is left";
  EXPECT_EQ(fp.OpenHandles(), 0) << "the file is closed on every path";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CopyfileCases,
    ::testing::Values(
        CopyCase{"written whole", [](FakePlatform&) {}, true,
                 {"Copyfile: CreateFile success!", "Copyfile: " + kKestruneFile}, true},
        // Read-write creation refused: the file is deleted and created write-only.
        CopyCase{"second creation succeeds",
                 [](FakePlatform& fp) { fp.faults.Fail("CreateFileA", 32, 1); }, true,
                 {"Copyfile: CreateFile success!", "Copyfile: " + kKestruneFile}, true},
        CopyCase{"both creations fail",
                 [](FakePlatform& fp) { fp.faults.Fail("CreateFileA", 5, 0); }, false,
                 {"Copyfile: CreateFile failed!" + kSysDir + "\\Drivers\\Kestrune.~nw"}, false},
        CopyCase{"image missing", [](FakePlatform& fp) { fp.resources.images.erase(104); },
                 false, {"Copyfile: CreateFile success!", "Copyfile: Failed to FindResource!"},
                 false},
        CopyCase{"image cannot be locked",
                 [](FakePlatform& fp) { fp.faults.Fail("LockResource", 8, 0); }, false,
                 {"Copyfile: CreateFile success!", "Copyfile: Failed to LockResource!"}, false},
        // A short write: 4096 of 16855 bytes, counts in decimal with " / " between.
        CopyCase{"short write", [](FakePlatform& fp) { fp.files.writeLimit = 4096; }, false,
                 {"Copyfile: CreateFile success!", "Copyfile: Failed to write file!16855 / 4096"},
                 false},
        CopyCase{"write refused",
                 [](FakePlatform& fp) { fp.faults.Fail("WriteFile", 112, 0); }, false,
                 {"Copyfile: CreateFile success!", "Copyfile: Failed to write file!16855 / 0"},
                 false},
        CopyCase{"flush refused",
                 [](FakePlatform& fp) { fp.faults.Fail("FlushFileBuffers", 1117, 0); }, false,
                 {"Copyfile: CreateFile success!", "Copyfile: Failed to flush file!"}, false},
        CopyCase{"replacement refused",
                 [](FakePlatform& fp) { fp.faults.Fail("MoveFileExA", 5, 0); }, false,
                 {"Copyfile: CreateFile success!", "Copyfile: Failed to replace file!" + kKestruneFile},
                 false},
        // The file of our own cannot be deleted after the failure: the next
        // copy truncates it.
        CopyCase{"stale file of our own is reused",
                 [](FakePlatform& fp) {
                   fp.files.files[kSysDir + "\\Drivers\\Kestrune.~nw"].bytes = {1, 2, 3};
                 },
                 true, {"Copyfile: CreateFile success!", "Copyfile: " + kKestruneFile}, true}),
    [](const auto& info) {
      std::string name;
      for (char ch : std::string(info.param.what)) name += std::isalnum(ch) ? ch : '_';
      return name;
    });

// The copy relies on Windows refusing to move, replace or delete a file that
// is still open without delete sharing: the fake must refuse it too, or a
// copy that moves its temporary image before closing it would pass here.
TEST(FakeFiles, AnOpenFileIsMovedReplacedOrDeletedOnlyWithDeleteSharing) {
  const std::string open = kSysDir + "\\Drivers\\Kestrune.~nw";
  const std::string other = kKestruneFile;
  struct Row {
    const char* what;
    std::function<bool(FakePlatform&)> operation;
  } rows[] = {
      {"delete", [&](FakePlatform& fp) { return fp.files.Delete(open); }},
      {"rename", [&](FakePlatform& fp) { return fp.files.Move(open, kSysDir + "\\x"); }},
      {"replace another with it",
       [&](FakePlatform& fp) { return fp.files.MoveReplacing(open, other); }},
      {"replace it with another",
       [&](FakePlatform& fp) { return fp.files.MoveReplacing(other, open); }},
  };
  for (const Row& r : rows) {
    for (uint32_t share : {0u, win::kFileShareRead | win::kFileShareWrite, win::kFileShareDelete}) {
      SCOPED_TRACE(std::string(r.what) + ", share " + std::to_string(share));
      FakePlatform fp;
      fp.files.files[other].bytes = {7};
      auto file = fp.files.Create(open, win::kGenericWrite, share, win::kCreateAlways, 0);
      ASSERT_TRUE(file);
      bool shared = share & win::kFileShareDelete;
      EXPECT_EQ(r.operation(fp), shared);
      if (!shared) EXPECT_EQ(fp.system.lastError, win::kErrorSharingViolation);
      file.reset();
      EXPECT_TRUE(fp.files.open.empty());
      if (!shared) EXPECT_TRUE(r.operation(fp)) << "closed, the file can go";
    }
  }
}

TEST(FakeFiles, AFileOpenWithoutSharingCannotBeOpenedAgain) {
  FakePlatform fp;
  const std::string path = kKestruneFile;
  auto first = fp.files.Create(path, win::kGenericRead | win::kGenericWrite, 0, win::kCreateAlways, 0);
  ASSERT_TRUE(first);
  EXPECT_FALSE(fp.files.Create(path, win::kGenericWrite, 0, win::kCreateAlways, 0));
  EXPECT_EQ(fp.system.lastError, win::kErrorSharingViolation);
  first.reset();
  EXPECT_TRUE(fp.files.Create(path, win::kGenericWrite, 0, win::kCreateAlways, 0));
}

TEST(FakeFiles, WritesFollowAFileMovedWhileOpenWithDeleteSharing) {
  FakePlatform fp;
  const std::string from = kKestruneFile, to = kMorvellinFile;
  auto file = fp.files.Create(from, win::kGenericWrite, win::kFileShareDelete, win::kCreateAlways, 0);
  ASSERT_TRUE(file);
  ASSERT_TRUE(fp.files.Move(from, to));
  uint32_t written = 0;
  const uint8_t byte = 9;
  ASSERT_TRUE(file->Write(&byte, 1, written));
  EXPECT_EQ(fp.files.files[to].bytes, std::vector<uint8_t>{9});
  EXPECT_FALSE(fp.files.Has(from));
}

// A read-only file, as Windows treats it: renamed with its attribute, never
// deleted, replaced or written over until the attribute is cleared.
TEST(FakeFiles, ReadOnlyFileCanOnlyBeRenamed) {
  const std::string ro = kKestruneFile, other = kMorvellinFile, moved = kSysDir + "\\moved";
  FakePlatform fp;
  fp.files.files[ro].attributes = win::kFileAttributeReadOnly;
  fp.files.files[other].bytes = {1};
  EXPECT_FALSE(fp.files.Delete(ro));
  EXPECT_EQ(fp.system.lastError, win::kErrorAccessDenied);
  EXPECT_FALSE(fp.files.MoveReplacing(other, ro));
  EXPECT_FALSE(fp.files.Create(ro, win::kGenericWrite, 0, win::kCreateAlways, 0));
  EXPECT_EQ(fp.files.Attributes(ro), win::kFileAttributeReadOnly);
  ASSERT_TRUE(fp.files.Move(ro, moved));
  EXPECT_EQ(fp.files.Attributes(moved), win::kFileAttributeReadOnly);
  EXPECT_FALSE(fp.files.Delete(moved));
  ASSERT_TRUE(fp.files.SetAttributes(moved, win::kFileAttributeNormal));
  EXPECT_TRUE(fp.files.Delete(moved));
  EXPECT_EQ(fp.files.Attributes(moved), win::kInvalidFileAttributes);
}

TEST(Copyfile, SecondCreationIsWriteOnlyAfterDeletingTheFile) {
  FakePlatform fp;
  SeedImages(fp);
  fp.faults.Fail("CreateFileA", 32, 1);
  EXPECT_TRUE(Copyfile("\\Drivers\\Kestrune.sys", 104, Interaction::kInteractive));
  std::vector<std::string> fileCalls;
  for (const auto& c : fp.calls)
    if (c == "CreateFileA" || c == "DeleteFileA") fileCalls.push_back(c);
  EXPECT_EQ(fileCalls, (Lines{"CreateFileA", "DeleteFileA", "CreateFileA"}));
}

TEST(Copyfile, OverlongSystemDirectoryIsRefusedBeforeAnyFileIsCreated) {
  // Lengths at the MAX_PATH edge: the path needs its terminating zero inside 260.
  const std::string rel = "\\Drivers\\Kestrune.sys";  // 21 characters
  struct Row {
    size_t pathLength;
    bool ok;
  } rows[] = {{258, true}, {259, true}, {260, false}, {400, false}};
  for (const Row& r : rows) {
    FakePlatform fp;
    SeedImages(fp);
    fp.files.systemDirectory = "C:\\" + std::string(r.pathLength - rel.size() - 3, 'd');
    TraceCapture trace(fp);
    EXPECT_EQ(Copyfile(rel, 104, Interaction::kInteractive), r.ok) << r.pathLength;
    EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "CreateFileA"), r.ok ? 1 : 0);
    ExpectBoxes(fp, r.ok ? 0 : 1);
    EXPECT_EQ(trace.Lines().back(), "===== Copyfile ===========");
  }
}

TEST(Copyfile, MissingSystemDirectoryIsRefusedBeforeAnyFileIsCreated) {
  // Appended to nothing, the path would start at the root of the current drive.
  FakePlatform fp;
  SeedImages(fp);
  fp.files.systemDirectory = "";
  TraceCapture trace(fp);
  EXPECT_FALSE(Copyfile("\\Drivers\\Kestrune.sys", 104, Interaction::kInteractive));
  EXPECT_EQ(std::count(fp.calls.begin(), fp.calls.end(), "CreateFileA"), 0);
  ExpectBoxes(fp, 1);
  EXPECT_EQ(trace.Lines(), (Lines{"Copyfile: Failed to get system directory!",
                                  "===== Copyfile ==========="}));
  EXPECT_EQ(SystemPath("\\Drivers\\Kestrune.sys"), std::nullopt);
}

// The image's folder is missing (a 9x machine without Iosubsys): the copy
// fails at its creation, and the deletions of its own files that follow,
// which find no folder and so no file, are no failure of their own.
TEST(Copyfile, AMissingFolderFailsAtTheCreationAlone) {
  FakePlatform fp;
  SeedImages(fp);
  fp.faults.Fail("CreateFileA", win::kErrorPathNotFound);
  fp.faults.Fail("DeleteFileA", win::kErrorPathNotFound);
  TraceCapture trace(fp);
  EXPECT_FALSE(Copyfile("\\Iosubsys\\Kestrune.vxd", 106, Interaction::kInteractive));
  EXPECT_EQ(trace.Lines(), (Lines{"Copy driver to: " + kVxdFile,
                                  "Copyfile: CreateFile failed!" + kSysDir + "\\Iosubsys\\Kestrune.~nw",
                                  "===== Copyfile ==========="}));
  ExpectBoxes(fp, 1);
}

TEST(DeleteOwnFile, NoFileOrNoFolderIsGoneAnyOtherFailureIsTraced) {
  struct Row {
    uint32_t error;
    bool gone;
  } rows[] = {{win::kErrorFileNotFound, true}, {win::kErrorPathNotFound, true},
              {win::kErrorAccessDenied, false}, {win::kErrorSharingViolation, false}};
  for (const Row& r : rows) {
    FakePlatform fp;
    fp.files.files[kVxdFile];
    fp.faults.Fail("DeleteFileA", r.error);
    TraceCapture trace(fp);
    EXPECT_EQ(DeleteOwnFile(kVxdFile), r.gone) << r.error;
    EXPECT_EQ(trace.Lines().empty(), r.gone) << r.error;
  }
}

TEST(SystemPath, AppendsWithoutSeparator) {
  FakePlatform fp;
  fp.files.systemDirectory = "D:\\NT\\System32";
  EXPECT_EQ(SystemPath("\\Iosubsys\\Kestrune.vxd"), "D:\\NT\\System32\\Iosubsys\\Kestrune.vxd");
}

}  // namespace
}  // namespace kst
