// The site check of `tolmex --check P`, for the integrator who sets a site
// up: a dry run of a request in the public directory, through the
// functions a request uses, with every write replaced by what it would
// find. It touches nothing: no file is made, written, locked or removed
// (on POSIX systems an unnamed file, which never appears, shows whether a
// copy could be staged without a name). Never fails; what cannot be
// checked is itself a finding.
//
// Implemented: check_site() per platform (platform/*/site_check.cpp),
// return_section() portable (runtime/site_check.cpp).
#ifndef TOLMEX_RUNTIME_SITE_CHECK_H_
#define TOLMEX_RUNTIME_SITE_CHECK_H_

#include <string>
#include <vector>

#include "runtime/ini_text.h"
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

// The findings for the public directory `public_path` (written as field 2
// of a request is), in order: the directory itself and who may write it,
// "mart.dll", "tolmex.ini" with its section "return" as the platform's
// reader sees it, "logpay", the code set, the dialog tool and the system
// log.
std::vector<Finding> check_site(const Text& public_path);

// The eight outcome keys of the section "return" of the INI file `ini` as
// get_profile_string() reads them, "result=..., sub_code=..." ("(none)"
// for a key that is not there). Portable (runtime/site_check.cpp).
std::string return_section(const Text& ini);

// The edits of a request's reset: the eight keys of the section "return"
// set to empty values, for edit_ini_file(). Portable.
std::vector<IniEdit> reset_edits();

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_SITE_CHECK_H_
