#include "runtime/trace.h"

#include <cstdio>

namespace runtime {

void trace_failed_call(TraceCode caller) {
  char line[64];
  std::snprintf(line, sizeof line, "*** WE HAVE A PROBLEM HERE. Error = %x ***",
                static_cast<unsigned>(caller));
  trace(line);
}

}  // namespace runtime
