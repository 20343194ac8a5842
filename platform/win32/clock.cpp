// The system clock on Windows.
#include "runtime/clock.h"

#include <windows.h>

#include "runtime/platform.h"

namespace runtime {

DateTime system_now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return DateTime{t.wYear,   t.wMonth,  t.wDay,         t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds};
}

std::int64_t monotonic_milliseconds() {
  return static_cast<std::int64_t>(GetTickCount64());
}

}  // namespace runtime
