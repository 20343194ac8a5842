// The program's UTF-16 text and the wide strings of the Windows API: the
// same code units (wchar_t is 16 bits on Windows); and a path made absolute
// as every service that needs it makes it. Never fails.
#ifndef TOLMEX_PLATFORM_WIN32_WIDE_H_
#define TOLMEX_PLATFORM_WIN32_WIDE_H_

#include <windows.h>

#include <string>

#include "runtime/text.h"

namespace runtime {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring wide(const Text& text) {
  const std::u16string& units = text.units();
  return std::wstring(units.begin(), units.end());
}

inline Text from_wide(const wchar_t* s, std::size_t n) {
  return Text(std::u16string(s, s + n));
}

inline Text from_wide(const std::wstring& s) {
  return from_wide(s.data(), s.size());
}

// `path` made absolute (GetFullPathNameW), naming the file that CreateFileW
// opens by `path`: an NT name "\??\..." goes to the Win32 functions as
// "\\?\...", the same name in the form they take as it is (as "\??\..."
// they would take it for a folder "??" on the current drive). The profile
// functions are given this, and the site check judges this.
inline std::wstring full_path(const Text& path) {
  std::wstring name = wide(path);
  if (name.starts_with(L"\\??\\")) name[1] = L'\\';
  DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return name;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return full;
}

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_WIN32_WIDE_H_
