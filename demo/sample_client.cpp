// A sample payment client: what tolmex starts as "mart.exe". It shows the
// client's side of the contract and answers every request with a plausible
// successful payment, without contacting any payment service.
//
// The contract: the client is started with the host's parameter string as
// its one argument, in the locale's code set and byte for byte as the host
// wrote it. On Windows its command line is exactly P + "mart.exe " + the
// parameter string, unquoted: the parameter string is what follows the
// first "mart.exe " (argv would split a P with a blank in two). Field 2 is
// the public directory; the client reports its outcome
// by writing the keys of the section "return" of the file "tolmex.ini" there
// (tolmex has set them all to empty values before it started the client).
// Its exit status is not read. In this sample, field 3 is taken as the order
// number and field 4 as the amount.
#include <cstdio>
#include <string>
#include <vector>

#include "app/site_files.h"
#include "runtime/code_set.h"
#include "runtime/command_line.h"
#include "runtime/ini_file.h"
#include "runtime/text.h"

namespace {

std::vector<runtime::Text> fields(const runtime::Text& parameters) {
  std::vector<runtime::Text> out(1);
  for (char16_t c : parameters.units()) {
    if (c == u',') {
      out.emplace_back();
    } else {
      out.back() = out.back() + std::u16string(1, c);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // A locale that is not installed leaves UTF-8, as in tolmex.
  static_cast<void>(runtime::init_locale());
  const runtime::Text parameters = runtime::client_parameters(argc, argv);
  if (parameters.is_null()) {
    std::fprintf(stderr, "sample client: no parameter string\n");
    return 2;
  }
  std::vector<runtime::Text> f = fields(parameters);
  f.resize(std::max<std::size_t>(f.size(), 4));
  runtime::Site site(f[1]);
  const std::pair<const char16_t*, runtime::Text> answer[] = {
      {u"result", u"SUCCESS"},
      {u"sub_code", u"0"},
      {u"sub_desc", u"支付成功"},
      {u"trade_no", u"T-0001"},
      {u"out_trade_no", f[2]},
      {u"buyer_user_id", u"buyer-0001"},
      {u"buyer_logon_id", u"buyer-0001"},
      {u"total_amount", f[3]},
  };
  for (const auto& [key, value] : answer) {
    // A key refused here is refused again, with the reason, by the flush.
    static_cast<void>(runtime::set_profile_string(site, site_files::kResultFile,
                                                  u"return", key, value));
  }
  // The eight keys reach the file together, in one replacement.
  runtime::Status written = runtime::flush_profile_strings(site);
  if (!written.ok()) {
    std::fprintf(stderr, "sample client: %s\n", written.message().c_str());
    return 1;
  }
  return 0;
}
