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

// How the program started last ended.
struct ProgramEnd {
  bool started = false;  // a program was started (it may not have been
                         // waited for)
  bool ended = false;    // false: no program was started and waited for
  int exit_status = 0;   // its exit status, when no signal ended it
  int signal = 0;        // the signal that ended it, or 0
};
ProgramEnd last_program_end();

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PROCESS_H_
