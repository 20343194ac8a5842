#include "runtime/files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// The files this process has in use, each held by a shared lock.
std::vector<std::pair<std::string, UniqueFd>>& files_in_use() {
  static std::vector<std::pair<std::string, UniqueFd>> files;
  return files;
}

void stop_using(const std::string& path) {
  std::erase_if(files_in_use(),
                [&](const auto& entry) { return entry.first == path; });
}

void start_using(const std::string& path, UniqueFd fd) {
  stop_using(path);
  files_in_use().emplace_back(path, std::move(fd));
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

// A file with the content and mode of `from`, not yet visible in the target's
// directory, held by a shared lock and by no writer (a program file open for
// writing cannot be started).
struct StagedCopy {
  UniqueFd reader;    // read-only, shared-locked
  std::string named;  // its temporary name when the file system gave it one
};

// The mode of a copy: the permission bits of its source, without the
// set-user-ID, set-group-ID and sticky bits (as cp gives them) and without
// write permission for group and others (nobody but its maker may change a
// program that is about to start).
mode_t copy_mode(const struct stat& from_stat) {
  return from_stat.st_mode & 0755;
}

// Stages the copy in an unnamed file of the target's directory (`unnamed`)
// or under a new temporary name beside the target that nobody can guess.
bool stage_copy_as(bool unnamed, int from, const struct stat& from_stat,
                   const std::string& target, StagedCopy& staged) {
  UniqueFd writer;
  if (unnamed) {
    writer.reset(::open(directory_of(target).c_str(),
                        O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  } else {
    // mkostemp creates the name with O_EXCL: a link planted there fails
    // the call instead of being written through.
    staged.named = directory_of(target) + "/." +
                   target.substr(target.find_last_of('/') + 1) +
                   ".tolmex-XXXXXX";
    writer.reset(::mkostemp(staged.named.data(), O_CLOEXEC));
    if (!writer.valid()) staged.named.clear();
  }
  bool ok = writer.valid() && ::lseek(from, 0, SEEK_SET) == 0 &&
            copy_data(from, writer.get(), from_stat.st_size) &&
            ::fchmod(writer.get(), copy_mode(from_stat)) == 0;
  if (ok) {
    // Reopened for reading only: the writer goes away before the start.
    staged.reader.reset(
        ::open(proc_path(writer.get()).c_str(), O_RDONLY | O_CLOEXEC));
    if (!staged.reader.valid() && !unnamed) {
      staged.reader.reset(
          ::open(staged.named.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat written, reopened;
    ok = staged.reader.valid() && ::fstat(writer.get(), &written) == 0 &&
         ::fstat(staged.reader.get(), &reopened) == 0 &&
         written.st_dev == reopened.st_dev &&
         written.st_ino == reopened.st_ino &&
         lock_file(staged.reader.get(), LOCK_SH) == 0;
  }
  if (!ok && !staged.named.empty()) {
    int error = errno;
    ::unlink(staged.named.c_str());
    staged.named.clear();
    errno = error;
  }
  return ok;
}

// An unnamed file where the file system and /proc allow one (nothing is
// left behind by a run killed meanwhile), else a temporary name.
bool stage_copy(int from, const struct stat& from_stat,
                const std::string& target, StagedCopy& staged) {
  return stage_copy_as(true, from, from_stat, target, staged) ||
         stage_copy_as(false, from, from_stat, target, staged);
}

// Gives the staged file the name `target` unless a file is there already.
bool link_staged(StagedCopy& staged, const std::string& target) {
  if (staged.named.empty()) {
    return ::linkat(AT_FDCWD, proc_path(staged.reader.get()).c_str(), AT_FDCWD,
                    target.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  // Renamed rather than linked: the copy never has a second name.
  if (::renameat2(AT_FDCWD, staged.named.c_str(), AT_FDCWD, target.c_str(),
                  RENAME_NOREPLACE) == 0) {
    staged.named.clear();
    return true;
  }
  if (errno != EINVAL) return false;  // EINVAL: no such rename here
  if (::link(staged.named.c_str(), target.c_str()) != 0) return false;
  ::unlink(staged.named.c_str());
  staged.named.clear();
  return true;
}

// True when the open file `fd` is a copy that this process may start in
// place of its own: a regular file with one name, of the effective user,
// that nobody else may write.
bool trusted_copy(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
         st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

int place_copy(StagedCopy& staged, const std::string& target) {
  for (int round = 0; round < kMaxRounds; ++round) {
    if (link_staged(staged, target)) {
      start_using(target, std::move(staged.reader));
      return 1;
    }
    if (errno != EEXIST) return -1;
    UniqueFd old(
        ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (old.valid() && trusted_copy(old.get())) {
      if (lock_file(old.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return -1;
        // In use by another run: go on with that copy, as it cannot be
        // replaced.
        if (lock_file(old.get(), LOCK_SH) != 0) return -1;
        if (!names_same_file(old.get(), target, false)) continue;
        start_using(target, std::move(old));
        errno = ETXTBSY;
        return -1;
      }
      if (!names_same_file(old.get(), target, false)) continue;
    } else if (!old.valid() && errno == ENOENT) {
      continue;
    }
    // An older copy that nobody runs, or something that is not ours to
    // start (another user's file, a link, a FIFO): take its place when the
    // directory lets us.
    if (::unlink(target.c_str()) != 0 && errno != ENOENT) return -1;
  }
  errno = EBUSY;
  return -1;
}

}  // namespace

bool file_exists(const Text& path) {
  struct stat st;
  return ::stat(fs_path(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directory_exists(const Text& path) {
  struct stat st;
  return ::stat(fs_path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int create_directory(const Text& path) {
  return ::mkdir(fs_path(path).c_str(), 0777) == 0 ? 1 : -1;
}

int delete_file(const Text& path) {
  std::string p = fs_path(path);
  stop_using(p);
  UniqueFd fd = open_locked(p, LOCK_EX | LOCK_NB);
  // In use by another run: it stays. Anything that cannot be opened (a link,
  // a file we may not read) is in use by no run of ours.
  if (!fd.valid() && (errno == EWOULDBLOCK || errno == ENOENT)) return -1;
  return ::unlink(p.c_str()) == 0 ? 1 : -1;
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
  UniqueFd from;
  Status opened = open_regular(what, from_path, O_RDONLY, from);
  struct stat from_stat;
  if (!opened.ok()) return failed(opened);
  if (::fstat(from.get(), &from_stat) != 0) {
    return failed(Status::failure(what, errno));
  }
  StagedCopy staged;
  if (!stage_copy(from.get(), from_stat, to_path, staged)) {
    return failed(Status::failure(what, errno));
  }
  int result = place_copy(staged, to_path);
  int error = errno;
  if (!staged.named.empty()) ::unlink(staged.named.c_str());
  return result == 1 ? 1 : failed(Status::failure(what, error));
}

int file_open(const Text& path, OpenMode mode) {
  int flags = O_WRONLY | O_CREAT;
  flags |= mode == OpenMode::kAppend ? O_APPEND : O_EXCL;
  UniqueFd fd;
  if (!open_regular("", fs_path(path), flags, fd).ok()) return -1;
  return fd.release();
}

std::string directory_open_to_others(const Text& file) {
  return directory_open_to_others(fs_path(file));
}

bool in_use_by_this_process(const Text& path) {
  std::string p = fs_path(path);
  for (const auto& [used, fd] : files_in_use()) {
    if (used == p && names_same_file(fd.get(), p, false)) return true;
  }
  return false;
}

int file_write_line(int file, const Text& line) {
  std::string bytes = to_ansi(line);
  bytes += "\r\n";
  // Writers of the file take turns, so that a line that does not fit (a
  // full disk) can be taken back whole instead of leaving its start behind.
  if (lock_file(file, LOCK_EX) != 0) return -1;
  struct stat st;
  bool ok = ::fstat(file, &st) == 0;
  if (ok && !write_all(file, bytes)) {
    while (::ftruncate(file, st.st_size) != 0 && errno == EINTR) {
    }
    ok = false;
  }
  lock_file(file, LOCK_UN);
  return ok ? 1 : -1;
}

int file_close(int file) { return ::close(file) == 0 ? 1 : -1; }

}  // namespace runtime
