// The RunWait body on Windows: CreateProcessW with the command line as it
// is and the program named by its exact path (never a prefix of the line
// that the platform would try first, never a search), in a job that ends
// the program, and whatever it started, when this process ends while it
// waits.
#include <windows.h>

#include "platform/win32/process.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/command_line.h"
#include "runtime/external_call.h"
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

// Sets or clears the job's kill-on-close.
bool kill_on_close(HANDLE job, bool on) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      on ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits);
}

}  // namespace

Status run_wait_entry(const Text& command_line, std::uint16_t show,
                      std::uint16_t& result) {
  result = 0;
  std::wstring line = wide(command_line);
  // The program: the copy this process has in use that the line starts
  // with; else the line up to its first blank (or its quotes).
  std::size_t length = program_in_use(command_line);
  std::u16string program_units =
      length != 0
          ? command_line.units().substr(0, length)
          : command_line.units().substr(
                0, command_line.units().size() -
                       windows_command_tail(command_line.units()).size());
  while (!program_units.empty() &&
         (program_units.back() == u' ' || program_units.back() == u'\t')) {
    program_units.pop_back();
  }
  if (length == 0 && program_units.size() >= 2 && program_units[0] == u'"') {
    program_units = program_units.substr(1, program_units.find(u'"', 1) - 1);
  }
  const Text program(program_units);
  const std::wstring application = wide(program);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  PROCESS_INFORMATION process = {};
  // The platform takes at most 32,767 characters with the final NUL; a
  // longer line is refused here rather than cut on its way to the client.
  if (line.size() >= 32767) {
    Status failure = Status::failure(
        "cannot start " + to_ansi(program) + ": its command line of " +
            std::to_string(line.size()) +
            " characters is longer than Windows allows (32,766)",
        0);
    trace("RunWait: " + failure.message());
    return failure;
  }
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    const DWORD error = GetLastError();  // before to_ansi() sets another
    Status failure = Status::failure("cannot start " + to_ansi(program),
                                     to_ansi(program), static_cast<int>(error));
    trace("RunWait: " + failure.message());
    return failure;
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
    Status failure =
        Status::failure("cannot start " + to_ansi(program) +
                            " in a job that ends with this program",
                        to_ansi(program), static_cast<int>(error));
    trace("RunWait: " + failure.message());
    return failure;
  }
  last_end().started = true;
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    const DWORD error = GetLastError();
    Status failure = Status::failure("cannot wait for " + to_ansi(program),
                                     to_ansi(program), static_cast<int>(error));
    CloseHandle(process.hProcess);
    trace("RunWait: " + failure.message());
    return failure;
  }
  CloseHandle(process.hProcess);
  // The client has ended: what it left running is not ended with this
  // process, as on POSIX systems.
  kill_on_close(job, false);
  last_end().ended = true;
  last_end().exit_status = static_cast<int>(code);
  result = static_cast<std::uint16_t>(code);
  return Status();
}

}  // namespace runtime
