// The site check on Windows: a dry run of a request, through the
// judgement of trust a request uses (platform/win32/shared_dir.h) and the
// platform's own answers, with every write replaced by what it would find.
#include "runtime/site_check.h"

#include <windows.h>

#include <string>

#include "platform/win32/shared_dir.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/files.h"
#include "runtime/path.h"
#include "runtime/status.h"

namespace runtime {
namespace {

using Findings = std::vector<Finding>;

void add(Findings& out, Finding::Kind kind, std::string text) {
  out.push_back({kind, std::move(text)});
}

// The failure of the call just made on `path`.
Status failure(const std::string& what, const Text& path) {
  const DWORD error = GetLastError();  // before to_ansi() sets another
  return Status::failure(what + " " + to_ansi(path), to_ansi(path),
                         static_cast<int>(error));
}

// The attributes of `path`, or INVALID_FILE_ATTRIBUTES.
DWORD attributes_of(const Text& path) {
  return GetFileAttributesW(wide(path).c_str());
}

// A handle of `path` for reading that lets others read only, as a request
// holds what it runs, or INVALID_HANDLE_VALUE.
HANDLE open_held(const Text& path) {
  return CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The public directory: a directory in which this user may make a file,
// which a name made and removed at once proves, and that nobody outside
// the trusted could replace.
bool check_directory(const Text& dir, Findings& out) {
  const std::string shown = to_ansi(dir);
  const DWORD a = attributes_of(dir);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kProblem, failure("cannot open", dir).message());
    return false;
  }
  const Text probe = below(dir, u".tolmex-check-") +
                     from_ansi(std::to_string(GetCurrentProcessId()));
  HANDLE made = CreateFileW(
      wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    add(out, Finding::kProblem, failure("cannot write in", dir).message());
    return false;
  }
  CloseHandle(made);
  add(out, Finding::kOk, shown + " exists and this user may write it");
  const std::string others = place_refusal(dir);
  if (others.empty()) {
    add(out, Finding::kOk,
        "nobody but this user, Administrators and SYSTEM may replace " + shown +
            ", the directories above it or the files in it");
  } else {
    add(out, Finding::kProblem, others);
  }
  return true;
}

// mart.dll as the copy judges it (who may change it, its program header),
// and what is at mart.exe as the copy would find it.
void check_client(const Site& site, const SiteFiles& files, Findings& out) {
  const Text client = site.path_of(files.client);
  const Text exe = site.path_of(files.client_copy);
  const std::string what =
      "cannot copy " + to_ansi(client) + " to " + to_ansi(exe);
  HANDLE file = open_held(client);
  if (file == INVALID_HANDLE_VALUE) {
    return add(out, Finding::kProblem, failure(what, client).message());
  }
  const std::string refusal = program_refusal(file, to_ansi(client));
  CloseHandle(file);
  if (!refusal.empty()) {
    return add(out, Finding::kProblem, what + ": " + refusal);
  }
  add(out, Finding::kOk,
      to_ansi(client) +
          " is a program for this system that only this user, "
          "Administrators and SYSTEM may change");
  // What is at mart.exe as the copy judges it before it frees the name:
  // removable, refused, or held open, and then taken over only as another
  // run's copy.
  Leftover left = judge_leftover(exe);
  if (left.handle != INVALID_HANDLE_VALUE) CloseHandle(left.handle);
  if (left.state == Leftover::kRefused) {
    return add(out, Finding::kProblem, what + ": " + left.reason);
  }
  if (left.state != Leftover::kInUse) return;
  HANDLE held = open_held(exe);
  const std::string taken = held == INVALID_HANDLE_VALUE
                                ? failure(what, exe).message()
                                : take_over_refusal(held, exe, client);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (!taken.empty()) {
    add(out, Finding::kProblem,
        taken.starts_with(what) ? taken : what + ": " + taken);
  }
}

}  // namespace

std::vector<Finding> check_site_files(Site& site, const SiteFiles& files) {
  const Text& public_path = site.public_path();
  Findings out;
  const Text dir = public_path.units().empty() ? Text(u".") : public_path;
  if (!check_directory(dir, out)) return out;
  check_client(site, files, out);

  const Text ini = site.path_of(files.result_file);
  DWORD a = attributes_of(ini);
  // The profile functions take no longer path.
  const std::size_t full = full_path(ini).size();
  if (full >= MAX_PATH) {
    add(out, Finding::kProblem,
        "cannot write " + to_ansi(ini) + ": its path of " +
            std::to_string(full) + " characters is longer than the " +
            std::to_string(MAX_PATH - 1) + " Windows takes");
  } else if (a == INVALID_FILE_ATTRIBUTES) {
    add(out, Finding::kOk,
        to_ansi(ini) + " is not there yet; the first request makes it");
  } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
    add(out, Finding::kProblem,
        "cannot write " + to_ansi(ini) + ": it is a directory");
  } else if (HANDLE w = CreateFileW(
                 wide(ini).c_str(), GENERIC_WRITE,
                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
             w == INVALID_HANDLE_VALUE &&
             GetLastError() != ERROR_SHARING_VIOLATION) {
    // Opened for writing as the reset opens it, and closed unchanged; one
    // that another program holds is waited for.
    add(out, Finding::kProblem,
        failure("cannot write", ini).message() +
            ((a & FILE_ATTRIBUTE_READONLY) ? " (attrib -r)" : ""));
  } else {
    if (w != INVALID_HANDLE_VALUE) CloseHandle(w);
    add(out, Finding::kOk,
        to_ansi(ini) + ", section return: " + files.result_keys());
    if (auto writers = writable_by_others(site, files.result_file)) {
      add(out, Finding::kWarning, *writers);
    }
  }

  const Text logs = site.path_of(files.log_directory);
  a = attributes_of(logs);
  HANDLE place = open_place(logs);
  const std::string link = link_refusal(place, logs);
  if (place != INVALID_HANDLE_VALUE) CloseHandle(place);
  if (!link.empty()) {
    add(out, Finding::kWarning, "the request would not be logged: " + link);
  } else if (a == INVALID_FILE_ATTRIBUTES) {
    add(out, Finding::kOk,
        to_ansi(logs) + " is not there yet; the first request makes it");
  } else if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    add(out, Finding::kWarning,
        "the request would not be logged: " + to_ansi(logs) +
            " is not a directory");
  } else {
    add(out, Finding::kOk, to_ansi(logs) + " is a directory");
  }
  add(out, Finding::kOk, "code page " + std::to_string(GetACP()));
  add(out, Finding::kOk, "dialog MessageBoxW");
  return out;
}

}  // namespace runtime
