// What each platform folder (platform/posix, platform/win32) supplies to the
// portable part of the runtime besides the services declared in the other
// runtime headers. Internal to the runtime.
#ifndef TOLMEX_RUNTIME_PLATFORM_H_
#define TOLMEX_RUNTIME_PLATFORM_H_

#include <string>

#include "runtime/clock.h"

namespace runtime {

// The local date and time from the system clock, to the millisecond. Raises
// the runtime error when the clock cannot be read.
DateTime system_now();

// The system's text for the error number `error`: an errno value on POSIX
// systems, a GetLastError() code on Windows.
std::string system_error_text(int error);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PLATFORM_H_
