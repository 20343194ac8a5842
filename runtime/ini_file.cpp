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

Status set_profile_string(const Text& path, const Text& section,
                          const Text& key, const Text& value) {
  if (path.is_null()) return Status::failure("cannot write a key: no file", 0);
  IniEdit edit{section, key, value};
  if (!edit_ini_file("", {edit})) {  // refused in any file
    return Status::failure(
        "cannot write a key that would not read back as written", 0);
  }
  Pending& p = pending();
  if (p.path.is_null() || p.path.units() != path.units()) write_pending();
  p.path = path;
  // A later write of a key kept already only changes the value to write.
  for (IniEdit& kept : p.edits) {
    if (same_ini_name(kept.section.units(), section.units()) &&
        same_ini_name(kept.key.units(), key.units())) {
      kept.value = value;
      return Status();
    }
  }
  p.edits.push_back(std::move(edit));
  return Status();
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
