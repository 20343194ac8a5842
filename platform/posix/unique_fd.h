// An owned file descriptor, closed when its owner goes away. A failed close
// is ignored here: the one caller that must know of it (file_close() of
// runtime/files.h) takes the descriptor with release() and closes it itself.
#ifndef TOLMEX_PLATFORM_POSIX_UNIQUE_FD_H_
#define TOLMEX_PLATFORM_POSIX_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace runtime {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_UNIQUE_FD_H_
