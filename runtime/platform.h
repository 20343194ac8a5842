// What each platform folder (platform/posix, platform/win32) supplies to the
// portable part of the runtime besides the services declared in the other
// runtime headers. Internal to the runtime.
//
// The state the runtime keeps for the whole process, and why it is not
// handed down as a value: each belongs to one run, which serves one
// request on one thread, and each mirrors a service whose callers (the
// application classes) pass no context of their own:
// - on POSIX systems, the public directory opened once (a
//   runtime::PublicDirectory, which the application object holds; its
//   descriptor is kept in platform/posix/shared_dir.cpp while the value
//   lives): every file of the request is found relative to it, whatever
//   its name comes to mean meanwhile, and the file services that the
//   classes call with a path alone must all find it;
// - the files open by file number (platform/*/files.cpp): the log's
//   file_open() / file_write_line() / file_close() pass only the number;
// - the copies of the client in use (platform/*/program_copy.cpp):
//   delete_file() and the RunWait body must know which copy this run holds
//   until it ends;
// - the INI writes kept until the flush (runtime/ini_file.cpp), as the
//   profile functions keep them;
// - the code set of the locale (platform/posix/code_set.cpp; the ANSI code
//   page on Windows, platform/win32/code_page.cpp), chosen once at start:
//   every text that enters or leaves the program passes through it;
// - on POSIX systems, the first signal passed on to the client
//   (platform/posix/process.cpp), which the exit status reports.
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
// `path`, creating a missing file; what failed and why, or success. The
// body of the flush of runtime/ini_file.h.
Status write_ini_edits(const Text& path, const std::vector<IniEdit>& edits);

// The value of `key` in `section` of the INI file `path`; null when the
// file cannot be read or the lookup gives the default.
Text read_ini_key(const Text& path, const Text& section, const Text& key);

// The body of read_profile_section() (runtime/ini_file.h) but for the check
// of the values' characters.
Status read_ini_keys(const Text& path, const Text& section,
                     const std::vector<Text>& keys, std::vector<Text>& values,
                     std::string& warning);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PLATFORM_H_
