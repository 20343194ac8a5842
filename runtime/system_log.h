// The system log: a line for the operator. On POSIX systems it is sent to
// the local syslog daemon through its socket /dev/log the way syslog(3)
// sends one (facility user, level info, the sender's name and process id),
// in the current code set; on Windows it is an information event of the
// Application log, in UTF-16. Its failures are ignored and it never
// blocks: where no daemon or event log service listens, or its queue is
// full, the line is dropped, since the run it tells of must not wait or
// fail for it.
//
// Implemented: per platform (platform/*/system_log.cpp).
#ifndef TOLMEX_RUNTIME_SYSTEM_LOG_H_
#define TOLMEX_RUNTIME_SYSTEM_LOG_H_

#include <string_view>

#include "runtime/text.h"

namespace runtime {

// The characters beyond the controls that the log's readers would take for
// its syntax in a quoted path, escaped in the audit line: on POSIX systems
// the quote and the backslash (tools parse syslog lines, and "\x5c" keeps
// each escape unambiguous); on Windows none, so that Event Viewer shows a
// path with its own backslashes.
extern const std::string_view kSystemLogEscaped;

// Sends `message` under the name `ident` (shown as "ident[pid]"; on
// Windows the event's source).
void write_system_log(std::string_view ident, const Text& message);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SYSTEM_LOG_H_
