// A Windows program for the differential tests of the INI writer: it reads
// INI files through the platform's own profile functions, so that run under
// Wine it shows what a Windows host would read.
//
//   profile_probe JOBS
//
// JOBS holds one job per line, fields separated by TAB:
//   D <file> [<section> <key>...]     dump what the platform reads, and
//                                     look the keys given up as well
//   G <file> <section> <key>          look one key up
//   J <file>                          the outcome keys of the section
//                                     "return" as tolmex --result prints
//                                     them, read by GetPrivateProfileStringW
//   N <hex>                           WideCharToMultiByte(CP_ACP) of the
//                                     UTF-16LE bytes <hex>
//   R <hex>                           starts the UTF-16LE command line
//                                     <hex> and waits for it
//   H <file> <ms>                     holds <file> open for itself alone
//   S <file> <ms>                     the same, letting others read it
//                                     for <ms> milliseconds
// A dump prints "F <file>", then "<section> TAB <key> TAB <value>" for each
// key of each section as the lookup of that key returns it ("\x01" when it
// returns the default), then the same for the keys given, then "E". (The
// platform's list of keys ends early at a key of no name.) A lookup prints "G
// TAB <value>", the outcome "J TAB <JSON>" ("J TAB !" where a value is no
// UTF-16 text), a conversion "N TAB <hex of the bytes>", a start "R TAB
// <exit code>", a hold "H TAB 1" once it holds the file ("H TAB 0" when it
// cannot open it).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

// The UTF-16LE units whose bytes `hex` spells.
std::wstring utf16(const std::string& hex) {
  std::wstring units;
  for (std::size_t i = 0; i + 3 < hex.size(); i += 4) {
    units += static_cast<wchar_t>(
        std::stoi(hex.substr(i + 2, 2) + hex.substr(i, 2), nullptr, 16));
  }
  return units;
}

// Room for any value or list, kept for the whole run: zeroing one for each
// lookup would cost more than the lookup.
char buf[1 << 20];

// The `n` characters of a list of NUL-terminated strings in `buf`; an empty
// one is a name too (of a line such as "=x"), not the end of the list.
std::vector<std::string> names(DWORD n) {
  std::vector<std::string> out;
  for (DWORD at = 0; at < n; at += static_cast<DWORD>(out.back().size()) + 1) {
    out.push_back(&buf[at]);
  }
  return out;
}

const char* lookup(const std::string& file, const std::string& section,
                   const std::string& key) {
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", buf,
                           sizeof buf, file.c_str());
  return buf;
}

// The eight outcome keys as one JSON object in UTF-8; "!" where a value
// holds half of a UTF-16 pair.
std::string outcome_json(const std::string& file) {
  static const wchar_t* const kKeys[] = {
      L"result",       L"sub_code",      L"sub_desc",       L"trade_no",
      L"out_trade_no", L"buyer_user_id", L"buyer_logon_id", L"total_amount"};
  static wchar_t value[1 << 20];
  std::wstring path(file.begin(), file.end());
  std::string json = "{";
  for (const wchar_t* key : kKeys) {
    if (json.size() > 1) json += ',';
    json += '"' + std::string(key, key + wcslen(key)) + "\":";
    const DWORD n = GetPrivateProfileStringW(L"return", key, L"\x01", value,
                                             1 << 20, path.c_str());
    if (n == 1 && value[0] == 1) {
      json += "null";
      continue;
    }
    static char utf8[4 << 20];
    const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, value,
                                         static_cast<int>(n), utf8, 4 << 20,
                                         nullptr, nullptr);
    if (n > 0 && size == 0) return "!";
    json += '"';
    for (char c : std::string(utf8, static_cast<std::size_t>(size))) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      json += c == '"' || c == '\\'                  ? std::string{'\\', c}
              : static_cast<unsigned char>(c) < 0x20 ? std::string(hex)
                                                     : std::string(1, c);
    }
    json += '"';
  }
  return json + "}";
}

void dump(const std::vector<std::string>& job) {
  const std::string& file = job[1];
  std::printf("F\t%s\n", file.c_str());
  auto print = [&](const std::string& section, const std::string& key) {
    std::printf("%s\t%s\t%s\n", section.c_str(), key.c_str(),
                lookup(file, section, key));
  };
  const DWORD n = GetPrivateProfileSectionNamesA(buf, sizeof buf, file.c_str());
  for (const std::string& section : names(n)) {
    const DWORD k = GetPrivateProfileStringA(section.c_str(), nullptr, "", buf,
                                             sizeof buf, file.c_str());
    for (const std::string& key : names(k)) print(section, key);
  }
  for (std::size_t i = 3; i < job.size(); ++i) print(job[2], job[i]);
  std::printf("E\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: profile_probe JOBS\n");
    return 2;
  }
  std::ifstream jobs(argv[1], std::ios::binary);
  std::string line;
  while (std::getline(jobs, line)) {
    std::vector<std::string> f = split(line, '\t');
    if (f[0] == "D" && f.size() >= 2) {
      dump(f);
    } else if (f[0] == "J" && f.size() == 2) {
      std::printf("J\t%s\n", outcome_json(f[1]).c_str());
    } else if (f[0] == "G" && f.size() == 4) {
      std::printf("G\t%s\n", lookup(f[1], f[2], f[3]));
    } else if (f[0] == "R" && f.size() == 2) {
      std::wstring command = utf16(f[1]);
      STARTUPINFOW startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process = {};
      DWORD code = 9999;
      if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                         nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
      }
      std::printf("R\t%lu\n", code);
    } else if ((f[0] == "H" || f[0] == "S") && f.size() == 3) {
      HANDLE file = CreateFileA(f[1].c_str(), GENERIC_READ,
                                f[0] == "S" ? FILE_SHARE_READ : 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      std::printf("%s\t%d\n", f[0].c_str(), file != INVALID_HANDLE_VALUE);
      std::fflush(stdout);
      Sleep(std::stoul(f[2]));
      CloseHandle(file);
    } else if (f[0] == "N" && f.size() == 2) {
      std::wstring units = utf16(f[1]);
      int n = WideCharToMultiByte(CP_ACP, 0, units.data(),
                                  static_cast<int>(units.size()), nullptr, 0,
                                  nullptr, nullptr);
      std::string bytes(static_cast<std::size_t>(n), '\0');
      WideCharToMultiByte(CP_ACP, 0, units.data(),
                          static_cast<int>(units.size()), bytes.data(), n,
                          nullptr, nullptr);
      std::printf("N\t");
      for (unsigned char c : bytes) std::printf("%02x", c);
      std::printf("\n");
    } else {
      std::fprintf(stderr, "profile_probe: bad job: %s\n", line.c_str());
      return 2;
    }
  }
  return 0;
}
