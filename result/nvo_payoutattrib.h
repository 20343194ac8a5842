// nvo_payoutattrib: the record of a payment outcome. Plain data with value
// semantics: assigning or passing a record copies all twenty fields, each of
// which starts as the empty text (not null). Nothing here fails.
#ifndef TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_
#define TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_

#include "runtime/text.h"
#include "runtime/trace.h"

struct nvo_payoutattrib {
  static constexpr runtime::TraceCode kTraceCode = 0x7c0;

  runtime::Text is_is_success;         // success indicator of the answer
  runtime::Text is_sign_type;          // signature type
  runtime::Text is_sign;               // signature
  runtime::Text is_error;              // error
  runtime::Text is_result_code;        // result code
  runtime::Text is_trade_no;           // trade number
  runtime::Text is_out_trade_no;       // out-trade number
  runtime::Text is_buyer_user_id;      // buyer's user id
  runtime::Text is_buyer_logon_id;     // buyer's logon id
  runtime::Text is_total_amount;       // total amount, as text
  runtime::Text is_store_name;         // store name
  runtime::Text is_code;               // code
  runtime::Text is_msg;                // message
  runtime::Text is_sub_code;           // sub-code
  runtime::Text is_sub_desc;           // sub-description
  runtime::Text is_trade_status;       // trade status
  runtime::Text is_detail_error_code;  // detail error code
  runtime::Text is_detail_error_des;   // detail error description
  runtime::Text is_extend_info;        // extension information
  runtime::Text is_errormsg;           // error message
};

#endif  // TOLMEX_RESULT_NVO_PAYOUTATTRIB_H_
