// The POSIX part of the copies of program files (runtime/program_copy.h):
// what would keep a copy from its name, for the site check. It neither
// fails nor changes anything. (The copy a site holds, and the descriptor
// it is held by, are in Site::Hold, platform/posix/shared_dir.h.)
#ifndef TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
#define TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_

#include <optional>
#include <string>

#include "runtime/site.h"
#include "runtime/text.h"

namespace runtime {

// None when copy_file() could put a copy at the site's name `target`
// now; else what would stop it, as copy_file() would say it (`what`: the
// reason): something at that name that is not this user's copy and that
// this user may not remove, or, where no unnamed file can be made, every
// staging name beside it taken by a file that is not this user's.
std::optional<std::string> copy_blocker(const Site& site,
                                        const std::string& what,
                                        const Text& target);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
