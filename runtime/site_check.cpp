#include "runtime/site_check.h"

#include "runtime/code_set.h"
#include "runtime/ini_file.h"

namespace runtime {

std::string return_section(const Text& ini) {
  std::string keys;
  for (const char16_t* key :
       {u"result", u"sub_code", u"sub_desc", u"trade_no", u"out_trade_no",
        u"buyer_user_id", u"buyer_logon_id", u"total_amount"}) {
    Text value = get_profile_string(ini, u"return", key);
    if (!keys.empty()) keys += ", ";
    keys += to_ansi(Text(key)) + "=" +
            (value.is_null() ? std::string("(none)") : to_ansi(value));
  }
  return keys;
}

}  // namespace runtime
