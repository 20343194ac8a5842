// The system log on Windows: one information event in the Application log
// under the source `ident`. A site where that source was never registered
// still gets the event (the log shows it with a note that the source's
// texts are missing); where no event log service answers, it is dropped.
#include "runtime/system_log.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"

namespace runtime {

void write_system_log(std::string_view ident, std::string_view message) {
  const std::wstring source = wide(from_ansi(ident));
  HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
  if (log == nullptr) return;
  const std::wstring text = wide(from_ansi(message));
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings,
               nullptr);
  DeregisterEventSource(log);
}

}  // namespace runtime
