// Programs on Windows have no signals to pass on; the last end is kept by
// the RunWait body.
#include "platform/win32/process.h"

namespace runtime {

ProgramEnd& last_end() {
  static ProgramEnd end;
  return end;
}

void init_signals() {}

int signal_passed_on() { return 0; }

ProgramEnd last_program_end() { return last_end(); }

}  // namespace runtime
