// Starting a program and waiting for it to end, and the signals around it.
// Never throws; a program that cannot start is reported through a Status that
// says why.
//
// While a program runs, SIGTERM, SIGINT, SIGHUP and SIGQUIT sent to this
// process are passed on to it, and the wait goes on until it has ended: the
// program is never left running alone. Those signals then stay
// blocked, so that the run can end with a status that tells of them. A
// program is started with default dispositions for every signal and an
// empty signal mask, and gets SIGTERM when this process dies. Not for
// processes with several threads.
#ifndef TOLMEX_RUNTIME_PROCESS_H_
#define TOLMEX_RUNTIME_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/status.h"

namespace runtime {

// Result of run_wait() when the program could not be started.
inline constexpr std::uint16_t kNotStarted = 65535;

// A command line cut into the program and the one argument it gets.
struct SplitCommand {
  std::string program;
  std::string tail;  // empty: the program gets no argument
};

// Cuts an 8-bit command line the way a Windows process start reads one: a
// program name in double quotes ends at the closing quote; otherwise the
// program is the shortest prefix ending before a blank (or the whole line)
// that names an existing regular file once backslashes are read as "/", and
// failing that the text up to the first blank. The tail is the rest after the
// blanks that follow the program name.
SplitCommand split_command_line(const std::string& command_line);

// Sets the signal dispositions this process runs with: SIGPIPE ignored (a
// closed output is an error to report, not a death), SIGCHLD the default
// whatever was inherited (so the wait for a program works).
void init_signals();

// Starts `command.program` with `command.tail` as its one argument (none when
// the tail is empty), inheriting environment, working directory and standard
// streams, with no shell in between, and waits until it has ended. `status`
// becomes the program's exit status, or 128 + the signal number when a
// signal ended it. A failure when the program could not be started (then
// `status` is kNotStarted).
Status run_wait(const SplitCommand& command, std::uint16_t& status);

// The first signal that run_wait() passed on to a program, or 0.
int signal_passed_on();

// How the program that run_wait() started last ended.
struct ProgramEnd {
  bool ended = false;   // false: no program was started and waited for
  int exit_status = 0;  // its exit status, when no signal ended it
  int signal = 0;       // the signal that ended it, or 0
};
ProgramEnd last_program_end();

// Runs `argv` (argv[0] the program's path) with this process's environment
// changed by the "NAME=value" entries of `env`, and waits for it; false when it
// could not be started or did not exit with 0. For helper tools such as
// dialogs.
bool run_tool(const std::vector<std::string>& argv,
              const std::vector<std::string>& env = {});

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PROCESS_H_
