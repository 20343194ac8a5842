// nvo_result_ini: writes a payment outcome into the section "return" of the
// result INI file, a file of a request's site, which must outlive it. Every
// routine returns 0 when it completes, whatever became of the writes; a failure
// of a runtime service propagates as the runtime error.
#ifndef TOLMEX_RESULT_NVO_RESULT_INI_H_
#define TOLMEX_RESULT_NVO_RESULT_INI_H_

#include "result/nvo_payoutattrib.h"
#include "runtime/site.h"
#include "runtime/text.h"
#include "runtime/trace.h"

// The section of the result INI file that holds the outcome, and its keys in
// the order uf_set_result() writes them: the request resets these, the
// client answers in them, the site check reads them.
inline constexpr char16_t kResultSection[] = u"return";
inline constexpr const char16_t* kResultKeys[] = {
    u"result",       u"sub_code",      u"sub_desc",       u"trade_no",
    u"out_trade_no", u"buyer_user_id", u"buyer_logon_id", u"total_amount"};

class nvo_result_ini {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x804;

  explicit nvo_result_ini(runtime::Site& site) : site_(site) {}

  // Sets one key of one section of the INI file `as_filepath`, a name below
  // the site.
  int of_set_ini(runtime::Text as_filepath, runtime::Text as_section,
                 runtime::Text as_key, runtime::Text as_value);

  // Writes the keys of kResultKeys in their order: "result" from
  // `as_result`, the others from the record's fields of the same names.
  int uf_set_result(runtime::Text as_result, runtime::Text as_file_path,
                    nvo_payoutattrib anv_tolmexoutattrib);

  // Writes the first five keys of kResultKeys ("result" to "out_trade_no");
  // the three other keys keep what the file held.
  int uf_set_result(runtime::Text as_result, runtime::Text as_err_code,
                    runtime::Text as_err_des, runtime::Text as_trade_no,
                    runtime::Text as_out_trade_no, runtime::Text as_file_path);

 private:
  runtime::Site& site_;
};

#endif  // TOLMEX_RESULT_NVO_RESULT_INI_H_
