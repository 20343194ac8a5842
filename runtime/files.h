// File services (implemented per platform): existence tests, directories,
// warnings about who else may change a file, and an open/write/close for
// line files such as logs, each for a name below a request's site
// (runtime/site.h). None of these functions throws. Making a
// directory and the open/write/close return a Status that says what failed,
// the path and the system's reason. The existence tests answer false where
// they cannot look (the caller then fails with the reason when it opens
// the file), and the warnings are none where they cannot judge. The copies of
// program files are in runtime/program_copy.h.
//
// On POSIX systems every name is resolved relative to the site's directory,
// opened once: each object is judged by the descriptor then used, as
// platform/posix/shared_dir.h says. Only regular files are opened; a link
// or directory on the way that someone other than this user and root could
// have chosen is not followed, and a file that may be another's hard link
// is not written.
//
// Implemented: per platform (platform/*/files.cpp).
#ifndef TOLMEX_RUNTIME_FILES_H_
#define TOLMEX_RUNTIME_FILES_H_

#include <optional>
#include <string>

#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// True when `name` names something that is not a directory.
bool file_exists(const Site& site, const Text& name);

// True when `name` names a directory.
bool directory_exists(const Site& site, const Text& name);

// Creates the directory `name`, one level only, that nobody but its owner
// may write.
Status create_directory(const Site& site, const Text& name);

// A warning for the operator when someone other than this user and root
// could replace the site's directory or the files in it, or make names in
// it, and so choose the outcome the host reads (on POSIX systems: they own
// it or a directory above it, or may write one of those); else none.
std::optional<std::string> replaceable_by_others(const Site& site);

// A warning for the operator when users other than this one (and root) may
// write the file `name`, and so change what it says; else none. On POSIX
// systems the verdict of the last open of `name` through the site (the
// flush of an INI file, file_open()), which is not opened again.
std::optional<std::string> writable_by_others(const Site& site,
                                              const Text& name);

// Removes `name` when it is still an empty file of this user's (on
// Windows, an empty file), such as one a request made and could not write;
// a file written meanwhile, another's, or one that is not there stays. A
// failure to remove it says why.
Status remove_empty_file(const Site& site, const Text& name);

enum class OpenMode {
  kAppend,     // writes go to the end; a missing file is created
  kCreateNew,  // creates the file; fails when it exists, so never truncates
};

// Opens `name` for writing into `file`, which the site holds until
// file_close(); on POSIX systems a new file gets the mode 0644 whatever the
// umask, and its name is on disk when this returns. A failure says why.
// Where the site withholds writes, nothing is made or kept open (`file`
// stays -1): success where the request's open would succeed.
Status file_open(Site& site, const Text& name, OpenMode mode, int& file);

// Writes `line` followed by CR LF in the current code set, in one write,
// under an exclusive flock so that a line that cannot be written whole (a
// full disk) can be taken back. A lock that another process holds for
// longer than a few seconds is not awaited further: the line is then
// written without it (lines of one write never interleave). On POSIX
// systems the line starts on a new line when the file does not end with
// one (a line cut short by a crash), and is on disk when this returns. A
// failure says why the line was not written, or may not outlast a power
// loss.
Status file_write_line(const Site& site, int file, const Text& line);

Status file_close(Site& site, int file);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_FILES_H_
