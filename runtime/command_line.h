// The command-line tail: the host's parameter string as the process received
// it. Never fails.
#ifndef TOLMEX_RUNTIME_COMMAND_LINE_H_
#define TOLMEX_RUNTIME_COMMAND_LINE_H_

#include <string>

namespace runtime {

// The arguments after the program name joined by single spaces, with the
// white space at its start cut (blank, tab, LF, VT, FF, CR); white space at
// its end stays. A host that passes the parameter string as one argument gets
// it back byte for byte.
std::string command_line_tail(int argc, const char* const* argv);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_COMMAND_LINE_H_
