// Copies of program files (implemented per platform): a program that may
// run from a copy in a directory that several processes share. Failures
// come back as a Status that says what failed, the path and the system's
// reason; nothing here throws.
//
// Like a running program's file on Windows, a copy that a run is about to
// start or is running is "in use": other runs can neither delete nor
// replace it, they go on with it instead, and that is an outcome, not a
// failure. copy_file() marks the copy that it places (or the one in use
// that it finds) as in use by this process and keeps it in the site (one
// copy per site); delete_file() ends that and then deletes the file unless
// another run still uses it. Names are below the site. On Windows the
// mark is a handle that shares only reading. On POSIX systems the marks are
// advisory locks (flock) on the file itself, so they leave no file behind
// and vanish with a process that is killed; a copy is readable by its owner
// alone, so no other user can take such a lock. Only a copy that a run of
// the same user made counts: a regular file of the effective user with one
// name that nobody else may read or write. Anything else at the target's
// name is removed when the directory allows it, and otherwise the copy
// fails; no lock is awaited for longer than a few seconds.
//
// Implemented: per platform (platform/*/program_copy.cpp).
#ifndef TOLMEX_RUNTIME_PROGRAM_COPY_H_
#define TOLMEX_RUNTIME_PROGRAM_COPY_H_

#include <cstddef>

#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// Which file copy_file() left at its target, in use by this process.
enum class CopyOutcome {
  kCopied,          // the fresh copy of the source
  kInUseElsewhere,  // another run's copy, which cannot be replaced while it
                    // is in use: this run goes on with it
};

// Copies the program `source` to `target`, both in `site`. A source that
// someone other than this user and root could have chosen or changed is not
// copied (on POSIX systems as platform/posix/shared_dir.h judges what runs).
// The copy keeps the owner's permission bits except set-id and sticky, and
// nobody else may use it: the data moves inside the kernel into an unnamed file
// in the target's directory, which then takes the target's name in one step, so
// nobody ever sees a half-written target. An older target that nobody uses is
// replaced. On success `outcome` says which file is at `target`; it stays in
// use by this process until it deletes it.
Status copy_file(Site& site, const Text& source, const Text& target,
                 CopyOutcome& outcome);

// Deletes the file `name` and ends its use by this process. Success also
// when it is missing, or when another run still uses it and it stays.
Status delete_file(Site& site, const Text& name);

// The number of code units at the start of `command_line` that are the
// path (Site::path_of()) of the copy that the site holds, followed by a
// blank or the end; 0 when there is none. A program start uses it to start
// exactly the copy that copy_file() checked, never a shorter prefix or a
// file found by a search.
std::size_t held_copy_length(const Site& site, const Text& command_line);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_PROGRAM_COPY_H_
