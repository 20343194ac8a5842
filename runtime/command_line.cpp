#include "runtime/command_line.h"

#include <algorithm>

namespace runtime {

std::string command_line_tail(int argc, const char* const* argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return tail.substr(
      std::min(tail.size(), tail.find_first_not_of(" \t\n\v\f\r")));
}

}  // namespace runtime
