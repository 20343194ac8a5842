// The call of a function in an outside library. The application names each
// function it calls together with the body that stands in for the library
// (this program links its libraries in); the runtime offers the bodies it
// knows, such as run_wait_entry(). A function without a body raises the
// runtime error.
#ifndef TOLMEX_RUNTIME_EXTERNAL_CALL_H_
#define TOLMEX_RUNTIME_EXTERNAL_CALL_H_

#include <cstdint>
#include <string>

#include "runtime/text.h"

namespace runtime {

// The body of an external function: a string and an unsigned 16-bit
// argument in, an unsigned 16-bit result out. A body of an ";Ansi" entry
// converts the string to the 8-bit code set itself, just before it uses it.
using ExternalBody = std::uint16_t (*)(const Text& var_0, std::uint16_t var_1);

// Where an external function lives: the library and the entry, the entry
// followed by ";Ansi" (its string argument goes over as 8-bit text in the
// current code set; other entries cannot be called), and its body.
struct ExternalFunction {
  std::string library;
  std::string entry;
  ExternalBody body = nullptr;
};

// Calls `function` with a string and an unsigned 16-bit argument and returns
// its unsigned 16-bit result.
std::uint16_t external_call(const ExternalFunction& function, const Text& var_0,
                            std::uint16_t var_1);

// A body for a "RunWait;Ansi" entry, one per platform: starts the command
// line `command_line` (on POSIX systems converted to the current code set
// and cut as a Windows process start cuts it) and
// returns when the started program has ended, with its exit status (128 +
// the signal number when a signal ended it), or kNotStarted
// (runtime/process.h) when it could not be started; last_failure() then
// says why. `show`, a window show state, has no meaning here.
std::uint16_t run_wait_entry(const Text& command_line, std::uint16_t show);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_EXTERNAL_CALL_H_
