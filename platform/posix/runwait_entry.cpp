// The RunWait body on POSIX systems.
#include "platform/posix/program_copy.h"
#include "platform/posix/start_and_wait.h"
#include "runtime/code_set.h"
#include "runtime/external_call.h"
#include "runtime/program_copy.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {

Status runwait_entry(const Text& command_line, std::uint16_t /*show*/,
                     ProgramEnd& end) {
  // The program is the copy this process has in use that the line starts
  // with, by its exact path, even when the path holds blanks, and from the
  // descriptor it is held by; nothing else is started.
  end = ProgramEnd();
  const std::size_t length = program_in_use(command_line);
  const std::u16string& units = command_line.units();
  std::size_t tail = length;
  while (tail < units.size() && (units[tail] == u' ' || units[tail] == u'\t')) {
    ++tail;
  }
  Status run = length == 0
                   ? Status::failure("cannot start " + to_ansi(command_line) +
                                         ": not a copy this run holds",
                                     0)
                   : start_and_wait({to_ansi(Text(units.substr(0, length))),
                                     to_ansi(Text(units.substr(tail))),
                                     held_copy(Text(units.substr(0, length)))},
                                    end);
  if (!run.ok()) trace("RunWait: " + run.message());
  return run;
}

}  // namespace runtime
