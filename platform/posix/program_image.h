// What the kernel loads to run a program file, judged before the file is
// copied or started: the same trust as the file itself must hold for every
// other file that runs with it. A "#!" script's interpreter (and, for an
// interpreter that is a script itself, its own), an ELF program's loader
// (PT_INTERP), its machine and class, its library search paths
// (DT_RUNPATH, DT_RPATH), and the mount it runs from. The request's copy
// and the site check ask the same function, so both refuse the same files
// with the same reason. Failures come back as a Status that names the real
// cause; nothing here throws.
#ifndef TOLMEX_PLATFORM_POSIX_PROGRAM_IMAGE_H_
#define TOLMEX_PLATFORM_POSIX_PROGRAM_IMAGE_H_

#include <string>

#include "platform/posix/shared_dir.h"
#include "runtime/status.h"

namespace runtime {

// Success when the program open as `fd` (`st` as fstat saw it, found as
// `path`, already judged for Use::kRun) will run here, and nothing the kernel
// or the loader then opens for it could have been chosen by someone outside the
// trusted: its interpreter or loader is there, a regular file, and judged for
// Use::kRun with every directory and link on the way from "/"; an ELF file is
// an executable of this machine; every library directory it names is one that
// nobody outside the trusted may add names to, and "$ORIGIN" names `runs_in`,
// the directory the program runs from; no file that runs lies on a mount
// without exec. Failures read "`what`: <reason>".
Status judge_program_image(const std::string& what, int fd,
                           const struct stat& st, const std::string& path,
                           const Location& runs_in);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_PROGRAM_IMAGE_H_
