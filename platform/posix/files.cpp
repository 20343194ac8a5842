// Files on POSIX systems: existence, directories, who else may write, and
// the line files of the log.
#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>

#include "platform/posix/fd_io.h"
#include "platform/posix/file_lock.h"
#include "platform/posix/fs_path.h"
#include "platform/posix/shared_dir.h"
#include "platform/posix/unique_fd.h"
#include "runtime/code_set.h"
#include "runtime/status.h"

namespace runtime {
namespace {

// The paths of the files that file_open() opened, for messages.
std::map<int, std::string>& open_files() {
  static std::map<int, std::string> files;
  return files;
}

// The kind of a directory entry, following a link (S_IFREG, S_IFDIR ...),
// or 0 when nothing is there.
mode_t kind_of(const Text& path) {
  Location at;
  struct stat st;
  if (!locate("", fs_path(path), at).ok() ||
      ::fstatat(at.dir, at.name.c_str(), &st, 0) != 0) {
    return 0;
  }
  return st.st_mode & S_IFMT;
}

}  // namespace

PublicDirectory::PublicDirectory(const Text& file) {
  open_base_directory(fs_path(file));
}

PublicDirectory::~PublicDirectory() { close_base_directory(); }

bool file_exists(const Text& path) {
  mode_t kind = kind_of(path);
  return kind != 0 && kind != S_IFDIR;
}

bool directory_exists(const Text& path) { return kind_of(path) == S_IFDIR; }

Status create_directory(const Text& path) {
  const std::string p = fs_path(path);
  const std::string what = "cannot create " + p;
  Location at;
  Status found = locate(what, p, at);
  if (!found.ok()) return found;
  // Its mode whatever the umask, and its name on disk before anything in
  // it is written.
  if (::mkdirat(at.dir, at.name.c_str(), kNewDirectoryMode) != 0 ||
      ::fchmodat(at.dir, at.name.c_str(), kNewDirectoryMode, 0) != 0 ||
      ::fsync(at.dir) != 0) {
    return Status::failure(what, errno);
  }
  return Status();
}

Status remove_empty_file(const Text& path) {
  const std::string p = fs_path(path);
  const std::string what = "cannot remove " + p;
  Location at;
  Status found = locate(what, p, at);
  UniqueFd fd;
  if (found.ok()) found = open_regular_at(what, at, O_RDONLY, fd);
  if (!found.ok()) return found.error() == ENOENT ? Status() : found;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Status::failure(what, errno);
  if (st.st_size != 0 || st.st_uid != ::geteuid() ||
      !names_same_file(fd.get(), at.dir, at.name, false)) {
    return Status();
  }
  if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT) {
    return Status::failure(what, errno);
  }
  return Status();
}

Status file_open(const Text& path, OpenMode mode, int& file) {
  file = -1;
  // Appending reads the last byte too (see file_write_line()).
  const int flags = mode == OpenMode::kAppend ? O_RDWR | O_APPEND : O_WRONLY;
  const std::string p = fs_path(path);
  const std::string what = "cannot open " + p;
  Location at;
  Status opened = locate(what, p, at);
  if (!opened.ok()) return opened;
  UniqueFd fd;
  // A new file gets its mode whatever the umask, and its name is on disk
  // before its first line; an existing one is appended to as it is.
  opened = open_regular_at(what, at, flags | O_CREAT | O_EXCL, fd);
  if (opened.ok() &&
      (::fchmod(fd.get(), kNewFileMode) != 0 || ::fsync(at.dir) != 0)) {
    opened = Status::failure(what, errno);
  } else if (!opened.ok() && opened.error() == EEXIST &&
             mode == OpenMode::kAppend) {
    opened = open_regular_at(what, at, flags, fd);
    if (!opened.ok() && opened.error() == EACCES) {
      opened = open_regular_at(what, at, O_WRONLY | O_APPEND, fd);
    }
  }
  if (!opened.ok()) return opened;
  file = fd.release();
  open_files()[file] = p;
  return opened;
}

std::optional<std::string> replaceable_by_others(const Text& file) {
  Location at;
  if (!locate("", fs_path(file), at).ok() || !at.place) return std::nullopt;
  return at.place.reason + ": " + at.place.who +
         " can replace the public directory " + at.dir_path +
         " or the files in it, and so choose the outcome the host reads (" +
         at.place.mend + ")";
}

std::optional<std::string> writable_by_others(const Text& path) {
  const std::string p = fs_path(path);
  UniqueFd fd;
  Judgement judged;
  if (!open_regular("", p, O_RDONLY, fd, nullptr, &judged).ok() ||
      !judged.content) {
    return std::nullopt;
  }
  const Say& say = judged.content;
  const std::string who = !say.owner.empty()         ? "its owner " + say.owner
                          : say.who == "other users" ? "every user"
                                                     : say.who;
  return who + " may write " + p + " and so change what it says";
}

Status file_write_line(int file, const Text& line) {
  std::string bytes = to_ansi(line);
  bytes += "\r\n";
  const auto failed = [file](int error) {
    return Status::failure("cannot write " + open_files()[file], error);
  };
  // Writers of the file take turns, so that a line that does not fit (a
  // full disk) can be taken back whole instead of leaving its start behind.
  // A lock held past the bound is someone else's (anyone who may read the
  // file can take one): the line then goes in one write without it.
  bool locked = lock_file(file, LOCK_EX) == 0;
  if (!locked && errno != EWOULDBLOCK) return failed(errno);
  struct stat st;
  if (::fstat(file, &st) != 0) return failed(errno);
  // A line that an earlier write left cut short (a power loss, a full
  // disk without the lock) ends before this one starts; a file this user
  // may not read is appended to as it is.
  char last = '\n';
  if (st.st_size > 0 && ::pread(file, &last, 1, st.st_size - 1) == 1 &&
      last != '\n') {
    bytes.insert(0, "\r\n");
  }
  Status written;
  errno = 0;
  if (!write_all(file, bytes)) {
    written = failed(errno != 0 ? errno : ENOSPC);
    while (locked && ::ftruncate(file, st.st_size) != 0 && errno == EINTR) {
    }
  } else if (::fdatasync(file) != 0) {
    written = failed(errno);  // the line may not outlast a power loss
  }
  if (locked) lock_file(file, LOCK_UN);
  return written;
}

Status file_close(int file) {
  const std::string path = open_files()[file];
  open_files().erase(file);
  return ::close(file) == 0 ? Status()
                            : Status::failure("cannot close " + path, errno);
}

}  // namespace runtime
