#include "runtime/path.h"

#include <algorithm>

#include "runtime/code_set.h"

namespace runtime {

std::string fs_path(const Text& path) {
  std::u16string units = path.units();
  std::replace(units.begin(), units.end(), u'\\', u'/');
  return CodeSet::current().encode(units);
}

}  // namespace runtime
