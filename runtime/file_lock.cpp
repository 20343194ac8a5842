#include "runtime/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace runtime {

int lock_file(int fd, int how) {
  int r;
  do {
    r = ::flock(fd, how);
  } while (r != 0 && errno == EINTR);
  return r;
}

bool names_same_file(int fd, const std::string& path) {
  struct stat by_fd, by_path;
  return ::fstat(fd, &by_fd) == 0 && ::stat(path.c_str(), &by_path) == 0 &&
         by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
}

UniqueFd open_locked(const std::string& path, int how, int flags, int mode) {
  for (;;) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags, mode));
    if (!fd.valid()) return fd;
    if (lock_file(fd.get(), how) != 0) {
      int saved = errno;
      fd.reset();
      errno = saved;
      return fd;
    }
    if (names_same_file(fd.get(), path)) return fd;
  }
}

}  // namespace runtime
