// The 8-bit code set on Windows: the ANSI code page, converted exactly as
// the platform converts: a surrogate pair is one character, a lone
// surrogate the code page's default character. Text here comes from the
// platform's UTF-16 (the command line, the profile functions), so no unit
// stands for a byte, as the lone surrogates U+DC80..U+DCFF do on POSIX
// systems.
#include <windows.h>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"

namespace runtime {

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
  if (units.empty()) return "";
  const wchar_t* w = reinterpret_cast<const wchar_t*>(units.data());
  int size = static_cast<int>(units.size());
  int n = WideCharToMultiByte(CP_ACP, 0, w, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, size, out.data(), n, nullptr, nullptr);
  return out;
}

bool is_lead_byte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

}  // namespace runtime
