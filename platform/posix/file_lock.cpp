#include "platform/posix/file_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>

namespace runtime {

namespace {

void wake_up(int) {}

// Makes SIGALRM interrupt a blocking call every `period` from `first` on,
// for as long as it lives, and then puts back what was there.
class AlarmClock {
 public:
  AlarmClock(std::chrono::microseconds first,
             std::chrono::microseconds period) {
    struct sigaction action = {};
    action.sa_handler = wake_up;  // no SA_RESTART: the call ends with EINTR
    ::sigaction(SIGALRM, &action, &old_action_);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarm, &old_mask_);
    itimerval timer = {to_timeval(period), to_timeval(first)};
    ::setitimer(ITIMER_REAL, &timer, &old_timer_);
  }
  ~AlarmClock() {
    ::setitimer(ITIMER_REAL, &old_timer_, nullptr);
    ::sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
    ::sigaction(SIGALRM, &old_action_, nullptr);
  }
  AlarmClock(const AlarmClock&) = delete;
  AlarmClock& operator=(const AlarmClock&) = delete;

 private:
  static timeval to_timeval(std::chrono::microseconds us) {
    return {static_cast<time_t>(us.count() / 1000000),
            static_cast<suseconds_t>(us.count() % 1000000)};
  }
  struct sigaction old_action_;
  sigset_t old_mask_;
  itimerval old_timer_;
};

}  // namespace

int lock_file(int fd, int how) {
  int r;
  do {
    r = ::flock(fd, how | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r == 0 || errno != EWOULDBLOCK || (how & LOCK_NB)) return r;
  // Waits in the kernel, so the lock goes to a waiter as soon as it is
  // free; an alarm ends the wait at the deadline (and repeats, in case it
  // rang just before the wait began).
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  AlarmClock alarm(kLockWait, std::chrono::milliseconds(100));
  for (;;) {
    if (::flock(fd, how) == 0) return 0;
    if (errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) {
      errno = EWOULDBLOCK;
      return -1;
    }
  }
}

bool names_same_file(int fd, int dir, const std::string& name, bool follow) {
  struct stat by_fd, by_path;
  return ::fstat(fd, &by_fd) == 0 &&
         ::fstatat(dir, name.c_str(), &by_path,
                   follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0 &&
         same_file(by_fd, by_path);
}

UniqueFd open_locked(int dir, const std::string& name, int how) {
  for (int round = 0; round < kMaxRounds; ++round) {
    UniqueFd fd(::openat(dir, name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return fd;
    if (lock_file(fd.get(), how) != 0) {
      int saved = errno;
      fd.reset();
      errno = saved;
      return fd;
    }
    if (names_same_file(fd.get(), dir, name, false)) return fd;
  }
  errno = EBUSY;
  return UniqueFd();
}

}  // namespace runtime
