// Opening files in a directory that other users may share, such as a public
// directory with the sticky bit, and the one judgement of who else has a
// say over what a request uses.
//
// The trusted are two identities: this run's effective user and root. For
// every object a request uses, judge() answers one question from the
// descriptor then used: who outside the trusted could have made it, changed
// what it holds, or chosen what its name refers to. What the answer means
// depends on the use (refusal()): what runs and what is followed on the way
// to a write must be nobody else's; a file written in place may be another
// user's (the caller warns), but not another name that they could have made
// for it. The public directory and every directory above it up to "/" are
// judged when the directory is opened; what others could do there is a
// warning, not a refusal.
//
// The site's directory (runtime/site.h) is opened once, walked from "/"
// through no link that someone outside the trusted chose, and judged with
// every directory above it; everything below it is opened relative to it,
// one component at a time, and a symbolic link is
// never followed by the kernel: its target is walked here, each component
// judged, and the last one opened from the directory that was judged. Only
// regular files are opened, never with a wait on a FIFO or device. Failures
// come back as a Status with the reason; nothing here throws.
#ifndef TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
#define TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_

#include <sys/stat.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"
#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// Mode bits of new files and directories: never writable by group or
// others, whatever the umask.
inline constexpr mode_t kNewFileMode = 0644;
inline constexpr mode_t kNewDirectoryMode = 0755;

// Someone outside the trusted who has a say over an object, or nobody.
struct Say {
  std::string who;     // "user pos", "the users of group posg", "other
                       // users"; empty: nobody
  std::string reason;  // what gives it to them, naming the object:
                       // "/srv/pay/mart.dll belongs to user pos"
  std::string mend;    // what takes it from them: "chown root /srv/pay/..."
  std::string owner;   // the user's name when they have it as the owner
  explicit operator bool() const { return !who.empty(); }
};

// The answer for one object, from its owner, its group and other write
// bits, the sticky bit of directories, and the directories holding it.
struct Judgement {
  Say content;  // made it or may change what it holds: its owner, or a
                // group or others through its write bits (a directory's
                // only without the sticky bit, which limits replacing an
                // entry to the entry's owner)
  Say name;     // could have given it this name: it has another name, and
                // they may make names in the directory that holds this one
  Say place;    // could replace the public directory or the files in it:
                // its owner and mode and the directories above it, judged
                // when it was opened (a warning, never a refusal)
  struct stat st = {};  // the object, as fstat saw it through its descriptor
};

// What an object is used for.
enum class Use {
  kRun,     // started as a program: mart.dll, a mart.exe taken over
  kFollow,  // followed on the way to a write: a link, a directory
  kWrite,   // a regular file written in place: tolmex.ini, the log
};

// Where a file lies: its directory, open, and its last name.
struct Location {
  std::string path;      // the whole path, for messages
  int dir = -1;          // the directory's descriptor (owned or the site's)
  struct stat dir_st;    // the directory, as fstat saw it
  std::string dir_path;  // the directory's path, for messages
  std::string name;      // the last component
  UniqueFd owned_dir;    // the directory when it is not the site's
  Say place;             // the public directory's, when below it
};

// The judgement of the object `st` (as fstat saw it through the descriptor
// used), found as `path` in the directory `in`.
Judgement judge(const struct stat& st, const std::string& path,
                const Location& in);

// None when the judgement allows the use; else what stands in the way and
// how to mend it, such as "/srv/pay/mart.dll belongs to user pos: a run as
// root starts only what root may change; chown root /srv/pay/mart.dll, or
// run the host as pos".
std::optional<std::string> refusal(const Judgement& judged, Use use);

}  // namespace runtime

// What a site holds on POSIX systems.
struct runtime::Site::Hold {
  std::string dir_path;  // the directory, for messages ("." when P is empty)
  std::string prefix;    // what follows its last separator in P: every name
                         // of the site starts with it
  UniqueFd fd;           // the directory, opened once
  struct stat st = {};
  int error = 0;        // why it could not be opened
  std::string refusal;  // or the link on the way that others chose
  Say place;            // who could replace it or the files in it
  Say names;  // else who may make names in it, the sticky bit notwithstanding
  std::map<int, std::string> files;  // the line files open, with their paths
  // The copy of the client this site has in use, held by a shared lock.
  struct Copy {
    Text path;  // Site::path_of() its name
    UniqueFd fd;
  } copy;
  // Who else may write a file, as the last open of its name found it.
  std::map<std::string, std::optional<std::string>> writers;
};

namespace runtime {

// Finds the directory of the site's `name`, from the site's directory:
// each directory on the way is followed only as refusal() allows for
// Use::kFollow, and so is a symbolic link, whose target is walked the same
// way. Failures read "`what`: <reason>".
Status locate(const Site& site, const std::string& what, const Text& name,
              Location& at);

// Finds the directory of `path`, a path of no site (a trace file): the
// directory is opened by its path and its place judged as a site's is,
// since whoever gave the path chose it. Failures read "`what`: <reason>".
Status locate_path(const std::string& what, const std::string& path,
                   Location& at);

// Opens the regular file `at.name` in `at.dir` with the open(2) `flags`
// (O_NONBLOCK and O_CLOEXEC are added; a new file gets kNewFileMode less
// the umask). A symbolic link is followed as locate() follows one, link by
// link; `found`, when given, receives where the name finally opened lies
// (the link's target, or `at`'s place). A file opened for writing must
// pass refusal() for Use::kWrite. Anything but a regular file is a failure.
// `judged`, when given, receives the file's judgement. Failures read
// "`what`: <reason>".
Status open_regular_at(const std::string& what, const Location& at, int flags,
                       UniqueFd& fd, Location* found = nullptr,
                       Judgement* judged = nullptr);

// locate() and open_regular_at() in one.
Status open_regular(const Site& site, const std::string& what, const Text& name,
                    int flags, UniqueFd& fd, Judgement* judged = nullptr);

// Opens the site's program file `name` for reading as a request starts it:
// a regular file that passes refusal() for Use::kRun. `at` and `st`
// receive where it lies and its status.
Status open_program(const Site& site, const std::string& what, const Text& name,
                    Location& at, UniqueFd& fd, struct stat& st);

// The Status that making the name `at.name` in `at.dir` would meet, where a
// site withholds the write: "File exists" when something is there, else
// whether this user may make names in the directory. Failures read
// "`what`: <reason>".
Status could_make(const std::string& what, const Location& at);

// A warning for the operator, or none, when the judgement says that others
// may write the file `path`: "its owner pos may write /p/tolmex.ini and so
// change what it says".
std::optional<std::string> writers_warning(const Judgement& judged,
                                           const std::string& path);

// Opens the program `path`, an absolute path that another program names
// (an interpreter, a loader), for reading as what runs: from "/", every
// directory and link on the way and the file itself pass refusal() for
// Use::kRun. Failures read "`what`: <reason>".
Status open_named_program(const std::string& what, const std::string& path,
                          UniqueFd& fd, struct stat& st);

// Who outside the trusted may add names to the directory `st` (`path`),
// the sticky bit notwithstanding: whoever may place a file where a program
// looks for one by name.
Say name_makers(const struct stat& st, const std::string& path);

// Success when nobody outside the trusted may add names to the directory
// `path` (absolute) or to the directories on the way to it, nor choose the
// links there; a directory that is not there counts as its nearest
// existing ancestor, where it could be made. Failures read
// "`what`: <reason>".
Status judge_search_directory(const std::string& what, const std::string& path);

// The name of a temporary file beside the file `name`, marked by `tag`:
// "." + name + ".tolmex-" + tag.
std::string temporary_name(const std::string& name, std::string_view tag);

// The user name of `uid` or the group name of `gid`, else the number.
std::string user_name(uid_t uid);
std::string group_name(gid_t gid);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_SHARED_DIR_H_
