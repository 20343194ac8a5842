// Starting the client on a POSIX system and waiting for it: the start with
// no shell in between, the wait with the signals passed on
// (runtime/process.h), and helper tools. Never throws; a program that cannot
// start is reported through a Status that says why.
//
// Implemented: platform/posix/process.cpp, beside runtime/process.h's
// functions, which read the signal state the wait keeps.
#ifndef TOLMEX_PLATFORM_POSIX_START_AND_WAIT_H_
#define TOLMEX_PLATFORM_POSIX_START_AND_WAIT_H_

#include <string>

#include "runtime/process.h"
#include "runtime/status.h"

namespace runtime {

// The client's command line cut into the program and the one argument it
// gets.
struct ClientCommand {
  std::string program;
  std::string tail;     // empty: the program gets no argument
  int program_fd = -1;  // the program's file, open, when it was judged so
};

// Starts `command.program` with `command.tail` as its one argument (none when
// the tail is empty), inheriting environment, working directory and standard
// streams, with no shell in between, in a process group of its own (which
// gets the terminal while it runs, when this process has it), and waits
// until it has ended; `end` tells how. With `command.program_fd`, the file
// open there is what starts (execveat), whatever its name refers to by
// then, and argv[0] is still `command.program`; except a script ("#!"),
// which the kernel would show its descriptor's name (/dev/fd/N) as its
// own, and which is started by its path. A failure when the program could
// not be started, or when the wait for it failed (`end.started` tells
// which).
Status start_and_wait(const ClientCommand& command, ProgramEnd& end);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_START_AND_WAIT_H_
