// The copies of program files on Windows, with the platform's own rules: a
// program file that runs is in use, so CopyFileW and DeleteFileW fail on it.
#include "runtime/program_copy.h"

#include <windows.h>

#include <map>
#include <string>

#include "platform/win32/retry.h"
#include "platform/win32/trust.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// The program files this process has in use, each held open for reading
// with no sharing but reading, so that no other run deletes or replaces it
// between its copy and its start, as nobody can while it runs.
std::map<std::wstring, HANDLE>& files_in_use() {
  static std::map<std::wstring, HANDLE> files;
  return files;
}

void stop_using(const std::wstring& path) {
  auto it = files_in_use().find(path);
  if (it == files_in_use().end()) return;
  CloseHandle(it->second);
  files_in_use().erase(it);
}

bool start_using(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  stop_using(path);
  files_in_use()[path] = file;
  return true;
}

// Takes the read-only attribute off the file `path`, which CopyFileW
// carries over from its source: a copy of this program's is its to
// replace and remove.
void make_writable(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  }
}

}  // namespace

Status delete_file(const Text& path) {
  std::wstring p = wide(path);
  stop_using(p);
  make_writable(p);
  if (DeleteFileW(p.c_str())) return Status();
  const DWORD error = GetLastError();
  // Missing, or in use by another run: it stays.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_SHARING_VIOLATION ||
      error == ERROR_ACCESS_DENIED) {
    return Status();
  }
  return Status::failure("cannot delete " + to_ansi(path), to_ansi(path),
                         static_cast<int>(error));
}

Status copy_file(const Text& source, const Text& target, CopyOutcome& outcome) {
  const std::wstring from = wide(source), to = wide(target);
  const std::string what =
      "cannot copy " + to_ansi(source) + " to " + to_ansi(target);
  // What runs is judged from a handle that lets nobody change, rename or
  // delete it until the copy is made: its owner must be trusted, and no
  // one else may change it.
  HANDLE judged =
      CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (judged == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    Status failure =
        Status::failure(what, to_ansi(source), static_cast<int>(error));
    trace("CopyFile: " + failure.message());
    return failure;
  }
  const OthersSay say = others_say(judged, to_ansi(source), Question::kContent);
  if (say) {
    CloseHandle(judged);
    Status failure =
        Status::failure(what + ": " + say.reason +
                            ": tolmex starts only what nobody but this user, "
                            "Administrators and SYSTEM may change" +
                            (say.mend.empty() ? "" : " (" + say.mend + ")"),
                        0);
    trace("CopyFile: " + failure.message());
    return failure;
  }
  // Other runs copy, hold and delete the same file: while it is being
  // written, or gone again before it is held, this run tries again.
  bool copied = false;
  std::string foreign;
  const bool placed = retry_while_busy([&] {
    copied = CopyFileW(from.c_str(), to.c_str(), FALSE);
    if (!copied && GetLastError() != ERROR_SHARING_VIOLATION) {
      return Attempt::kFailed;
    }
    if (copied) make_writable(to);
    // The new copy, or the one another run of this user has in use: a
    // copy in use cannot be replaced, and this run goes on with it, as
    // with a program that runs. Anything else held there is not this
    // run's to start.
    if (!start_using(to)) return Attempt::kBusy;
    if (!copied) {
      foreign = take_over_refusal(files_in_use()[to], target, source);
      if (!foreign.empty()) {
        stop_using(to);
        return Attempt::kFailed;
      }
    }
    return Attempt::kDone;
  });
  const DWORD error = GetLastError();  // before to_ansi() sets another
  CloseHandle(judged);
  if (placed) {
    outcome = copied ? CopyOutcome::kCopied : CopyOutcome::kInUseElsewhere;
    return Status();
  }
  Status failure = !foreign.empty() ? Status::failure(what + ": " + foreign, 0)
                                    : Status::failure(what, to_ansi(target),
                                                      static_cast<int>(error));
  trace("CopyFile: " + failure.message());
  return failure;
}

std::size_t program_in_use(const Text& command_line) {
  const std::wstring line = wide(command_line);
  std::size_t longest = 0;
  for (const auto& [name, file] : files_in_use()) {
    std::size_t n = name.size();
    if (n > longest && line.starts_with(name) &&
        (line.size() == n || line[n] == L' ' || line[n] == L'\t')) {
      longest = n;
    }
  }
  return longest;
}

}  // namespace runtime
