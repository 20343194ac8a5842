// The site check of `tolmex --check P`, for the integrator who sets a site
// up: a dry run of a request in the public directory, which names the
// request's files as a request does and asks the platform what it would
// find there (runtime/site_check.h). It touches nothing, and does not fail:
// what cannot be checked is itself a finding.
//
// Implemented: portable (app/site_check.cpp).
#ifndef TOLMEX_APP_SITE_CHECK_H_
#define TOLMEX_APP_SITE_CHECK_H_

#include <vector>

#include "runtime/site_check.h"
#include "runtime/text.h"

// The findings for the public directory `public_path` (written as field 2
// of a request is), in order: the directory itself and who may write it,
// "mart.dll", "tolmex.ini" with its section "return" as the platform's
// reader sees it, "logpay", the code set, the dialog tool and the system
// log.
std::vector<runtime::Finding> check_site(const runtime::Text& public_path);

#endif  // TOLMEX_APP_SITE_CHECK_H_
