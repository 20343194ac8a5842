#include "runtime/site_check.h"

#include "runtime/code_set.h"
#include "runtime/ini_file.h"

namespace runtime {
namespace {

// The outcome keys of the section "return", in the order a request resets
// them.
constexpr const char16_t* kReturnKeys[] = {
    u"result",       u"sub_code",      u"sub_desc",       u"trade_no",
    u"out_trade_no", u"buyer_user_id", u"buyer_logon_id", u"total_amount"};

}  // namespace

std::string return_section(const Text& ini) {
  std::string keys;
  for (const char16_t* key : kReturnKeys) {
    Text value = get_profile_string(ini, u"return", key);
    if (!keys.empty()) keys += ", ";
    keys += to_ansi(Text(key)) + "=" +
            (value.is_null() ? std::string("(none)") : to_ansi(value));
  }
  return keys;
}

std::vector<IniEdit> reset_edits() {
  std::vector<IniEdit> edits;
  for (const char16_t* key : kReturnKeys) {
    edits.push_back({Text(u"return"), Text(key), Text(u"")});
  }
  return edits;
}

}  // namespace runtime
