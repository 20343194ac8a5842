// The system log on Windows: one information event in the Application log
// under the source `ident`, its text in UTF-16 as the run has it. The event
// carries a message of tolmex.exe's message table whose text is the
// event's first string ("%1", platform/win32/messages.mc), so that Event
// Viewer shows the text where the installer registered tolmex.exe as the
// source's message file; the fields' values follow as insertion strings
// (TOLMEX_EVENT_OUTCOME), which the event's data lists. A site where that
// source was never registered still gets the event (the log shows it with a
// note that the source's texts are missing); where no event log service
// answers, it is dropped.
#include "runtime/system_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "messages.h"
#include "platform/win32/wide.h"
#include "runtime/code_set.h"

namespace runtime {

const std::string_view kSystemLogEscaped = "";

void write_system_log(std::string_view ident, const Text& message,
                      const std::vector<LogField>& fields) {
  const std::wstring source = wide(from_ansi(ident));
  HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
  if (log == nullptr) return;
  std::vector<std::wstring> texts{wide(message)};
  for (const LogField& field : fields) texts.push_back(wide(field.value));
  std::vector<const wchar_t*> strings;
  for (const std::wstring& text : texts) strings.push_back(text.c_str());
  ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0,
               fields.empty() ? TOLMEX_EVENT_TEXT : TOLMEX_EVENT_OUTCOME,
               nullptr, static_cast<WORD>(strings.size()), 0, strings.data(),
               nullptr);
  DeregisterEventSource(log);
}

}  // namespace runtime
