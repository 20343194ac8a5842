// How a path of the application (joined with backslashes, as the host's
// names are) reaches the Linux file system. Never fails.
#ifndef TOLMEX_PLATFORM_POSIX_FS_PATH_H_
#define TOLMEX_PLATFORM_POSIX_FS_PATH_H_

#include <string>

#include "runtime/text.h"

namespace runtime {

// The path in the current code set with every backslash turned into "/", so
// "\logpay" is the subdirectory "logpay" and a doubled separator is harmless.
// The mapping works on characters, not bytes, so a trail byte 0x5C of a
// double-byte character stays. A null path gives the empty path, which names
// no file.
std::string fs_path(const Text& path);

// The directory part of a file system path: "." for a bare name, "/" for a
// name at the root.
std::string directory_of(const std::string& path);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_FS_PATH_H_
