#include "runtime/external_call.h"

#include "runtime/runtime_error.h"

namespace runtime {

std::uint16_t external_call(const ExternalFunction& function, const Text& var_0,
                            std::uint16_t var_1) {
  // The bodies are written for 8-bit text: only ";Ansi" entries fit.
  if (function.body == nullptr || !function.entry.ends_with(";Ansi")) {
    throw RuntimeError("cannot call external function " + function.entry +
                       " in " + function.library);
  }
  return function.body(var_0, var_1);
}

}  // namespace runtime
