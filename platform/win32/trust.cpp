#include "platform/win32/trust.h"

#include <aclapi.h>
#include <sddl.h>

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

}  // namespace

OthersSay others_say(HANDLE object, const std::string& shown,
                     Question question) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD error =
      GetSecurityInfo(object, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &sd);
  OthersSay say;
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
  std::wstring path = wide(dir.units().empty() ? Text(u".") : dir);
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n != 0) {
    std::wstring full(n, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), n, full.data(), nullptr));
    path = full;
  }
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
      OthersSay say = others_say(h, to_ansi(from_wide(path)), Question::kPlace);
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

}  // namespace runtime
