#include "platform/posix/shared_dir.h"

#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "platform/posix/file_lock.h"
#include "platform/posix/fs_path.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

// The most symbolic links one lookup follows, as the kernel's limit.
constexpr int kMaxLinks = 40;

// This run's effective user, which a run does not change: asked once.
uid_t run_user() {
  static const uid_t user = ::geteuid();
  return user;
}

// The trusted: identities, not properties of the files.
bool trusted(uid_t uid) { return uid == run_user() || uid == 0; }

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir == ".") return name;
  return dir.ends_with('/') ? dir + name : dir + "/" + name;
}

// Who outside the trusted may make and remove names in the directory `st`
// (sticky or not), or write the file `st`, by its owner and mode bits;
// `sticky` is the mend's "chmod +t or " where the sticky bit would do.
Say writers(const struct stat& st, const std::string& path,
            const std::string& sticky = "") {
  Say say;
  if (!trusted(st.st_uid)) {
    say.owner = user_name(st.st_uid);
    say.who = "user " + say.owner;
    say.reason = path + " belongs to user " + say.owner;
    say.mend = "chown " + user_name(run_user()) + " " + path;
  } else if (st.st_mode & S_IWOTH) {
    say.who = "other users";
    say.reason = path + " is writable by others";
    say.mend = sticky + "chmod o-w " + path;
  } else if ((st.st_mode & S_IWGRP) &&
             ::lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) >
                 0) {
    // With an access control list the group bits are its mask: the users
    // and groups that its entries name may write (getfacl shows them).
    say.who = "the users its access control list names";
    say.reason = path + " has an access control list entry that lets " +
                 "others write it";
    say.mend = sticky + "setfacl -b " + path;
  } else if (st.st_mode & S_IWGRP) {
    say.who = "the users of group " + group_name(st.st_gid);
    say.reason = path + " is writable by group " + group_name(st.st_gid);
    say.mend = sticky + "chmod g-w " + path;
  }
  return say;
}

// Who made the object or may change what it holds. A link's target is
// its maker's choice; a directory's entries are its writers' unless the
// sticky bit leaves each entry to its owner.
Say content_say(const struct stat& st, const std::string& path) {
  if (S_ISLNK(st.st_mode)) {
    if (trusted(st.st_uid)) return Say();
    Say say = writers(st, path);
    say.reason =
        path + " is a symbolic link of another user (" + say.owner + ")";
    say.mend = "rm " + path;
    return say;
  }
  if (!S_ISDIR(st.st_mode)) return writers(st, path);
  if ((st.st_mode & S_ISVTX) && trusted(st.st_uid)) return Say();
  Say say = writers(st, path, "chmod +t or ");
  if (trusted(st.st_uid)) say.reason += " and has no sticky bit";
  return say;
}

// Who could have given the object `st` this name in the directory `in`: a
// second name of a file is a hard link that whoever may make names there
// could have made, to anything they may reach (protected_hardlinks aside).
Say another_name_say(const struct stat& st, const std::string& path,
                     const Location& in) {
  if (S_ISDIR(st.st_mode) || st.st_nlink <= 1) return Say();
  Say say = writers(in.dir_st, in.dir_path);
  if (!say) return say;
  say.owner.clear();
  say.reason = path + " has another name (a hard link), and " + say.who +
               " may make names in " + in.dir_path;
  say.mend = "give it one name (cp " + path + " " + path + ".new && mv " +
             path + ".new " + path + ")";
  return say;
}

// The components of a path, without empty ones and ".".
std::vector<std::string> components(std::string_view path) {
  std::vector<std::string> out;
  while (!path.empty()) {
    std::size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (!part.empty() && part != ".") out.emplace_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return out;
}

// The target of the symbolic link `name` in `dir` ("" with `name` empty:
// the link `dir` itself); false with errno set when it cannot be read.
bool read_link(int dir, const std::string& name, std::string& target) {
  char buf[PATH_MAX];
  ssize_t n = ::readlinkat(dir, name.c_str(), buf, sizeof buf);
  if (n < 0) return false;
  if (n == 0 || static_cast<std::size_t>(n) == sizeof buf) {
    errno = n == 0 ? ENOENT : ENAMETOOLONG;
    return false;
  }
  target.assign(buf, static_cast<std::size_t>(n));
  return true;
}

// The symbolic link `name` in `dir`, opened as itself, or an invalid
// descriptor when it is not a link.
UniqueFd open_link(int dir, const std::string& name, struct stat& st) {
  UniqueFd link(::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (link.valid() && (::fstat(link.get(), &st) != 0 || !S_ISLNK(st.st_mode))) {
    link.reset();
  }
  return link;
}

// A second view of `at`, whose directory stays `at`'s.
Location view_of(const Location& at) {
  Location view;
  view.path = at.path;
  view.dir = at.dir;
  view.dir_st = at.dir_st;
  view.dir_path = at.dir_path;
  view.name = at.name;
  view.place = at.place;
  return view;
}

// The use a link or directory on the way to an object of `use` has.
Use way_to(Use use) { return use == Use::kRun ? Use::kRun : Use::kFollow; }

Status refused(const std::string& what, const std::string& why) {
  return Status::failure(what + ": " + why, 0);
}

// Makes `at` the directory "/", judged as a directory followed.
Status enter_root(const std::string& what, Location& at, Use use) {
  at.owned_dir.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!at.owned_dir.valid() || ::fstat(at.owned_dir.get(), &at.dir_st) != 0) {
    return Status::failure(what, errno);
  }
  at.dir = at.owned_dir.get();
  at.dir_path = "/";
  const auto no = refusal(judge(at.dir_st, "/", at), way_to(use));
  return no ? refused(what, *no) : Status();
}

Status follow(const std::string& what, Location& at, int link,
              const struct stat& link_st, const std::string& path, Use use,
              int& links);

// Makes the directory `part` of `at` the new `at`, as refusal() allows a
// directory followed on the way to an object of `use`; a symbolic link
// there is followed by follow().
Status enter(const std::string& what, Location& at, const std::string& part,
             Use use, int& links) {
  if (part == ".") return Status();
  const std::string path = join(at.dir_path, part);
  UniqueFd next(
      ::openat(at.dir, part.c_str(),
               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!next.valid()) {
    const int error = errno;
    struct stat link_st;
    UniqueFd link;
    if (error == ELOOP || error == ENOTDIR) {
      link = open_link(at.dir, part, link_st);
    }
    if (!link.valid()) return Status::failure(what, error);
    Status followed = follow(what, at, link.get(), link_st, path, use, links);
    if (!followed.ok()) return followed;
    return enter(what, at, at.name, use, links);
  }
  struct stat st;
  if (::fstat(next.get(), &st) != 0) return Status::failure(what, errno);
  if (const auto no = refusal(judge(st, path, at), way_to(use))) {
    return refused(what, *no);
  }
  at.owned_dir = std::move(next);
  at.dir = at.owned_dir.get();
  at.dir_st = st;
  at.dir_path = path;
  return Status();
}

// Follows the symbolic link `link` (`path`, in `at`) when refusal() allows
// it: its target is walked from `at` (or "/"), each directory entered by
// enter(), and `at` becomes the directory of its last component, which
// at.name then names. The kernel never follows the link, so a link
// replaced meanwhile changes nothing.
Status follow(const std::string& what, Location& at, int link,
              const struct stat& link_st, const std::string& path, Use use,
              int& links) {
  if (++links > kMaxLinks) return Status::failure(what, ELOOP);
  if (const auto no = refusal(judge(link_st, path, at), way_to(use))) {
    return refused(what, *no);
  }
  std::string target;
  if (!read_link(link, "", target)) return Status::failure(what, errno);
  if (target.starts_with('/')) {
    Status root = enter_root(what, at, use);
    if (!root.ok()) return root;
  }
  std::vector<std::string> parts = components(target);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Status entered = enter(what, at, parts[i], use, links);
    if (!entered.ok()) return entered;
  }
  at.name = parts.empty() ? "." : parts.back();
  return Status();
}

// Opens the regular file `at.name` for `use`, following links as follow()
// does; see open_regular_at().
Status open_file(const std::string& what, const Location& at, int flags,
                 Use use, UniqueFd& fd, Location* found, Judgement* judged) {
  Location cur = view_of(at);
  int links = 0;
  for (;;) {
    fd.reset(::openat(cur.dir, cur.name.c_str(),
                      flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      kNewFileMode));
    if (fd.valid()) break;
    const int error = errno;
    struct stat link_st;
    UniqueFd link;
    if (error == ELOOP || error == ENOTDIR) {
      link = open_link(cur.dir, cur.name, link_st);
    }
    if (!link.valid()) {
      if (found != nullptr) *found = std::move(cur);
      return Status::failure(what, error);
    }
    Status followed = follow(what, cur, link.get(), link_st,
                             join(cur.dir_path, cur.name), use, links);
    if (!followed.ok()) return followed;
    cur.path = join(cur.dir_path, cur.name);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    int error = errno;
    fd.reset();
    return Status::failure(what, error);
  }
  if (!S_ISREG(st.st_mode)) {
    fd.reset();
    return refused(what, "not a regular file");
  }
  Judgement judgement = judge(st, join(cur.dir_path, cur.name), cur);
  const auto no = use == Use::kFollow ? std::nullopt : refusal(judgement, use);
  if (no) {
    fd.reset();
    return refused(what, *no);
  }
  if (judged != nullptr) *judged = judgement;
  if (found != nullptr) *found = std::move(cur);
  return Status();
}

// The directory `path` opened by walking it from "/" (or the working
// directory) one component at a time, the kernel following no link: a
// symbolic link on the way is followed here only when nobody outside the
// trusted made it or could replace it (its owner, and the writers of the
// directory holding it), else `refusal` says which link and why. The
// directories themselves are judged as a place (a warning), not here.
// Invalid with `error` or `refusal` set when it cannot be opened.
UniqueFd open_directory_walked(const std::string& path, std::string& refusal,
                               int& error) {
  // Where no link lies on the way, one call opens it; a link, or a kernel
  // without openat2, takes the walk.
  open_how how = {};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  UniqueFd whole(static_cast<int>(
      ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how)));
  if (whole.valid()) return whole;
  UniqueFd dir(::open(path.starts_with('/') ? "/" : ".",
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string at = path.starts_with('/') ? "/" : ".";
  std::vector<std::string> todo = components(path);
  std::reverse(todo.begin(), todo.end());
  int links = 0;
  while (dir.valid() && !todo.empty()) {
    const std::string part = std::move(todo.back());
    todo.pop_back();
    UniqueFd next(::openat(dir.get(), part.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.valid()) {
      dir = std::move(next);
      at = part == ".." ? directory_of(at) : join(at, part);
      continue;
    }
    struct stat link_st, dir_st;
    UniqueFd link;
    if (errno == ELOOP || errno == ENOTDIR) {
      link = open_link(dir.get(), part, link_st);
    }
    if (!link.valid()) {
      error = errno;
      return UniqueFd();
    }
    const std::string link_path = join(at, part);
    if (++links > kMaxLinks || ::fstat(dir.get(), &dir_st) != 0) {
      error = links > kMaxLinks ? ELOOP : errno;
      return UniqueFd();
    }
    Say say = content_say(link_st, link_path);
    if (!say) say = content_say(dir_st, at);
    if (say) {
      refusal = link_path + " leads to the public directory, and " +
                say.reason + ": a write as " + user_name(run_user()) +
                " goes only through links that nobody else could have " +
                "chosen; " + say.mend;
      return UniqueFd();
    }
    std::string target;
    if (!read_link(link.get(), "", target)) {
      error = errno;
      return UniqueFd();
    }
    if (target.starts_with('/')) {
      dir.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      at = "/";
    }
    std::vector<std::string> more = components(target);
    todo.insert(todo.end(), more.rbegin(), more.rend());
  }
  if (!dir.valid()) error = errno;
  return dir;
}

// A place that could not be judged: nobody can tell who may replace it.
Say unjudged(const std::string& dir, int error) {
  Say say;
  say.who = "whoever may change the directories above it";
  say.reason = "who may replace " + dir + " cannot be told (" +
               system_error_text(error) + ")";
  say.mend = "make every directory above it searchable";
  return say;
}

// The place of the directory `dir`, opened as `opened`: the first from "/"
// down of its directories and the links on the way that someone outside
// the trusted could replace, or the directory itself when they may replace
// its files. One fstatat per component, and a readlink per link.
Say judge_place(const std::string& dir, const struct stat& opened) {
  std::string full = dir;
  if (!dir.starts_with('/')) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return unjudged(dir, errno);
    full = join(cwd, dir);
  }
  struct Step {
    std::string path;
    struct stat st;
  };
  std::vector<Step> steps(1, Step{"/", {}});
  if (::stat("/", &steps[0].st) != 0) return unjudged(dir, errno);
  Say found = content_say(steps[0].st, "/");
  std::vector<std::string> todo = components(full);
  std::reverse(todo.begin(), todo.end());
  Location holder;
  int links = 0;
  while (!todo.empty()) {
    const std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == "..") {
      if (steps.size() > 1) steps.pop_back();
      continue;
    }
    Step next{join(steps.back().path, part), {}};
    if (::fstatat(AT_FDCWD, next.path.c_str(), &next.st, AT_SYMLINK_NOFOLLOW) !=
        0) {
      return unjudged(dir, errno);
    }
    if (!found) {
      holder.dir_st = steps.back().st;
      holder.dir_path = steps.back().path;
      Judgement j = judge(next.st, next.path, holder);
      found = j.content ? j.content : j.name;
    }
    if (S_ISLNK(next.st.st_mode)) {
      std::string target;
      if (++links > kMaxLinks) return unjudged(dir, ELOOP);
      if (!read_link(AT_FDCWD, next.path, target)) return unjudged(dir, errno);
      if (target.starts_with('/')) steps.resize(1);
      std::vector<std::string> more = components(target);
      todo.insert(todo.end(), more.rbegin(), more.rend());
      continue;
    }
    steps.push_back(std::move(next));
  }
  if (!same_file(steps.back().st, opened)) return unjudged(dir, EBUSY);
  return found;
}

}  // namespace

Status locate_path(const std::string& what, const std::string& path,
                   Location& at) {
  at.path = path;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.ends_with('/')) trimmed.pop_back();
  at.dir_path = directory_of(trimmed);
  at.name = trimmed.substr(trimmed.find_last_of('/') + 1);
  at.owned_dir.reset(
      ::open(at.dir_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!at.owned_dir.valid() || ::fstat(at.owned_dir.get(), &at.dir_st) != 0) {
    return Status::failure(what, errno);
  }
  at.dir = at.owned_dir.get();
  at.place = judge_place(at.dir_path, at.dir_st);
  return Status();
}

Judgement judge(const struct stat& st, const std::string& path,
                const Location& in) {
  return {content_say(st, path), another_name_say(st, path, in), in.place, st};
}

std::optional<std::string> refusal(const Judgement& judged, Use use) {
  const Say& say = use == Use::kWrite ? judged.name
                   : judged.content   ? judged.content
                                      : judged.name;
  if (!say) return std::nullopt;
  const std::string me = user_name(run_user());
  const std::string trusted = run_user() == 0 ? "root" : me + " or root";
  const std::string or_run =
      say.owner.empty() ? "" : ", or run the host as " + say.owner;
  switch (use) {
    case Use::kRun:
      return say.reason + ": a run as " + me + " starts only what " + trusted +
             " may change; " + say.mend + or_run;
    case Use::kFollow:
      return say.reason + ": a write as " + me + " goes only through what " +
             trusted + " may change; " + say.mend + or_run;
    case Use::kWrite:
      break;
  }
  return say.reason + ": not written; " + say.mend;
}

Status open_named_program(const std::string& what, const std::string& path,
                          UniqueFd& fd, struct stat& st) {
  if (!path.starts_with('/')) {
    return refused(what, path + " is not an absolute path");
  }
  Location at;
  Status walked = enter_root(what, at, Use::kRun);
  std::vector<std::string> parts = components(path);
  if (parts.empty()) return Status::failure(what, EISDIR);
  int links = 0;
  for (std::size_t i = 0; walked.ok() && i + 1 < parts.size(); ++i) {
    walked = enter(what, at, parts[i], Use::kRun, links);
  }
  at.name = parts.back();
  if (!walked.ok()) return walked;
  Judgement judged;
  walked = open_file(what, at, O_RDONLY, Use::kRun, fd, nullptr, &judged);
  st = judged.st;
  return walked;
}

Status could_make(const std::string& what, const Location& at) {
  struct stat st;
  if (::fstatat(at.dir, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return Status::failure(what, EEXIST);
  }
  return ::faccessat(at.dir, ".", W_OK | X_OK, AT_EACCESS) == 0
             ? Status()
             : Status::failure(what, errno);
}

std::optional<std::string> writers_warning(const Judgement& judged,
                                           const std::string& path) {
  const Say& say = judged.content;
  if (!say) return std::nullopt;
  const std::string who = !say.owner.empty()         ? "its owner " + say.owner
                          : say.who == "other users" ? "every user"
                                                     : say.who;
  return who + " may write " + path + " and so change what it says";
}

Say name_makers(const struct stat& st, const std::string& path) {
  return writers(st, path);
}

Status judge_search_directory(const std::string& what,
                              const std::string& path) {
  Location at;
  Status walked = enter_root(what, at, Use::kRun);
  int links = 0;
  for (const std::string& part : components(path)) {
    if (!walked.ok()) break;
    walked = enter(what, at, part, Use::kRun, links);
  }
  if (!walked.ok() && walked.error() != ENOENT) return walked;
  const Say say = name_makers(at.dir_st, at.dir_path);
  if (!say) return Status();
  return refused(what, say.reason + ": a library placed in " + path +
                           " would run as " + user_name(run_user()) + "; " +
                           say.mend);
}

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

Site::Site(const Text& public_path)
    : public_path_(public_path), hold_(std::make_unique<Hold>()) {
  // P names its directory up to its last separator; what follows starts
  // every name of the site ("/srv/payP" + "tolmex.ini" lies in /srv).
  const std::string whole = fs_path(public_path + u"x");
  Hold& h = *hold_;
  h.dir_path = directory_of(whole);
  h.prefix = whole.substr(whole.find_last_of('/') + 1);
  if (!h.prefix.empty()) h.prefix.pop_back();  // the "x"; none for a null P
  h.fd = open_directory_walked(h.dir_path, h.refusal, h.error);
  if (h.fd.valid() && ::fstat(h.fd.get(), &h.st) != 0) {
    h.error = errno;
    h.fd.reset();
  }
  if (!h.fd.valid()) return;
  h.place = judge_place(h.dir_path, h.st);
  // The sticky bit keeps others from replacing the files here, not from
  // making names a request has not made yet.
  if (!h.place) h.names = name_makers(h.st, h.dir_path);
}

Site::~Site() = default;

Status locate(const Site& site, const std::string& what, const Text& name,
              Location& at) {
  const Site::Hold& h = site.hold();
  at.path = fs_path(site.path_of(name));
  at.owned_dir.reset();
  if (!h.refusal.empty()) return refused(what, h.refusal);
  if (!h.fd.valid()) return Status::failure(what, h.error);
  std::vector<std::string> parts = components(h.prefix + fs_path(name));
  if (parts.empty()) return Status::failure(what, EISDIR);
  at.dir = h.fd.get();
  at.dir_st = h.st;
  at.dir_path = h.dir_path;
  at.place = h.place;
  int links = 0;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Status entered = enter(what, at, parts[i], Use::kFollow, links);
    if (!entered.ok()) return entered;
  }
  at.name = parts.back();
  return Status();
}

Status open_regular_at(const std::string& what, const Location& at, int flags,
                       UniqueFd& fd, Location* found, Judgement* judged) {
  const Use use = (flags & O_ACCMODE) == O_RDONLY ? Use::kFollow : Use::kWrite;
  return open_file(what, at, flags, use, fd, found, judged);
}

Status open_regular(const Site& site, const std::string& what, const Text& name,
                    int flags, UniqueFd& fd, Judgement* judged) {
  Location at;
  Status found = locate(site, what, name, at);
  if (!found.ok()) return found;
  return open_regular_at(what, at, flags, fd, nullptr, judged);
}

Status open_program(const Site& site, const std::string& what, const Text& name,
                    Location& at, UniqueFd& fd, struct stat& st) {
  Status opened = locate(site, what, name, at);
  Judgement judged;
  if (opened.ok()) {
    opened = open_file(what, at, O_RDONLY, Use::kRun, fd, nullptr, &judged);
  }
  st = judged.st;
  return opened;
}

}  // namespace runtime
