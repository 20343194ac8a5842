// Opening files in a directory that other users may share, such as a public
// directory with the sticky bit: only regular files are opened, never with
// a wait on a FIFO or device, and a symbolic link planted by another user
// is not followed. Failures come back as a Status with the reason; nothing
// here throws.
#ifndef TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
#define TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_

#include <string>

#include "platform/posix/unique_fd.h"
#include "runtime/status.h"

namespace runtime {

// Opens the regular file `path` with the open(2) `flags` (O_NONBLOCK and
// O_CLOEXEC are added; a file made by O_CREAT gets mode 0666 less the
// umask). A symbolic link at `path` is followed, as the kernel's
// protected_symlinks allows, unless its directory is writable by others and
// the link belongs to neither this user, root nor the directory's owner.
// `through_link`, when given, tells whether a link was followed. Anything
// but a regular file is a failure. Failures read "`what`: <reason>".
Status open_regular(const std::string& what, const std::string& path, int flags,
                    UniqueFd& fd, bool* through_link = nullptr);

// The directory of `file` when other users may write it and it has no
// sticky bit, so that they can remove or replace `file` at any moment;
// else "".
std::string directory_open_to_others(const std::string& file);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
