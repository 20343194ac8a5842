#include "runtime/files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/fd_io.h"
#include "platform/posix/file_lock.h"
#include "platform/posix/path.h"
#include "platform/posix/shared_dir.h"
#include "platform/posix/unique_fd.h"
#include "runtime/code_set.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// A file this process has in use, held by a shared lock.
struct InUse {
  std::u16string name;  // the path as the application gave it
  std::string path;     // the file system path
  UniqueFd fd;
};

std::vector<InUse>& files_in_use() {
  static std::vector<InUse> files;
  return files;
}

void stop_using(const std::string& path) {
  std::erase_if(files_in_use(),
                [&](const InUse& entry) { return entry.path == path; });
}

void start_using(const Text& name, const std::string& path, UniqueFd fd) {
  stop_using(path);
  files_in_use().push_back({name.units(), path, std::move(fd)});
}

// The paths of the files that file_open() opened, for messages.
std::map<int, std::string>& open_files() {
  static std::map<int, std::string> files;
  return files;
}

std::string proc_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Moves the data of `from` into the empty file `to`: a reflink where the file
// system offers one, else copy_file_range, else read and write.
bool copy_data(int from, int to, off_t size) {
  if (::ioctl(to, FICLONE, from) == 0) return true;
  off_t done = 0;
  while (done < size) {
    ssize_t n = ::copy_file_range(from, nullptr, to, nullptr,
                                  static_cast<std::size_t>(size - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  if (done == size) return true;
  if (::lseek(from, done, SEEK_SET) < 0 || ::lseek(to, done, SEEK_SET) < 0) {
    return false;
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(from, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(to, std::string_view(buf, static_cast<std::size_t>(n)))) {
      return false;
    }
  }
}

// A file with the content and mode of `from`, not yet visible under the
// target's name, held by a shared lock and by no writer (a program file
// open for writing cannot be started).
struct StagedCopy {
  UniqueFd reader;    // read-only, shared-locked
  std::string named;  // its temporary name when the file system gave it one
};

// The mode of a copy: the owner's permission bits of its source, without
// the set-user-ID, set-group-ID and sticky bits (as cp gives them).
// Nobody else may change a program that is about to start, nor open it to
// take the lock that marks it in use.
mode_t copy_mode(const struct stat& from_stat) {
  return from_stat.st_mode & 0700;
}

// How many runs at once may stage a copy under a name.
constexpr int kStagingSlots = 8;

// Creates the temporary name of slot `slot` beside `target` for writing.
// A file at that name that is this user's and that no run holds (the
// leftover of a run killed while it staged) is removed first, so killed
// runs leave at most kStagingSlots such files.
UniqueFd create_slot(const Location& at, int slot, std::string& name) {
  name = "." + at.name + ".tolmex-" + std::to_string(slot);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFd fd(::openat(at.dir, name.c_str(),
                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0600));
    // Locked before any other run can think it left over; a run that
    // removed it in between makes the check below fail.
    if (fd.valid()) {
      if (lock_file(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
          names_same_file(fd.get(), at.dir, name, false)) {
        return fd;
      }
      return UniqueFd();
    }
    if (errno != EEXIST) return fd;
    UniqueFd old = open_locked(at.dir, name, LOCK_EX | LOCK_NB);
    struct stat st;
    if (!old.valid() || ::fstat(old.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || ::unlinkat(at.dir, name.c_str(), 0) != 0) {
      return UniqueFd();
    }
  }
  return UniqueFd();
}

// Stages the copy in an unnamed file of the target's directory (`unnamed`)
// or under a temporary name beside the target.
bool stage_copy_as(bool unnamed, int from, const struct stat& from_stat,
                   const Location& at, StagedCopy& staged) {
  UniqueFd writer;
  if (unnamed) {
    writer.reset(::openat(at.dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  } else {
    for (int slot = 0; slot < kStagingSlots && !writer.valid(); ++slot) {
      writer = create_slot(at, slot, staged.named);
    }
    if (!writer.valid()) {
      staged.named.clear();
      if (errno == EEXIST) errno = EBUSY;
    }
  }
  bool ok = writer.valid() && ::lseek(from, 0, SEEK_SET) == 0 &&
            copy_data(from, writer.get(), from_stat.st_size) &&
            ::fchmod(writer.get(), copy_mode(from_stat)) == 0;
  if (ok) {
    // Reopened for reading only: the writer goes away before the start.
    staged.reader.reset(
        ::open(proc_path(writer.get()).c_str(), O_RDONLY | O_CLOEXEC));
    if (!staged.reader.valid() && !unnamed) {
      staged.reader.reset(::openat(at.dir, staged.named.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat written, reopened;
    ok = staged.reader.valid() && ::fstat(writer.get(), &written) == 0 &&
         ::fstat(staged.reader.get(), &reopened) == 0 &&
         written.st_dev == reopened.st_dev && written.st_ino == reopened.st_ino;
    // The slot's exclusive lock becomes the copy's shared one, with no
    // moment in between where another run could take the slot for a
    // leftover.
    ok = ok && (staged.named.empty() || ::flock(writer.get(), LOCK_SH) == 0) &&
         lock_file(staged.reader.get(), LOCK_SH | LOCK_NB) == 0;
    writer.reset();
  }
  if (!ok && !staged.named.empty()) {
    int error = errno;
    ::unlinkat(at.dir, staged.named.c_str(), 0);
    staged.named.clear();
    errno = error;
  }
  return ok;
}

// An unnamed file where the file system and /proc allow one (nothing is
// left behind by a run killed meanwhile), else a temporary name.
bool stage_copy(int from, const struct stat& from_stat, const Location& at,
                StagedCopy& staged) {
  return stage_copy_as(true, from, from_stat, at, staged) ||
         stage_copy_as(false, from, from_stat, at, staged);
}

// Gives the staged file the name `at.name` unless a file is there already.
bool link_staged(StagedCopy& staged, const Location& at) {
  if (staged.named.empty()) {
    return ::linkat(AT_FDCWD, proc_path(staged.reader.get()).c_str(), at.dir,
                    at.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  // Renamed rather than linked: the copy never has a second name.
  if (::renameat2(at.dir, staged.named.c_str(), at.dir, at.name.c_str(),
                  RENAME_NOREPLACE) == 0) {
    staged.named.clear();
    return true;
  }
  if (errno != EINVAL) return false;  // EINVAL: no such rename here
  if (::linkat(at.dir, staged.named.c_str(), at.dir, at.name.c_str(), 0) != 0) {
    return false;
  }
  ::unlinkat(at.dir, staged.named.c_str(), 0);
  staged.named.clear();
  return true;
}

// True when the open file `fd` is a copy that this process may start in
// place of its own: a regular file with one name, of the effective user,
// that nobody else may read or write.
bool trusted_copy(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         st.st_uid == ::geteuid() && (st.st_mode & 066) == 0;
}

int place_copy(StagedCopy& staged, const Text& name, const Location& at) {
  for (int round = 0; round < kMaxRounds; ++round) {
    if (link_staged(staged, at)) {
      start_using(name, at.path, std::move(staged.reader));
      return 1;
    }
    if (errno != EEXIST) return -1;
    UniqueFd old(::openat(at.dir, at.name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (old.valid() && trusted_copy(old.get())) {
      if (lock_file(old.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return -1;
        // In use by another run: go on with that copy, as it cannot be
        // replaced.
        if (lock_file(old.get(), LOCK_SH) != 0) return -1;
        if (!names_same_file(old.get(), at.dir, at.name, false)) continue;
        start_using(name, at.path, std::move(old));
        errno = ETXTBSY;
        return -1;
      }
      if (!names_same_file(old.get(), at.dir, at.name, false)) continue;
    } else if (!old.valid() && errno == ENOENT) {
      continue;
    }
    // An older copy that nobody runs, or something that is not ours to
    // start (another user's file, a link, a FIFO): take its place when the
    // directory lets us.
    if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT) {
      return -1;
    }
  }
  errno = EBUSY;
  return -1;
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

void use_directory_of(const Text& file) { set_base_directory(fs_path(file)); }

bool file_exists(const Text& path) {
  mode_t kind = kind_of(path);
  return kind != 0 && kind != S_IFDIR;
}

bool directory_exists(const Text& path) { return kind_of(path) == S_IFDIR; }

int create_directory(const Text& path) {
  Location at;
  return locate("", fs_path(path), at).ok() &&
                 ::mkdirat(at.dir, at.name.c_str(), kNewDirectoryMode) == 0
             ? 1
             : -1;
}

int delete_file(const Text& path) {
  std::string p = fs_path(path);
  stop_using(p);
  Location at;
  if (!locate("", p, at).ok()) return -1;
  UniqueFd fd = open_locked(at.dir, at.name, LOCK_EX | LOCK_NB);
  // In use by another run: it stays. Anything that cannot be opened (a link,
  // a file we may not read) is in use by no run of ours.
  if (!fd.valid() && (errno == EWOULDBLOCK || errno == ENOENT)) return -1;
  return ::unlinkat(at.dir, at.name.c_str(), 0) == 0 ? 1 : -1;
}

int copy_file(const Text& source, const Text& target) {
  std::string from_path = fs_path(source);
  std::string to_path = fs_path(target);
  const std::string what = "cannot copy " + from_path + " to " + to_path;
  auto failed = [&](Status status) {
    trace("CopyFile: " + status.message());
    set_last_failure(std::move(status));
    return -1;
  };
  Location from_at, to_at;
  UniqueFd from;
  Status opened = locate(what, from_path, from_at);
  if (opened.ok()) opened = open_regular_at(what, from_at, O_RDONLY, from);
  if (opened.ok()) opened = locate(what, to_path, to_at);
  if (!opened.ok()) return failed(opened);
  struct stat from_stat;
  if (::fstat(from.get(), &from_stat) != 0) {
    return failed(Status::failure(what, errno));
  }
  std::string problem =
      untrusted_program(from_stat, from_at.dir_st.st_uid, from_path);
  if (!problem.empty())
    return failed(Status::failure(what + ": " + problem, 0));
  StagedCopy staged;
  if (!stage_copy(from.get(), from_stat, to_at, staged)) {
    return failed(Status::failure(what, errno));
  }
  int result = place_copy(staged, target, to_at);
  int error = errno;
  if (!staged.named.empty()) ::unlinkat(to_at.dir, staged.named.c_str(), 0);
  return result == 1 ? 1 : failed(Status::failure(what, error));
}

Status file_open(const Text& path, OpenMode mode, int& file) {
  int flags = O_WRONLY | O_CREAT;
  flags |= mode == OpenMode::kAppend ? O_APPEND : O_EXCL;
  const std::string p = fs_path(path);
  UniqueFd fd;
  Status opened = open_regular("cannot open " + p, p, flags, fd);
  file = fd.release();
  if (file >= 0) open_files()[file] = p;
  return opened;
}

std::size_t program_in_use(const Text& command_line) {
  const std::u16string& line = command_line.units();
  std::size_t longest = 0;
  for (const InUse& used : files_in_use()) {
    std::size_t n = used.name.size();
    if (n > longest && line.starts_with(used.name) &&
        (line.size() == n || line[n] == u' ' || line[n] == u'\t')) {
      longest = n;
    }
  }
  return longest;
}

std::string replaceable_by_others(const Text& file) {
  Location at;
  if (!locate("", fs_path(file), at).ok() || (at.dir_st.st_mode & S_ISVTX)) {
    return "";
  }
  const std::string dir = directory_of(at.path);
  const std::string name = at.name;
  std::string who, mend;
  if (at.dir_st.st_mode & S_IWOTH) {
    who = "other users";
    mend = "chmod o-w";
  } else if (at.dir_st.st_mode & S_IWGRP) {
    who = "the users of group " + group_name(at.dir_st.st_gid);
    mend = "chmod g-w";
  } else {
    return "";
  }
  return who + " may write " + dir + " and it has no sticky bit, so they " +
         "can replace " + name + " before it starts (chmod +t or " + mend +
         " makes it safe)";
}

std::string writable_by_others(const Text& path) {
  const std::string p = fs_path(path);
  UniqueFd fd;
  struct stat st;
  if (!open_regular("", p, O_RDONLY, fd).ok() || ::fstat(fd.get(), &st) != 0) {
    return "";
  }
  std::string who;
  if (st.st_uid != ::geteuid() && st.st_uid != 0) {
    who = "its owner " + user_name(st.st_uid);
  } else if (st.st_mode & S_IWOTH) {
    who = "every user";
  } else if ((st.st_mode & S_IWGRP) && st.st_gid != ::getegid()) {
    who = "the users of group " + group_name(st.st_gid);
  } else {
    return "";
  }
  return who + " may write " + p + " and so change the outcome it holds";
}

bool in_use_by_this_process(const Text& path) {
  std::string p = fs_path(path);
  for (const InUse& used : files_in_use()) {
    if (used.path != p) continue;
    Location at;
    if (locate("", p, at).ok() &&
        names_same_file(used.fd.get(), at.dir, at.name, false)) {
      return true;
    }
  }
  return false;
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
  Status written;
  errno = 0;
  if (!write_all(file, bytes)) {
    written = failed(errno != 0 ? errno : ENOSPC);
    while (locked && ::ftruncate(file, st.st_size) != 0 && errno == EINTR) {
    }
  }
  if (locked) lock_file(file, LOCK_UN);
  return written;
}

int file_close(int file) {
  open_files().erase(file);
  return ::close(file) == 0 ? 1 : -1;
}

}  // namespace runtime
