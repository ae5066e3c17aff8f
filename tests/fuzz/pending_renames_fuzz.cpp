// The requests Windows carries out at its next start, from arbitrary value
// bytes: read as pairs of strings over the whole value, and followed to what
// they make of one file exactly as a plain walk over every path does.
//
// Input: which paths exist now (1 byte, a seed), which path to follow
// (1 byte: the source or target of that request, or a path of no request),
// then the value's bytes.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check/restart_fate.h"
#include "install/pending_renames.h"
#include "tests/fuzz/fuzz_check.h"

namespace kst {
namespace {

// A path as a request names it: one leading "\??\" taken off.
std::string Unprefixed(std::string path) {
  if (path.compare(0, 4, "\\??\\") == 0) path.erase(0, 4);
  return path;
}

std::string Folded(std::string path) {
  path = Unprefixed(path);
  for (char& c : path) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
  return path;
}

// The strings of the value, each up to its zero or the value's end.
std::vector<std::string> Strings(const std::vector<uint8_t>& value) {
  std::vector<std::string> strings;
  std::string current;
  bool open = false;
  for (uint8_t b : value) {
    if (b == 0) {
      strings.push_back(current);
      current.clear();
      open = false;
    } else {
      current += char(b);
      open = true;
    }
  }
  if (open) strings.push_back(current);
  return strings;
}

void CheckParse(const std::vector<uint8_t>& value, const std::vector<PendingRename>& renames) {
  std::vector<std::string> strings = Strings(value);
  FUZZ_CHECK(renames.size() == strings.size() / 2);
  for (size_t i = 0; i < renames.size(); ++i) {
    const std::string& to = strings[2 * i + 1];
    bool replaces = !to.empty() && to[0] == '!';
    FUZZ_CHECK(renames[i].replaces == replaces);
    FUZZ_CHECK(renames[i].from == Unprefixed(strings[2 * i]));
    FUZZ_CHECK(renames[i].to == Unprefixed(to.substr(replaces ? 1 : 0)));
  }
}

// Every request over every path, nothing left out.
RestartFate ReferenceFate(const std::vector<PendingRename>& renames, const std::string& path,
                          const std::function<bool(const std::string&)>& exists) {
  struct State {
    bool present;
    std::string origin;
  };
  std::map<std::string, State> states;
  auto at = [&](const std::string& p) -> State& {
    auto it = states.find(Folded(p));
    if (it == states.end()) it = states.emplace(Folded(p), State{exists(p), Folded(p)}).first;
    return it->second;
  };
  for (const PendingRename& r : renames) {
    if (!at(r.from).present) continue;
    if (!r.to.empty()) {
      if (Folded(r.to) == Folded(r.from) || (at(r.to).present && !r.replaces)) continue;
      std::string origin = at(r.from).origin;
      at(r.to) = State{true, origin};
    }
    at(r.from).present = false;
  }
  State end = at(path);
  RestartFate fate{end.present, std::nullopt};
  if (end.present && end.origin != Folded(path)) fate.from = end.origin;
  return fate;
}

}  // namespace
}  // namespace kst

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kst;
  fuzz::Input input(data, size);
  uint8_t seed = input.Byte();
  uint8_t pick = input.Byte();
  std::vector<uint8_t> value = input.Rest();
  std::vector<PendingRename> renames = ParsePendingRenames(value);
  CheckParse(value, renames);

  auto exists = [seed](const std::string& path) {
    return (Folded(path).size() + seed) % 3 != 0;
  };
  std::string path = "C:\\WINDOWS\\system32\\Drivers\\Kestrune.sys";
  if (!renames.empty() && pick < 2 * renames.size()) {
    const PendingRename& r = renames[pick / 2];
    path = pick % 2 ? r.to : r.from;
  }
  const PendingRename* last = LastNaming(renames, path);
  for (const PendingRename& r : renames) {
    bool names = Folded(r.from) == Folded(path) || Folded(r.to) == Folded(path);
    if (names) FUZZ_CHECK(last != nullptr && &r <= last);
    if (&r == last) FUZZ_CHECK(names);
  }
  RestartFate fate = FateAtRestart(renames, path, exists);
  RestartFate expected = ReferenceFate(renames, path, exists);
  FUZZ_CHECK(fate.present == expected.present);
  FUZZ_CHECK(fate.from.has_value() == expected.from.has_value());
  if (fate.from) FUZZ_CHECK(Folded(*fate.from) == *expected.from);
  return 0;
}
