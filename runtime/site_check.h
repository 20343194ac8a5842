// The platform's part of the site check of `tolmex --check P`
// (app/site_check.h): what this system says of the files a request would
// use, through the functions a request uses, with every write replaced by
// what it would find. It touches nothing: no file is made, written, locked
// or removed (on POSIX systems an unnamed file, which never appears, shows
// whether a copy could be staged without a name; on Windows a name made
// and removed at once shows that this user may make files in P). It does
// not fail: what cannot be checked is itself a finding.
//
// Implemented: per platform (platform/*/site_check.cpp).
#ifndef TOLMEX_RUNTIME_SITE_CHECK_H_
#define TOLMEX_RUNTIME_SITE_CHECK_H_

#include <functional>
#include <string>
#include <vector>

#include "runtime/ini_text.h"
#include "runtime/site.h"
#include "runtime/text.h"

namespace runtime {

// One finding: what was checked, or what is wrong and how to mend it.
struct Finding {
  enum Kind {
    kOk,       // as a request needs it
    kWarning,  // a request is served, but the operator should know this
    kProblem,  // a request would not be served (or not safely)
  };
  Kind kind;
  std::string text;
};

// The files of a request in the public directory, as the application names
// them below the site.
struct SiteFiles {
  Text client;
  Text client_copy;
  Text result_file;
  std::vector<IniEdit> reset;  // what a request's reset writes there
  // The outcome keys of the result file as the platform's reader sees them.
  std::function<std::string()> result_keys;
  Text log_directory;
  Text log_file;  // today's
};

// The findings for `files` in `site`, in order: the public directory and
// who may write it, the client, the result file with its outcome keys, the
// log, the code set, the dialog tool and the system log.
std::vector<Finding> check_site_files(Site& site, const SiteFiles& files);

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SITE_CHECK_H_
