// The parameter string on Windows, of tolmex and of a client: a tail of the
// process's own UTF-16 command line, so that no code page touches it.
#include "runtime/command_line.h"

#include <windows.h>

namespace runtime {

Text command_line(int /*argc*/, const char* const* /*argv*/) {
  const wchar_t* line = GetCommandLineW();
  return Text(windows_command_tail(reinterpret_cast<const char16_t*>(line)));
}

Text option_operand(int argc, const char* const* /*argv*/) {
  if (argc < 3) return Text::null();
  const wchar_t* line = GetCommandLineW();
  return Text(windows_option_operand(reinterpret_cast<const char16_t*>(line)));
}

Text client_parameters(int /*argc*/, const char* const* /*argv*/) {
  const wchar_t* line = GetCommandLineW();
  return client_command_tail(reinterpret_cast<const char16_t*>(line));
}

}  // namespace runtime
