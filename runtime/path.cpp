#include "runtime/path.h"

#include <string>

namespace runtime {

std::u16string_view separator_after(const Text& directory) {
  const std::u16string& units = directory.units();
  if (units.empty() || units.back() == u'\\' || units.back() == u'/') {
    return u"";
  }
  return u"\\";
}

Text below(const Text& directory, std::u16string_view name) {
  std::u16string tail(separator_after(directory));
  tail.append(name);
  return directory + Text(tail);
}

}  // namespace runtime
