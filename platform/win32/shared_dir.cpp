#include "platform/win32/shared_dir.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/win32/wide.h"
#include "runtime/code_set.h"
#include "runtime/status.h"

namespace runtime {
namespace {

// The system's installer service, owner of C:\ and the Windows folder.
constexpr const wchar_t* kTrustedInstaller =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The SID of this run's user, read once; null when the token cannot be
// read (then only the system's identities are trusted).
PSID this_user() {
  static std::vector<BYTE> user = [] {
    std::vector<BYTE> buf;
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      DWORD n = 0;
      GetTokenInformation(token, TokenUser, nullptr, 0, &n);
      buf.resize(n);
      if (n == 0 || !GetTokenInformation(token, TokenUser, buf.data(), n, &n)) {
        buf.clear();
      }
      CloseHandle(token);
    }
    return buf;
  }();
  return user.empty() ? nullptr
                      : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

std::string sid_text(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  std::string s = to_ansi(from_wide(text, std::wcslen(text)));
  LocalFree(text);
  return s;
}

bool trusted(PSID sid) {
  PSID user = this_user();
  return (user != nullptr && EqualSid(sid, user)) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinCreatorOwnerRightsSid) ||  // the owner's
         sid_text(sid) == to_ansi(from_wide(kTrustedInstaller,
                                            std::wcslen(kTrustedInstaller)));
}

// The account name of `sid`, else its text "S-1-...".
std::string name_of(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD n = 256, d = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &n, domain, &d, &use)) {
    return to_ansi(from_wide(name, std::wcslen(name)));
  }
  return sid_text(sid);
}

// The rights that give a say, for each question.
ACCESS_MASK counted(Question question) {
  const ACCESS_MASK always = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
  return question == Question::kContent
             ? always | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE
             : always | FILE_DELETE_CHILD;
}

// True when the open file `file` holds the bytes of the file `source`.
bool same_content(HANDLE file, const std::wstring& source) {
  HANDLE from = CreateFileW(source.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (from == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER a, b, zero = {};
  bool same = GetFileSizeEx(file, &a) && GetFileSizeEx(from, &b) &&
              a.QuadPart == b.QuadPart &&
              SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
  static char x[64 * 1024], y[64 * 1024];
  for (DWORD n = 1, m = 0; same && n > 0;) {
    same = ReadFile(file, x, sizeof x, &n, nullptr) &&
           ReadFile(from, y, n, &m, nullptr) && m == n &&
           std::memcmp(x, y, n) == 0;
  }
  CloseHandle(from);
  return same;
}

// The owner of the open object `object`: its name, whether it is trusted.
struct Owner {
  std::string name = "anyone";
  bool trusted = false;
};

Owner owner_of(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  Owner o;
  if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                      &owner, nullptr, nullptr, nullptr,
                      &sd) == ERROR_SUCCESS &&
      owner != nullptr) {
    o.name = name_of(owner);
    o.trusted = trusted(owner);
  }
  LocalFree(sd);
  return o;
}

// The attributes of the open object `object`, together with those its name
// `path` shows (a link to a directory shows as a reparse point by its name
// alone under some systems); INVALID_FILE_ATTRIBUTES where neither answers.
DWORD attributes_of(HANDLE object, const Text& path) {
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD by_name = GetFileAttributesW(wide(path).c_str());
  if (!GetFileInformationByHandle(object, &info)) return by_name;
  return info.dwFileAttributes |
         (by_name == INVALID_FILE_ATTRIBUTES ? 0 : by_name);
}

// The name of the machine `machine` (IMAGE_FILE_MACHINE_*).
std::string machine_name(WORD machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
      return "x86";
    case IMAGE_FILE_MACHINE_AMD64:
      return "x64";
    case IMAGE_FILE_MACHINE_ARM64:
      return "ARM64";
    case IMAGE_FILE_MACHINE_ARMNT:
      return "ARM";
    case IMAGE_FILE_MACHINE_IA64:
      return "Itanium";
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%04x", machine);
  return std::string("machine ") + hex;
}

// The machines whose programs this system runs, its own first.
std::vector<WORD> machines_run() {
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
      return {IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_I386};
    case PROCESSOR_ARCHITECTURE_ARM64:
      return {IMAGE_FILE_MACHINE_ARM64, IMAGE_FILE_MACHINE_AMD64,
              IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_ARMNT};
    case PROCESSOR_ARCHITECTURE_ARM:
      return {IMAGE_FILE_MACHINE_ARMNT};
    case PROCESSOR_ARCHITECTURE_IA64:
      return {IMAGE_FILE_MACHINE_IA64, IMAGE_FILE_MACHINE_I386};
  }
  return {IMAGE_FILE_MACHINE_I386};
}

// Reads `size` bytes at `offset` of the open file `file` into `to`.
bool read_at(HANDLE file, DWORD offset, void* to, DWORD size) {
  OVERLAPPED at = {};
  at.Offset = offset;
  DWORD n = 0;
  return ReadFile(file, to, size, &n, &at) && n == size;
}

// "" when the header of the open file `file` is that of a program this
// system starts; else what it is instead.
std::string image_refusal(HANDLE file, const std::string& shown) {
  IMAGE_DOS_HEADER dos = {};
  if (!read_at(file, 0, &dos, sizeof dos) ||
      dos.e_magic != IMAGE_DOS_SIGNATURE) {
    return shown + " is no Windows program (it does not start with MZ)";
  }
  // The signature, the file header and the optional header up to and with
  // its subsystem, which is where PE32 and PE32+ have it alike.
  struct NtStart {
    DWORD signature;
    IMAGE_FILE_HEADER file;
    WORD magic;
    BYTE up_to_subsystem[66];
    WORD subsystem;
  } nt = {};
  static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) == 68 &&
                offsetof(IMAGE_OPTIONAL_HEADER64, Subsystem) == 68 &&
                offsetof(NtStart, subsystem) == offsetof(NtStart, magic) + 68);
  if (dos.e_lfanew <= 0 ||
      !read_at(file, static_cast<DWORD>(dos.e_lfanew), &nt, sizeof nt) ||
      nt.signature != IMAGE_NT_SIGNATURE) {
    return shown +
           " is no Windows program (it starts with MZ but has no PE header: "
           "an MS-DOS program or a damaged file)";
  }
  const WORD flags = nt.file.Characteristics;
  if (flags & IMAGE_FILE_DLL) {
    return shown + " is a DLL, not a program that runs on its own";
  }
  if (!(flags & IMAGE_FILE_EXECUTABLE_IMAGE) ||
      (nt.magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC &&
       nt.magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)) {
    return shown +
           " is no executable image (an object file or a damaged "
           "program)";
  }
  const std::vector<WORD> machines = machines_run();
  bool runs = false;
  for (WORD m : machines) runs = runs || m == nt.file.Machine;
  if (!runs) {
    return shown + " is a program for " + machine_name(nt.file.Machine) +
           ", which this system (" + machine_name(machines.front()) +
           ") does not run";
  }
  if (nt.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI &&
      nt.subsystem != IMAGE_SUBSYSTEM_WINDOWS_CUI) {
    return shown + " is no Windows program (its subsystem is " +
           std::to_string(nt.subsystem) +
           ", neither the graphical nor the console one)";
  }
  return "";
}

}  // namespace

Say judge(HANDLE object, const std::string& shown, Question question) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD error =
      GetSecurityInfo(object, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &sd);
  Say say;
  if (error != ERROR_SUCCESS) {
    say.who = "anyone";
    say.reason = Status::failure("who may change " + shown + " cannot be read",
                                 static_cast<int>(error))
                     .message();
    return say;
  }
  if (owner == nullptr || !trusted(owner)) {
    say.who = owner == nullptr ? "anyone" : name_of(owner);
    say.reason = shown + " belongs to " + say.who;
    say.mend = "icacls \"" + shown + "\" /setowner Administrators";
  } else if (dacl == nullptr) {
    say.who = "Everyone";
    say.reason = shown + " has no access control list, so anyone may change it";
    say.mend = "icacls \"" + shown + "\" /reset";
  }
  for (DWORD i = 0; !say && dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
        (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & counted(question)) == 0 || trusted(sid)) continue;
    say.who = name_of(sid);
    say.reason = shown + " may be changed by " + say.who;
    say.mend =
        "icacls \"" + shown + "\" /inheritance:r /remove:g \"" + say.who + "\"";
  }
  LocalFree(sd);
  return say;
}

std::string take_over_refusal(HANDLE held, const Text& target,
                              const Text& source) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const bool ours =
      GetSecurityInfo(held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                      nullptr, nullptr, nullptr, &sd) == ERROR_SUCCESS &&
      owner != nullptr && this_user() != nullptr &&
      EqualSid(owner, this_user());
  const std::string owner_name = owner != nullptr ? name_of(owner) : "anyone";
  LocalFree(sd);
  if (!ours) {
    return "a program of " + owner_name + " is held open at " +
           to_ansi(target) + ", and only this user's copy is taken over";
  }
  if (!same_content(held, wide(source))) {
    return "another program than " + to_ansi(source) + " is held open there";
  }
  return "";
}

std::string place_refusal(const Text& dir) {
  std::wstring path = full_path(dir.units().empty() ? Text(u".") : dir);
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
    path.pop_back();
  }
  const std::string shown_dir = to_ansi(from_wide(path));
  // The directory, then each one above it, up to the root of its drive.
  for (;;) {
    HANDLE h = CreateFileW(
        path.c_str(), READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      Say say = judge(h, to_ansi(from_wide(path)), Question::kPlace);
      CloseHandle(h);
      if (say) {
        return say.reason + ": " + say.who +
               " can replace the public directory " + shown_dir +
               (say.mend.empty() ? "" : " (" + say.mend + ")");
      }
    }
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut < 2) break;
    std::wstring parent = path.substr(0, cut);
    if (parent.back() == L':') parent += L'\\';
    if (parent == path) break;
    path = parent;
  }
  return "";
}

std::string program_refusal(HANDLE file, const std::string& shown) {
  const Say say = judge(file, shown, Question::kContent);
  if (say) {
    return say.reason +
           ": tolmex starts only what nobody but this user, Administrators "
           "and SYSTEM may change" +
           (say.mend.empty() ? "" : " (" + say.mend + ")");
  }
  return image_refusal(file, shown);
}

std::string removal_refusal(const Text& path, DWORD error) {
  HANDLE h = CreateFileW(
      wide(path).c_str(), READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
      nullptr);
  const Owner owner = h == INVALID_HANDLE_VALUE ? Owner() : owner_of(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  const std::string shown = to_ansi(path);
  return Status::failure(
             shown + " belongs to " + owner.name + " and cannot be removed",
             shown, static_cast<int>(error))
      .message();
}

Leftover judge_leftover(const Text& path) {
  const std::wstring name = wide(path);
  auto open = [&](DWORD access) {
    return CreateFileW(
        name.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | access,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  Leftover left;
  HANDLE held = open(FILE_WRITE_ATTRIBUTES);
  if (held == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    held = open(0);
  }
  if (held == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return left;
    }
    if (error == ERROR_SHARING_VIOLATION) {
      left.state = Leftover::kInUse;
      return left;
    }
    // A name whose removal is pending can be neither opened nor looked at.
    if (error == ERROR_ACCESS_DENIED &&
        GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return left;
    }
    left.state = Leftover::kRefused;
    left.reason = removal_refusal(path, error);
    return left;
  }
  const std::string shown = to_ansi(path);
  const DWORD a = attributes_of(held, path);
  const Owner owner = owner_of(held);
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && !owner.trusted) {
    left.reason = shown + " is a link of " + owner.name +
                  ", which tolmex neither follows nor removes (remove it)";
  } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
    left.reason = shown + " is a directory";
  } else if ((a & FILE_ATTRIBUTE_READONLY) && !owner.trusted) {
    left.reason = shown + " belongs to " + owner.name +
                  " and is read-only, and tolmex changes nothing of others' "
                  "(remove it)";
  }
  if (!left.reason.empty()) {
    CloseHandle(held);
    left.state = Leftover::kRefused;
    return left;
  }
  left.state = Leftover::kRemovable;
  left.handle = held;
  return left;
}

std::wstring private_security() {
  if (this_user() == nullptr) return L"";
  return L"D:P(A;;FA;;;" + wide(from_ansi(sid_text(this_user()))) +
         L")(A;;FA;;;BA)(A;;FA;;;SY)";
}

HANDLE open_place(const Text& dir) {
  return CreateFileW(wide(dir).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

std::string link_refusal(HANDLE held, const Text& dir) {
  if (held == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return "";
    }
    return Status::failure(to_ansi(dir) + " cannot be judged", to_ansi(dir),
                           static_cast<int>(error))
        .message();
  }
  const DWORD a = attributes_of(held, dir);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return "";
  }
  const Owner owner = owner_of(held);
  if (owner.trusted) return "";
  return to_ansi(dir) + " is a link of " + owner.name +
         ", which tolmex does not follow (remove it)";
}

}  // namespace runtime
