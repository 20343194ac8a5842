// INI files on Windows: the flush's writes and the reads go through the
// platform's own profile functions.
#include <windows.h>

#include <vector>

#include "platform/win32/retry.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/files.h"
#include "runtime/platform.h"

namespace runtime {
namespace {

Text read_key(const std::wstring& path, const Text& section, const Text& key,
              const wchar_t* fallback) {
  std::wstring value(256, L'\0');
  for (;;) {
    DWORD n = GetPrivateProfileStringW(
        wide(section).c_str(), wide(key).c_str(), fallback, value.data(),
        static_cast<DWORD>(value.size()), path.c_str());
    if (n + 1 < value.size()) return from_wide(value.data(), n);
    value.resize(value.size() * 2);
  }
}

// Writes one key. The platform's writer opens the file for itself alone,
// so a writer of another run makes it fail with a sharing violation, and a
// byte-range lock of another process with a lock violation: it is tried
// again for at most kLockWait.
bool write_key(const std::wstring& path, const IniEdit& e) {
  return retry_while_busy([&] {
    if (WritePrivateProfileStringW(wide(e.section).c_str(), wide(e.key).c_str(),
                                   wide(e.value).c_str(), path.c_str())) {
      return Attempt::kDone;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
               ? Attempt::kBusy
               : Attempt::kFailed;
  });
}

}  // namespace

Status write_ini_edits(Site& site, const Text& name,
                       const std::vector<IniEdit>& edits) {
  const Text path = site.path_of(name);
  const std::wstring file = full_path(path);
  for (const IniEdit& e : edits) {
    if (!write_key(file, e)) {
      const DWORD error = GetLastError();  // before to_ansi() sets another
      return Status::failure("cannot write " + to_ansi(path), to_ansi(path),
                             static_cast<int>(error));
    }
  }
  // The platform's cache goes to disk (the call answers FALSE whatever
  // happens). The platform's reader reads what its writer wrote, so no
  // read-back is needed, and one could see another run's client already at
  // work on the file.
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
  // And from the system's cache to the disk, before any client starts:
  // through a handle that lets the profile functions go on meanwhile.
  HANDLE h =
      CreateFileW(file.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    FlushFileBuffers(h);
    CloseHandle(h);
  }
  return Status();
}

Status read_ini_keys(const Site& site, const Text& name, const Text& section,
                     const std::vector<Text>& keys, std::vector<Text>& values,
                     std::string& warning) {
  const Text path = site.path_of(name);
  const std::wstring file = full_path(path);
  // The bytes first, for a reason where the file cannot be read and to
  // refuse what the profile reader would read past the end of; shared with
  // every writer, and waited for where one holds it alone.
  HANDLE h = INVALID_HANDLE_VALUE;
  const bool opened = retry_while_busy([&] {
    h = CreateFileW(file.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) return Attempt::kDone;
    return GetLastError() == ERROR_SHARING_VIOLATION ? Attempt::kBusy
                                                     : Attempt::kFailed;
  });
  const DWORD open_error = GetLastError();  // before to_ansi() sets another
  const std::string what = "cannot read " + to_ansi(path);
  if (!opened) {
    return Status::failure(what, to_ansi(path), static_cast<int>(open_error));
  }
  std::string bytes(kMaxIniSize + 1, '\0');
  std::size_t got = 0;
  bool failed = false;
  while (got < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(h, bytes.data() + got, static_cast<DWORD>(bytes.size() - got),
                  &n, nullptr)) {
      failed = true;
      break;
    }
    if (n == 0) break;
    got += n;
  }
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (failed) {
    return Status::failure(what, to_ansi(path), static_cast<int>(error));
  }
  bytes.resize(got);
  if (bytes.size() > kMaxIniSize) {
    return Status::failure(what, to_ansi(path), ERROR_FILE_TOO_LARGE);
  }
  if (is_torn_utf16(bytes)) {
    return Status::failure(what + ": UTF-16 text with an odd number of bytes",
                           0);
  }
  if (auto writers = writable_by_others(site, name)) {
    warning = *writers;
  } else if (auto replacers = replaceable_by_others(site)) {
    warning = *replacers;
  }
  for (const Text& key : keys) {
    Text value = read_key(file, section, key, L"\x1");
    values.push_back(value == Text(u"\x1") ? Text::null() : value);
  }
  return Status();
}

Text read_ini_key(const Site& site, const Text& name, const Text& section,
                  const Text& key) {
  const Text path = site.path_of(name);
  std::wstring file = full_path(path);
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return Text::null();
  }
  Text value = read_key(file, section, key, L"\x1");
  return value == Text(u"\x1") ? Text::null() : value;
}

}  // namespace runtime
