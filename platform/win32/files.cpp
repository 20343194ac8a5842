// The file services on Windows, with the platform's own functions.
#include "runtime/files.h"

#include <windows.h>

#include <map>
#include <string>

#include "platform/win32/retry.h"
#include "platform/win32/shared_dir.h"
#include "platform/win32/site_hold.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/status.h"

namespace runtime {
namespace {

DWORD attributes(const Text& path) {
  return GetFileAttributesW(wide(path).c_str());
}

// Waits at most kLockWait for an exclusive lock on the whole file.
bool lock_whole_file(HANDLE file) {
  return retry_while_busy([file] {
    OVERLAPPED at = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &at)) {
      return Attempt::kDone;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION ? Attempt::kBusy
                                                  : Attempt::kFailed;
  });
}

}  // namespace

Site::Site(const Text& public_path)
    : public_path_(public_path), hold_(std::make_unique<Hold>()) {}

Site::~Site() = default;

bool file_exists(const Site& site, const Text& name) {
  DWORD a = attributes(site.path_of(name));
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(const Site& site, const Text& name) {
  DWORD a = attributes(site.path_of(name));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

Status create_directory(const Site& site, const Text& name) {
  const Text path = site.path_of(name);
  if (CreateDirectoryW(wide(path).c_str(), nullptr)) return Status();
  const DWORD error = GetLastError();  // before any other call sets it
  return Status::failure("cannot create " + to_ansi(path), to_ansi(path),
                         static_cast<int>(error));
}

Status remove_empty_file(const Site& site, const Text& name) {
  const Text path = site.path_of(name);
  HANDLE file = CreateFileW(
      wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return Status();
    }
    return Status::failure("cannot remove " + to_ansi(path), to_ansi(path),
                           static_cast<int>(error));
  }
  LARGE_INTEGER size;
  FILE_DISPOSITION_INFO gone = {TRUE};
  DWORD error = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart == 0 &&
      !SetFileInformationByHandle(file, FileDispositionInfo, &gone,
                                  sizeof gone)) {
    error = GetLastError();
  }
  CloseHandle(file);
  if (error == 0) return Status();
  return Status::failure("cannot remove " + to_ansi(path), to_ansi(path),
                         static_cast<int>(error));
}

// Owners and access control lists decide who may write, as
// platform/win32/shared_dir.h judges them.
std::optional<std::string> replaceable_by_others(const Site& site) {
  const std::u16string units = site.path_of(u"x").units();
  const std::size_t cut = units.find_last_of(u"\\/");
  std::string others = place_refusal(cut == std::u16string::npos
                                         ? Text(u".")
                                         : Text(units.substr(0, cut + 1)));
  if (others.empty()) return std::nullopt;
  return others;
}

std::optional<std::string> writable_by_others(const Site& site,
                                              const Text& name) {
  const Text path = site.path_of(name);
  HANDLE file =
      CreateFileW(wide(path).c_str(), READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  const Say say = judge(file, to_ansi(path), Question::kContent);
  CloseHandle(file);
  if (!say) return std::nullopt;
  const bool owner = say.reason.find(" belongs to ") != std::string::npos;
  return (owner ? "its owner " + say.who : say.who) + " may write " +
         to_ansi(path) + " and so change what it says" +
         (say.mend.empty() ? "" : " (" + say.mend + ")");
}

Status file_open(Site& site, const Text& name, OpenMode mode, int& number) {
  const Text path = site.path_of(name);
  std::map<int, HANDLE>& files = site.hold().files;
  const bool append = mode == OpenMode::kAppend;
  auto open = [&](DWORD access) {
    return CreateFileW(
        wide(path).c_str(), access,
        append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
        append ? OPEN_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  // The directory of an appended file (logpay) is held while the file is
  // opened, so that nobody renames it meanwhile, and a link there that
  // someone outside the trusted made is not followed.
  HANDLE place = INVALID_HANDLE_VALUE;
  if (append) {
    const std::u16string& units = path.units();
    const std::size_t cut = units.find_last_of(u"\\/");
    const Text dir(cut == std::u16string::npos ? std::u16string(u".")
                                               : units.substr(0, cut));
    place = open_place(dir);
    const std::string link = link_refusal(place, dir);
    if (!link.empty()) {
      if (place != INVALID_HANDLE_VALUE) CloseHandle(place);
      number = -1;
      return Status::failure("cannot open " + to_ansi(path) + ": " + link, 0);
    }
  }
  // An appended file is opened with the reading access that a lock of the
  // whole file asks for, and the writing access that taking back a line cut
  // short asks for; a file that grants appending alone is still appended
  // to, without the taking back. A file that another program holds without
  // sharing (a reader of the log) is waited for, as the result file is.
  HANDLE file = INVALID_HANDLE_VALUE;
  retry_while_busy([&] {
    file = open(append ? FILE_APPEND_DATA | FILE_WRITE_DATA | GENERIC_READ
                       : GENERIC_WRITE);
    if (append && file == INVALID_HANDLE_VALUE &&
        GetLastError() == ERROR_ACCESS_DENIED) {
      file = open(FILE_APPEND_DATA | GENERIC_READ);
    }
    if (file != INVALID_HANDLE_VALUE) return Attempt::kDone;
    return append && GetLastError() == ERROR_SHARING_VIOLATION
               ? Attempt::kBusy
               : Attempt::kFailed;
  });
  const DWORD error = GetLastError();
  if (place != INVALID_HANDLE_VALUE) CloseHandle(place);
  number = -1;
  if (file == INVALID_HANDLE_VALUE) {
    return Status::failure("cannot open " + to_ansi(path), to_ansi(path),
                           static_cast<int>(error));
  }
  number = files.empty() ? 1 : files.rbegin()->first + 1;
  files[number] = file;
  return Status();
}

Status file_write_line(const Site& site, int file, const Text& line) {
  auto it = site.hold().files.find(file);
  if (it == site.hold().files.end()) {
    return Status::failure("cannot write a file not open", 0);
  }
  std::string bytes = to_ansi(line) + "\r\n";
  // A lock held past the bound is not awaited further: the line then goes
  // in one write without it.
  const bool locked = lock_whole_file(it->second);
  // Each line lands at the end of the file, wherever others have put it.
  OVERLAPPED end_of_file = {};
  end_of_file.Offset = end_of_file.OffsetHigh = 0xFFFFFFFF;
  // A line that does not fit (a full disk) is taken back whole.
  LARGE_INTEGER size;
  Status written;
  DWORD count = 0;
  const bool sized = GetFileSizeEx(it->second, &size);
  const bool wrote = sized && WriteFile(it->second, bytes.data(),
                                        static_cast<DWORD>(bytes.size()),
                                        &count, &end_of_file);
  if (!wrote || count != bytes.size()) {
    // A write cut short succeeds, and leaves the error of an earlier call.
    const DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
    written = Status::failure("cannot write a line", static_cast<int>(error));
    if (locked && count != 0) {
      FILE_END_OF_FILE_INFO end = {size};
      SetFileInformationByHandle(it->second, FileEndOfFileInfo, &end,
                                 sizeof end);
    }
  }
  if (locked) {
    OVERLAPPED at = {};
    UnlockFileEx(it->second, 0, MAXDWORD, MAXDWORD, &at);
  }
  return written;
}

Status file_close(Site& site, int file) {
  std::map<int, HANDLE>& files = site.hold().files;
  auto it = files.find(file);
  if (it == files.end()) {
    return Status::failure("cannot close a file not open", 0);
  }
  const bool ok = CloseHandle(it->second);
  const DWORD error = GetLastError();
  files.erase(it);
  return ok ? Status()
            : Status::failure("cannot close a file", static_cast<int>(error));
}

}  // namespace runtime
