// The runtime error: what a runtime service throws when it cannot work at all
// (as against returning a failure value). It stops the current routine and
// every caller up to the process entry, which ends the run with its message.
//
// Implemented: portable (this header).
#ifndef TOLMEX_RUNTIME_RUNTIME_ERROR_H_
#define TOLMEX_RUNTIME_RUNTIME_ERROR_H_

#include <stdexcept>
#include <string>

namespace runtime {

class RuntimeError : public std::runtime_error {
 public:
  explicit RuntimeError(const std::string& what) : std::runtime_error(what) {}
};

// Throws a RuntimeError whose message is `what` followed by ": " and the text
// of the system's last error (errno on POSIX systems, GetLastError() on
// Windows). For failed system calls.
[[noreturn]] void throw_system_error(const std::string& what);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_RUNTIME_ERROR_H_
