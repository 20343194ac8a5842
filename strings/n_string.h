// n_string: picks delimited fields out of a text. Stateless; a failure of a
// text service propagates as the runtime error.
#ifndef TOLMEX_STRINGS_N_STRING_H_
#define TOLMEX_STRINGS_N_STRING_H_

#include "runtime/text.h"
#include "runtime/trace.h"

class n_string {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x7c0;

  // The text strictly between the `ai_number`-th occurrence of `as_first` in
  // `as_source` and the first `as_end` after it. Occurrences are counted
  // without overlap. "" when there are fewer occurrences (or `ai_number` is
  // below 1, or the source, opening delimiter or number is null); "" too when
  // no closing delimiter follows; null for a null closing delimiter.
  runtime::Text of_get_str_to_to(runtime::Text as_source,
                                 runtime::Text as_first, runtime::Text as_end,
                                 runtime::Int ai_number);
};

#endif  // TOLMEX_STRINGS_N_STRING_H_
