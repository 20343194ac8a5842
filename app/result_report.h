// What --result reports and the audit record carries: the outcome keys of
// the section "return" of a public directory's result file, read as the
// platform's profile reader reads them (runtime::read_profile_section()),
// and the JSON object that hands them to a host. A file that cannot be
// read or decoded comes back as the Status of the read; nothing here
// prints, and only an unknown code set throws (the runtime error).
#ifndef TOLMEX_APP_RESULT_REPORT_H_
#define TOLMEX_APP_RESULT_REPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"

// The outcome as read from a result file.
struct ResultReport {
  runtime::Status failure;            // why the file was not read
  std::vector<runtime::Text> values;  // one per kResultKeys; null: missing
  std::string warning;  // who else could have chosen what it says, or ""
};

// Reads the result file of the public directory `public_path` (written as
// field 2 is, with its trailing separator), found as a request finds it.
ResultReport read_result(const runtime::Text& public_path);

// Reads the result file `result_file`, a name below the request's `site`.
ResultReport read_result_file(const runtime::Site& site,
                              const runtime::Text& result_file);

// The values as one JSON object in UTF-8, keys in the order of kResultKeys,
// a missing key as null; no line end. `values` holds no half of a UTF-16
// pair (read_result() refuses those).
std::string result_json(const std::vector<runtime::Text>& values);

// True when the report's out_trade_no is exactly `out_trade_no`; a missing
// or empty one never is (the reset's value is no order's).
bool is_order(const ResultReport& report, const runtime::Text& out_trade_no);

// The outcome that the audit record carries, by its index in kResultKeys,
// and the journal field of each; never the buyer's keys nor sub_desc.
struct AuditKey {
  std::size_t index;
  const char* field;
};
inline constexpr AuditKey kAuditKeys[] = {{0, "TOLMEX_RESULT"},
                                          {1, "TOLMEX_SUB_CODE"},
                                          {3, "TOLMEX_TRADE_NO"},
                                          {4, "TOLMEX_OUT_TRADE_NO"},
                                          {7, "TOLMEX_TOTAL_AMOUNT"}};

#endif  // TOLMEX_APP_RESULT_REPORT_H_
