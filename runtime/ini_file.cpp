#include "runtime/ini_file.h"

#include <utility>
#include <vector>

#include "runtime/platform.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// The key writes kept for the next flush.
struct Pending {
  Text path;
  std::vector<IniEdit> edits;
  Status failure;  // the first failure of an earlier flush, not yet returned
};

Pending& pending() {
  static Pending p;
  return p;
}

void write_pending() {
  Pending& p = pending();
  if (p.edits.empty()) return;
  Status s = write_ini_edits(p.path, p.edits);
  p.edits.clear();
  if (p.failure.ok()) p.failure = s;
}

}  // namespace

int set_profile_string(const Text& path, const Text& section, const Text& key,
                       const Text& value) {
  if (path.is_null()) return 0;
  IniEdit edit{section, key, value};
  if (!edit_ini_file("", {edit})) return 0;  // refused in any file
  Pending& p = pending();
  if (p.path.is_null() || p.path.units() != path.units()) write_pending();
  p.path = path;
  // A later write of a key kept already only changes the value to write.
  for (IniEdit& kept : p.edits) {
    if (same_ini_name(kept.section.units(), section.units()) &&
        same_ini_name(kept.key.units(), key.units())) {
      kept.value = value;
      return 1;
    }
  }
  p.edits.push_back(std::move(edit));
  return 1;
}

Status flush_profile_strings() {
  write_pending();
  Status s = std::exchange(pending().failure, Status());
  if (!s.ok()) trace("WriteProfileString: " + s.message());
  return s;
}

Text get_profile_string(const Text& path, const Text& section,
                        const Text& key) {
  write_pending();
  return read_ini_key(path, section, key);
}

}  // namespace runtime
