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

std::vector<Text> option_operands(int argc, const char* const* /*argv*/) {
  if (argc < 3) return {};
  const wchar_t* line = GetCommandLineW();
  std::vector<Text> operands;
  for (std::u16string& operand :
       windows_option_operands(reinterpret_cast<const char16_t*>(line))) {
    operands.emplace_back(std::move(operand));
  }
  return operands;
}

Text client_parameters(int /*argc*/, const char* const* /*argv*/) {
  const wchar_t* line = GetCommandLineW();
  return client_command_tail(reinterpret_cast<const char16_t*>(line));
}

}  // namespace runtime
