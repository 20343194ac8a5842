// The parameter string on POSIX systems, of tolmex and of a client: the
// arguments, from the locale's code set.
#include "runtime/command_line.h"

#include "runtime/code_set.h"

namespace runtime {

Text command_line(int argc, const char* const* argv) {
  return from_ansi(command_line_tail(argc, argv));
}

Text option_operand(int argc, const char* const* argv) {
  return argc == 3 ? from_ansi(argv[2]) : Text::null();
}

std::vector<Text> option_operands(int argc, const char* const* argv) {
  std::vector<Text> operands;
  for (int i = 2; i < argc; ++i) operands.push_back(from_ansi(argv[i]));
  return operands;
}

Text client_parameters(int argc, const char* const* argv) {
  return argc < 2 ? Text::null() : from_ansi(argv[1]);
}

}  // namespace runtime
