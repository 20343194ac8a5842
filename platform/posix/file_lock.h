// Advisory whole-file locks (flock) on the file that a path names at the
// moment the lock is granted. No wait is endless: a lock that another
// process holds for longer than kLockWait fails the call. Failures are
// returned with errno set, never thrown.
#ifndef TOLMEX_PLATFORM_POSIX_FILE_LOCK_H_
#define TOLMEX_PLATFORM_POSIX_FILE_LOCK_H_

#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "platform/posix/unique_fd.h"
#include "runtime/platform.h"

namespace runtime {

// How many times a lookup starts over when the file at a path is replaced
// while it is being opened and locked, before it gives up (EBUSY); for files
// that only a few runs replace at once.
inline constexpr int kMaxRounds = 16;

// Opens `name` in the directory `dir` for reading (never blocking on a
// FIFO or device, never following a symbolic link) and locks it with `how`
// (LOCK_SH or LOCK_EX, maybe with LOCK_NB). When the file was replaced or
// removed while the lock was awaited, tries again with what the name names
// now, so the lock returned is on the file at `name`. An invalid
// descriptor on failure, with errno set (ENOENT: missing; ELOOP: a symbolic
// link; EWOULDBLOCK: locked by another, for longer than kLockWait or at all
// with LOCK_NB).
UniqueFd open_locked(int dir, const std::string& name, int how);

// True when the two results of stat() are of one file (device and inode).
inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `fd` is the file that `name` in the directory `dir` names now.
// With `follow` false, a symbolic link there is never the file.
bool names_same_file(int fd, int dir, const std::string& name,
                     bool follow = true);

// flock() that goes on after a signal interrupts the wait and gives up
// after kLockWait (at once with LOCK_NB). 0 or -1.
int lock_file(int fd, int how);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_FILE_LOCK_H_
