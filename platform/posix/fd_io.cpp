#include "platform/posix/fd_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace runtime {

ssize_t read_some(int fd, char* buf, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, buf, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool read_up_to(int fd, std::size_t limit, std::string& out) {
  char buf[1 << 16];
  while (limit > 0) {
    ssize_t n = read_some(fd, buf, std::min(sizeof buf, limit));
    if (n < 0) return false;
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    limit -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool write_all_at(int fd, std::string_view data, off_t offset) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

}  // namespace runtime
