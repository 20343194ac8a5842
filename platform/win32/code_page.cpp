// The 8-bit code set on Windows: the ANSI code page. Lone surrogates
// U+DC80..U+DCFF stand for their bytes, as on POSIX systems.
#include <windows.h>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/utf8.h"

namespace runtime {
namespace {

std::string narrow_run(std::u16string_view units) {
  if (units.empty()) return "";
  const wchar_t* w = reinterpret_cast<const wchar_t*>(units.data());
  int size = static_cast<int>(units.size());
  int n = WideCharToMultiByte(CP_ACP, 0, w, size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, size, out.data(), n, "?", nullptr);
  return out;
}

}  // namespace

Status init_locale() { return Status(); }

Text from_ansi(std::string_view bytes) {
  if (bytes.empty()) return Text(u"");
  int size = static_cast<int>(bytes.size());
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, out.data(), n);
  return from_wide(out);
}

std::string to_ansi(const Text& text) {
  std::u16string_view units = text.units();
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= units.size(); ++i) {
    if (i == units.size() || is_escape(units[i])) {
      out += narrow_run(units.substr(start, i - start));
      if (i < units.size())
        out.push_back(static_cast<char>(units[i] - kEscapeBase));
      start = i + 1;
    }
  }
  return out;
}

}  // namespace runtime
