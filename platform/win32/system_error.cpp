// The system's errors on Windows: GetLastError() and its text.
#include <windows.h>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"

namespace runtime {

std::string system_error_text(int error, const std::string& path) {
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
  // The inserts the text was formatted without: "%1" is the object of the
  // error, any other "%n" unknown here. ("%" and digits are never the trail
  // byte of a double-byte character.)
  for (std::size_t at = 0; (at = out.find('%', at)) != std::string::npos;) {
    std::size_t end = at + 1;
    while (end < out.size() && out[end] >= '0' && out[end] <= '9') ++end;
    if (end == at + 1) {
      ++at;
      continue;
    }
    const std::string fill =
        out.compare(at, end - at, "%1") == 0 && !path.empty() ? path : "?";
    out.replace(at, end - at, fill);
    at += fill.size();
  }
  return out;
}

void throw_system_error(const std::string& what) {
  throw RuntimeError(what + ": " +
                     system_error_text(static_cast<int>(GetLastError())));
}

}  // namespace runtime
