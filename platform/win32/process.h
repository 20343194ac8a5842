// What the Windows RunWait body shares with the process services.
#ifndef TOLMEX_PLATFORM_WIN32_PROCESS_H_
#define TOLMEX_PLATFORM_WIN32_PROCESS_H_

#include "runtime/process.h"

namespace runtime {

// How the program started last ended; the RunWait body sets it.
ProgramEnd& last_end();

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_WIN32_PROCESS_H_
