// INI files on disk as the Windows profile functions keep them (the dialect
// is in runtime/ini_text.h), with their cache: key writes are gathered in
// the site (runtime/site.h) and reach the file together, in one
// replacement, when they are flushed. Files are named below the site.
//
// set_profile_string() and flush_profile_strings() return a Status that
// says what was refused or which file could not be written and why;
// get_profile_string() gives null for a file it cannot read. None of them
// throws. Implemented portably over the platform's write and read of a
// file (runtime/platform.h). On Windows they are
// the platform's own profile functions. On POSIX systems: writers of several
// processes take turns through a temporary file beside the file that only
// the trusted can open (a reader's lock holds up nobody), so no writer
// loses another's key; a turn held longer than 5 s fails the write rather
// than go around it. A file is replaced by a new one renamed over it, with
// its owner, group, mode and extended attributes, so a crash or power loss
// leaves the old file or the new one; a file reached through a symbolic
// link is replaced at its target. Only a file that a new one cannot stand
// in for (a hard link, or another user's file where this user is not
// root) is rewritten in place, which a power loss can tear. A file without
// any write permission bit is never written, not even by root, and no
// write makes a file larger than 1 MiB. Changed files are on disk (data
// and directory entry) when the flush returns. The cache belongs to the
// site and is not meant for several threads.
//
// Implemented: portable (runtime/ini_file.cpp) over each platform's write and
// read of a file (runtime/platform.h).
#ifndef TOLMEX_RUNTIME_INI_FILE_H_
#define TOLMEX_RUNTIME_INI_FILE_H_

#include <string>
#include <vector>

#include "runtime/ini_text.h"
#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// Sets `key` of `section` in the INI file `name` to `value`. The write is
// kept with the other writes to the same file and reaches it at the next
// flush; a write to another file flushes the kept ones first. A missing file
// is created (a missing directory is not); a file reached through a
// symbolic link is written at its target. A failure when the write is
// refused (a null path, or a name or value that would not read back).
Status set_profile_string(Site& site, const Text& name, const Text& section,
                          const Text& key, const Text& value);

// Writes the kept key writes into their file in one replacement, when they
// change it, and checks that every key written reads back with its value.
// Call it before starting another program and before the run ends. The
// first failure since the last flush, or success.
Status flush_profile_strings(Site& site);

// The value of `key` in `section` of the file `name`, after a flush; null
// when the file cannot be read or the lookup gives the default.
Text get_profile_string(Site& site, const Text& name, const Text& section,
                        const Text& key);

// The values of `keys` in `section` of the INI file `name`, each as
// get_profile_string() reads it (null: the default), into `values`, for a
// reader that must never hold up or change what it reads: nothing is created,
// locked or written (key writes kept for the next flush are not seen), and on
// POSIX systems the file's access time stays where this user may keep it. On
// POSIX systems the file is opened as a request opens it, through the
// site: a link or directory that a request would not
// follow to write is not followed to read either. `warning` becomes "" or what
// says that someone other than this user and root could have chosen what the
// file says. A failure when the file cannot be read, is larger than 1 MiB or is
// UTF-16 with an odd number of bytes, or when a value holds a byte that is no
// character of the current code set or half of a UTF-16 pair (text that cannot
// be passed on as it was read).
Status read_profile_section(const Site& site, const Text& name,
                            const Text& section, const std::vector<Text>& keys,
                            std::vector<Text>& values, std::string& warning);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_INI_FILE_H_
