// Opening files in a directory that other users may share, such as a public
// directory with the sticky bit, so that what is checked is what is used:
// the directory of the request's files is opened once, everything below it
// is opened relative to it, one component at a time, and each object is
// judged by fstat of the descriptor that is then used. Only regular files
// are opened, never with a wait on a FIFO or device; a symbolic link or a
// directory that another user could have planted is not followed. Failures
// come back as a Status with the reason; nothing here throws.
#ifndef TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
#define TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"
#include "runtime/status.h"

namespace runtime {

// Mode bits of new files and directories: never writable by group or
// others, whatever the umask.
inline constexpr mode_t kNewFileMode = 0644;
inline constexpr mode_t kNewDirectoryMode = 0755;

// The base directory: the directory that `file` (a file system path) lies
// in, opened now. Later paths below it are resolved relative to this
// descriptor, whatever happens to its name. One per process; a new call
// replaces it. A base that cannot be opened makes every path below it fail
// with that reason.
void set_base_directory(const std::string& file);

// Where a file lies: its directory, open, and its last name.
struct Location {
  std::string path;    // the whole path, for messages
  int dir = -1;        // the directory's descriptor (owned or the base's)
  struct stat dir_st;  // the directory, as fstat saw it
  std::string name;    // the last component
  UniqueFd owned_dir;  // the directory when it is not the base
};

// Finds the directory of `path`. Below the base, each directory on the way
// is opened without following a link that `may_follow_link` refuses and
// must belong to this user, root or the owner of the directory it is in;
// others may write it only where it has the sticky bit, and a group only
// where this user is not root. Failures read "`what`: <reason>".
Status locate(const std::string& what, const std::string& path, Location& at);

// Opens the regular file `at.name` in `at.dir` with the open(2) `flags`
// (O_NONBLOCK and O_CLOEXEC are added; a new file gets kNewFileMode less
// the umask). A symbolic link is followed only as the kernel's
// protected_symlinks would allow, whatever its setting, and only when it
// is still the same link once the file is open; `through_link`, when
// given, tells whether one was followed. A file opened for writing that
// has several names in a directory that group or others may write, and
// that belongs to another user, is refused, as protected_hardlinks would.
// Anything but a regular file is a failure. Failures read "`what`:
// <reason>".
Status open_regular_at(const std::string& what, const Location& at, int flags,
                       UniqueFd& fd, bool* through_link = nullptr);

// locate() and open_regular_at() in one.
Status open_regular(const std::string& what, const std::string& path, int flags,
                    UniqueFd& fd, bool* through_link = nullptr);

// The name of a temporary file beside the file `name`, marked by `tag`:
// "." + name + ".tolmex-" + tag.
std::string temporary_name(const std::string& name, std::string_view tag);

// The user name of `uid` or the group name of `gid`, else the number.
std::string user_name(uid_t uid);
std::string group_name(gid_t gid);

// "" when the program file `st` may be started by this user: it belongs to
// this user, root or `dir_owner` and nobody else may write it (a group
// may, where this user is not root); else what is wrong and how to mend
// it, for the file `path`.
std::string untrusted_program(const struct stat& st, uid_t dir_owner,
                              const std::string& path);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
