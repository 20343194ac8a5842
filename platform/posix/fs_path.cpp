#include "platform/posix/fs_path.h"

#include <algorithm>

#include "platform/posix/iconv_code_set.h"

namespace runtime {

std::string fs_path(const Text& path) {
  std::u16string units = path.units();
  std::replace(units.begin(), units.end(), u'\\', u'/');
  return CodeSet::current().encode(units);
}

std::string directory_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace runtime
