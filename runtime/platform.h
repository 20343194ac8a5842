// What each platform folder (platform/posix, platform/win32) supplies to the
// portable part of the runtime besides the services declared in the other
// runtime headers. Internal to the runtime.
//
// The state the runtime keeps for the whole process, and why it is not
// handed down as a value; everything a request holds lives in its
// runtime::Site (runtime/site.h), which the application object hands down:
// - the code set of the locale (platform/posix/code_set.cpp; the ANSI code
//   page on Windows, platform/win32/code_page.cpp), chosen once at start:
//   every text that enters or leaves the program passes through it, also
//   where no site exists yet (the command line, the messages);
// - on POSIX systems, the first signal passed on to the client
//   (platform/posix/process.cpp), which a signal handler records and the
//   exit status reports; on Windows, the job object that holds the clients
//   (platform/win32/runwait_entry.cpp), made once and closed by the
//   system when the process ends, so that a killed run takes its clients
//   with it.
// (The clock that unit tests may set, runtime/clock.h, is never set by the
// program.)
//
// Implemented: per platform (platform/*/).
#ifndef TOLMEX_RUNTIME_PLATFORM_H_
#define TOLMEX_RUNTIME_PLATFORM_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "runtime/clock.h"
#include "runtime/ini_text.h"
#include "runtime/site.h"
#include "runtime/status.h"

namespace runtime {

// The longest wait for what another process holds (a lock, a file open
// without sharing), on every platform. Runs hold such things for a few
// milliseconds; anything held longer belongs to something else.
inline constexpr std::chrono::seconds kLockWait{5};

// The largest result file that is read: no INI file of this program's is
// this large, and a larger one is not read into memory.
inline constexpr std::size_t kMaxIniSize = 1 << 20;

// The local date and time from the system clock, to the millisecond. Raises
// the runtime error when the clock cannot be read.
DateTime system_now();

// The system's text for the error number `error`: an errno value on POSIX
// systems, a GetLastError() code on Windows. Windows names the object of
// some errors as "%1" ("%1 is not a valid Win32 application"): `path` goes
// there, "?" where there is none, and "?" for any other insert.
std::string system_error_text(int error, const std::string& path = "");

// Applies `edits` (never refused by edit_ini_file()) to the INI file
// `name` of `site`, creating a missing file; what failed and why, or
// success. The body of the flush of runtime/ini_file.h.
Status write_ini_edits(Site& site, const Text& name,
                       const std::vector<IniEdit>& edits);

// The value of `key` in `section` of the INI file `name`; null when the
// file cannot be read or the lookup gives the default.
Text read_ini_key(const Site& site, const Text& name, const Text& section,
                  const Text& key);

// The body of read_profile_section() (runtime/ini_file.h) but for the check
// of the values' characters.
Status read_ini_keys(const Site& site, const Text& name, const Text& section,
                     const std::vector<Text>& keys, std::vector<Text>& values,
                     std::string& warning);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PLATFORM_H_
