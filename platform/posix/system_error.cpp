// The system's errors on POSIX systems: errno and its text.
#include <cerrno>
#include <cstring>

#include "runtime/platform.h"
#include "runtime/runtime_error.h"

namespace runtime {

std::string system_error_text(int error, const std::string&) {
  return std::strerror(error);
}

void throw_system_error(const std::string& what) {
  throw RuntimeError(what + ": " + system_error_text(errno));
}

}  // namespace runtime
