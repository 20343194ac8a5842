// The diagnostic trace on Windows.
#include "runtime/trace.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"
#include "runtime/escape.h"

namespace runtime {

void trace(const std::string& line) {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"TOLMEX_TRACE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  HANDLE file =
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string bytes = escape_controls(line) + "\n";
  DWORD written;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
  CloseHandle(file);
}

}  // namespace runtime
