#include "runtime/external_call.h"

#include "runtime/runtime_error.h"

namespace runtime {

Status external_call(const ExternalFunction& function, const Text& command_line,
                     std::uint16_t show, ProgramEnd& end) {
  // The bodies are written for 8-bit text: only ";Ansi" entries fit.
  if (function.body == nullptr || !function.entry.ends_with(";Ansi")) {
    throw RuntimeError("cannot call external function " + function.entry +
                       " in " + function.library);
  }
  return function.body(command_line, show, end);
}

}  // namespace runtime
