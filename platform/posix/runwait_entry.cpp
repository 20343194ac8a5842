// The RunWait body on POSIX systems.
#include "platform/posix/shared_dir.h"
#include "platform/posix/start_and_wait.h"
#include "runtime/code_set.h"
#include "runtime/external_call.h"
#include "runtime/program_copy.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {

Status runwait_entry(Site& site, const Text& command_line,
                     std::uint16_t /*show*/, ProgramEnd& end) {
  // The program is the copy the site holds when the line starts with its
  // exact path, even when the path holds blanks, and from the descriptor
  // it is held by; nothing else is started.
  end = ProgramEnd();
  const std::size_t length = held_copy_length(site, command_line);
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
                                     site.hold().copy.fd.get()},
                                    end);
  if (!run.ok()) trace("RunWait: " + run.message());
  return run;
}

}  // namespace runtime
