// The POSIX part of the copies of program files (runtime/program_copy.h):
// the descriptor by which this process holds a copy in use, so that the
// copy that was judged is the one that starts, and what would keep a copy
// from its name, for the site check. Neither fails nor changes anything.
#ifndef TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
#define TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_

#include <optional>
#include <string>

#include "runtime/text.h"

namespace runtime {

// The read-only descriptor (close-on-exec) of the copy that this process
// has in use under the path `name`, as the application gave it; -1 when
// there is none.
int held_copy(const Text& name);

// None when copy_file() could put a copy at the file system path `target`
// now; else what would stop it, as copy_file() would say it (`what`: the
// reason): something at that name that is not this user's copy and that
// this user may not remove, or, where no unnamed file can be made, every
// staging name beside it taken by a file that is not this user's.
std::optional<std::string> copy_blocker(const std::string& what,
                                        const std::string& target);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
