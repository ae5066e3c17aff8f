// The programs' folder as the package's deferred actions read it from their
// CustomActionData, which an administrator sets through INSTALLFOLDER.
//
// Input: the data's bytes.
#include <cctype>
#include <string>

#include "msi/package_action.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = kst::fuzz::Text(kst::fuzz::Input(data, size).Rest());
  std::string folder = kst::ProgramFolderOf(text);
  if (folder.empty()) return 0;
  // The data itself, with a closing backslash added where it had none; a
  // full path (drive or server share); "KstCheck.exe" and the terminator
  // fit in the system's 260; nothing that could end the quoted path or a
  // line.
  FUZZ_CHECK(folder == text || folder == text + "\\");
  FUZZ_CHECK(folder.back() == '\\');
  bool drive = folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
               folder[1] == ':' && folder[2] == '\\';
  bool share = folder.compare(0, 2, "\\\\") == 0 && folder.size() > 2 && folder[2] != '\\';
  FUZZ_CHECK(drive || share);
  FUZZ_CHECK(folder.size() + sizeof("KstCheck.exe") <= 260);
  for (char c : folder) {
    unsigned char u = static_cast<unsigned char>(c);
    FUZZ_CHECK(c != '"' && u >= 0x20 && u != 0x7F);
  }
  return 0;
}
