// The site of a request: its public directory P, opened once when the value
// is made, and everything the request holds there until the value ends (the
// line files open, the copy of the client it runs, the INI writes kept for
// the flush, and the verdict on each file it opened). Every file service
// (runtime/files.h, runtime/ini_file.h, runtime/program_copy.h) takes the
// site and a name below it: the name is what follows P in the request's
// spelling ("tolmex.ini", "logpay\pay_log20261209.txt", or "\logpay" for a
// P without a final separator), so a name is never cut back from a path.
//
// Making a site does not fail: a directory that cannot be opened (or that
// is reached only through a link someone outside the trusted chose) is kept
// as the reason, and every service then fails with it. On POSIX systems the
// directory and each directory above it are judged once, when the site is
// made (platform/posix/shared_dir.h); on Windows a name is resolved when it
// is opened, and the site holds P, the handles and the writes.
//
// Not for several threads. Implemented: per platform (platform/*/site.cpp).
#ifndef TOLMEX_RUNTIME_SITE_H_
#define TOLMEX_RUNTIME_SITE_H_

#include <memory>
#include <vector>

#include "runtime/ini_text.h"
#include "runtime/status.h"
#include "runtime/text.h"

namespace runtime {

class Site {
 public:
  // The site of the public directory `public_path`, as field 2 of a request
  // spells it (empty: the current directory).
  explicit Site(const Text& public_path);
  ~Site();
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  const Text& public_path() const { return public_path_; }

  // The path of `name` as the request spells it: P followed by `name`.
  Text path_of(const Text& name) const { return public_path_ + name; }

  // True for tolmex --check: every service opens and judges what a request
  // would, and stops where the request would write (no file is made,
  // written, locked or removed), with the Status the write would meet.
  bool withhold_writes = false;

  // The key writes kept for the next flush (runtime/ini_file.cpp).
  struct PendingWrites {
    Text name;
    std::vector<IniEdit> edits;
    Status failure;  // the first failure of an earlier flush, not returned
  };
  PendingWrites pending;

  // The platform's part: the directory, the open files, the copy held.
  struct Hold;
  Hold& hold() const { return *hold_; }

 private:
  Text public_path_;
  std::unique_ptr<Hold> hold_;
};

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SITE_H_
