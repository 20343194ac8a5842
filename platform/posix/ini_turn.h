// The writers' turn name of an INI file on POSIX systems
// (".NAME.tolmex-new" beside it), as the request's writer and the site
// check judge what they find there. Failures come back as a Status;
// nothing here throws.
#ifndef TOLMEX_PLATFORM_POSIX_INI_TURN_H_
#define TOLMEX_PLATFORM_POSIX_INI_TURN_H_

#include "platform/posix/shared_dir.h"
#include "runtime/status.h"

namespace runtime {

// Success when the turn name of the file `at` is free or holds a regular
// file of this user's (a writer's turn, or a killed writer's leftover);
// else what is there and whose, which no writer waits for or removes:
// "cannot write /p/tolmex.ini: /p/.tolmex.ini.tolmex-new was put there by
// user pos; remove it".
Status turn_blocker(const Location& at);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_POSIX_INI_TURN_H_
