// The system log: a line for the operator, sent to the local syslog daemon
// through its socket /dev/log the way syslog(3) sends one (facility user,
// level info, the sender's name and process id). Its failures are ignored
// and it never blocks: where no daemon listens, or its queue is full, the
// line is dropped, since the run it tells of must not wait or fail for it.
//
// Implemented: per platform (platform/*/system_log.cpp).
#ifndef TOLMEX_RUNTIME_SYSTEM_LOG_H_
#define TOLMEX_RUNTIME_SYSTEM_LOG_H_

#include <string_view>

namespace runtime {

// Sends `message` under the name `ident` (shown as "ident[pid]").
void write_system_log(std::string_view ident, std::string_view message);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SYSTEM_LOG_H_
