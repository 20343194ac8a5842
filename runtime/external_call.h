// The call of a function in an outside library (portable; the bodies are
// implemented per platform). The application names each function it calls
// together with the body that stands in for the library (this program links
// its libraries in); the runtime offers the bodies it knows, such as
// runwait_entry(). A body's failure is returned as a Status; a function
// without a body raises the runtime error.
//
// Implemented: portable (runtime/external_call.cpp); the RunWait body per
// platform (platform/*/runwait_entry.cpp).
#ifndef TOLMEX_RUNTIME_EXTERNAL_CALL_H_
#define TOLMEX_RUNTIME_EXTERNAL_CALL_H_

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/process.h"
#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

// The body of an external function: a string and an unsigned 16-bit
// argument in, how the program it started ended out (its unsigned 16-bit
// result is ProgramEnd::status()), and why it failed. A body of an ";Ansi"
// entry converts the string to the 8-bit code set itself, just before it
// uses it.
using ExternalBody = std::function<Status(const Text& command_line,
                                          std::uint16_t show, ProgramEnd& end)>;

// Where an external function lives: the library and the entry, the entry
// followed by ";Ansi" (its string argument goes over as 8-bit text in the
// current code set; other entries cannot be called), and its body.
struct ExternalFunction {
  std::string library;
  std::string entry;
  ExternalBody body;
};

// Calls `function` with a string and an unsigned 16-bit argument; how the
// program it started ended goes to `end`, and its failure is returned.
Status external_call(const ExternalFunction& function, const Text& command_line,
                     std::uint16_t show, ProgramEnd& end);

// A body for a "RunWait;Ansi" entry, one per platform: starts the command
// line `command_line` and returns when the started program has ended, with
// how it ended in `end`. The program is the copy that `site` holds when
// the line begins with its path (runtime/program_copy.h); no other program
// is started. A failure says why the program could not
// be started, or could not be waited for (`end.started` tells which).
// `show` is a window show state.
Status runwait_entry(Site& site, const Text& command_line, std::uint16_t show,
                     ProgramEnd& end);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_EXTERNAL_CALL_H_
