// The programs this process starts and waits for (through the external
// "RunWait" body, see runtime/external_call.h), and the signals around
// them. Never throws.
//
// On POSIX systems, while a program runs, SIGTERM, SIGINT, SIGHUP and
// SIGQUIT sent to this process are passed on to it, and the wait goes on
// until it has ended: the program is never left running alone. Those
// signals then stay blocked, so that the run can end with a status that
// tells of them. A program is started with default dispositions for every
// signal and an empty signal mask, and gets SIGTERM when this process dies.
// On Windows a started program is in a job that ends with this process.
// Not for processes with several threads.
//
// Implemented: per platform (platform/*/process.cpp).
#ifndef TOLMEX_RUNTIME_PROCESS_H_
#define TOLMEX_RUNTIME_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace runtime {

// Sets the signal dispositions this process runs with: SIGPIPE ignored (a
// closed output is an error to report, not a death), SIGCHLD the default
// whatever was inherited (so the wait for a program works). Nothing on
// Windows.
void init_signals();

// Lets stdout and stderr reach the console this program was typed in when
// it has no standard handles of its own, as a graphical Windows program
// started from a prompt has none; for the answers to options. Nothing on
// POSIX systems, nor where the host gave handles.
void use_parent_console();

// The first signal passed on to a program, or 0 (always 0 on Windows).
int signal_passed_on();

// How a started program ended, as the run that started it tells.
struct ProgramEnd {
  bool started = false;  // it was started (it may not have been waited for)
  bool ended = false;    // it was started and waited for
  int exit_status = 0;   // when no signal ended it
  int signal = 0;        // the signal that ended it, or 0
  // What the operator should hear of the run, such as the processes that
  // it left running (on Windows: "the client left 1 process running:
  // helper.exe (pid 212) ...").
  std::vector<std::string> warnings;

  // The exit status, or 128 + the signal when a signal ended it.
  std::uint16_t status() const {
    return static_cast<std::uint16_t>(signal != 0 ? 128 + signal : exit_status);
  }
};

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PROCESS_H_
