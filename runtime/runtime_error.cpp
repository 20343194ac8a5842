#include "runtime/runtime_error.h"

#include <cerrno>
#include <cstring>

namespace runtime {

void throw_system_error(const std::string& what) {
  throw RuntimeError(what + ": " + std::strerror(errno));
}

}  // namespace runtime
