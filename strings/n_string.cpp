#include "strings/n_string.h"

using runtime::Int;
using runtime::Text;

namespace {

// Arithmetic on nullable integers: null when either side is null.
Int plus(Int a, Int b) { return a && b ? Int(*a + *b) : std::nullopt; }
Int minus(Int a, Int b) { return a && b ? Int(*a - *b) : std::nullopt; }

}  // namespace

Text n_string::of_get_str_to_to(Text as_source, Text as_first, Text as_end,
                                Int ai_number) {
  Int li_find_count = 0;
  Int li_find = runtime::pos(as_source, as_first, 1);
  while (li_find && *li_find != 0) {
    Int li_one_palace = li_find;
    li_find_count = plus(li_find_count, 1);
    if (ai_number && ai_number == li_find_count) {
      Int start = plus(li_one_palace, runtime::len(as_first));
      Int li_two_palace = runtime::pos(as_source, as_end, start);
      return runtime::mid(as_source, start, minus(li_two_palace, start));
    }
    li_find = runtime::pos(as_source, as_first,
                           plus(li_one_palace, runtime::len(as_first)));
  }
  return Text();
}
