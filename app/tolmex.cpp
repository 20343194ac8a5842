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
  g.gn_ini = runtime::Ref<nvo_result_ini>::create();

  Text ls_parms = u"," + ls_commandline + u",";
  [[maybe_unused]] Text ls_api_stype =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 1);
  g.gs_public_path =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 2);
  g.gs_str_rsa =
      g.gn_str.deref(kTraceCode).of_get_str_to_to(ls_parms, u",", u",", 12);
  // The public directory is opened once: every file of the request is
  // found relative to it, whatever its name comes to mean meanwhile.
  const Text client_program = g.gs_public_path + site_files::kClientCopy;
  public_directory.emplace(client_program);

  ue_init();
  // The reset must be on disk before any client starts: a host that read
  // an older payment's outcome during this request would take it for this
  // one's.
  failure = runtime::flush_profile_strings();
  if (failure.ok()) {
    if (auto writers = runtime::writable_by_others(g.gs_filepath_ini)) {
      warn(*writers);
    }
  }

  g.gn_pay_log.of_init(site_files::log_directory(g.gs_public_path));
  if (g.gn_pay_log.of_write_log(u"接收的参数字符串：" + ls_commandline) != 1) {
    warn("the request was not logged: " + g.gn_pay_log.failure.message());
  } else if (auto writers =
                 runtime::writable_by_others(g.gn_pay_log.is_log_file)) {
    warn(*writers);
  }

  if (!failure.ok()) {
    runtime::message_box(u"系统错误", u"无法写入结果文件,请与供应商联系! ");
    return Outcome::kResultNotReset;
  }

  if (auto replaceable = runtime::replaceable_by_others(client_program)) {
    warn(*replaceable);
  }
  // A leftover that cannot be removed is the copy's problem: it fails, or
  // it finds that copy in use by another run of this user.
  static_cast<void>(runtime::delete_file(client_program));
  // The client runs from the copy this run made or from the one another
  // run of this user has in use; whatever else is at that name is not ours
  // to start, and the copy fails.
  runtime::CopyOutcome copied;
  failure = runtime::copy_file(g.gs_public_path + site_files::kClient,
                               client_program, copied);
  [[maybe_unused]] const int i = failure.ok() ? 1 : -1;
  if (!failure.ok()) {
    runtime::message_box(u"系统错误", u"缺少关键性文件,请与供应商联系! ");
    return Outcome::kClientMissing;
  }

  [[maybe_unused]] const std::uint16_t li_result =
      runwait(client_program + u" " + ls_commandline, 1);

  if (runtime::file_exists(client_program)) {
    runtime::Status removed = runtime::delete_file(client_program);
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
  auto lnv_winapi = runtime::Ref<nvo_winapi>::create();
  nvo_payoutattrib lnv_tolmexoutattrib;

  g.gs_filepath_ini = g.gs_public_path + g.gs_file_ini;
  if (!runtime::file_exists(g.gs_filepath_ini)) {
    lnv_winapi.deref(kTraceCode).of_create_file(g.gs_filepath_ini);
  }
  g.gn_ini.deref(kTraceCode)
      .uf_set_result(u"", g.gs_filepath_ini, lnv_tolmexoutattrib);
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
