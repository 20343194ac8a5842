// Programs on Windows have no signals to pass on. tolmex.exe is a graphical
// program: it borrows the console it was typed in only to answer an option.
#include "runtime/process.h"

#include <windows.h>

#include <cstdio>

namespace runtime {

void init_signals() {}

void use_parent_console() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

int signal_passed_on() { return 0; }

}  // namespace runtime
