#pragma once
#include <optional>
#include <string>
#include <vector>

#include "install/drivers.h"
#include "install/interaction.h"
#include "platform/platform.h"

namespace kst {

// The system directory with `relativePath` appended, or nullopt when the
// whole does not fit in a MAX_PATH buffer with its terminating zero.
std::optional<std::string> SystemPath(const std::string& relativePath);

// How a trace line names the file at `relativePath`: its `path` as
// SystemPath gave it, or, when there was none, the system directory and the
// relative path as they stand.
std::string PathForTrace(const std::optional<std::string>& path, const std::string& relativePath);

// Writes one embedded image to its path below the system directory. True
// when the whole image is in place, or, while the loaded driver holds the
// file there, waits whole beside it for Windows to put it in place at its
// next start (traced as "in use, replaced at restart"); the old image stays
// as it was until then. A file already there is replaced only by the
// complete new image and otherwise stays as it was. Every failure has been
// traced and told with the copy failure text (ShowFailure). The 9x family
// cannot replace a file in use at its restart: that copy fails.
bool Copyfile(const std::string& relativePath, int resourceId, Interaction interaction);
bool Copyfile(const DriverImage& image, Interaction interaction);

// Writes the running family's images in their fixed order, stopping at the
// first that fails. True when all were written.
bool DeployDriverImages(Interaction interaction);

// True for the errors of a deletion, move or replacement of a file that a
// loaded driver holds (access denied, sharing violation).
bool FileInUse(ErrorCode error);

// Clears the read-only attribute of a file of our own, which would keep it
// from being deleted or replaced. A file that is not there, or whose
// attributes cannot be read, is left to the step that follows.
void MakeWritable(const std::string& path);

// Deletes a file of our own, read-only or not. True when it is gone (also
// when it was not there, or its folder is missing); any other failure is
// traced.
bool DeleteOwnFile(const std::string& path);

// The files of our own that a copy puts beside the image at `imagePath`:
// the new image while it is written (under a further name when a request
// for the restart names the first) and, on the 9x family, the old one while
// the two are swapped. A run that was stopped may leave them behind, and a
// new image waits under its name for a restart that moves it into place.
std::vector<std::string> OwnFilesBeside(const std::string& imagePath);

}  // namespace kst
