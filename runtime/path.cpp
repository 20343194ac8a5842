#include "runtime/path.h"

#include <string>

namespace runtime {

Text below(const Text& directory, std::u16string_view name) {
  const std::u16string& units = directory.units();
  std::u16string tail;
  if (!units.empty() && units.back() != u'\\' && units.back() != u'/') {
    tail = u"\\";
  }
  tail.append(name);
  return directory + Text(tail);
}

}  // namespace runtime
