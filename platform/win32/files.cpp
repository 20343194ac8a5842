// The file services on Windows, with the platform's own rules: a program
// file that runs is in use, so CopyFileW and DeleteFileW fail on it.
#include "runtime/files.h"

#include <windows.h>

#include <map>
#include <string>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/status.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// The open line files, by file number.
std::map<int, HANDLE>& open_files() {
  static std::map<int, HANDLE> files;
  return files;
}

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

DWORD attributes(const Text& path) {
  return GetFileAttributesW(wide(path).c_str());
}

// Waits up to five seconds for an exclusive lock on the whole file.
bool lock_whole_file(HANDLE file) {
  for (int i = 0; i < 500; ++i) {
    OVERLAPPED at = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   MAXDWORD, MAXDWORD, &at)) {
      return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    Sleep(10);
  }
  return false;
}

}  // namespace

bool file_exists(const Text& path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(const Text& path) {
  DWORD a = attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

int create_directory(const Text& path) {
  return CreateDirectoryW(wide(path).c_str(), nullptr) ? 1 : -1;
}

int delete_file(const Text& path) {
  std::wstring p = wide(path);
  stop_using(p);
  return DeleteFileW(p.c_str()) ? 1 : -1;
}

int copy_file(const Text& source, const Text& target) {
  const std::wstring from = wide(source), to = wide(target);
  const std::string what =
      "cannot copy " + to_ansi(source) + " to " + to_ansi(target);
  auto failed = [&](DWORD error) {
    Status status = Status::failure(what, static_cast<int>(error));
    trace("CopyFile: " + status.message());
    set_last_failure(status);
    return -1;
  };
  // Other runs copy, hold and delete the same file: while it is being
  // written, or gone again before it is held, this run tries again, for up
  // to five seconds.
  const ULONGLONG deadline = GetTickCount64() + 5000;
  for (;;) {
    const bool copied = CopyFileW(from.c_str(), to.c_str(), FALSE);
    const DWORD copy_error = copied ? ERROR_SUCCESS : GetLastError();
    if (!copied && copy_error != ERROR_SHARING_VIOLATION) {
      return failed(copy_error);
    }
    // The new copy, or the one another run has in use: a copy in use cannot
    // be replaced, and this run goes on with it, as with a program that
    // runs.
    if (start_using(to)) return copied ? 1 : failed(copy_error);
    const DWORD error = GetLastError();
    if (GetTickCount64() >= deadline) return failed(error);
    Sleep(10);
  }
}

bool in_use_by_this_process(const Text& path) {
  return files_in_use().count(wide(path)) != 0;
}

void use_directory_of(const Text& /*file*/) {}

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

// The directory's access control list decides who may write, not a bit.
std::string replaceable_by_others(const Text& /*file*/) { return ""; }
std::string writable_by_others(const Text& /*path*/) { return ""; }

Status file_open(const Text& path, OpenMode mode, int& number) {
  const bool append = mode == OpenMode::kAppend;
  HANDLE file = CreateFileW(
      // Appends only (each write lands at the end), with the reading access
      // that a lock of the whole file asks for.
      wide(path).c_str(),
      append ? FILE_APPEND_DATA | GENERIC_READ : GENERIC_WRITE,
      append ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
      append ? OPEN_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  number = -1;
  if (file == INVALID_HANDLE_VALUE) {
    return Status::failure("cannot open " + to_ansi(path),
                           static_cast<int>(GetLastError()));
  }
  number = open_files().empty() ? 1 : open_files().rbegin()->first + 1;
  open_files()[number] = file;
  return Status();
}

Status file_write_line(int file, const Text& line) {
  auto it = open_files().find(file);
  if (it == open_files().end()) {
    return Status::failure("cannot write a file not open", 0);
  }
  std::string bytes = to_ansi(line) + "\r\n";
  // A lock held past the bound is not awaited further: the line then goes
  // in one write without it.
  const bool locked = lock_whole_file(it->second);
  // A line that does not fit (a full disk) is taken back whole.
  LARGE_INTEGER size;
  Status written;
  DWORD count = 0;
  if (!GetFileSizeEx(it->second, &size) ||
      !WriteFile(it->second, bytes.data(), static_cast<DWORD>(bytes.size()),
                 &count, nullptr) ||
      count != bytes.size()) {
    DWORD error = GetLastError();
    written = Status::failure("cannot write a line",
                              static_cast<int>(error ? error : ERROR_DISK_FULL));
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

int file_close(int file) {
  auto it = open_files().find(file);
  if (it == open_files().end()) return -1;
  bool ok = CloseHandle(it->second);
  open_files().erase(it);
  return ok ? 1 : -1;
}

}  // namespace runtime
