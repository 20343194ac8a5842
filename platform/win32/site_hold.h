// What a request's site (runtime/site.h) holds on Windows: the line files
// open and the copies of the client in use, by their handles, closed when
// the site ends. Names are resolved when they are opened, so the site
// holds no directory. Nothing here fails.
#ifndef TOLMEX_PLATFORM_WIN32_SITE_HOLD_H_
#define TOLMEX_PLATFORM_WIN32_SITE_HOLD_H_

#include <windows.h>

#include <map>
#include <string>

#include "runtime/site.h"

struct runtime::Site::Hold {
  Hold() = default;
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold() {
    for (const auto& [number, file] : files) CloseHandle(file);
    for (const auto& [path, file] : copies) CloseHandle(file);
  }
  std::map<int, HANDLE> files;  // the line files open, by file number
  // The program files in use, each held open for reading with no sharing
  // but reading, so that no other run deletes or replaces it between its
  // copy and its start, as nobody can while it runs.
  std::map<std::wstring, HANDLE> copies;
};

#endif  // TOLMEX_PLATFORM_WIN32_SITE_HOLD_H_
