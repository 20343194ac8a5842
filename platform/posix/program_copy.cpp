// The copies of program files on POSIX systems: the staging of a copy, its
// placement under the target's name, and the copy the site holds.
#include "runtime/program_copy.h"

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
#include "platform/posix/fs_path.h"
#include "platform/posix/program_image.h"
#include "platform/posix/shared_dir.h"
#include "platform/posix/unique_fd.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

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
    ssize_t n = read_some(from, buf, sizeof buf);
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
  name = temporary_name(at.name, std::to_string(slot));
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
         same_file(written, reopened);
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

// Gives the staged copy the name `at.name`, in place of what is there
// unless that is another run's copy in use; `outcome` says which file is
// then at that name, in use by this process. A failure says why neither.
Status place_copy(const std::string& what, StagedCopy& staged,
                  Site::Hold::Copy& held, const Location& at,
                  CopyOutcome& outcome) {
  for (int round = 0; round < kMaxRounds; ++round) {
    if (link_staged(staged, at)) {
      held.fd = std::move(staged.reader);
      outcome = CopyOutcome::kCopied;
      return Status();
    }
    if (errno != EEXIST) return Status::failure(what, errno);
    UniqueFd old(::openat(at.dir, at.name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (old.valid() && trusted_copy(old.get())) {
      if (lock_file(old.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return Status::failure(what, errno);
        // In use by another run: go on with that copy, as it cannot be
        // replaced.
        if (lock_file(old.get(), LOCK_SH) != 0) {
          return Status::failure(
              what + ": " + at.path + " is locked by another process", 0);
        }
        if (!names_same_file(old.get(), at.dir, at.name, false)) continue;
        held.fd = std::move(old);
        outcome = CopyOutcome::kInUseElsewhere;
        return Status();
      }
      if (!names_same_file(old.get(), at.dir, at.name, false)) continue;
    } else if (!old.valid() && errno == ENOENT) {
      continue;
    }
    // An older copy that nobody runs, or something that is not ours to
    // start (another user's file, a link, a FIFO): take its place when the
    // directory lets us.
    if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT) {
      return Status::failure(what + ": cannot remove " + at.path, errno);
    }
  }
  return Status::failure(what, EBUSY);
}

// None when copy_file() could put a copy at the site's name `target` now;
// else what would stop it, as copy_file() would say it (`what`: the
// reason): something at that name that is not this user's copy and that
// this user may not remove, or, where no unnamed file can be made, every
// staging name beside it taken by a file that is not this user's.
std::optional<std::string> copy_blocker(const Site& site,
                                        const std::string& what,
                                        const Text& target) {
  Location at;
  Status found = locate(site, what, target, at);
  if (!found.ok()) return found.message();
  struct stat st;
  if (::fstatat(at.dir, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    UniqueFd old(::openat(at.dir, at.name.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    // Removed as place_copy() removes it: root may, others where the
    // sticky bit leaves it to them.
    const bool removable =
        !S_ISDIR(st.st_mode) &&
        (::geteuid() == 0 || (at.dir_st.st_mode & S_ISVTX) == 0 ||
         st.st_uid == ::geteuid() || at.dir_st.st_uid == ::geteuid());
    if (!(old.valid() && trusted_copy(old.get())) && !removable) {
      return Status::failure(what + ": cannot remove " + at.path,
                             S_ISDIR(st.st_mode) ? EISDIR : EPERM)
          .message();
    }
  }
  UniqueFd unnamed(::openat(at.dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (unnamed.valid() &&
      ::access(proc_path(unnamed.get()).c_str(), F_OK) == 0) {
    return std::nullopt;
  }
  for (int slot = 0; slot < kStagingSlots; ++slot) {
    const std::string name = temporary_name(at.name, std::to_string(slot));
    if (::fstatat(at.dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        (S_ISREG(st.st_mode) && st.st_uid == ::geteuid())) {
      return std::nullopt;
    }
  }
  return Status::failure(what, EBUSY).message();
}

}  // namespace

Status delete_file(Site& site, const Text& name) {
  const std::string what = "cannot delete " + fs_path(site.path_of(name));
  Site::Hold::Copy& held = site.hold().copy;
  Location at;
  Status found = locate(site, what, name, at);
  UniqueFd fd;
  // The copy held is locked as it is held, when its name is still its own;
  // else whatever the name holds now is opened and locked.
  if (held.fd.valid() && held.path.units() == site.path_of(name).units()) {
    fd = std::move(held.fd);
    held = {};
    if (found.ok() && (lock_file(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
                       !names_same_file(fd.get(), at.dir, at.name, false))) {
      fd.reset();
    }
  }
  if (!found.ok()) return found;
  if (!fd.valid()) fd = open_locked(at.dir, at.name, LOCK_EX | LOCK_NB);
  // Missing, or in use by another run: it stays. Anything that cannot be
  // opened (a link, a file we may not read) is in use by no run of ours.
  if (!fd.valid() && (errno == EWOULDBLOCK || errno == ENOENT)) {
    return Status();
  }
  if (::unlinkat(at.dir, at.name.c_str(), 0) != 0 && errno != ENOENT) {
    return Status::failure(what, errno);
  }
  return Status();
}

Status copy_file(Site& site, const Text& source, const Text& target,
                 CopyOutcome& outcome) {
  const std::string from_path = fs_path(site.path_of(source));
  const std::string what =
      "cannot copy " + from_path + " to " + fs_path(site.path_of(target));
  Location from_at, to_at;
  UniqueFd from;
  struct stat from_stat;
  // Only what nobody outside the trusted could have chosen or changed.
  Status done = open_program(site, what, source, from_at, from, from_stat);
  if (done.ok()) done = locate(site, what, target, to_at);
  // What the kernel loads with it, judged as the copy will run: from the
  // target's directory.
  if (done.ok())
    done = judge_program_image(what, from.get(), from_stat, from_path, to_at);
  // A site that withholds writes stops here, with what the copy would meet.
  if (done.ok() && site.withhold_writes) {
    if (auto blocker = copy_blocker(site, what, target)) {
      done = Status::failure(*blocker, 0);
    }
    return done;
  }
  StagedCopy staged;
  if (done.ok() && !stage_copy(from.get(), from_stat, to_at, staged)) {
    done = Status::failure(what, errno);
  }
  Site::Hold::Copy& held = site.hold().copy;
  if (done.ok()) done = place_copy(what, staged, held, to_at, outcome);
  if (done.ok()) held.path = site.path_of(target);
  if (!staged.named.empty()) ::unlinkat(to_at.dir, staged.named.c_str(), 0);
  if (!done.ok()) trace("CopyFile: " + done.message());
  return done;
}

std::size_t held_copy_length(const Site& site, const Text& command_line) {
  const Site::Hold::Copy& held = site.hold().copy;
  const std::u16string& line = command_line.units();
  const std::u16string& name = held.path.units();
  const std::size_t n = name.size();
  if (!held.fd.valid() || n == 0 || !line.starts_with(name)) return 0;
  return line.size() == n || line[n] == u' ' || line[n] == u'\t' ? n : 0;
}

}  // namespace runtime
