// File services: existence tests, directories, deletion and copy of program
// files, and an open/write/close for line files such as logs. Ordinary
// failures (a missing file, no rights, a full disk) are returned as -1 or
// false; none of these functions throws.
//
// A program may run from a copy in a directory that several processes
// share. Like a running program's file on Windows, a copy that a run is about
// to start or is running is "in use": other runs can neither delete nor
// replace it, they go on with it instead. copy_file() marks the copy that it
// places (or the one in use that it finds) as in use by this process;
// delete_file() ends that and then deletes the file unless another run still
// uses it. On Windows the mark is a handle that shares only reading. On POSIX
// systems the marks are advisory locks (flock) on the file itself, so they
// leave no file behind and vanish with a process that is killed. Only a copy
// that a run of the same user made counts: a regular file of the effective
// user with one name that nobody else may write. Anything else at the
// target's name is removed when the directory allows it, and otherwise the
// copy fails; no lock is awaited for longer than a few seconds.
//
// Only regular files are opened; a symbolic link that another user planted
// in a directory that others may write is not followed.
#ifndef TOLMEX_RUNTIME_FILES_H_
#define TOLMEX_RUNTIME_FILES_H_

#include <string>

#include "runtime/text.h"

namespace runtime {

// True when `path` names something that is not a directory.
bool file_exists(const Text& path);

// True when `path` names a directory.
bool directory_exists(const Text& path);

// Creates the directory `path`, one level only. 1, or -1 on failure.
int create_directory(const Text& path);

// Deletes the file `path` unless another process has it in use. 1 when the
// file was deleted, -1 when it is missing, in use or cannot be deleted.
int delete_file(const Text& path);

// Copies `source` to `target`, keeping the permission bits except set-id,
// sticky and write for group and others: the data moves inside
// the kernel into an unnamed file in the target's directory, which then takes
// the target's name in one step, so nobody ever sees a half-written target.
// An older target that nobody uses is replaced; one in use by another run is
// kept and the result is -1, as copying onto a running program fails. Either
// way the file left at `target` is in use by this process until it deletes
// it. 1 on success, -1 on failure.
int copy_file(const Text& source, const Text& target);

// True when `path` names the file that this process has in use: the copy
// that copy_file() placed there, or the one in use by another run that it
// went on with.
bool in_use_by_this_process(const Text& path);

// The directory of `file` when users other than its owner may remove or
// replace `file` at any moment (on POSIX systems: others may write it and it
// has no sticky bit); else "".
std::string directory_open_to_others(const Text& file);

enum class OpenMode {
  kAppend,     // writes go to the end; a missing file is created
  kCreateNew,  // creates the file; fails when it exists, so never truncates
};

// Opens `path` for writing. The file number, or -1 on failure.
int file_open(const Text& path, OpenMode mode);

// Writes `line` followed by CR LF in the current code set, in one write
// under an exclusive flock, so lines that other processes append to the
// same file never interleave. A line that cannot be written whole (a full
// disk) is taken back. 1, or -1 when the line was not written.
int file_write_line(int file, const Text& line);

// 1, or -1 on failure.
int file_close(int file);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_FILES_H_
