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

// The failure of the platform call just made for the client `program`.
Status call_failure(const std::string& what, const Text& program) {
  const DWORD error = GetLastError();  // before to_ansi() sets another
  return Status::failure(what, to_ansi(program), static_cast<int>(error));
}

// Starts `program` with the command line `line`, suspended, in the job that
// ends it with this process; `process` then holds its handles.
Status start_in_job(const Text& program, std::wstring& line, std::uint16_t show,
                    PROCESS_INFORMATION& process) {
  // The platform takes at most 32,767 characters with the final NUL; a
  // longer line is refused here rather than cut on its way to the client.
  if (line.size() >= 32767) {
    return Status::failure(
        "cannot start " + to_ansi(program) + ": its command line of " +
            std::to_string(line.size()) +
            " characters is longer than Windows allows (32,766)",
        0);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  const std::wstring application = wide(program);
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    return call_failure("cannot start " + to_ansi(program), program);
  }
  // A program that cannot be bound to this process's end does not start
  // (jobs nest since Windows 8; where this process is in a job that allows
  // no other, the client cannot run).
  HANDLE job = program_job();
  if (job == nullptr || !kill_on_close(job, true) ||
      !AssignProcessToJobObject(job, process.hProcess)) {
    Status failure = call_failure("cannot start " + to_ansi(program) +
                                      " in a job that ends with this program",
                                  program);
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return failure;
  }
  return Status();
}

// Lets the started, suspended `process` run and waits until it has ended;
// its exit code goes to `code`.
Status resume_and_wait(const Text& program, PROCESS_INFORMATION& process,
                       DWORD& code) {
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  Status waited;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    waited = call_failure("cannot wait for " + to_ansi(program), program);
  }
  CloseHandle(process.hProcess);
  return waited;
}

// The body without its trace: the program is the copy this process has in
// use that the line starts with, and nothing else.
Status start_and_wait(const Text& command_line, std::uint16_t show,
                      ProgramEnd& end) {
  const std::size_t length = program_in_use(command_line);
  if (length == 0) {
    return Status::failure(
        "cannot start " + to_ansi(command_line) + ": not a copy this run holds",
        0);
  }
  const Text program(command_line.units().substr(0, length));
  std::wstring line = wide(command_line);
  PROCESS_INFORMATION process = {};
  Status run = start_in_job(program, line, show, process);
  if (!run.ok()) return run;
  end.started = true;
  DWORD code = 0;
  run = resume_and_wait(program, process, code);
  if (!run.ok()) return run;
  // The client has ended: what it left running is not ended with this
  // process, as on POSIX systems.
  kill_on_close(program_job(), false);
  end.ended = true;
  end.exit_status = static_cast<int>(code);
  return Status();
}

}  // namespace

Status runwait_entry(const Text& command_line, std::uint16_t show,
                     ProgramEnd& end) {
  end = ProgramEnd();
  Status run = start_and_wait(command_line, show, end);
  if (!run.ok()) trace("RunWait: " + run.message());
  return run;
}

}  // namespace runtime
