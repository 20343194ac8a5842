// The call of a function in an outside library. The one library this program
// calls, "runwait.dll" with its entry "RunWait", is built in. A library or
// entry that cannot be resolved raises the runtime error.
#ifndef TOLMEX_RUNTIME_EXTERNAL_CALL_H_
#define TOLMEX_RUNTIME_EXTERNAL_CALL_H_

#include <cstdint>
#include <string>

#include "runtime/text.h"

namespace runtime {

// Where an external function lives: the library and the entry, the entry
// optionally followed by ";Ansi" (its string argument then goes over as 8-bit
// text in the current code set).
struct ExternalFunction {
  std::string library;
  std::string entry;
};

// Calls `function` with a string and an unsigned 16-bit argument and returns
// its unsigned 16-bit result. RunWait answers kNotStarted (runtime/process.h)
// when the program could not be started, and last_failure() says why.
std::uint16_t external_call(const ExternalFunction& function, const Text& var_0,
                            std::uint16_t var_1);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_EXTERNAL_CALL_H_
