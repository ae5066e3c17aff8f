#include "check/restart_fate.h"

#include <map>

namespace kst {
namespace {

// The requests' paths, each file once, by number; and which of them the
// requests link, so that requests that cannot touch a file are left alone.
class PathTable {
 public:
  size_t Id(const std::string& path) {
    std::string key = WithoutNtPrefix(path);
    for (char& c : key) c = (c >= 'a' && c <= 'z') ? char(c - ('a' - 'A')) : c;
    auto [at, added] = ids_.emplace(std::move(key), names_.size());
    if (added) {
      names_.push_back(&path);
      parent_.push_back(at->second);
    }
    return at->second;
  }
  const std::string& Name(size_t id) const { return *names_[id]; }
  size_t Group(size_t id) {
    while (parent_[id] != id) id = parent_[id] = parent_[parent_[id]];
    return id;
  }
  void Link(size_t a, size_t b) { parent_[Group(a)] = Group(b); }

 private:
  std::map<std::string, size_t> ids_;
  std::vector<const std::string*> names_;  // as first given
  std::vector<size_t> parent_;
};

}  // namespace

RestartFate FateAtRestart(const std::vector<PendingRename>& renames, const std::string& path,
                          const std::function<bool(const std::string&)>& existsNow) {
  PathTable paths;
  const size_t target = paths.Id(path);
  struct Step {
    size_t from, to;  // `to` == `from`: a deletion
  };
  std::vector<Step> steps;
  for (const PendingRename& r : renames) {
    Step step{paths.Id(r.from), 0};
    step.to = r.to.empty() ? step.from : paths.Id(r.to);
    paths.Link(step.from, step.to);
    steps.push_back(step);
  }
  // Only files linked to `path` by requests are looked at: others' requests
  // cannot change it, and asking after their files would cost a call each.
  std::vector<int8_t> present;  // per path: -1 not asked yet, else 0 or 1
  std::vector<size_t> origin;
  auto Present = [&](size_t id) -> int8_t& {
    if (present.size() <= id) {
      present.resize(id + 1, -1);
      origin.resize(id + 1);
    }
    if (present[id] < 0) {
      present[id] = existsNow(paths.Name(id)) ? 1 : 0;
      origin[id] = id;
    }
    return present[id];
  };
  const size_t group = paths.Group(target);
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    if (paths.Group(s.from) != group || !Present(s.from)) continue;
    bool deletion = renames[i].to.empty();
    if (!deletion) {
      if (s.to == s.from || (Present(s.to) && !renames[i].replaces)) continue;  // onto itself: no change
      Present(s.to) = 1;
      origin[s.to] = origin[s.from];
    }
    Present(s.from) = 0;
  }
  RestartFate fate{Present(target) == 1, std::nullopt};
  if (fate.present && origin[target] != target) fate.from = paths.Name(origin[target]);
  return fate;
}

}  // namespace kst
