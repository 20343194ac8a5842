#include <dirent.h>
#include <fcntl.h>
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

// No result file is this large; a larger one is not read into memory.
constexpr off_t kMaxIniSize = 1 << 20;

Status cannot_write(const std::string& path, int error) {
  return Status::failure("cannot write " + path, error);
}

// Opens the regular file `path` for writing, creating it when missing, and
// locks it exclusively. When the file was replaced while the lock was
// awaited, goes on with what the path names now.
Status open_for_update(const std::string& path, UniqueFd& fd, bool& created,
                       bool& through_link) {
  const std::string what = "cannot write " + path;
  // Each round that finds the file replaced follows a write that another
  // writer finished, so the rounds are bounded by time, not by count.
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (std::chrono::steady_clock::now() < deadline) {
    created = false;
    Status opened = open_regular(what, path, O_RDWR, fd, &through_link);
    if (!opened.ok() && opened.error() == ENOENT) {
      // A new file; through a dangling link, the link's target.
      opened = open_regular(what, path,
                            O_RDWR | O_CREAT | (through_link ? 0 : O_EXCL), fd);
      if (!opened.ok() && opened.error() == EEXIST) continue;
      created = opened.ok();
    }
    if (!opened.ok()) return opened;
    if (lock_file(fd.get(), LOCK_EX) != 0) {
      return errno == EWOULDBLOCK
                 ? Status::failure(what + ": locked by another process", 0)
                 : cannot_write(path, errno);
    }
    if (names_same_file(fd.get(), path)) return Status();
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

// True when a new file made by this process in `dir` and renamed over the
// file `st` would be the same file to everyone who looks: owner, group,
// links and extended attributes (ACLs among them).
bool replaceable(int fd, const struct stat& st, const std::string& dir) {
  struct stat dir_st;
  if (st.st_nlink != 1 || st.st_uid != ::geteuid() ||
      ::stat(dir.c_str(), &dir_st) != 0) {
    return false;
  }
  gid_t new_gid = dir_st.st_mode & S_ISGID ? dir_st.st_gid : ::getegid();
  if (st.st_gid != new_gid || !in_group(st.st_gid)) return false;
  ssize_t attrs = ::flistxattr(fd, nullptr, 0);
  return attrs == 0 || (attrs < 0 && errno == ENOTSUP);
}

void sync_directory(const std::string& dir) {
  UniqueFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.valid()) ::fsync(d.get());
}

// The prefix of the temporary names of `path`'s replacements.
std::string temporary_prefix(const std::string& path) {
  std::string prefix = ".";
  prefix += std::string_view(path).substr(path.find_last_of('/') + 1);
  prefix += ".tolmex-";
  return prefix;
}

// Removes temporary files that writers killed before their rename left.
// Only the holder of the file's lock makes them, so any there now is such
// a leftover.
void remove_leftovers(const std::string& dir, const std::string& prefix) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    struct stat st;
    if (name.starts_with(prefix) &&
        ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
      ::unlinkat(::dirfd(d), e->d_name, 0);
    }
  }
  ::closedir(d);
}

// Puts `content` at `path` through a new file renamed over it: a crash
// leaves the old file or the new one. False when that cannot be done.
bool replace_by_rename(const std::string& path, const struct stat& st,
                       const std::string& content) {
  const std::string dir = directory_of(path);
  const std::string prefix = temporary_prefix(path);
  std::string temp = dir + "/" + prefix + "XXXXXX";
  UniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (!out.valid()) return false;
  struct stat out_st;
  bool ok = ::fchmod(out.get(), st.st_mode & 07777) == 0 &&
            ::fstat(out.get(), &out_st) == 0 && out_st.st_uid == st.st_uid &&
            out_st.st_gid == st.st_gid && write_all(out.get(), content) &&
            ::fdatasync(out.get()) == 0 && ::close(out.release()) == 0 &&
            ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  sync_directory(dir);
  return true;
}

// Rewrites the open file `fd` from `old_content` to `content` in place. A
// write that fails midway puts the old content back.
Status rewrite_in_place(const std::string& path, int fd,
                        const std::string& old_content,
                        const std::string& content, bool created) {
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
  if (created) sync_directory(directory_of(path));
  return Status();
}

// Applies `edits` to the INI file `path` in one replacement.
Status write_ini_file(const std::string& path,
                      const std::vector<IniEdit>& edits) {
  UniqueFd fd;
  bool created = false, through_link = false;
  Status opened = open_for_update(path, fd, created, through_link);
  if (!opened.ok()) return opened;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return cannot_write(path, errno);
  // The open for writing has checked the permissions, except for root,
  // who still leaves a file alone that nobody may write (read-only).
  if ((st.st_mode & 0222) == 0) return cannot_write(path, EACCES);
  if (st.st_size > kMaxIniSize) return cannot_write(path, EFBIG);
  std::string old_content;
  if (!read_all(fd.get(), old_content)) return cannot_write(path, errno);
  std::optional<std::string> content = edit_ini_file(old_content, edits);
  if (!content) return cannot_write(path, EINVAL);
  // What is about to be written must read back as written (as the value
  // reads from a file of that key alone), or the file is left alone.
  for (const IniEdit& e : edits) {
    Text expected = read_ini_file(*edit_ini_file("", {e}), e.section, e.key);
    if (read_ini_file(*content, e.section, e.key) != expected) {
      return Status::failure(
          "cannot write " + path + ": the written keys do not read back", 0);
    }
  }
  // Under the lock: what a writer killed before its rename left goes, even
  // when nothing is to be written.
  remove_leftovers(directory_of(path), temporary_prefix(path));
  if (*content == old_content) return Status();
  // Through a symbolic link the file is written in place: the link stays.
  if (!through_link && replaceable(fd.get(), st, directory_of(path)) &&
      replace_by_rename(path, st, *content)) {
    return Status();
  }
  return rewrite_in_place(path, fd.get(), old_content, *content, created);
}

}  // namespace

Status write_ini_edits(const Text& path, const std::vector<IniEdit>& edits) {
  return write_ini_file(fs_path(path), edits);
}

Text read_ini_key(const Text& path, const Text& section, const Text& key) {
  UniqueFd fd;
  struct stat st;
  std::string content;
  if (!open_regular("", fs_path(path), O_RDONLY, fd).ok() ||
      ::fstat(fd.get(), &st) != 0 || st.st_size > kMaxIniSize ||
      !read_all(fd.get(), content)) {
    return Text::null();
  }
  return read_ini_file(content, section, key);
}

}  // namespace runtime
