// The program's UTF-16 text and the wide strings of the Windows API: the
// same code units (wchar_t is 16 bits on Windows). Never fails.
#ifndef TOLMEX_PLATFORM_WIN32_WIDE_H_
#define TOLMEX_PLATFORM_WIN32_WIDE_H_

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

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_WIN32_WIDE_H_
