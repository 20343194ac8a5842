// nvo_pay_log: the daily payment log, one text file per day in a log
// directory of a request's site, to which time-stamped records are
// appended. A value type: a variable holds its own log object, copied on
// assignment (the copies share the site, which must outlive them). Routines
// return 1 or -1 and never stop a request; a failure of a runtime service (the
// clock) propagates as the runtime error.
#ifndef TOLMEX_LOG_NVO_PAY_LOG_H_
#define TOLMEX_LOG_NVO_PAY_LOG_H_

#include "runtime/clock.h"
#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"
#include "runtime/trace.h"

class nvo_pay_log {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x808;

  // Appends the record: timestamp "yyyy-mm-dd hh:mm:ss:fff", TAB, `as_text`,
  // CR, and the line end CR LF, to the file chosen by of_init(). -1 when the
  // file cannot be opened (also before any of_init()).
  int of_write_log(runtime::Text as_text);

  // Keeps `as_path` and creates that directory of the site (one level) when
  // it is missing. Always 1.
  int of_set_path(runtime::Text as_path);

  // Chooses the site and the file of_log_file() of `as_filepath` (a name
  // below the site) for today and creates the directory when needed. 1.
  int of_init(runtime::Site& site, runtime::Text as_filepath);

  // The file of the day `adt_day` in the log directory `as_path`: "pay_log"
  // + "yyyymmdd" + ".txt", joined to the directory with a backslash.
  static runtime::Text of_log_file(runtime::Text as_path,
                                   const runtime::DateTime& adt_day);

  // Appends `as_log` as one line to the file `as_file`: 1 when the line was
  // written, -1 when not (`failure` then says why).
  int of_write_file(runtime::Text as_file, runtime::Text as_log);

  // The site the names lie in; none before of_init().
  runtime::Site* site = nullptr;
  // The log directory as last given to of_set_path(); kept, not read.
  runtime::Text is_path;
  // The file that records go to, below the site; set by of_init().
  runtime::Text is_log_file;
  // Why the last record was lost; success when it was written.
  runtime::Status failure;
};

#endif  // TOLMEX_LOG_NVO_PAY_LOG_H_
