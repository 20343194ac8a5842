#include "result/nvo_result_ini.h"

#include "runtime/ini_file.h"

using runtime::Text;

int nvo_result_ini::of_set_ini(Text as_filepath, Text as_section, Text as_key,
                               Text as_value) {
  // The write is kept until the flush, which reports a file that cannot be
  // written; a key refused here (a null, a line break) is refused again by
  // the read-back check of the flush. The result is always 0: callers learn
  // of a failed write from the flush.
  static_cast<void>(
      runtime::set_profile_string(as_filepath, as_section, as_key, as_value));
  return 0;
}

int nvo_result_ini::uf_set_result(Text as_result, Text as_file_path,
                                  nvo_payoutattrib anv_tolmexoutattrib) {
  const nvo_payoutattrib lnv_tolmexoutattrib = anv_tolmexoutattrib;
  of_set_ini(as_file_path, u"return", u"result", as_result);
  of_set_ini(as_file_path, u"return", u"sub_code",
             lnv_tolmexoutattrib.is_sub_code);
  of_set_ini(as_file_path, u"return", u"sub_desc",
             lnv_tolmexoutattrib.is_sub_desc);
  of_set_ini(as_file_path, u"return", u"trade_no",
             lnv_tolmexoutattrib.is_trade_no);
  of_set_ini(as_file_path, u"return", u"out_trade_no",
             lnv_tolmexoutattrib.is_out_trade_no);
  of_set_ini(as_file_path, u"return", u"buyer_user_id",
             lnv_tolmexoutattrib.is_buyer_user_id);
  of_set_ini(as_file_path, u"return", u"buyer_logon_id",
             lnv_tolmexoutattrib.is_buyer_logon_id);
  of_set_ini(as_file_path, u"return", u"total_amount",
             lnv_tolmexoutattrib.is_total_amount);
  return 0;
}

int nvo_result_ini::uf_set_result(Text as_result, Text as_err_code,
                                  Text as_err_des, Text as_trade_no,
                                  Text as_out_trade_no, Text as_file_path) {
  of_set_ini(as_file_path, u"return", u"result", as_result);
  of_set_ini(as_file_path, u"return", u"sub_code", as_err_code);
  of_set_ini(as_file_path, u"return", u"sub_desc", as_err_des);
  of_set_ini(as_file_path, u"return", u"trade_no", as_trade_no);
  of_set_ini(as_file_path, u"return", u"out_trade_no", as_out_trade_no);
  return 0;
}
