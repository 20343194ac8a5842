// The one judgement of trust on Windows, as platform/posix/shared_dir.h is
// on POSIX systems (the same Say, the same trusted: this run's user and the
// system's own): who outside the trusted has a say over a file or directory,
// from its owner and its access control list (DACL), read through a handle
// already open (GetSecurityInfo), so that the object judged is the object used.
// The trusted are this run's user, the Administrators group, SYSTEM and the
// system's installer service (TrustedInstaller, which owns the system's own
// folders such as C:\). A request and tolmex --check ask these same functions.
// None of them throws; what cannot be read is an answer of its own (see each
// function).
//
// Implemented: platform/win32/shared_dir.cpp.
#ifndef TOLMEX_PLATFORM_WIN32_SHARED_DIR_H_
#define TOLMEX_PLATFORM_WIN32_SHARED_DIR_H_

#include <windows.h>

#include <string>

#include "runtime/text.h"

namespace runtime {

// What is asked of an object.
enum class Question {
  kContent,  // who could change what it holds, or delete and replace it
  kPlace,    // who could replace it or the entries in it (a directory)
};

// Someone outside the trusted who has a say over an object, or nobody.
struct Say {
  std::string who;     // "Everyone", "pos-user"; empty: nobody
  std::string reason;  // "C:\pos\mart.dll belongs to pos-user", "... may
                       // be changed by Everyone", or why it cannot be told
  std::string mend;    // an icacls command that takes the say from them
  explicit operator bool() const { return !who.empty(); }
};

// The answer for the open object `object` (opened with READ_CONTROL), shown
// as `shown`: its owner when that is not trusted, else the first other
// principal that its DACL allows (not only for inheriting) a right that
// `question` counts: for kContent writing, appending, deleting, changing
// the DACL or the owner; for kPlace deleting it or its entries, changing
// the DACL or the owner. An object whose security cannot be read, or that
// has no DACL, is everyone's.
Say judge(HANDLE object, const std::string& shown, Question question);

// "" when the program `held` (open for reading) found at `target` may be
// taken over as another run's copy of `source`: it belongs to this run's
// user and holds the bytes of `source`. Else the reason.
std::string take_over_refusal(HANDLE held, const Text& target,
                              const Text& source);

// "" when nobody outside the trusted could replace the directory `dir` or
// the files in it, judging it and each directory above it that can be
// opened; else the reason, saying that they "can replace the public
// directory", and its mend.
std::string place_refusal(const Text& dir);

// "" when the file `file` (open for reading, shown as `shown`) is a program
// that a request may copy and start: nobody outside the trusted has a say
// over it, and its header is that of a Windows program (an executable
// image, not a DLL) for a machine this system runs. Else the reason, its
// mend included. The request and tolmex --check both ask this.
std::string program_refusal(HANDLE file, const std::string& shown);

// What is at a name that a request frees for its copy (mart.exe), judged
// from a handle that has it open for deleting, reading its owner and
// attributes (and changing them where this user may), sharing all, and
// not following a link (a reparse point).
struct Leftover {
  enum State {
    kNone,       // nothing is there (or its removal is pending)
    kInUse,      // held without delete sharing, as a run holds its copy
    kRefused,    // not this run's to remove: `reason` says why
    kRemovable,  // this run's to remove, through `handle`
  };
  State state = kNone;
  HANDLE handle = INVALID_HANDLE_VALUE;  // kRemovable; the caller closes it
  std::string reason;  // kRefused: names the owner, such as "C:\pos\mart.exe
                       // belongs to pos-user and cannot be removed: ..."
};

// The judgement of what is at `path`: removable unless it is a directory,
// a link of someone outside the trusted, a read-only file of theirs (whose
// attribute this run does not change), or a name this user may not delete.
Leftover judge_leftover(const Text& path);

// The reason why what is at `path` could not be removed, for the reason
// `error`: "... belongs to <owner> and cannot be removed: <reason>".
std::string removal_refusal(const Text& path, DWORD error);

// The security, in SDDL, of a file that only this run's user,
// Administrators and SYSTEM may use, inheriting nothing from its
// directory; "" where this run's user cannot be read.
std::wstring private_security();

// The directory `dir` that a request writes into (logpay), opened without
// following a link and without delete sharing, so that nobody renames or
// removes it while it is held. INVALID_HANDLE_VALUE with GetLastError()
// where it cannot be opened so.
HANDLE open_place(const Text& dir);

// "" when what `held` (from open_place()) has open at `dir` is no link (a
// reparse point) of someone outside the trusted, or when nothing is there;
// else the reason, which names its owner. A link of the trusted is
// followed. An INVALID_HANDLE_VALUE `held` is asked right after the open
// that failed, whose error is then the reason.
std::string link_refusal(HANDLE held, const Text& dir);

}  // namespace runtime

#endif  // TOLMEX_PLATFORM_WIN32_SHARED_DIR_H_
