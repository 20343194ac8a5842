// The RunWait body on POSIX systems.
#include "platform/posix/process.h"
#include "runtime/code_set.h"
#include "runtime/external_call.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {

std::uint16_t run_wait_entry(const Text& command_line, std::uint16_t /*show*/) {
  SplitCommand command = split_command_line(to_ansi(command_line));
  std::uint16_t result;
  Status started = run_wait(command, result);
  if (!started.ok()) {
    set_last_failure(started);
    trace("RunWait: " + started.message());
  } else {
    trace("RunWait: " + command.program + " ended with " +
          std::to_string(result));
  }
  return result;
}

}  // namespace runtime
