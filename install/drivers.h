#pragma once
// Everything the program knows of each driver it carries: where its image
// goes, how its service is registered, which class lists name it, and the
// trace texts its steps write. Facts only, no platform calls, so that any
// program of the set (with or without a window) can read them.
#include <array>
#include <cstdint>
#include <span>

#include "platform/win_constants.h"
#include "resources/driver_images.h"

namespace kst {

// Class keys below HKEY_LOCAL_MACHINE, under the system's own names: the one
// named ATA holds the SCSI adapter class, the one named SCSI the IDE
// ATA/ATAPI class.
inline constexpr const char* KESTRUNE_REG_KEY_ATA =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* KESTRUNE_REG_KEY_SCSI =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* MORVELLIN_REG_KEY_CDVDROM =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}";

// The service names, which are also the names in the class lists.
inline constexpr const char* REG_KESTRUNE = "Kestrune";
inline constexpr const char* REG_MORVELLIN = "Morvellin";

// The file version every carried image has.
inline constexpr const char* kCarriedDriverVersion = KST_IMAGE_VERSION_TEXT;

// The caption of the program's error boxes about the drivers.
inline constexpr const char* kFiltersCaption = "SCSI SRB Command Filters";

// One carried image and the file it becomes.
struct DriverImage {
  const char* relativePath;  // below the system directory
  const char* fileName;
  int resourceId;  // of resource type "DRIVER"
};

// The carried images, by their names in the list of resources/driver_images.h.
struct CarriedImages {
#define KST_CARRIED_IMAGE(name, id, folder, file) DriverImage name{"\\" folder "\\" file, file, id};
  KST_DRIVER_IMAGES(KST_CARRIED_IMAGE)
#undef KST_CARRIED_IMAGE
};
inline constexpr CarriedImages kImages{};

// One class list of a driver with the trace lines written before it is edited.
struct ClassList {
  const char* key;
  const char* registerLine;
  const char* removeLine;
};

struct ServiceSettings {
  const char* displayName;
  uint32_t startType;
  uint32_t errorControl;
  const char* group;  // empty: none
};

// The system's trace texts of one driver's registration and removal, as they
// are spelt (typos included: they are what the trace readers know). Each
// driver's texts below say where one reads oddly on purpose.
struct DriverTexts {
  const char* installStep;  // written before its registration step starts
  const char* managerUnavailable;  // registration, no service control manager
  const char* serviceExists;
  const char* serviceCreated;
  const char* createFailed;  // the system's error text follows
  const char* installFailed;
  const char* listsRegistered;
  const char* listFailed;
  const char* removalManagerUnavailable;
  const char* removalServiceUnavailable;
  const char* deleteServiceFailed;  // the system's error text follows
  const char* fileDeleted;
  const char* fileNotDeleted;
};

// A filter driver of the NT family: a kernel service listed in class lists.
struct FilterDriver {
  const char* serviceName;
  ServiceSettings service;
  DriverImage image;
  std::span<const ClassList> lists;
  bool tracesPathOnRemoval;  // its removal starts with a line naming its file
  DriverTexts texts;
};

inline constexpr ClassList kKestruneLists[] = {
    {.key = KESTRUNE_REG_KEY_ATA,
     .registerLine = "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!",
     .removeLine = "DelLowerFilter KESTRUNE_REG_KEY_ATA"},
    {.key = KESTRUNE_REG_KEY_SCSI,
     .registerLine = "Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!",
     .removeLine = "DelLowerFilter KESTRUNE_REG_KEY_SCSI"},
};

inline constexpr ClassList kMorvellinLists[] = {
    {.key = MORVELLIN_REG_KEY_CDVDROM,
     .registerLine = "Start RegLowerFilter: REG_MORVELLIN MORVELLIN_REG_KEY_CDVDROM!",
     .removeLine = "DelLowerFilter MORVELLIN_REG_KEY_CDVDROM"},
};

// The adapter-level filter.
inline constexpr FilterDriver kKestrune{
    .serviceName = REG_KESTRUNE,
    .service = {.displayName = "Kestrune - Storage Filter Drivers",
                .startType = win::kServiceBootStart,
                .errorControl = win::kServiceErrorIgnore,
                .group = "System Bus Extender"},
    .image = kImages.KestruneSys,
    .lists = kKestruneLists,
    .tracesPathOnRemoval = true,
    .texts = {
        .installStep = "InstallKestruneNT",
        .managerUnavailable = "Kestrune server not exists",
        // "inforamtiom" as the system spells it.
        .serviceExists = "Kestrune server exists, Re-update register inforamtiom!",
        .serviceCreated = "Create Kestrune service success!",
        // "Faile" as the system spells it.
        .createFailed = "Faile to create Kestrune service!\n",
        .installFailed = "Failed to install Kestrune service!",
        .listsRegistered = "Success to RegLowerFilter Kestrune ATAPI!",
        .listFailed = "Failed to RegLowerFilter Kestrune ATAPI!",
        .removalManagerUnavailable = "Failed to OpenSCManager Kestrune",
        .removalServiceUnavailable = "Failed to OpenService Kestrune",
        .deleteServiceFailed = "Failed to DeleteService Kestrune driver!\n",
        .fileDeleted = "DeleteFile: Kestrune.sys success!",
        .fileNotDeleted = "DeleteFile: Kestrune.sys failed!",
    },
};

// The CD/DVD-ROM class filter.
inline constexpr FilterDriver kMorvellin{
    .serviceName = REG_MORVELLIN,
    .service = {.displayName = "Morvellin - Storage Filter Drivers",
                .startType = win::kServiceDemandStart,
                .errorControl = win::kServiceErrorNormal,
                .group = ""},
    .image = kImages.MorvellinSys,
    .lists = kMorvellinLists,
    .tracesPathOnRemoval = false,
    .texts = {
        .installStep = "InstallMorvellinNT",
        .managerUnavailable = "Morvellin server not exists",
        .serviceExists = "Morvellin server exists!",
        .serviceCreated = "Create Morvellin service success!",
        // "Faile" as the system spells it.
        .createFailed = "Faile to create Morvellin service!\n",
        .installFailed = "Failed to install Morvellin service!",
        .listsRegistered = "Success to RegLowerFilter Morvellin cdvdrom!",
        // Names Kestrune although it is Morvellin's list that failed: the
        // system writes it so, and trace readers look for this very line.
        .listFailed = "Failed to RegLowerFilter Kestrune cdvdrom!",
        .removalManagerUnavailable = "Failed to OpenSCManager Morvellin",
        .removalServiceUnavailable = "Failed to OpenService Morvellin",
        .deleteServiceFailed = "Failed to DeleteService Morvellin driver!\n",
        .fileDeleted = "DeleteFile: Morvellin.sys success!",
        .fileNotDeleted = "DeleteFile: Morvellin.sys failed!",
    },
};

// The filter drivers of the NT family, in the order they are written,
// registered, removed and shown.
inline constexpr std::array<const FilterDriver*, 2> kNtDrivers{&kKestrune, &kMorvellin};

// The one image of the 9x family: a VxD without service or class lists.
inline constexpr DriverImage kKestruneVxd = kImages.KestruneVxd;

}  // namespace kst
