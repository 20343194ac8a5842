#include "platform/posix/shared_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/path.h"

namespace runtime {
namespace {

// Whether the symbolic link `link` in the directory `dir` may be followed:
// the rule of protected_symlinks, applied whatever the system's setting.
bool may_follow(const struct stat& link, const std::string& dir) {
  if (link.st_uid == ::geteuid() || link.st_uid == 0) return true;
  struct stat d;
  if (::stat(dir.c_str(), &d) != 0) return false;
  return (d.st_mode & S_IWOTH) == 0 || d.st_uid == link.st_uid;
}

}  // namespace

Status open_regular(const std::string& what, const std::string& path, int flags,
                    UniqueFd& fd, bool* through_link) {
  flags |= O_NONBLOCK | O_CLOEXEC;
  if (through_link != nullptr) *through_link = false;
  fd.reset(::open(path.c_str(), flags | O_NOFOLLOW, 0666));
  if (!fd.valid() && errno == ELOOP) {
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      if (!may_follow(link, directory_of(path))) {
        return Status::failure(what +
                                   ": a symbolic link of another user in "
                                   "a directory that others may write",
                               0);
      }
      if (through_link != nullptr) *through_link = true;
      fd.reset(::open(path.c_str(), flags, 0666));
    }
  }
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    int error = errno;
    fd.reset();
    return Status::failure(what, error);
  }
  if (!S_ISREG(st.st_mode)) {
    fd.reset();
    return Status::failure(what + ": not a regular file", 0);
  }
  return Status();
}

std::string directory_open_to_others(const std::string& file) {
  std::string dir = directory_of(file);
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0 && (st.st_mode & S_IWOTH) &&
      !(st.st_mode & S_ISVTX)) {
    return dir;
  }
  return "";
}

}  // namespace runtime
