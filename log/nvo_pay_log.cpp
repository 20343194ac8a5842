#include "log/nvo_pay_log.h"

#include "runtime/clock.h"
#include "runtime/files.h"

using runtime::Text;

int nvo_pay_log::of_write_log(Text as_text) {
  Text ls_log =
      runtime::format_date(runtime::now(), u"yyyy-mm-dd hh:mm:ss:fff") + u"\t" +
      as_text + u"\r";
  return of_write_file(is_log_file, ls_log);
}

int nvo_pay_log::of_set_path(Text as_path) {
  is_path = as_path;
  // A directory that cannot be made shows as the record's file that cannot
  // be opened, with the reason.
  if (site != nullptr && !runtime::directory_exists(*site, as_path)) {
    static_cast<void>(runtime::create_directory(*site, as_path));
  }
  return 1;
}

int nvo_pay_log::of_init(runtime::Site& as_site, Text as_filepath) {
  site = &as_site;
  if (of_set_path(as_filepath) < 0) return -1;
  is_log_file = of_log_file(as_filepath, runtime::now());
  return 1;
}

Text nvo_pay_log::of_log_file(Text as_path, const runtime::DateTime& adt_day) {
  return as_path + u"\\" + u"pay_log" +
         runtime::format_date(adt_day, u"yyyymmdd") + u".txt";
}

int nvo_pay_log::of_write_file(Text as_file, Text as_log) {
  int li_handle = -1;
  if (site == nullptr) {
    failure = runtime::Status::failure("no log file chosen", 0);
    return -1;
  }
  failure =
      runtime::file_open(*site, as_file, runtime::OpenMode::kAppend, li_handle);
  if (li_handle == -1) return -1;
  // A record that did not reach the file is reported as lost, not as
  // written.
  failure = runtime::file_write_line(*site, li_handle, as_log);
  runtime::Status closed = runtime::file_close(*site, li_handle);
  if (failure.ok()) failure = closed;
  return failure.ok() ? 1 : -1;
}
