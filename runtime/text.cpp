#include "runtime/text.h"

namespace runtime {

Text operator+(const Text& a, const Text& b) {
  if (a.is_null() || b.is_null()) return Text::null();
  return Text(a.units() + b.units());
}

Bool equals(const Text& a, const Text& b) {
  if (a.is_null() || b.is_null()) return std::nullopt;
  return a.units() == b.units();
}

Int len(const Text& s) {
  if (s.is_null()) return std::nullopt;
  return static_cast<std::int64_t>(s.units().size());
}

Int pos(const Text& source, const Text& search, Int start) {
  if (source.is_null() || search.is_null() || !start) return std::nullopt;
  const std::u16string& s = source.units();
  if (search.units().empty() || *start < 1 ||
      *start > static_cast<std::int64_t>(s.size())) {
    return 0;
  }
  std::size_t found = s.find(search.units(), *start - 1);
  if (found == std::u16string::npos) return 0;
  return static_cast<std::int64_t>(found) + 1;
}

Text mid(const Text& source, Int start, Int length) {
  if (source.is_null() || !start || !length) return Text::null();
  const std::u16string& s = source.units();
  if (*start < 1 || *length < 0 ||
      *start > static_cast<std::int64_t>(s.size())) {
    return Text();
  }
  return Text(s.substr(*start - 1, *length));
}

}  // namespace runtime
