// Files on POSIX systems: existence, directories, who else may write, and
// the line files of the log.
#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// The kind of a directory entry, following a link (S_IFREG, S_IFDIR ...),
// or 0 when nothing is there.
mode_t kind_of(const Site& site, const Text& name) {
  Location at;
  struct stat st;
  if (!locate(site, "", name, at).ok() ||
      ::fstatat(at.dir, at.name.c_str(), &st, 0) != 0) {
    return 0;
  }
  return st.st_mode & S_IFMT;
}

}  // namespace

bool file_exists(const Site& site, const Text& name) {
  mode_t kind = kind_of(site, name);
  return kind != 0 && kind != S_IFDIR;
}

bool directory_exists(const Site& site, const Text& name) {
  return kind_of(site, name) == S_IFDIR;
}

Status create_directory(const Site& site, const Text& name) {
  const std::string what = "cannot create " + fs_path(site.path_of(name));
  Location at;
  Status found = locate(site, what, name, at);
  if (!found.ok()) return found;
  if (site.withhold_writes) return could_make(what, at);
  // Its mode whatever the umask, and its name on disk before anything in
  // it is written.
  if (::mkdirat(at.dir, at.name.c_str(), kNewDirectoryMode) != 0 ||
      ::fchmodat(at.dir, at.name.c_str(), kNewDirectoryMode, 0) != 0 ||
      ::fsync(at.dir) != 0) {
    return Status::failure(what, errno);
  }
  return Status();
}

Status remove_empty_file(const Site& site, const Text& name) {
  const std::string what = "cannot remove " + fs_path(site.path_of(name));
  Location at;
  Status found = locate(site, what, name, at);
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

Status file_open(Site& site, const Text& name, OpenMode mode, int& file) {
  file = -1;
  // Appending reads the last byte too (see file_write_line()).
  const int flags = mode == OpenMode::kAppend ? O_RDWR | O_APPEND : O_WRONLY;
  const std::string p = fs_path(site.path_of(name));
  const std::string what = "cannot open " + p;
  Location at;
  Status opened = locate(site, what, name, at);
  if (!opened.ok()) return opened;
  UniqueFd fd;
  Judgement judged;
  // An existing file is appended to as it is; a new one gets its mode
  // whatever the umask, and its name is on disk before its first line.
  const auto open_existing = [&] {
    opened = open_regular_at(what, at, flags, fd, nullptr, &judged);
    if (!opened.ok() && opened.error() == EACCES) {
      opened =
          open_regular_at(what, at, O_WRONLY | O_APPEND, fd, nullptr, &judged);
    }
  };
  if (mode == OpenMode::kAppend) open_existing();
  if (site.withhold_writes) {
    // Nothing is made: a missing file is one that this user could make.
    if (mode == OpenMode::kAppend && opened.ok()) {
      site.hold().writers[fs_path(name)] = writers_warning(judged, p);
      return opened;
    }
    if (mode == OpenMode::kAppend && opened.error() != ENOENT) return opened;
    return could_make(what, at);
  }
  if (mode == OpenMode::kCreateNew || opened.error() == ENOENT) {
    opened = open_regular_at(what, at, flags | O_CREAT | O_EXCL, fd, nullptr,
                             &judged);
    if (opened.ok() &&
        (::fchmod(fd.get(), kNewFileMode) != 0 || ::fsync(at.dir) != 0)) {
      opened = Status::failure(what, errno);
    } else if (opened.error() == EEXIST && mode == OpenMode::kAppend) {
      open_existing();  // made by another run meanwhile
    }
  }
  if (!opened.ok()) return opened;
  file = fd.release();
  site.hold().files[file] = p;
  site.hold().writers[fs_path(name)] = writers_warning(judged, p);
  return opened;
}

std::optional<std::string> replaceable_by_others(const Site& site) {
  const Site::Hold& h = site.hold();
  if (!h.fd.valid()) return std::nullopt;
  if (h.names) {
    return h.names.reason + ": " + h.names.who +
           " may create names in the public directory " + h.dir_path +
           " (the sticky bit keeps them from replacing the files of others, "
           "not from making one that is not there yet; " +
           h.names.mend + ")";
  }
  if (!h.place) return std::nullopt;
  return h.place.reason + ": " + h.place.who +
         " can replace the public directory " + h.dir_path +
         " or the files in it, and so choose the outcome the host reads (" +
         h.place.mend + ")";
}

std::optional<std::string> writable_by_others(const Site& site,
                                              const Text& name) {
  const auto& writers = site.hold().writers;
  const auto found = writers.find(fs_path(name));
  return found == writers.end() ? std::nullopt : found->second;
}

Status file_write_line(const Site& site, int file, const Text& line) {
  std::string bytes = to_ansi(line);
  bytes += "\r\n";
  const auto failed = [&](int error) {
    const auto& files = site.hold().files;
    const auto it = files.find(file);
    return Status::failure(
        "cannot write " + (it == files.end() ? std::string("?") : it->second),
        error);
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

Status file_close(Site& site, int file) {
  auto& files = site.hold().files;
  const std::string path = files[file];
  files.erase(file);
  return ::close(file) == 0 ? Status()
                            : Status::failure("cannot close " + path, errno);
}

}  // namespace runtime
