// The message box on Windows: the platform's own, after the same line on
// stderr as on POSIX systems, above every other window and in the
// foreground, so that a full-screen host that waits for tolmex cannot hide
// it.
#include "runtime/message_box.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"

namespace runtime {

int message_box(const Text& title, const Text& text) {
  std::fprintf(stderr, "%s: %s\n", to_ansi(title).c_str(),
               to_ansi(text).c_str());
  std::fflush(stderr);
  MessageBoxW(nullptr, wide(text).c_str(), wide(title).c_str(),
              MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
  return 1;
}

std::string dialog_tool() { return "MessageBoxW"; }

}  // namespace runtime
