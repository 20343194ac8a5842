// The diagnostic trace: a file that lines are appended to when the
// environment variable TOLMEX_TRACE names one; off when it is unset. Writing
// to it never fails the run: a trace that cannot be written is skipped.
//
// Implemented: trace() per platform (platform/*/trace.cpp), the rest portable
// (runtime/trace.cpp).
#ifndef TOLMEX_RUNTIME_TRACE_H_
#define TOLMEX_RUNTIME_TRACE_H_

#include <cstdint>
#include <string>

namespace runtime {

// Appends `line` and a line feed to the trace, when it is on.
void trace(const std::string& line);

// The code by which a class marks its trace lines, e.g. 0x7cc. Every
// application class (`n_string`, `nvo_*`, `tolmex`) carries a code of its
// own, even those whose routines call no other object and so never write the line:
// the code belongs to the class, and a routine that comes to make such a
// call finds it there.
using TraceCode = std::uint16_t;

// Writes "*** WE HAVE A PROBLEM HERE. Error = <code in hex> ***": the line a
// routine of the class `caller` writes when its call of another object fails.
void trace_failed_call(TraceCode caller);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_TRACE_H_
