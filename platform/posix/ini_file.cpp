#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/fd_io.h"
#include "platform/posix/file_lock.h"
#include "platform/posix/fs_path.h"
#include "platform/posix/shared_dir.h"
#include "platform/posix/unique_fd.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

Status cannot_write(const std::string& path, int error) {
  return Status::failure("cannot write " + path, error);
}

// Writers of a file take turns through its temporary name: the writer
// whose turn it is has made ".NAME.tolmex-new" beside it (O_EXCL) and holds
// it locked, writes the new content into it and renames it over the file,
// which ends the turn. Only the trusted can open that file, so a reader of
// the file can neither take a turn nor hold one up. A file of this user's
// at that name that nobody holds locked is a killed writer's leftover and
// goes; one that another writer holds is waited for, up to kLockWait, with
// a sleep between looks. Anything else there (another user's file, a
// directory, a link) ends the write at once, naming its owner.

// Success when the turn name of the file `at` is free or holds a regular
// file of this user's (a writer's turn, or a killed writer's leftover);
// else what is there and whose, which no writer waits for or removes:
// "cannot write /p/tolmex.ini: /p/.tolmex.ini.tolmex-new was put there by
// user pos; remove it".
Status turn_blocker(const Location& at) {
  const std::string temp = temporary_name(at.name, "new");
  struct stat st;
  if (::fstatat(at.dir, temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Status();  // no turn, or one ended meanwhile
    return cannot_write(at.path, errno);
  }
  if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) return Status();
  return Status::failure("cannot write " + at.path + ": " + at.dir_path +
                             (at.dir_path.ends_with('/') ? "" : "/") + temp +
                             " was put there by user " + user_name(st.st_uid) +
                             "; remove it",
                         0);
}

Status take_turn(const Location& at, UniqueFd& turn, std::string& temp) {
  temp = temporary_name(at.name, "new");
  const std::string turn_path =
      at.dir_path + (at.dir_path.ends_with('/') ? "" : "/") + temp;
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  do {
    UniqueFd fd(::openat(at.dir, temp.c_str(), flags, 0600));
    if (fd.valid()) {
      // Locked before another writer can take it for a leftover; one that
      // removed it in between makes the check fail.
      if (lock_file(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
          names_same_file(fd.get(), at.dir, temp, false)) {
        turn = std::move(fd);
        return Status();
      }
      continue;
    }
    if (errno != EEXIST) return cannot_write(at.path, errno);
    Status blocked = turn_blocker(at);
    if (!blocked.ok()) return blocked;
    // Polled, not awaited: a turn ends by a rename that makes its file the
    // public one, whose lock any reader may then take.
    UniqueFd held = open_locked(at.dir, temp, LOCK_EX | LOCK_NB);
    if (held.valid()) {
      // Nobody's turn: the leftover of a writer that was killed.
      if (::unlinkat(at.dir, temp.c_str(), 0) != 0 && errno != ENOENT) {
        return Status::failure("cannot write " + at.path +
                                   ": cannot remove the leftover " + turn_path,
                               errno);
      }
    } else if (errno == EWOULDBLOCK) {
      ::usleep(10000);                               // another writer's turn
    } else if (errno != ENOENT && errno != EBUSY) {  // turns ended meanwhile
      return Status::failure("cannot write " + at.path + ": " + turn_path +
                                 " is not this user's to take",
                             errno);
    }
  } while (std::chrono::steady_clock::now() < deadline);
  return Status::failure("cannot write " + at.path +
                             ": another writer has held it for " +
                             std::to_string(kLockWait.count()) + " s",
                         0);
}

// Gives the new file `out` what the file `fd` (`st`) shows everyone who
// looks: owner and group, extended attributes (ACLs among them) and mode.
// False where this process may not.
bool copy_identity(int out, int fd, const struct stat& st) {
  struct stat out_st;
  if (::fstat(out, &out_st) != 0) return false;
  if ((out_st.st_uid != st.st_uid || out_st.st_gid != st.st_gid) &&
      ::fchown(out, st.st_uid, st.st_gid) != 0) {
    return false;
  }
  std::vector<char> names(64 * 1024);
  ssize_t size = ::flistxattr(fd, names.data(), names.size());
  if (size < 0 && errno != ENOTSUP) return false;
  std::vector<char> value(64 * 1024);
  for (ssize_t i = 0; i < size; i += std::strlen(&names[i]) + 1) {
    ssize_t n = ::fgetxattr(fd, &names[i], value.data(), value.size());
    if (n < 0 || ::fsetxattr(out, &names[i], value.data(),
                             static_cast<std::size_t>(n), 0) != 0) {
      return false;
    }
  }
  return ::fchmod(out, st.st_mode & 07777) == 0 && ::fstat(out, &out_st) == 0 &&
         out_st.st_uid == st.st_uid && out_st.st_gid == st.st_gid &&
         out_st.st_mode == st.st_mode;
}

// Puts `content` at `at.name` through the turn's file renamed over it: a
// crash leaves the old file or the new one, whole, and the new one is on
// disk (data and name) when this returns. A failed rename leaves the file
// as it was.
Status replace_by_rename(const Location& at, UniqueFd& turn,
                         const std::string& temp, const std::string& content) {
  if (!write_all(turn.get(), content) || ::fdatasync(turn.get()) != 0 ||
      ::renameat(at.dir, temp.c_str(), at.dir, at.name.c_str()) != 0) {
    return cannot_write(at.path, errno);
  }
  // The turn ends once the new name is on disk.
  const int synced = ::fsync(at.dir);
  const int error = errno;
  turn.reset();
  return synced == 0 ? Status() : cannot_write(at.path, error);
}

// Rewrites the open file `fd` from `old_content` to `content` in place,
// for a file that a new one could not stand in for (a hard link). Not
// whole after a power loss midway; a write that fails midway puts the old
// content back.
Status rewrite_in_place(const Location& at, int fd, bool through_link,
                        const std::string& old_content,
                        const std::string& content) {
  const std::string& path = at.path;
  // The name must still be the file read: another may have stood in.
  if (!names_same_file(fd, at.dir, at.name, through_link)) {
    return Status::failure("cannot write " + path + ": replaced meanwhile", 0);
  }
  if (content.size() > old_content.size() &&
      ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0,
                  static_cast<off_t>(content.size())) != 0 &&
      errno != EOPNOTSUPP) {
    return cannot_write(path, errno);  // a full disk: nothing changed yet
  }
  if (!write_all_at(fd, content, 0) ||
      (content.size() < old_content.size() &&
       ::ftruncate(fd, static_cast<off_t>(content.size())) != 0) ||
      ::fdatasync(fd) != 0) {
    int error = errno;
    write_all_at(fd, old_content, 0);
    while (::ftruncate(fd, static_cast<off_t>(old_content.size())) != 0 &&
           errno == EINTR) {
    }
    return cannot_write(path, error);
  }
  return Status();
}

// Reads at most kMaxIniSize bytes of `fd` into `content`.
Status read_capped(int fd, const std::string& path, std::string& content) {
  if (!read_up_to(fd, kMaxIniSize + 1, content)) {
    return cannot_write(path, errno);
  }
  if (content.size() > kMaxIniSize) return cannot_write(path, EFBIG);
  return Status();
}

// What the edits make of the open file `fd` (`path`, `st` as its open saw
// it), from its `old` content; a failure where it is not to be written: no
// write permission bit (root, whom the open does not stop, leaves such a
// file alone too), too large, or keys that would not read back.
// A missing file (`fd` -1) is the empty text.
Status edited_content(int fd, const std::string& path,
                      const std::vector<IniEdit>& edits, const struct stat& st,
                      std::string& old, std::string& content) {
  old.clear();
  if (fd >= 0 && (st.st_mode & 0222) == 0) return cannot_write(path, EACCES);
  if (fd >= 0) {
    Status read = read_capped(fd, path, old);
    if (!read.ok()) return read;
  }
  std::optional<std::string> edited = edit_ini_file(old, edits);
  if (!edited) {
    return Status::failure(
        "cannot write " + path + ": the written keys would not read back", 0);
  }
  if (edited->size() > kMaxIniSize) return cannot_write(path, EFBIG);
  content = std::move(*edited);
  return Status();
}

// The reason an open for writing was not permitted, naming the flag that
// forbids it where the file has one.
Status not_permitted(const Location& at, const Status& opened) {
  UniqueFd fd;
  int flags = 0;
  if (opened.error() != EPERM || !open_regular_at("", at, O_RDONLY, fd).ok() ||
      ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0 ||
      (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) == 0) {
    return opened;
  }
  return Status::failure(
      "cannot write " + at.path + ": it is " +
          ((flags & FS_IMMUTABLE_FL) ? "immutable (chattr -i "
                                     : "append-only (chattr -a ") +
          at.path + ")",
      0);
}

// Applies `edits` to the INI file `name` of `site` in one replacement; where
// the site withholds writes, stops where it would take its turn.
Status write_ini_file(Site& site, const Text& name,
                      const std::vector<IniEdit>& edits) {
  const std::string path = fs_path(site.path_of(name));
  const std::string what = "cannot write " + path;
  Location named;
  Status found = locate(site, what, name, named);
  if (!found.ok()) return found;
  // A file reached through symbolic links is written at their target, where
  // writers by either name take turns alike; the links stay. The open finds
  // that place, link by link, and judges the file.
  UniqueFd fd;
  Location at;
  Judgement judged;
  Status opened = open_regular_at(what, named, O_RDWR, fd, &at, &judged);
  if (!opened.ok() && opened.error() != ENOENT)
    return not_permitted(named, opened);
  if (!opened.ok() && at.name.empty()) return opened;
  site.hold().writers[fs_path(name)] =
      opened.ok() ? writers_warning(judged, path) : std::nullopt;
  std::string old_content, content;
  if (opened.ok()) {
    Status edited =
        edited_content(fd.get(), path, edits, judged.st, old_content, content);
    // Edits that change nothing take no turn and write nothing.
    if (edited.ok() && content == old_content) return Status();
    if (site.withhold_writes && !edited.ok()) return edited;
  } else if (site.withhold_writes) {
    Status made = could_make(what + " at " + at.path, at);
    if (!made.ok()) return made;
  }
  // What others left at the writers' turn name ends the write at once.
  if (site.withhold_writes) return turn_blocker(at);
  UniqueFd turn;
  std::string temp;
  Status taken = take_turn(at, turn, temp);
  if (!taken.ok()) return taken;
  // Whatever the turn leaves at its name goes when it ends.
  struct TurnEnd {
    const Location& at;
    const std::string& temp;
    const UniqueFd& turn;
    ~TurnEnd() {
      if (turn.valid()) ::unlinkat(at.dir, temp.c_str(), 0);
    }
  } turn_end{at, temp, turn};
  // The file as the turn finds it, written by no one else meanwhile.
  opened = open_regular_at(what, at, O_RDWR, fd, nullptr, &judged);
  const bool created = !opened.ok() && opened.error() == ENOENT;
  if (!opened.ok() && !created) return opened;
  // A name that became a link meanwhile is written through, in place.
  const bool through_link =
      opened.ok() && !names_same_file(fd.get(), at.dir, at.name, false);
  if (opened.ok()) {
    site.hold().writers[fs_path(name)] = writers_warning(judged, path);
  }
  // What is about to be written must read back as written, and fit the
  // cap, or the file is left alone.
  const struct stat& st = judged.st;
  Status edited = edited_content(created ? -1 : fd.get(), path, edits, st,
                                 old_content, content);
  if (!edited.ok()) return edited;
  if (content == old_content && !created) return Status();
  if (created ? ::fchmod(turn.get(), kNewFileMode) == 0
              : !through_link && st.st_nlink == 1 &&
                    copy_identity(turn.get(), fd.get(), st)) {
    return replace_by_rename(at, turn, temp, content);
  }
  return rewrite_in_place(at, fd.get(), through_link, old_content, content);
}

}  // namespace

Status write_ini_edits(Site& site, const Text& name,
                       const std::vector<IniEdit>& edits) {
  return write_ini_file(site, name, edits);
}

Status read_ini_keys(const Site& site, const Text& name, const Text& section,
                     const std::vector<Text>& keys, std::vector<Text>& values,
                     std::string& warning) {
  const std::string what = "cannot read " + fs_path(site.path_of(name));
  UniqueFd fd;
  Judgement judged;
  // Without touching the access time, where this user may (the owner, or
  // root); else with it.
  Status opened =
      open_regular(site, what, name, O_RDONLY | O_NOATIME, fd, &judged);
  if (!opened.ok() && opened.error() == EPERM) {
    opened = open_regular(site, what, name, O_RDONLY, fd, &judged);
  }
  if (!opened.ok()) return opened;
  std::string content;
  if (!read_up_to(fd.get(), kMaxIniSize + 1, content)) {
    return Status::failure(what, errno);
  }
  if (content.size() > kMaxIniSize) return Status::failure(what, EFBIG);
  if (is_torn_utf16(content)) {
    return Status::failure(what + ": UTF-16 text with an odd number of bytes",
                           0);
  }
  for (const Say* say : {&judged.content, &judged.name, &judged.place}) {
    if (*say) {
      warning =
          say->reason + ": what it says may not be the client's; " + say->mend;
      break;
    }
  }
  for (const Text& key : keys) {
    values.push_back(read_ini_file(content, section, key));
  }
  return Status();
}

Text read_ini_key(const Site& site, const Text& name, const Text& section,
                  const Text& key) {
  UniqueFd fd;
  std::string content;
  if (!open_regular(site, "", name, O_RDONLY, fd).ok() ||
      !read_capped(fd.get(), "", content).ok()) {
    return Text::null();
  }
  return read_ini_file(content, section, key);
}

}  // namespace runtime
