// The system's errors on Windows: GetLastError() and its text.
#include <windows.h>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"

namespace runtime {

std::string system_error_text(int error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(error), 0,
                           reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0) return std::string("error ").append(std::to_string(error));
  // The text ends with a line break (and often a full stop before it).
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' ||
                   text[n - 1] == L'.' || text[n - 1] == L' ')) {
    --n;
  }
  std::string out = to_ansi(from_wide(text, n));
  LocalFree(text);
  return out;
}

void throw_system_error(const std::string& what) {
  throw RuntimeError(what + ": " +
                     system_error_text(static_cast<int>(GetLastError())));
}

}  // namespace runtime
