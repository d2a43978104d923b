#include "containers/unpack.h"

#include <algorithm>

#include "containers/archive.h"
#include "containers/package.h"
#include "platform/platform.h"
#include "texture/texture.h"

namespace kelp {

bool enter_container(Unpack& run, const std::string& name, Bytes container) {
  const std::uint8_t* first = container.data();
  if (std::find(run.nesting.begin(), run.nesting.end(), first) != run.nesting.end()) {
    platform::warn(name, "container contains itself; skipped");
    return false;
  }
  if (run.nesting.size() >= max_nesting) {
    platform::warn(name,
                   "containers nested more than " + std::to_string(max_nesting) + " deep; skipped");
    return false;
  }
  run.nesting.push_back(first);
  return true;
}

void leave_container(Unpack& run) {
  run.nesting.pop_back();
}

namespace {

void note(Unpack& run, Outcome outcome) {
  if (outcome == Outcome::failed) run.failed = true;
}

}  // namespace

void visit_entry(Unpack& run, const std::string& name, Bytes entry, ArchiveRule rule) {
  if (!fits(entry, 0, classification_size)) {
    platform::warn(name, "entry lies past the end of its container; skipped");
    return;
  }
  switch (classify_entry(entry, rule)) {
    case EntryKind::tx4:
      note(run, convert_tx4(name, entry, run.scratch));
      break;
    case EntryKind::tx8:
      note(run, convert_tx8(name, entry, run.scratch));
      break;
    case EntryKind::package:
      if (enter_container(run, name, entry)) {
        walk_package(run, name, entry);
        leave_container(run);
      }
      break;
    case EntryKind::archive:
      if (enter_container(run, name, entry)) {
        walk_archive(run, name, entry);
        leave_container(run);
      }
      break;
    case EntryKind::mot:
    case EntryKind::other:
      break;
  }
}

}  // namespace kelp
