#include "runtime/trace.h"

#include <fcntl.h>

#include <cstdlib>

#include "platform/posix/fd_io.h"
#include "platform/posix/unique_fd.h"

namespace runtime {

void trace(const std::string& line) {
  const char* path = std::getenv("TOLMEX_TRACE");
  if (path == nullptr || *path == '\0') return;
  UniqueFd fd(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  if (fd.valid()) write_all(fd.get(), line + "\n");
}

}  // namespace runtime
