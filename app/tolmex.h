// tolmex: the application object. It holds the globals of the run and serves
// one payment request in its open event: prepare the result INI file, log the
// request, copy the payment client, run it, wait for it and remove the copy.
// Ordinary outcomes come back as the Outcome of open(); a failure of a
// runtime service propagates as the runtime error and ends the run.
#ifndef TOLMEX_APP_TOLMEX_H_
#define TOLMEX_APP_TOLMEX_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/site_files.h"
#include "log/nvo_pay_log.h"
#include "result/nvo_result_ini.h"
#include "runtime/external_call.h"
#include "runtime/files.h"
#include "runtime/ref.h"
#include "runtime/site.h"
#include "runtime/status.h"
#include "runtime/text.h"
#include "runtime/trace.h"
#include "strings/n_string.h"

// The globals that every object of the run shares, with their initial values.
struct Globals {
  runtime::Ref<n_string> gn_str;
  runtime::Text gs_public_path;
  nvo_pay_log gn_pay_log;
  runtime::Ref<nvo_result_ini> gn_ini;
  runtime::Text gs_file_ini = site_files::kResultFile;
  runtime::Text gs_filepath_ini;
  runtime::Text gs_rsa_pkey = u"rsa_private_key.pem";
  runtime::Text gs_rsa_pkey_path =
      u"E:\\接口程序\\tolmex支付\\rsa_private_key.pem";
  runtime::Text gs_str_rsa;
};

class tolmex {
 public:
  static constexpr runtime::TraceCode kTraceCode = 0x7cc;

  tolmex() = default;
  tolmex(const tolmex&) = delete;
  tolmex& operator=(const tolmex&) = delete;

  // How the open event halted.
  enum class Outcome {
    kEmptyRequest,      // nothing done
    kNormal,            // the client ran and its copy was removed
    kClientMissing,     // the copy could not be made: the message box was
                        // shown, the client did not run
    kResultNotReset,    // the result file could not be reset: the message
                        // box was shown, the client was neither copied nor
                        // run
    kClientNotStarted,  // the copy could not be started: the message box
                        // was shown, the copy was removed
    kClientLost,        // the client was started but could not be waited
                        // for; the copy was removed
  };

  // Serves the request `commandline` (the parameter string) and halts.
  Outcome open(runtime::Text commandline);

  // Makes sure the result INI file exists and resets the outcome keys of its
  // section "return" to empty values.
  void ue_init();

  // Starts the command line `var_0` and waits until the program has ended;
  // its exit status (128 + n for signal n). `var_1` is a window show
  // state. Reaches its body through the external call of
  // `runwait_function`; `client_end` then tells how the program ended, and
  // when the call fails, `failure` says why.
  std::uint16_t runwait(runtime::Text var_0, std::uint16_t var_1);

  // Keeps `warning` and tells on_warning of it.
  void warn(const std::string& warning);

  Globals globals;
  runtime::Status failure;     // why the run did not end normally, when known
  bool request_taken = false;  // open() got past the empty-request check
  bool result_file_made = false;   // ue_init() made the result file
  runtime::ProgramEnd client_end;  // how the client ended, once runwait ran
  // The request's site, once open() has taken the request: every file of
  // the request is a name below it, handed down to the objects that use
  // it, until the application object ends (the audit reads the outcome
  // through it).
  std::optional<runtime::Site> site;
  // What the operator should hear although the request goes on, in order;
  // `on_warning`, when set, hears each as it comes (before the client
  // starts, where it concerns the client).
  std::vector<std::string> warnings;
  std::function<void(const std::string&)> on_warning;
  // "runwait.dll" is linked in: its entry's body is the runtime's, which
  // starts the copy that the site holds.
  runtime::ExternalFunction runwait_function{
      "runwait.dll", "RunWait;Ansi",
      [this](const runtime::Text& line, std::uint16_t show,
             runtime::ProgramEnd& end) {
        if (!site) {
          return runtime::Status::failure("cannot start a client: no site", 0);
        }
        return runtime::runwait_entry(*site, line, show, end);
      }};
};

#endif  // TOLMEX_APP_TOLMEX_H_
