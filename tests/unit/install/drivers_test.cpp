#include "install/drivers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kst {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<DriverImage> AllImages() {
  std::vector<DriverImage> images;
  for (const FilterDriver* d : kNtDrivers) images.push_back(d->image);
  images.push_back(kKestruneVxd);
  return images;
}

// The records are the one source of the paths, resources and lists, so a
// slip in one of them (a new driver copied from an old one) shows here
// rather than as a file written over another driver's.
TEST(DriverRecords, EachImageHasItsOwnFileAndResource) {
  std::set<std::string> paths;
  std::set<int> resources;
  for (const DriverImage& image : AllImages()) {
    SCOPED_TRACE(image.fileName);
    EXPECT_TRUE(EndsWith(image.relativePath, std::string("\\") + image.fileName));
    EXPECT_EQ(image.relativePath[0], '\\') << "appended to the system directory";
    EXPECT_TRUE(paths.insert(image.relativePath).second);
    EXPECT_TRUE(resources.insert(image.resourceId).second);
  }
}

// The list of carried images expands into the table that the resources,
// the system directory and the version check are held to.
TEST(DriverRecords, CarriedImagesAreTheFixedTable) {
  const struct {
    DriverImage image;
    std::string relativePath;
    std::string fileName;
    int resourceId;
  } rows[] = {
      {kKestrune.image, "\\Drivers\\Kestrune.sys", "Kestrune.sys", 104},
      {kMorvellin.image, "\\Drivers\\Morvellin.sys", "Morvellin.sys", 105},
      {kKestruneVxd, "\\Iosubsys\\Kestrune.vxd", "Kestrune.vxd", 106},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.image.relativePath, row.relativePath);
    EXPECT_EQ(row.image.fileName, row.fileName);
    EXPECT_EQ(row.image.resourceId, row.resourceId);
  }
  EXPECT_STREQ(kCarriedDriverVersion, "1.4.2.11");
}

TEST(DriverRecords, EachFilterHasItsOwnNameListsAndTexts) {
  std::set<std::string> names;
  for (const FilterDriver* d : kNtDrivers) {
    SCOPED_TRACE(d->serviceName);
    EXPECT_TRUE(names.insert(d->serviceName).second);
    EXPECT_FALSE(d->lists.empty());
    std::set<std::string> keys;
    for (const ClassList& list : d->lists) {
      EXPECT_TRUE(keys.insert(list.key).second) << "a class listed twice";
      EXPECT_EQ(std::string(list.registerLine).rfind("Start RegLowerFilter: ", 0), 0u);
      EXPECT_EQ(std::string(list.removeLine).rfind("DelLowerFilter ", 0), 0u);
    }
    // The texts that carry the system's error text end in its line feed.
    EXPECT_TRUE(EndsWith(d->texts.createFailed, "!\n"));
    EXPECT_TRUE(EndsWith(d->texts.deleteServiceFailed, "!\n"));
    EXPECT_TRUE(EndsWith(d->texts.fileDeleted, std::string(d->image.fileName) + " success!"));
    EXPECT_TRUE(EndsWith(d->texts.fileNotDeleted, std::string(d->image.fileName) + " failed!"));
  }
}

}  // namespace
}  // namespace kst
