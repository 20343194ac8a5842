// Starting a program and waiting for it to end: the body of the external
// "RunWait" entry. Never throws; a program that cannot start is reported
// through the result.
#ifndef TOLMEX_RUNTIME_PROCESS_H_
#define TOLMEX_RUNTIME_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

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

// Starts `command.program` with `command.tail` as its one argument (none when
// the tail is empty), inheriting environment, working directory and standard
// streams, with no shell in between, and waits until it has ended. The
// program's exit status; 128 + the signal number when a signal ended it;
// kNotStarted when it could not be started.
std::uint16_t run_wait(const SplitCommand& command);

// Runs `argv` (found on PATH) with this process's environment changed by
// the "NAME=value" entries of `env`, and waits for it; false when it could
// not be started or did not exit with 0. For helper tools such as dialogs.
bool run_tool(const std::vector<std::string>& argv,
              const std::vector<std::string>& env = {});

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PROCESS_H_
