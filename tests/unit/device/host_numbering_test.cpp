#include "device/host_numbering.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/unit/device/fake_filter.h"
#include "tests/unit/device/grid_walk_reference.h"

namespace kst {
namespace {

using test::Entry;

// (entry index, host number, target id) of each listed device.
using Listing = std::vector<std::tuple<size_t, int, int>>;

Listing Listed(const HostNumbering& n) {
  Listing out;
  for (const auto& d : n.devices) out.emplace_back(d.entry, d.hostNumber, d.targetId);
  return out;
}

void ExpectSame(const HostNumbering& a, const HostNumbering& b) {
  EXPECT_EQ(a.adapterNames, b.adapterNames);
  EXPECT_EQ(Listed(a), Listed(b));
  EXPECT_EQ(a.notes, b.notes);
  EXPECT_EQ(a.nLastScsiHost, b.nLastScsiHost);
}

ScsiInfo Named(ScsiInfo e, const std::string& bytes) {
  e.adapterName.fill(0);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 8), e.adapterName.begin());
  return e;
}

struct NtCase {
  const char* name;
  std::vector<ScsiInfo> entries;
  Listing listed;
  int32_t lastHost;
  size_t notes;
};

class NtNumbering : public ::testing::TestWithParam<NtCase> {};

TEST_P(NtNumbering, MatchesTheGridWalk) {
  const NtCase& c = GetParam();
  HostNumbering n = NumberDevicesNT(c.entries);
  EXPECT_EQ(Listed(n), c.listed);
  EXPECT_EQ(n.nLastScsiHost, c.lastHost);
  EXPECT_EQ(n.notes.size(), c.notes);
  ExpectSame(n, test::ReferenceGridWalk(c.entries));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NtNumbering,
    ::testing::Values(
        NtCase{"Empty", {}, {}, 0, 0},
        NtCase{"TwoTargets", {Entry(0, 0, 0), Entry(0, 0, 1)}, {{0, 0, 0}, {1, 0, 1}}, 1, 0},
        NtCase{"TwoHbas", {Entry(1, 0, 0), Entry(0, 0, 0)}, {{1, 0, 0}, {0, 1, 0}}, 2, 0},
        NtCase{"Hba2Only", {Entry(2, 0, 0)}, {{0, 2, 0}}, 3, 0},
        // host = HBA * (largest path + 1) + path
        NtCase{"PathsPerHba", {Entry(1, 1, 0), Entry(0, 2, 0)}, {{1, 2, 0}, {0, 4, 0}}, 6, 0},
        NtCase{"SecondNameContinues",
               {Entry(0, 0, 0, 0, "scsi0"), Entry(1, 0, 0, 0, "atapi"), Entry(0, 0, 3, 0, "scsi0")},
               {{0, 0, 0}, {2, 0, 3}, {1, 2, 0}}, 3, 0},
        NtCase{"LunDuplicatesFirstWins", {Entry(0, 0, 0, 1), Entry(0, 0, 0, 0)}, {{0, 0, 0}}, 1, 0},
        NtCase{"NamesCompareCaseSensitively",
               {Entry(0, 0, 0, 0, "Scsi"), Entry(0, 0, 0, 0, "scsi")}, {{0, 0, 0}, {1, 1, 0}}, 2, 0},
        NtCase{"EightCharacterName", {Entry(0, 0, 1, 0, "ABCDEFGH")}, {{0, 0, 1}}, 1, 0},
        // Names whose bytes would overlap if packed into fewer than 8 bits each.
        NtCase{"NamesThatShareBitsStayApart",
               {Named(Entry(0, 0, 0), "\x80"), Named(Entry(0, 0, 0), "\x01\x80"),
                Named(Entry(0, 0, 0), "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"),
                Named(Entry(0, 0, 0), "\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF")},
               {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}}, 4, 0},
        // A name with bytes after its zero is listed, but the entry belongs to no name.
        NtCase{"BytesAfterTheZero", {Named(Entry(0, 0, 0), std::string("AB\0C", 4))}, {}, 1, 0},
        NtCase{"PaddedTwinBelongs",
               {Named(Entry(0, 0, 0), std::string("AB\0C", 4)), Entry(1, 0, 0, 0, "AB")},
               {{1, 1, 0}}, 2, 0},
        NtCase{"Target256", {Entry(0, 0, 256), Entry(0, 0, 1)}, {{1, 0, 1}}, 1, 1},
        NtCase{"Path256", {Entry(0, 256, 0), Entry(0, 0, 0)}, {{1, 0, 0}}, 1, 1},
        NtCase{"Hba4G", {Entry(0xFFFFFFFF, 0, 0)}, {}, 1, 1},
        NtCase{"Ids255Fit", {Entry(0, 0, 255)}, {{0, 0, 255}}, 1, 0},
        // The largest HBA number of a byte: one path per HBA makes it host 255.
        NtCase{"Hba255IsHost255", {Entry(255, 0, 0), Entry(256, 0, 1)}, {{0, 255, 0}}, 256, 1},
        // 255 HBAs of 2 paths: hosts 0..509; host 255 is HBA 127 path 1, 256 is HBA 128 path 0.
        NtCase{"HostsPast255",
               {Entry(127, 1, 0), Entry(128, 0, 0), Entry(254, 1, 0)}, {{0, 255, 0}}, 256, 2}),
    [](const auto& info) { return info.param.name; });

TEST(NtNumbering, NotesNameTheEntryAndItsNumbers) {
  HostNumbering n = NumberDevicesNT({Entry(0, 0, 0), Entry(1, 300, 2), Entry(200, 1, 0)});
  EXPECT_EQ(n.notes, (std::vector<std::string>{
                         "error: entry 1 not listed: HBA1Path300Target2 beyond 255",
                         "error: entry 2 not listed: host number 401 beyond 255"}));
}

// Random inputs in shapes that exercise duplicates, gaps, several names,
// stray bytes after a name's zero, ids past a byte and hosts past 255.
std::vector<ScsiInfo> Generate(std::mt19937& rng) {
  std::uniform_int_distribution<int> shape(0, 4);
  int s = shape(rng);
  uint32_t maxHba = s == 4 ? 20 : 3, maxPath = s == 4 ? 12 : 3;
  uint32_t maxTarget = s == 3 ? 40 : s == 4 ? 3 : 7;
  // Names that differ in case, that are prefixes of each other, and that hold
  // bytes above 0x7F: the numbering keys names by their bytes.
  const std::vector<std::string> names = {"scsi0", "atapi", "ABCDEFGH", std::string("ab\0x", 4),
                                          "Scsi0", "A", "AB", "ABC", "\xC4\xFF", "\xC4"};
  size_t count = std::uniform_int_distribution<size_t>(0, 60)(rng);
  std::vector<ScsiInfo> entries;
  for (size_t i = 0; i < count; ++i) {
    auto pick = [&](uint32_t max) { return std::uniform_int_distribution<uint32_t>(0, max)(rng); };
    ScsiInfo e = Named(Entry(pick(maxHba), pick(maxPath), pick(maxTarget), pick(2)),
                       names[pick(uint32_t(names.size() - 1))]);
    if (pick(30) == 0) e.targetId = 256 + pick(1000);  // an id past a byte now and then
    if (pick(40) == 0) e.hbaNumber = 0x80000000u;
    entries.push_back(e);
  }
  return entries;
}

TEST(NtNumbering, AgreesWithTheGridWalkOnGeneratedInputs) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 1000; ++round) {
    std::vector<ScsiInfo> entries = Generate(rng);
    SCOPED_TRACE(round);
    ExpectSame(NumberDevicesNT(entries), test::ReferenceGridWalk(entries));
    if (HasFailure()) break;
  }
}

struct NineXCase {
  const char* name;
  std::vector<ScsiInfo> entries;
  Listing listed;
  int32_t lastHost;
  size_t notes;
};

class NineXNumbering : public ::testing::TestWithParam<NineXCase> {};

TEST_P(NineXNumbering, NamesAndRunningNumbers) {
  const NineXCase& c = GetParam();
  HostNumbering n = NumberDevices9x(c.entries);
  EXPECT_EQ(Listed(n), c.listed);
  EXPECT_EQ(n.nLastScsiHost, c.lastHost);
  EXPECT_EQ(n.notes.size(), c.notes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NineXNumbering,
    ::testing::Values(
        NineXCase{"Empty", {}, {}, 0, 0},
        NineXCase{"ThreeOfOneNameInFilterOrder",
                  {Entry(0, 0, 9), Entry(3, 1, 2), Entry(0, 0, 9, 1)},
                  {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}}, 0, 0},
        NineXCase{"TwoNamesInListOrder",
                  {Entry(0, 0, 5, 0, "b"), Entry(0, 0, 1, 0, "a"), Entry(0, 0, 0, 0, "b")},
                  {{0, 0, 0}, {2, 0, 1}, {1, 1, 0}}, 1, 0},
        NineXCase{"NameWithoutMembersKeepsItsIndex",
                  {Named(Entry(0, 0, 0), std::string("a\0b", 3)), Entry(0, 0, 0, 0, "c")},
                  {{1, 1, 0}}, 1, 0},
        NineXCase{"Target256NotListed", {Entry(0, 0, 256), Entry(0, 0, 3)}, {{1, 0, 0}}, 0, 1},
        // Ids of 255 fit a byte and are listed; 256 does not.
        NineXCase{"Ids255Listed",
                  {Entry(255, 0, 0), Entry(0, 255, 0), Entry(0, 0, 255), Entry(256, 0, 0)},
                  {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}}, 0, 1}),
    [](const auto& info) { return info.param.name; });

TEST(NineXNumbering, RunningNumbersStopAt255) {
  std::vector<ScsiInfo> entries(258, Entry(0, 0, 0));
  HostNumbering n = NumberDevices9x(entries);
  ASSERT_EQ(n.devices.size(), 256u);
  EXPECT_EQ(n.devices.back().targetId, 255);
  EXPECT_EQ(n.notes, (std::vector<std::string>{
                         "error: entry 256 not listed: target number 256 beyond 255",
                         "error: entry 257 not listed: target number 256 beyond 255"}));
}

TEST(NineXNumbering, HostNumbersStopAt255) {
  std::vector<ScsiInfo> entries;
  for (int i = 0; i < 258; ++i) entries.push_back(Entry(0, 0, 0, 0, "n" + std::to_string(i)));
  HostNumbering n = NumberDevices9x(entries);
  ASSERT_EQ(n.devices.size(), 256u);
  EXPECT_EQ(n.devices.back().hostNumber, 255);
  EXPECT_EQ(n.nLastScsiHost, 255);
  EXPECT_EQ(n.notes.size(), 2u);
}

}  // namespace
}  // namespace kst
