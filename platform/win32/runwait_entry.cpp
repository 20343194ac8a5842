// The RunWait body on Windows: CreateProcessW with the command line as it
// is and the program named by its exact path (never a prefix of the line
// that the platform would try first, never a search), in a job that ends
// the program, and whatever it started, when this process ends while it
// waits. The program may start a helper out of the job
// (CREATE_BREAKAWAY_FROM_JOB), which then outlives this process in any
// case.
#include <windows.h>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/external_call.h"
#include "runtime/process.h"
#include "runtime/program_copy.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// The job of the program this process starts: while this process waits
// for it, the end of this process (for any reason) ends the program and
// everything it started. Null when no job can be made.
HANDLE program_job() {
  static HANDLE job = CreateJobObjectW(nullptr, nullptr);
  return job;
}

// Sets or clears the job's kill-on-close. Breaking away is always allowed:
// without it a helper that a client starts with CREATE_BREAKAWAY_FROM_JOB
// does not start at all (access denied).
bool kill_on_close(HANDLE job, bool on) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_BREAKAWAY_OK |
      (on ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits);
}

}  // namespace

Status runwait_entry(const Text& command_line, std::uint16_t show,
                     ProgramEnd& end) {
  end = ProgramEnd();
  auto fail = [](Status failure) {
    trace("RunWait: " + failure.message());
    return failure;
  };
  std::wstring line = wide(command_line);
  // The program: the copy this process has in use that the line starts
  // with, and nothing else.
  const std::size_t length = program_in_use(command_line);
  if (length == 0) {
    return fail(Status::failure(
        "cannot start " + to_ansi(command_line) + ": not a copy this run holds",
        0));
  }
  const Text program(command_line.units().substr(0, length));
  const std::wstring application = wide(program);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION process = {};
  // The platform takes at most 32,767 characters with the final NUL; a
  // longer line is refused here rather than cut on its way to the client.
  if (line.size() >= 32767) {
    return fail(Status::failure(
        "cannot start " + to_ansi(program) + ": its command line of " +
            std::to_string(line.size()) +
            " characters is longer than Windows allows (32,766)",
        0));
  }
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();  // before to_ansi() sets another
    return fail(Status::failure("cannot start " + to_ansi(program),
                                to_ansi(program), static_cast<int>(error)));
  }
  // A program that cannot be bound to this process's end does not start
  // (jobs nest since Windows 8; where this process is in a job that allows
  // no other, the client cannot run).
  HANDLE job = program_job();
  if (job == nullptr || !kill_on_close(job, true) ||
      !AssignProcessToJobObject(job, process.hProcess)) {
    const DWORD error = GetLastError();
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return fail(Status::failure("cannot start " + to_ansi(program) +
                                    " in a job that ends with this program",
                                to_ansi(program), static_cast<int>(error)));
  }
  end.started = true;
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    const DWORD error = GetLastError();
    CloseHandle(process.hProcess);
    return fail(Status::failure("cannot wait for " + to_ansi(program),
                                to_ansi(program), static_cast<int>(error)));
  }
  CloseHandle(process.hProcess);
  // The client has ended: what it left running is not ended with this
  // process, as on POSIX systems.
  kill_on_close(job, false);
  end.ended = true;
  end.exit_status = static_cast<int>(code);
  return Status();
}

}  // namespace runtime
