#include "runtime/ini_file.h"

#include <utility>
#include <vector>

#include "runtime/code_set.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// True when `units` holds half of a UTF-16 pair: a byte that did not
// decode (U+DC80 to U+DCFF) or a lone surrogate of a UTF-16 file.
bool has_lone_surrogate(const std::u16string& units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xd800 && u <= 0xdbff && i + 1 < units.size() &&
        units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
      ++i;
    } else if (u >= 0xd800 && u <= 0xdfff) {
      return true;
    }
  }
  return false;
}

void write_pending(Site& site) {
  Site::PendingWrites& p = site.pending;
  if (p.edits.empty()) return;
  Status s = write_ini_edits(site, p.name, p.edits);
  p.edits.clear();
  if (p.failure.ok()) p.failure = s;
}

}  // namespace

Status set_profile_string(Site& site, const Text& name, const Text& section,
                          const Text& key, const Text& value) {
  if (name.is_null()) return Status::failure("cannot write a key: no file", 0);
  IniEdit edit{section, key, value};
  if (!edit_ini_file("", {edit})) {  // refused in any file
    return Status::failure(
        "cannot write a key that would not read back as written", 0);
  }
  Site::PendingWrites& p = site.pending;
  if (p.name.is_null() || p.name.units() != name.units()) write_pending(site);
  p.name = name;
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

Status flush_profile_strings(Site& site) {
  write_pending(site);
  Status s = std::exchange(site.pending.failure, Status());
  if (!s.ok()) trace("WriteProfileString: " + s.message());
  return s;
}

Text get_profile_string(Site& site, const Text& name, const Text& section,
                        const Text& key) {
  write_pending(site);
  return read_ini_key(site, name, section, key);
}

Status read_profile_section(const Site& site, const Text& name,
                            const Text& section, const std::vector<Text>& keys,
                            std::vector<Text>& values, std::string& warning) {
  values.clear();
  warning.clear();
  Status read = read_ini_keys(site, name, section, keys, values, warning);
  if (!read.ok()) return read;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!values[i].is_null() && has_lone_surrogate(values[i].units())) {
      values.clear();
      return Status::failure("cannot read " + to_ansi(site.path_of(name)) +
                                 ": the value of " + to_ansi(keys[i]) +
                                 " holds a byte that is no character of the "
                                 "code set in use, or half of a UTF-16 pair",
                             0);
    }
  }
  return Status();
}

}  // namespace runtime
