#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/fd_io.h"
#include "platform/posix/file_lock.h"
#include "platform/posix/path.h"
#include "platform/posix/shared_dir.h"
#include "platform/posix/unique_fd.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

Status cannot_write(const std::string& path, int error) {
  return Status::failure("cannot write " + path, error);
}

// The INI file open for an update: its descriptor, where it lies, and how
// it was opened.
struct OpenIni {
  Location at;
  UniqueFd fd;
  bool created = false;       // made by this open
  bool through_link = false;  // reached through a symbolic link
  bool locked = false;        // false: another process held the lock too long
};

// Opens the regular file `path` for writing, creating it when missing, and
// locks it exclusively. When the file was replaced while the lock was
// awaited, goes on with what the path names now. A lock that is not granted
// within kLockWait is not awaited further: anyone who may read the file can
// take one, so it proves nothing about writers.
Status open_for_update(const std::string& path, OpenIni& ini) {
  const std::string what = "cannot write " + path;
  Status found = locate(what, path, ini.at);
  if (!found.ok()) return found;
  // Each round that finds the file replaced follows a write that another
  // writer finished, so the rounds are bounded by time, not by count.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (std::chrono::steady_clock::now() < deadline) {
    ini.created = false;
    Status opened =
        open_regular_at(what, ini.at, O_RDWR, ini.fd, &ini.through_link);
    if (!opened.ok() && opened.error() == ENOENT) {
      // A new file; through a dangling link, the link's target.
      opened = open_regular_at(
          what, ini.at, O_RDWR | O_CREAT | (ini.through_link ? 0 : O_EXCL),
          ini.fd);
      if (!opened.ok() && opened.error() == EEXIST) continue;
      ini.created = opened.ok();
    }
    if (!opened.ok()) return opened;
    ini.locked = lock_file(ini.fd.get(), LOCK_EX) == 0;
    if (!ini.locked && errno != EWOULDBLOCK) return cannot_write(path, errno);
    if (!ini.locked || names_same_file(ini.fd.get(), ini.at.dir, ini.at.name)) {
      return Status();
    }
  }
  return cannot_write(path, EBUSY);
}

bool in_group(gid_t gid) {
  if (gid == ::getegid()) return true;
  gid_t groups[NGROUPS_MAX];
  int n = ::getgroups(NGROUPS_MAX, groups);
  for (int i = 0; i < n; ++i) {
    if (groups[i] == gid) return true;
  }
  return false;
}

// True when a new file made by this process in the directory `dir_st` and
// renamed over the file `st` would be the same file to everyone who looks:
// owner, group, links and extended attributes (ACLs among them).
bool replaceable(int fd, const struct stat& st, const struct stat& dir_st) {
  if (st.st_nlink != 1 || st.st_uid != ::geteuid()) return false;
  gid_t new_gid = dir_st.st_mode & S_ISGID ? dir_st.st_gid : ::getegid();
  if (st.st_gid != new_gid || !in_group(st.st_gid)) return false;
  ssize_t attrs = ::flistxattr(fd, nullptr, 0);
  return attrs == 0 || (attrs < 0 && errno == ENOTSUP);
}

// The temporary name that the holder of the lock of `at.name` writes its
// replacement under.
std::string locked_temporary(const Location& at) {
  return temporary_name(at.name, "new");
}

// Removes what a writer killed before its rename left at the fixed
// temporary name. Only the holder of the lock uses that name, so no scan
// of the directory is needed and nobody else's file is touched.
void remove_leftover(const Location& at) {
  const std::string name = locked_temporary(at);
  struct stat st;
  if (::fstatat(at.dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      st.st_uid == ::geteuid() && S_ISREG(st.st_mode)) {
    ::unlinkat(at.dir, name.c_str(), 0);
  }
}

// Creates the temporary file of a replacement of `at.name`: under the
// fixed name for the holder of the lock, else (or when another user's file
// is there) under a new random name.
UniqueFd create_temporary(const Location& at, bool locked, std::string& name) {
  name = locked_temporary(at);
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  if (locked) {
    UniqueFd fd(::openat(at.dir, name.c_str(), flags, 0600));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char bytes[8];
    if (::getrandom(bytes, sizeof bytes, 0) != sizeof bytes) break;
    std::string tag;
    for (unsigned char b : bytes) tag += "0123456789abcdef"[b % 16];
    name = temporary_name(at.name, tag);
    UniqueFd fd(::openat(at.dir, name.c_str(), flags, 0600));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Puts `content` at the file of `ini` through a new file renamed over it: a
// crash leaves the old file or the new one. False when that cannot be done.
bool replace_by_rename(const OpenIni& ini, const struct stat& st,
                       const std::string& content) {
  std::string temp;
  UniqueFd out = create_temporary(ini.at, ini.locked, temp);
  if (!out.valid()) return false;
  struct stat out_st;
  bool ok = ::fchmod(out.get(), st.st_mode & 07777) == 0 &&
            ::fstat(out.get(), &out_st) == 0 && out_st.st_uid == st.st_uid &&
            out_st.st_gid == st.st_gid && write_all(out.get(), content) &&
            ::fdatasync(out.get()) == 0 && ::close(out.release()) == 0 &&
            ::renameat(ini.at.dir, temp.c_str(), ini.at.dir,
                       ini.at.name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(ini.at.dir, temp.c_str(), 0);
    return false;
  }
  ::fsync(ini.at.dir);
  return true;
}

// Rewrites the open file `fd` from `old_content` to `content` in place. A
// write that fails midway puts the old content back.
Status rewrite_in_place(const OpenIni& ini, const std::string& old_content,
                        const std::string& content) {
  const int fd = ini.fd.get();
  const std::string& path = ini.at.path;
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
  if (ini.created) ::fsync(ini.at.dir);
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

// Applies `edits` to the INI file `path` in one replacement.
Status write_ini_file(const std::string& path,
                      const std::vector<IniEdit>& edits) {
  OpenIni ini;
  Status opened = open_for_update(path, ini);
  if (!opened.ok()) return opened;
  struct stat st;
  if (::fstat(ini.fd.get(), &st) != 0) return cannot_write(path, errno);
  // The open for writing has checked the permissions, except for root,
  // who still leaves a file alone that nobody may write (read-only).
  if ((st.st_mode & 0222) == 0) return cannot_write(path, EACCES);
  std::string old_content;
  Status read = read_capped(ini.fd.get(), path, old_content);
  if (!read.ok()) return read;
  // What is about to be written must read back as written, or the file is
  // left alone.
  std::optional<std::string> content = edit_ini_file(old_content, edits);
  if (!content) {
    return Status::failure(
        "cannot write " + path + ": the written keys would not read back", 0);
  }
  if (ini.locked) remove_leftover(ini.at);
  if (*content == old_content) return Status();
  // Through a symbolic link the file is written in place: the link stays.
  if (!ini.through_link && replaceable(ini.fd.get(), st, ini.at.dir_st) &&
      replace_by_rename(ini, st, *content)) {
    return Status();
  }
  // Without the lock only a rename is safe from other writers.
  if (!ini.locked) {
    return Status::failure("cannot write " + path +
                               ": locked by another process for " +
                               std::to_string(kLockWait.count()) + " s",
                           0);
  }
  return rewrite_in_place(ini, old_content, *content);
}

}  // namespace

Status write_ini_edits(const Text& path, const std::vector<IniEdit>& edits) {
  return write_ini_file(fs_path(path), edits);
}

Text read_ini_key(const Text& path, const Text& section, const Text& key) {
  UniqueFd fd;
  std::string content;
  if (!open_regular("", fs_path(path), O_RDONLY, fd).ok() ||
      !read_capped(fd.get(), "", content).ok()) {
    return Text::null();
  }
  return read_ini_file(content, section, key);
}

}  // namespace runtime
