#include "runtime/external_call.h"

#include "runtime/code_set.h"
#include "runtime/process.h"
#include "runtime/runtime_error.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {

std::uint16_t run_wait_entry(const std::string& command_line,
                             std::uint16_t /*show*/) {
  SplitCommand command = split_command_line(command_line);
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

std::uint16_t external_call(const ExternalFunction& function, const Text& var_0,
                            std::uint16_t var_1) {
  // Bodies take 8-bit text only, so only entries declared ";Ansi" fit.
  if (function.body == nullptr || !function.entry.ends_with(";Ansi")) {
    throw RuntimeError("cannot call external function " + function.entry +
                       " in " + function.library);
  }
  return function.body(to_ansi(var_0), var_1);
}

}  // namespace runtime
