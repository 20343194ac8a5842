// Programs on Windows have no signals to pass on; the last end is kept by
// the RunWait body. tolmex.exe is a graphical program: it borrows the
// console it was typed in only to answer an option.
#include "platform/win32/process.h"

#include <windows.h>

#include <cstdio>

namespace runtime {

ProgramEnd& last_end() {
  static ProgramEnd end;
  return end;
}

void init_signals() {}

void use_parent_console() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

int signal_passed_on() { return 0; }

ProgramEnd last_program_end() { return last_end(); }

}  // namespace runtime
