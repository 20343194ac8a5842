#include "result/nvo_result_ini.h"

#include <iterator>

#include "runtime/ini_file.h"

using runtime::Text;

int nvo_result_ini::of_set_ini(Text as_filepath, Text as_section, Text as_key,
                               Text as_value) {
  // The write is kept until the flush, which reports a file that cannot be
  // written; a key refused here (a null, a line break) is refused again by
  // the read-back check of the flush. The result is always 0: callers learn
  // of a failed write from the flush.
  static_cast<void>(runtime::set_profile_string(site_, as_filepath, as_section,
                                                as_key, as_value));
  return 0;
}

int nvo_result_ini::uf_set_result(Text as_result, Text as_file_path,
                                  nvo_payoutattrib anv_tolmexoutattrib) {
  const nvo_payoutattrib lnv_tolmexoutattrib = anv_tolmexoutattrib;
  const Text ls_values[] = {as_result,
                            lnv_tolmexoutattrib.is_sub_code,
                            lnv_tolmexoutattrib.is_sub_desc,
                            lnv_tolmexoutattrib.is_trade_no,
                            lnv_tolmexoutattrib.is_out_trade_no,
                            lnv_tolmexoutattrib.is_buyer_user_id,
                            lnv_tolmexoutattrib.is_buyer_logon_id,
                            lnv_tolmexoutattrib.is_total_amount};
  static_assert(std::size(ls_values) == std::size(kResultKeys));
  for (std::size_t i = 0; i < std::size(kResultKeys); ++i) {
    of_set_ini(as_file_path, kResultSection, kResultKeys[i], ls_values[i]);
  }
  return 0;
}

int nvo_result_ini::uf_set_result(Text as_result, Text as_err_code,
                                  Text as_err_des, Text as_trade_no,
                                  Text as_out_trade_no, Text as_file_path) {
  const Text ls_values[] = {as_result, as_err_code, as_err_des, as_trade_no,
                            as_out_trade_no};
  for (std::size_t i = 0; i < std::size(ls_values); ++i) {
    of_set_ini(as_file_path, kResultSection, kResultKeys[i], ls_values[i]);
  }
  return 0;
}
