// The system log on Windows: one information event in the Application log
// under the source `ident`, its text in UTF-16 as the run has it. The event
// carries the message of tolmex.exe's message table whose text is the
// event's one string ("%1", platform/win32/messages.mc), so that Event
// Viewer shows the text where the installer registered tolmex.exe as the
// source's message file. A site where that source was never registered
// still gets the event (the log shows it with a note that the source's
// texts are missing); where no event log service answers, it is dropped.
#include "runtime/system_log.h"

#include <windows.h>

#include <string>

#include "messages.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"

namespace runtime {

const std::string_view kSystemLogEscaped = "";

void write_system_log(std::string_view ident, const Text& message) {
  const std::wstring source = wide(from_ansi(ident));
  HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
  if (log == nullptr) return;
  const std::wstring text = wide(message);
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, TOLMEX_EVENT_TEXT, nullptr, 1,
               0, strings, nullptr);
  DeregisterEventSource(log);
}

}  // namespace runtime
