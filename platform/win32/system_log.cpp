// The system log on Windows: there is no syslog socket, so the line is
// dropped, as where no daemon listens.
#include "runtime/system_log.h"

namespace runtime {

void write_system_log(std::string_view /*ident*/,
                      std::string_view /*message*/) {}

}  // namespace runtime
