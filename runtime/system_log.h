// The system log: a record for the operator. On POSIX systems it goes to
// the journal through its native protocol (the datagram socket
// /run/systemd/journal/socket: the line as MESSAGE, in UTF-8, and the
// record's fields each as a field of its own), and where no journal
// listens to the local syslog daemon through its socket /dev/log the way
// syslog(3) sends one (facility user, level info, the sender's name and
// process id), in the current code set; on Windows it is an information
// event of the Application log, in UTF-16, whose insertion strings are the
// line and the fields' values. Its failures are ignored and it never
// blocks: where no daemon or event log service listens, or its queue is
// full, the record is dropped, since the run it tells of must not wait or
// fail for it.
//
// Implemented: per platform (platform/*/system_log.cpp).
#ifndef TOLMEX_RUNTIME_SYSTEM_LOG_H_
#define TOLMEX_RUNTIME_SYSTEM_LOG_H_

#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace runtime {

// The characters beyond the controls that the log's readers would take for
// its syntax in a quoted path, escaped in the audit line: on POSIX systems
// the quote and the backslash (tools parse syslog lines, and "\x5c" keeps
// each escape unambiguous); on Windows none, so that Event Viewer shows a
// path with its own backslashes.
extern const std::string_view kSystemLogEscaped;

// A field of a record besides its line: a name such as "TOLMEX_RESULT"
// (upper-case letters, digits and "_") and its value, which the line
// carries as well; null leaves the field out (on Windows: an empty
// insertion string).
struct LogField {
  std::string name;
  Text value;
};

// Sends `message` under the name `ident` (shown as "ident[pid]"; on
// Windows the event's source), with `fields`.
void write_system_log(std::string_view ident, const Text& message,
                      const std::vector<LogField>& fields = {});

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SYSTEM_LOG_H_
