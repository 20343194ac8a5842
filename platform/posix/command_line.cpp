// The parameter string on POSIX systems: the arguments, from the locale's
// code set.
#include "runtime/command_line.h"

#include "runtime/code_set.h"

namespace runtime {

Text command_line(int argc, const char* const* argv) {
  return from_ansi(command_line_tail(argc, argv));
}

}  // namespace runtime
