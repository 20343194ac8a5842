#include "platform/posix/shared_dir.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/posix/path.h"

namespace runtime {
namespace {

// The directory that the request's files lie in, opened once.
struct Base {
  std::string path;  // "" when none is set
  UniqueFd fd;
  struct stat st = {};
  int error = 0;  // why it could not be opened
};

Base& base() {
  static Base b;
  return b;
}

bool same_object(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether a symbolic link `link` in the directory `dir` may be followed:
// the rule of protected_symlinks, applied whatever the system's setting.
bool may_follow_link(const struct stat& link, const struct stat& dir) {
  return link.st_uid == ::geteuid() || link.st_uid == 0 ||
         (dir.st_mode & S_IWOTH) == 0 || dir.st_uid == link.st_uid;
}

// Opens `name` in `dir` with `flags`, following a symbolic link there only
// when may_follow_link() allows it and the name still holds the same link
// once the object is open.
int open_at(int dir, const struct stat& dir_st, const std::string& name,
            int flags, bool* through_link, std::string& refusal) {
  flags |= O_CLOEXEC;
  int fd = ::openat(dir, name.c_str(), flags | O_NOFOLLOW, kNewFileMode);
  if (fd >= 0 || (errno != ELOOP && errno != ENOTDIR)) return fd;
  int error = errno;
  UniqueFd link(::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat link_st;
  if (!link.valid() || ::fstat(link.get(), &link_st) != 0 ||
      !S_ISLNK(link_st.st_mode)) {
    errno = error;
    return -1;
  }
  if (!may_follow_link(link_st, dir_st)) {
    refusal =
        "a symbolic link of another user in a directory that others "
        "may write";
    errno = EPERM;
    return -1;
  }
  if (through_link != nullptr) *through_link = true;
  fd = ::openat(dir, name.c_str(), flags, kNewFileMode);
  error = errno;
  struct stat now;
  if (fd >= 0 &&
      (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
       !same_object(now, link_st))) {
    ::close(fd);
    refusal = "replaced while it was opened";
    errno = EBUSY;
    return -1;
  }
  errno = error;
  return fd;
}

// "" when the object `st` (a program, or a directory when `sticky_helps`)
// could have been written only by this user, root or `parent_owner`; else
// what is wrong with `path` and how to mend it.
std::string write_problem(const struct stat& st, uid_t parent_owner,
                          const std::string& path, bool sticky_helps) {
  if (st.st_uid != ::geteuid() && st.st_uid != 0 && st.st_uid != parent_owner) {
    return path + " belongs to user " + user_name(st.st_uid) +
           ", neither this user, root nor the owner of its directory";
  }
  if (sticky_helps && (st.st_mode & S_ISVTX)) return "";
  const std::string sticky = sticky_helps ? " or chmod +t" : "";
  if (st.st_mode & S_IWOTH) {
    return path + " is writable by others: chmod o-w" + sticky + " " + path;
  }
  if ((st.st_mode & S_IWGRP) && ::geteuid() == 0) {
    return path + " is writable by group " + group_name(st.st_gid) +
           ": chmod g-w" + sticky + " " + path;
  }
  return "";
}

// The components of a relative path, without empty ones and ".".
std::vector<std::string> components(std::string_view rel) {
  std::vector<std::string> out;
  while (!rel.empty()) {
    std::size_t slash = rel.find('/');
    std::string_view part = rel.substr(0, slash);
    if (!part.empty() && part != ".") out.emplace_back(part);
    if (slash == std::string_view::npos) break;
    rel.remove_prefix(slash + 1);
  }
  return out;
}

// The part of `path` below the base, or false when it is not below it.
bool below_base(const std::string& path, std::string& rel) {
  const std::string& b = base().path;
  if (b.empty()) return false;
  if (b == ".") {
    if (path.starts_with('/')) return false;
    rel = path;
    return true;
  }
  if (!path.starts_with(b)) return false;
  if (b.ends_with('/')) {
    rel = path.substr(b.size());
    return true;
  }
  if (path.size() <= b.size() || path[b.size()] != '/') return false;
  rel = path.substr(b.size() + 1);
  return true;
}

}  // namespace

std::string temporary_name(const std::string& name, std::string_view tag) {
  std::string temp = "." + name + ".tolmex-";
  temp += tag;
  return temp;
}

std::string user_name(uid_t uid) {
  passwd pw, *found = nullptr;
  char buf[1024];
  if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found) {
    return pw.pw_name;
  }
  return std::to_string(uid);
}

std::string group_name(gid_t gid) {
  group gr, *found = nullptr;
  char buf[1024];
  if (::getgrgid_r(gid, &gr, buf, sizeof buf, &found) == 0 && found) {
    return gr.gr_name;
  }
  return std::to_string(gid);
}

std::string untrusted_program(const struct stat& st, uid_t dir_owner,
                              const std::string& path) {
  return write_problem(st, dir_owner, path, false);
}

void set_base_directory(const std::string& file) {
  Base& b = base();
  b.path = directory_of(file);
  b.fd.reset(::open(b.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  b.error = b.fd.valid() && ::fstat(b.fd.get(), &b.st) == 0 ? 0 : errno;
  if (b.error != 0) b.fd.reset();
}

Status locate(const std::string& what, const std::string& path, Location& at) {
  at.path = path;
  std::string rel;
  if (!below_base(path, rel)) {
    // Outside the request's directory (a trace file, a test): the
    // directory as its path names it.
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.ends_with('/')) trimmed.pop_back();
    at.owned_dir.reset(::open(directory_of(trimmed).c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at.owned_dir.valid() || ::fstat(at.owned_dir.get(), &at.dir_st) != 0) {
      return Status::failure(what, errno);
    }
    at.dir = at.owned_dir.get();
    at.name = trimmed.substr(trimmed.find_last_of('/') + 1);
    return Status();
  }
  const Base& b = base();
  if (!b.fd.valid()) return Status::failure(what, b.error);
  std::vector<std::string> parts = components(rel);
  if (parts.empty()) return Status::failure(what, EISDIR);
  at.dir = b.fd.get();
  at.dir_st = b.st;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    std::string refusal;
    UniqueFd next(open_at(at.dir, at.dir_st, parts[i],
                          O_RDONLY | O_DIRECTORY | O_NONBLOCK, nullptr,
                          refusal));
    struct stat st;
    if (!next.valid() || ::fstat(next.get(), &st) != 0) {
      return refusal.empty() ? Status::failure(what, errno)
                             : Status::failure(what + ": " + refusal, 0);
    }
    std::string dir_path = path.substr(0, path.size() - rel.size()) + parts[i];
    std::string problem = write_problem(st, at.dir_st.st_uid, dir_path, true);
    if (!problem.empty()) return Status::failure(what + ": " + problem, 0);
    at.owned_dir = std::move(next);
    at.dir = at.owned_dir.get();
    at.dir_st = st;
  }
  at.name = parts.back();
  return Status();
}

Status open_regular_at(const std::string& what, const Location& at, int flags,
                       UniqueFd& fd, bool* through_link) {
  if (through_link != nullptr) *through_link = false;
  std::string refusal;
  fd.reset(open_at(at.dir, at.dir_st, at.name, flags | O_NONBLOCK, through_link,
                   refusal));
  if (!refusal.empty()) return Status::failure(what + ": " + refusal, 0);
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
  if ((flags & O_ACCMODE) != O_RDONLY && st.st_nlink > 1 &&
      st.st_uid != ::geteuid() && (at.dir_st.st_mode & (S_IWGRP | S_IWOTH))) {
    fd.reset();
    return Status::failure(what +
                               ": a file of another user with another name "
                               "(a hard link) in a directory that others "
                               "may write",
                           0);
  }
  return Status();
}

Status open_regular(const std::string& what, const std::string& path, int flags,
                    UniqueFd& fd, bool* through_link) {
  Location at;
  Status found = locate(what, path, at);
  if (!found.ok()) return found;
  return open_regular_at(what, at, flags, fd, through_link);
}

}  // namespace runtime
