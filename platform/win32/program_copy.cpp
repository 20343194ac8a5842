// The copies of program files on Windows, with the platform's own rules: a
// program file that runs is in use, so it can be neither deleted nor
// replaced. A copy is always a file this run creates (CREATE_NEW) once its
// name is free, that only this user, Administrators and SYSTEM may use,
// written from the very handle of the source that was judged. What was at
// the name before is removed when it is this run's to remove (a link is
// never followed, and nothing of another's is changed); otherwise the copy
// fails with the reason, which names its owner.
#include "runtime/program_copy.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <map>
#include <string>

#include "platform/win32/retry.h"
#include "platform/win32/shared_dir.h"
#include "platform/win32/site_hold.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

using InUse = std::map<std::wstring, HANDLE>;

void stop_using(InUse& files_in_use, const std::wstring& path) {
  auto it = files_in_use.find(path);
  if (it == files_in_use.end()) return;
  CloseHandle(it->second);
  files_in_use.erase(it);
}

// Which file an open handle has: its volume and its index there.
struct FileId {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileId&) const = default;
};

bool identify(HANDLE file, FileId& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// Holds the file at `path` as in use. False with GetLastError() when it
// cannot be held.
bool start_using(InUse& files_in_use, const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  stop_using(files_in_use, path);
  files_in_use[path] = file;
  return true;
}

// Frees the name `path` where what is there is this run's to remove
// (platform/win32/shared_dir.h judges it); a read-only file of the trusted
// loses the attribute first (CopyFileW carried it over to the copies of earlier
// versions). The judgement's state, kNone once removed; `reason` says why
// when it is kRefused.
Leftover::State remove_name(const Text& path, std::string& reason) {
  Leftover left = judge_leftover(path);
  reason = left.reason;
  if (left.state != Leftover::kRemovable) return left.state;
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(left.handle, FileBasicInfo, &basic,
                                   sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(left.handle, FileBasicInfo, &basic,
                               sizeof basic);
  }
  FILE_DISPOSITION_INFO gone = {TRUE};
  const bool removed = SetFileInformationByHandle(
      left.handle, FileDispositionInfo, &gone, sizeof gone);
  const DWORD error = GetLastError();
  CloseHandle(left.handle);
  if (removed) return Leftover::kNone;
  reason = removal_refusal(path, error);
  return Leftover::kRefused;
}

// Writes what `from` holds, from its start, into `to`. GetLastError() says
// why when it fails.
bool write_all(HANDLE from, HANDLE to) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
  static char buffer[64 * 1024];
  for (;;) {
    DWORD n = 0, written = 0;
    if (!ReadFile(from, buffer, sizeof buffer, &n, nullptr)) return false;
    if (n == 0) return true;
    if (!WriteFile(to, buffer, n, &written, nullptr)) return false;
    if (written != n) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
  }
}

// A new file at `to` that only this user, Administrators and SYSTEM may
// use, holding what `judged` holds, and held in `held` (for reading, as a
// file in use is). Some handle without delete sharing has it open from its
// making on, so that no other run removes it meanwhile. Fails (with
// GetLastError()) where anything is at that name already, and leaves
// nothing behind where it cannot be written whole.
bool make_copy(HANDLE judged, const std::wstring& to, HANDLE& held) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  const std::wstring sddl = private_security();
  if (!sddl.empty()) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl.c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
  }
  HANDLE made =
      CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD created = GetLastError();
  LocalFree(security.lpSecurityDescriptor);
  if (made == INVALID_HANDLE_VALUE) {
    SetLastError(created);
    return false;
  }
  auto open_reading = [&](DWORD sharing) {
    return CreateFileW(to.c_str(), GENERIC_READ, sharing, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  FileId id, seen;
  bool whole = write_all(judged, made) && identify(made, id);
  // Read while the writer still has it, then for reading alone.
  HANDLE reading = whole ? open_reading(FILE_SHARE_READ | FILE_SHARE_WRITE)
                         : INVALID_HANDLE_VALUE;
  whole =
      reading != INVALID_HANDLE_VALUE && identify(reading, seen) && seen == id;
  const DWORD error = GetLastError();
  CloseHandle(made);
  if (!whole) {
    if (reading != INVALID_HANDLE_VALUE) CloseHandle(reading);
    std::string ignored;  // what is left there is this run's, or in use
    static_cast<void>(remove_name(from_wide(to), ignored));
    SetLastError(error);
    return false;
  }
  held = open_reading(FILE_SHARE_READ);
  if (held != INVALID_HANDLE_VALUE && identify(held, seen) && seen == id) {
    CloseHandle(reading);
  } else {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    held = reading;
  }
  return true;
}

}  // namespace

Status delete_file(Site& site, const Text& name) {
  const Text path = site.path_of(name);
  stop_using(site.hold().copies, wide(path));
  std::string reason;
  // Missing, or in use by another run: it stays.
  if (remove_name(path, reason) != Leftover::kRefused) return Status();
  return Status::failure("cannot delete " + to_ansi(path) + ": " + reason, 0);
}

Status copy_file(Site& site, const Text& source_name, const Text& target_name,
                 CopyOutcome& outcome) {
  const Text source = site.path_of(source_name);
  const Text target = site.path_of(target_name);
  InUse& files_in_use = site.hold().copies;
  const std::wstring from = wide(source), to = wide(target);
  const std::string what =
      "cannot copy " + to_ansi(source) + " to " + to_ansi(target);
  // What runs is judged from a handle that lets nobody change, rename or
  // delete it until the copy is made from it: its owner must be trusted,
  // no one else may change it, and it must be a program this system runs.
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
  std::string refused = program_refusal(judged, to_ansi(source));
  // Other runs copy, hold and delete the same name: while another run
  // writes its copy, or its name is still going, this run tries again.
  bool copied = false;
  const bool placed =
      refused.empty() && retry_while_busy([&] {
        HANDLE held;
        if (make_copy(judged, to, held)) {
          stop_using(files_in_use, to);
          files_in_use[to] = held;
          copied = true;
          return Attempt::kDone;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED &&
            GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES) {
          // A removal still pending refuses both a new file and a look; a
          // name that is not there, this user may not make.
          const bool pending = GetLastError() == ERROR_ACCESS_DENIED;
          SetLastError(error);
          return pending ? Attempt::kBusy : Attempt::kFailed;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            error != ERROR_ACCESS_DENIED) {
          SetLastError(error);
          return Attempt::kFailed;
        }
        switch (remove_name(target, refused)) {
          case Leftover::kNone:
          case Leftover::kRemovable:
            return Attempt::kBusy;  // the name is free: made next time
          case Leftover::kRefused:
            return Attempt::kFailed;
          case Leftover::kInUse:
            break;
        }
        // Another run's copy in use cannot be replaced, and this run goes on
        // with it, as with a program that runs. Anything else held there is
        // not this run's to start.
        if (!start_using(files_in_use, to)) return Attempt::kBusy;
        refused = take_over_refusal(files_in_use[to], target, source);
        if (!refused.empty()) {
          stop_using(files_in_use, to);
          return Attempt::kFailed;
        }
        return Attempt::kDone;
      });
  const DWORD error = GetLastError();  // before to_ansi() sets another
  CloseHandle(judged);
  if (placed) {
    outcome = copied ? CopyOutcome::kCopied : CopyOutcome::kInUseElsewhere;
    return Status();
  }
  Status failure = !refused.empty() ? Status::failure(what + ": " + refused, 0)
                                    : Status::failure(what, to_ansi(target),
                                                      static_cast<int>(error));
  trace("CopyFile: " + failure.message());
  return failure;
}

std::size_t held_copy_length(const Site& site, const Text& command_line) {
  const std::wstring line = wide(command_line);
  std::size_t longest = 0;
  for (const auto& [name, file] : site.hold().copies) {
    std::size_t n = name.size();
    if (n > longest && line.starts_with(name) &&
        (line.size() == n || line[n] == L' ' || line[n] == L'\t')) {
      longest = n;
    }
  }
  return longest;
}

}  // namespace runtime
