// The system clock on POSIX systems.
#include "runtime/clock.h"

#include <ctime>

#include "runtime/platform.h"
#include "runtime/runtime_error.h"

namespace runtime {

DateTime system_now() {
  timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    throw_system_error("cannot read the clock");
  }
  tm local;
  if (localtime_r(&ts.tv_sec, &local) == nullptr) {
    throw_system_error("cannot convert the clock to local time");
  }
  return DateTime{local.tm_year + 1900,
                  local.tm_mon + 1,
                  local.tm_mday,
                  local.tm_hour,
                  local.tm_min,
                  local.tm_sec,
                  static_cast<int>(ts.tv_nsec / 1000000)};
}

std::int64_t monotonic_milliseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);  // cannot fail for this clock
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace runtime
