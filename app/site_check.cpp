#include "app/site_check.h"

#include <string>

#include "app/site_files.h"
#include "log/nvo_pay_log.h"
#include "result/nvo_result_ini.h"
#include "runtime/clock.h"
#include "runtime/code_set.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"

using runtime::Text;

namespace {

// The outcome keys of the section "return" of the INI file `ini` of `site`
// as get_profile_string() reads them, "result=..., sub_code=..." ("(none)"
// for a key that is not there).
std::string result_keys(runtime::Site& site, const Text& ini) {
  std::string keys;
  for (const char16_t* key : kResultKeys) {
    Text value = runtime::get_profile_string(site, ini, kResultSection, key);
    if (!keys.empty()) keys += ", ";
    keys += runtime::to_ansi(Text(key)) + "=" +
            (value.is_null() ? std::string("(none)") : runtime::to_ansi(value));
  }
  return keys;
}

}  // namespace

std::vector<runtime::Finding> check_site(const Text& public_path) {
  // The check finds each file through the site it judged, as a request
  // does.
  runtime::Site site(public_path);
  site.withhold_writes = true;
  runtime::SiteFiles files;
  files.client = site_files::kClient;
  files.client_copy = site_files::kClientCopy;
  files.result_file = site_files::kResultFile;
  // The reset writes the eight keys empty, as a request's ue_init does.
  for (const char16_t* key : kResultKeys) {
    files.reset.push_back({Text(kResultSection), Text(key), Text(u"")});
  }
  files.result_keys = [&site, ini = files.result_file] {
    return result_keys(site, ini);
  };
  files.log_directory = site_files::log_directory(public_path);
  files.log_file =
      nvo_pay_log::of_log_file(files.log_directory, runtime::now());
  return runtime::check_site_files(site, files);
}
