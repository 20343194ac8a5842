// File services: existence tests, directories, deletion and copy of program
// files, and an open/write/close for line files such as logs. Ordinary
// failures (a missing file, no rights, a full disk) are returned as -1,
// false or a Status; none of these functions throws.
//
// A program may run from a copy in a directory that several processes
// share. Like a running program's file on Windows, a copy that a run is about
// to start or is running is "in use": other runs can neither delete nor
// replace it, they go on with it instead. copy_file() marks the copy that it
// places (or the one in use that it finds) as in use by this process;
// delete_file() ends that and then deletes the file unless another run still
// uses it. On Windows the mark is a handle that shares only reading. On POSIX
// systems the marks are advisory locks (flock) on the file itself, so they
// leave no file behind and vanish with a process that is killed; a copy is
// readable by its owner alone, so no other user can take such a lock. Only
// a copy that a run of the same user made counts: a regular file of the
// effective user with one name that nobody else may read or write. Anything
// else at the target's name is removed when the directory allows it, and
// otherwise the copy fails; no lock is awaited for longer than a few
// seconds.
//
// On POSIX systems the directory of the request's files is opened once
// (use_directory_of()) and every name below it is resolved relative to that
// descriptor: each object is judged by the descriptor then used. Only
// regular files are opened; a symbolic link, a hard link or a directory that
// another user could have planted in a directory that others may write is
// not followed or written.
#ifndef TOLMEX_RUNTIME_FILES_H_
#define TOLMEX_RUNTIME_FILES_H_

#include <cstddef>
#include <string>

#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// From now on, names below the directory that `file` lies in are resolved
// relative to that directory, opened now. Nothing on Windows.
void use_directory_of(const Text& file);

// True when `path` names something that is not a directory.
bool file_exists(const Text& path);

// True when `path` names a directory.
bool directory_exists(const Text& path);

// Creates the directory `path`, one level only, that nobody but its owner
// may write. 1, or -1 on failure.
int create_directory(const Text& path);

// Deletes the file `path` unless another process has it in use. 1 when the
// file was deleted, -1 when it is missing, in use or cannot be deleted.
int delete_file(const Text& path);

// Copies the program `source` to `target`. A source that someone other than
// this user, root or the owner of its directory could have written is not
// copied (it belongs to another user, others may write it, or, when this
// user is root, a group may). The copy keeps the owner's permission bits
// except set-id and sticky, and nobody else may use it: the data moves inside
// the kernel into an unnamed file in the target's directory, which then takes
// the target's name in one step, so nobody ever sees a half-written target.
// An older target that nobody uses is replaced; one in use by another run is
// kept and the result is -1, as copying onto a running program fails. Either
// way the file left at `target` is in use by this process until it deletes
// it. 1 on success, -1 on failure (last_failure() says why).
int copy_file(const Text& source, const Text& target);

// True when `path` names the file that this process has in use: the copy
// that copy_file() placed there, or the one in use by another run that it
// went on with.
bool in_use_by_this_process(const Text& path);

// The number of code units at the start of `command_line` that are the
// path of a file this process has in use, followed by a blank or the end;
// 0 when there is none. A program start uses it to start exactly the copy
// that copy_file() checked, never a shorter prefix or a file found by a
// search.
std::size_t program_in_use(const Text& command_line);

// A warning for the operator when users other than the owner of the
// directory of `file` may remove or replace `file` at any moment (on POSIX
// systems: others, or a group, may write the directory and it has no sticky
// bit); else "".
std::string replaceable_by_others(const Text& file);

// A warning for the operator when users other than this one (and root) may
// write the file `path`, and so change what it says; else "".
std::string writable_by_others(const Text& path);

enum class OpenMode {
  kAppend,     // writes go to the end; a missing file is created
  kCreateNew,  // creates the file; fails when it exists, so never truncates
};

// Opens `path` for writing into `file`, a new file with the mode 0644 less
// the umask. A failure says why.
Status file_open(const Text& path, OpenMode mode, int& file);

// Writes `line` followed by CR LF in the current code set, in one write,
// under an exclusive flock so that a line that cannot be written whole (a
// full disk) can be taken back. A lock that another process holds for
// longer than a few seconds is not awaited further: the line is then
// written without it (lines of one write never interleave). A failure says
// why the line was not written.
Status file_write_line(int file, const Text& line);

// 1, or -1 on failure.
int file_close(int file);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_FILES_H_
