// The one way a Windows service waits for what another process holds (a
// locked range, a file open without sharing): tried again every 10 ms, for
// at most kLockWait. Never fails itself.
#ifndef TOLMEX_PLATFORM_WIN32_RETRY_H_
#define TOLMEX_PLATFORM_WIN32_RETRY_H_

#include <windows.h>

#include <chrono>
#include <functional>

#include "runtime/platform.h"

namespace runtime {

// What one attempt came to.
enum class Attempt {
  kDone,    // it worked
  kBusy,    // another process holds what it needs: worth another try
  kFailed,  // it failed for good; GetLastError() says why
};

// Calls `attempt` while it answers kBusy, at most for kLockWait. True when
// it answered kDone; otherwise GetLastError() is the last attempt's error.
inline bool retry_while_busy(const std::function<Attempt()>& attempt) {
  const ULONGLONG deadline =
      GetTickCount64() +
      std::chrono::duration_cast<std::chrono::milliseconds>(kLockWait).count();
  for (;;) {
    const Attempt a = attempt();
    if (a != Attempt::kBusy) return a == Attempt::kDone;
    const DWORD error = GetLastError();
    if (GetTickCount64() >= deadline) {
      SetLastError(error);
      return false;
    }
    Sleep(10);
    SetLastError(error);
  }
}

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_WIN32_RETRY_H_
