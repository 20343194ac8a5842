// A Windows payment client for the tests of tolmex.exe under Wine. Started
// as <dir>\mart.exe with the parameter string, it appends to <dir>\ran.txt
// one line in UTF-8: its whole command line, then TAB and the eight result
// keys as it finds them (each "name=value", separated by TAB), then TAB and
// "read-only=1" or "read-only=0": whether the file it runs from has the
// read-only attribute. Then it writes result=SUCCESS and the request's order
// number (field 3) as out_trade_no into the section "return" of
// <dir>\tolmex.ini. It takes its directory from its own path, so it works
// wherever it is copied. With field 4 "helper" (or "helper-wait", "away",
// "away-wait") it also starts <dir>\helper.exe (a copy of itself), which
// writes <dir>\helper.txt two seconds later.
#include <windows.h>

#include <string>

namespace {

std::string utf8(const std::wstring& w) {
  if (w.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                              nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

// Field `n` of the parameter string, counted as tolmex counts them.
std::wstring field(const std::wstring& request, int n) {
  std::wstring s = L"," + request + L",";
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    start = s.find(L',', start);
    if (start == std::wstring::npos) return L"";
    ++start;
  }
  std::size_t end = s.find(L',', start);
  return end == std::wstring::npos ? L"" : s.substr(start, end - start);
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.find_last_of(L'\\') + 1);
  const std::wstring ini = dir + L"tolmex.ini";

  std::wstring line = GetCommandLineW();
  // As helper.exe beside the client: a program the client leaves running,
  // which writes helper.txt after two seconds.
  if (line.find(L" --helper") != std::wstring::npos) {
    Sleep(2000);
    CloseHandle(CreateFileW((dir + L"helper.txt").c_str(), GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    return 0;
  }
  // The request follows the first "mart.exe " (P may hold blanks).
  std::size_t name = line.find(L"mart.exe ");
  std::wstring request =
      name == std::wstring::npos ? L"" : line.substr(name + 9);
  // Field 4 "helper" starts helper.exe and ends; "helper-wait" starts it
  // and runs on for ten seconds; "away" and "away-wait" do the same with
  // the helper out of the client's job (CREATE_BREAKAWAY_FROM_JOB). The helper starts
  // before the line in ran.txt, so a test that sees the line may end the
  // client.
  const std::wstring helper = field(request, 4);
  const bool away = helper == L"away" || helper == L"away-wait";
  if (helper == L"helper" || helper == L"helper-wait" || away) {
    std::wstring command = L"helper.exe --helper";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW((dir + L"helper.exe").c_str(), command.data(), nullptr,
                       nullptr, FALSE,
                       away ? CREATE_BREAKAWAY_FROM_JOB : 0,
                       nullptr, nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  std::string record = utf8(line);
  for (const wchar_t* key :
       {L"result", L"sub_code", L"sub_desc", L"trade_no", L"out_trade_no",
        L"buyer_user_id", L"buyer_logon_id", L"total_amount"}) {
    wchar_t value[256];
    DWORD len = GetPrivateProfileStringW(L"return", key, L"(none)", value, 256,
                                         ini.c_str());
    record += '\t';
    record += utf8(key);
    record += '=';
    record += utf8(std::wstring(value, len));
  }
  record += GetFileAttributesW(self) & FILE_ATTRIBUTE_READONLY
                ? "\tread-only=1\n"
                : "\tread-only=0\n";
  HANDLE out = CreateFileW((dir + L"ran.txt").c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written;
  WriteFile(out, record.data(), static_cast<DWORD>(record.size()), &written,
            nullptr);
  CloseHandle(out);

  WritePrivateProfileStringW(L"return", L"result", L"SUCCESS", ini.c_str());
  WritePrivateProfileStringW(L"return", L"out_trade_no",
                             field(request, 3).c_str(), ini.c_str());
  if (helper == L"helper-wait" || helper == L"away-wait") Sleep(10000);
  return 0;
}
