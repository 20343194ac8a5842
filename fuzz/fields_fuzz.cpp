// Fuzzes field extraction against a plain model of the algorithm: the same
// result for any source, delimiters and number, nulls included, and for
// sources far beyond 32,767 code units.
//
// Input: a flags byte (bits 0-3: source, opening delimiter, closing
// delimiter, number null; bit 4: 40,000 units put before the source), a
// signed number byte, then source, opening and closing delimiter separated
// by 0xFF, each byte one code unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "strings/n_string.h"

namespace {

using Units = std::optional<std::u16string>;

// The field between the number-th opening delimiter and the next closing
// one, by plain searching: "" when there is none, null for a null closing
// delimiter.
Units model(const Units& source, const Units& first, const Units& end,
            std::optional<long> number) {
  if (!source || !first || first->empty()) return u"";
  long count = 0;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = source->find(*first, from);
    if (at == std::u16string::npos) return u"";
    std::size_t start = at + first->size();
    ++count;
    if (number && count == *number) {
      if (!end) return std::nullopt;
      std::size_t close =
          end->empty() ? std::u16string::npos : source->find(*end, start);
      if (close == std::u16string::npos) return u"";
      return source->substr(start, close - start);
    }
    from = start;
  }
}

runtime::Text text(const Units& u) {
  return u ? runtime::Text(*u) : runtime::Text::null();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const long number = static_cast<std::int8_t>(data[1]);
  std::u16string parts[3];
  int part = 0;
  for (std::size_t i = 2; i < size; ++i) {
    if (data[i] == 0xFF) {
      if (++part == 3) break;
    } else {
      parts[part].push_back(data[i]);
    }
  }
  if (flags & 16) parts[0] = std::u16string(40000, u'x') + parts[0];
  Units source = flags & 1 ? Units() : parts[0];
  Units first = flags & 2 ? Units() : parts[1];
  Units end = flags & 4 ? Units() : parts[2];
  std::optional<long> n =
      flags & 8 ? std::nullopt : std::optional<long>(number);

  n_string s;
  runtime::Text got = s.of_get_str_to_to(text(source), text(first), text(end),
                                         n ? runtime::Int(*n) : std::nullopt);
  if (got != text(model(source, first, end, n))) std::abort();
  return 0;
}
