// The POSIX part of the copies of program files (runtime/program_copy.h)
// that a start needs: the descriptor by which this process holds a copy in
// use, so that the copy that was judged is the one that starts. Never
// fails.
#ifndef TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
#define TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_

#include "runtime/text.h"

namespace runtime {

// The read-only descriptor (close-on-exec) of the copy that this process
// has in use under the path `name`, as the application gave it; -1 when
// there is none.
int held_copy(const Text& name);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_PROGRAM_COPY_H_
