// nvo_payoutattrib: the record of a payment outcome. Plain data with value
// semantics: assigning or passing a record copies all twenty fields, each of
// which starts as the empty text (not null). Nothing here fails.
#ifndef TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_
#define TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_

#include "runtime/text.h"
#include "runtime/trace.h"

struct nvo_payoutattrib {
  static constexpr runtime::TraceCode kTraceCode = 0x7c0;

  // The fields of a payment outcome, named as its answer names them; the
  // result writes the seven that have a key in kResultKeys.

  runtime::Text is_is_success;
  runtime::Text is_sign_type;
  runtime::Text is_sign;
  runtime::Text is_error;
  runtime::Text is_result_code;
  runtime::Text is_trade_no;
  runtime::Text is_out_trade_no;
  runtime::Text is_buyer_user_id;
  runtime::Text is_buyer_logon_id;
  runtime::Text is_total_amount;
  runtime::Text is_store_name;
  runtime::Text is_code;
  runtime::Text is_msg;
  runtime::Text is_sub_code;
  runtime::Text is_sub_desc;
  runtime::Text is_trade_status;
  runtime::Text is_detail_error_code;
  runtime::Text is_detail_error_des;
  runtime::Text is_extend_info;
  runtime::Text is_errormsg;
};

#endif  // TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_
