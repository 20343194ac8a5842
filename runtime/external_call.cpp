#include "runtime/external_call.h"

#include <strings.h>

#include "runtime/code_set.h"
#include "runtime/process.h"
#include "runtime/runtime_error.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// RunWait: starts a command line and returns when the started program has
// ended. `show` is a window show state, which has no meaning here.
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

}  // namespace

std::uint16_t external_call(const ExternalFunction& function, const Text& var_0,
                            std::uint16_t var_1) {
  // Library names are matched as Windows matches them: without regard to
  // case. Entry names count case.
  if (strcasecmp(function.library.c_str(), "runwait.dll") != 0 ||
      function.entry != "RunWait;Ansi") {
    throw RuntimeError("cannot call external function " + function.entry +
                       " in " + function.library);
  }
  return run_wait_entry(to_ansi(var_0), var_1);
}

}  // namespace runtime
