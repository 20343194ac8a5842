#include "platform/posix/exec_args.h"

#include <algorithm>
#include <string_view>

extern char** environ;

namespace runtime {

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> changed_environment(
    const std::vector<std::string>& changes) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    const bool changed =
        std::any_of(changes.begin(), changes.end(),
                    [&](const std::string& c) { return c.starts_with(name); });
    if (!changed) out.emplace_back(entry);
  }
  for (const std::string& c : changes) {
    if (!c.ends_with('=')) out.push_back(c);
  }
  return out;
}

}  // namespace runtime
