// The RunWait body on Windows: CreateProcessW with the command line as it
// is and the program named by its exact path (never a prefix of the line
// that the platform would try first, never a search), in a job that ends
// the program, and whatever it started, when this process ends while it
// waits. The program may start a helper out of the job
// (CREATE_BREAKAWAY_FROM_JOB), which then outlives this process in any
// case. What of the job still runs when the program has ended is named in
// a warning, and runs on.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

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

// True when `image` is the system's console host, which a console client
// gets in its job and which ends by itself with the last program of its
// console.
bool console_host(const std::wstring& image) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  return n > 0 && n < MAX_PATH &&
         CompareStringOrdinal(
             image.c_str(), -1,
             (std::wstring(system, n) + L"\\conhost.exe").c_str(), -1,
             TRUE) == CSTR_EQUAL;
}

// The processes still in the job `job`, each as "name.exe (pid N)"; a
// helper that broke away from it is not among them, nor the console host.
std::vector<std::string> still_in_job(HANDLE job) {
  // The list's ids read from its bytes: the platform declares room for one.
  ULONG_PTR buffer[64] = {};
  JOBOBJECT_BASIC_PROCESS_ID_LIST head;
  std::vector<std::string> found;
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, buffer,
                                 sizeof buffer, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return found;
  }
  std::memcpy(&head, buffer, sizeof head);
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
  for (DWORD i = 0; i < head.NumberOfProcessIdsInList; ++i) {
    ULONG_PTR id = 0;
    std::memcpy(&id,
                bytes +
                    offsetof(JOBOBJECT_BASIC_PROCESS_ID_LIST, ProcessIdList) +
                    i * sizeof id,
                sizeof id);
    const DWORD pid = static_cast<DWORD>(id);
    std::string name = "?";
    if (HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
      wchar_t image[MAX_PATH];
      DWORD n = MAX_PATH;
      const bool named = QueryFullProcessImageNameW(p, 0, image, &n);
      CloseHandle(p);
      const std::wstring path(image, named ? n : 0);
      const bool host = named && console_host(path);
      if (host) continue;
      if (named) {
        name = to_ansi(from_wide(path.substr(path.find_last_of(L"\\/") + 1)));
      }
    }
    found.push_back(name + " (pid " + std::to_string(pid) + ")");
  }
  // More than the list holds: the rest counted, not named.
  for (DWORD i = head.NumberOfProcessIdsInList;
       i < head.NumberOfAssignedProcesses; ++i) {
    found.push_back("?");
  }
  return found;
}

// The warning for what the client left running in its job: named, neither
// waited for nor ended (clients may rely on helpers that outlive them); ""
// for none.
std::string left_running(HANDLE job) {
  const std::vector<std::string> left = still_in_job(job);
  if (left.empty()) return "";
  std::string names;
  for (const std::string& name : left) {
    if (name == "?") continue;
    names += (names.empty() ? "" : ", ") + name;
  }
  return "the client left " + std::to_string(left.size()) +
         (left.size() == 1 ? " process" : " processes") + " running (" + names +
         "); tolmex neither waits for nor ends them";
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
  // The program by the name CreateFileW gives it (platform/win32/wide.h).
  const std::wstring application = full_path(program);
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

// The body without its trace: the program is the copy the site holds that
// the line starts with, and nothing else.
Status start_and_wait(const Site& site, const Text& command_line,
                      std::uint16_t show, ProgramEnd& end) {
  const std::size_t length = held_copy_length(site, command_line);
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
  if (std::string left = left_running(program_job()); !left.empty()) {
    end.warnings.push_back(left);
  }
  end.ended = true;
  end.exit_status = static_cast<int>(code);
  return Status();
}

}  // namespace

Status runwait_entry(Site& site, const Text& command_line, std::uint16_t show,
                     ProgramEnd& end) {
  end = ProgramEnd();
  Status run = start_and_wait(site, command_line, show, end);
  if (!run.ok()) trace("RunWait: " + run.message());
  return run;
}

}  // namespace runtime
