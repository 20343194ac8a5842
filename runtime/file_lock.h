// Advisory whole-file locks (flock) on the file that a path names at the
// moment the lock is granted. Failures are returned, never thrown.
#ifndef TOLMEX_RUNTIME_FILE_LOCK_H_
#define TOLMEX_RUNTIME_FILE_LOCK_H_

#include <sys/file.h>

#include <string>

#include "runtime/unique_fd.h"

namespace runtime {

// Opens `path` and locks it with `how` (LOCK_SH or LOCK_EX, maybe with
// LOCK_NB). When the file was replaced or removed while the lock was awaited,
// tries again with what the path names now, so the lock returned is on the
// file at `path`. `flags` are extra open flags (O_CREAT creates a missing file
// with `mode`). An invalid descriptor on failure, with errno set (ENOENT:
// missing; EWOULDBLOCK: locked by another and LOCK_NB given).
UniqueFd open_locked(const std::string& path, int how, int flags = 0,
                     int mode = 0666);

// True when `fd` is the file that `path` names now.
bool names_same_file(int fd, const std::string& path);

// flock() that goes on after a signal interrupts the wait. 0 or -1.
int lock_file(int fd, int how);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_FILE_LOCK_H_
