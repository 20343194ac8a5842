#include "app/tolmex.h"

#include "app/site_files.h"
#include "log/nvo_winapi.h"
#include "result/nvo_payoutattrib.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"
#include "runtime/message_box.h"
#include "runtime/path.h"
#include "runtime/process.h"
#include "runtime/program_copy.h"

using runtime::Text;

tolmex::Outcome tolmex::open(Text commandline) {
  Globals& g = globals;
  Text ls_commandline = commandline;
  if (ls_commandline.is_null()) ls_commandline = u"";
  if (runtime::is_true(runtime::equals(ls_commandline, u""))) {
    return Outcome::kEmptyRequest;
  }
  request_taken = true;

  g.gn_str = runtime::Ref<n_string>::create();

  Text ls_parms = u"," + ls_commandline + u",";
  [[maybe_unused]] Text ls_api_stype =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 1);
  g.gs_public_path =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 2);
  g.gs_str_rsa =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 12);
  // The public directory is opened once, as the request's site: every
  // file of the request is a name below it, whatever P's name comes to mean
  // meanwhile.
  runtime::Site& lnv_site = site.emplace(g.gs_public_path);
  g.gn_ini = runtime::Ref<nvo_result_ini>::create(lnv_site);
  const Text client_program = g.gs_public_path + site_files::kClientCopy;

  ue_init();
  // The reset must be on disk before any client starts: a host that read
  // an older payment's outcome during this request would take it for this
  // one's.
  failure = runtime::flush_profile_strings(lnv_site);
  if (failure.ok()) {
    if (auto writers = runtime::writable_by_others(lnv_site, g.gs_file_ini)) {
      warn(*writers);
    }
  }

  // A request that stops at the reset leaves nothing it made: the result
  // file it made goes, and no log directory is made for it. Its record
  // goes to a log directory that is there; the audit line has the rest.
  const Text log_directory = site_files::log_directory(g.gs_public_path);
  if (!failure.ok() && result_file_made) {
    runtime::Status removed =
        runtime::remove_empty_file(lnv_site, g.gs_file_ini);
    if (!removed.ok())
      warn("the empty result file stays: " + removed.message());
  }
  if (failure.ok() || runtime::directory_exists(lnv_site, log_directory)) {
    g.gn_pay_log.of_init(lnv_site, log_directory);
    if (g.gn_pay_log.of_write_log(u"接收的参数字符串：" + ls_commandline) !=
        1) {
      warn("the request was not logged: " + g.gn_pay_log.failure.message());
    } else if (auto writers = runtime::writable_by_others(
                   lnv_site, g.gn_pay_log.is_log_file)) {
      warn(*writers);
    }
  }

  if (!failure.ok()) {
    runtime::message_box(u"系统错误", u"无法写入结果文件,请与供应商联系! ");
    return Outcome::kResultNotReset;
  }

  if (auto replaceable = runtime::replaceable_by_others(lnv_site)) {
    warn(*replaceable);
  }
  // A leftover that cannot be removed is the copy's problem: it fails, or
  // it finds that copy in use by another run of this user.
  static_cast<void>(runtime::delete_file(lnv_site, site_files::kClientCopy));
  // The client runs from the copy this run made or from the one another
  // run of this user has in use; whatever else is at that name is not ours
  // to start, and the copy fails.
  runtime::CopyOutcome copied;
  failure = runtime::copy_file(lnv_site, site_files::kClient,
                               site_files::kClientCopy, copied);
  [[maybe_unused]] const int i = failure.ok() ? 1 : -1;
  if (!failure.ok()) {
    runtime::message_box(u"系统错误", u"缺少关键性文件,请与供应商联系! ");
    return Outcome::kClientMissing;
  }

  [[maybe_unused]] const std::uint16_t li_result =
      runwait(client_program + u" " + ls_commandline, 1);

  if (runtime::file_exists(lnv_site, site_files::kClientCopy)) {
    runtime::Status removed =
        runtime::delete_file(lnv_site, site_files::kClientCopy);
    if (!removed.ok()) warn("the copy was left behind: " + removed.message());
  }
  if (failure.ok()) return Outcome::kNormal;
  // A client that was started but not waited for may still run: that is a
  // fault of this program, not of the client.
  if (client_end.started) return Outcome::kClientLost;
  // A client that could not be started is, for the operator, a client that
  // is missing; the host learns the difference from the exit status.
  runtime::message_box(u"系统错误", u"缺少关键性文件,请与供应商联系! ");
  return Outcome::kClientNotStarted;
}

void tolmex::ue_init() {
  Globals& g = globals;
  runtime::Site& lnv_site = *site;
  auto lnv_winapi = runtime::Ref<nvo_winapi>::create(lnv_site);
  nvo_payoutattrib lnv_tolmexoutattrib;

  // The path for the operator; the writes go to its name below the site.
  g.gs_filepath_ini = g.gs_public_path + g.gs_file_ini;
  if (!runtime::file_exists(lnv_site, g.gs_file_ini)) {
    lnv_winapi.deref(kTraceCode).of_create_file(g.gs_file_ini);
    result_file_made = runtime::file_exists(lnv_site, g.gs_file_ini);
  }
  g.gn_ini.deref(kTraceCode)
      .uf_set_result(u"", g.gs_file_ini, lnv_tolmexoutattrib);
}

void tolmex::warn(const std::string& warning) {
  warnings.push_back(warning);
  if (on_warning) on_warning(warning);
}

std::uint16_t tolmex::runwait(Text var_0, std::uint16_t var_1) {
  runtime::Status ran =
      runtime::external_call(runwait_function, var_0, var_1, client_end);
  if (!ran.ok()) failure = ran;
  for (const std::string& warning : client_end.warnings) warn(warning);
  return client_end.status();
}
