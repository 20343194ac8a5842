// The process entry: answers --help and --version, takes the host's
// parameter string from the command line, serves the request and turns its
// end into the exit status and one audit line in the system log. Only here
// are errors printed.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/result_report.h"
#include "app/site_check.h"
#include "app/tolmex.h"
#include "app/usage.h"
#include "result/nvo_result_ini.h"
#include "runtime/clock.h"
#include "runtime/code_set.h"
#include "runtime/command_line.h"
#include "runtime/escape.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"
#include "runtime/process.h"
#include "runtime/system_log.h"

namespace {

// The exit statuses. The manual page's EXIT STATUS has one entry for each,
// naming it (tests/check_exit_statuses.sh holds the two together), and
// --help lists them (app/usage.h.in).
constexpr int kExitNormal = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitClientMissing = 2;
constexpr int kExitResultNotReset = 3;
constexpr int kExitClientNotStarted = 4;
constexpr int kExitOtherOrder = 5;
constexpr int kExitSignalBase = 128;

// One line on stderr. Paths and reasons in `message` may come from other
// users: nothing in them starts a line of its own or turns the text around.
void print_line(const std::string& prefix, const std::string& message) {
  std::fprintf(stderr, "tolmex: %s%s\n", prefix.c_str(),
               runtime::escape_controls(message).c_str());
}

void print_failure(const runtime::Status& failure) {
  if (!failure.ok()) print_line("", failure.message());
}

int serve(tolmex& app, const runtime::Status& locale, int argc, char** argv) {
  runtime::init_signals();
  runtime::Text commandline = runtime::command_line(argc, argv);
  // An empty request ends silently, so only a real one hears the warning.
  if (!locale.ok() && !commandline.units().empty()) {
    print_line("warning: ", locale.message());
  }
  app.on_warning = [](const std::string& warning) {
    print_line("warning: ", warning);
  };
  tolmex::Outcome outcome = app.open(commandline);
  // The run halts: INI writes still kept (those of a run ended by a runtime
  // error) go to their file, or the operator hears that they did not.
  if (app.site) {
    if (runtime::Status kept = runtime::flush_profile_strings(*app.site);
        !kept.ok()) {
      print_line("warning: ", kept.message());
    }
  }
  print_failure(app.failure);
  switch (outcome) {
    case tolmex::Outcome::kClientMissing:
      return kExitClientMissing;
    case tolmex::Outcome::kResultNotReset:
      return kExitResultNotReset;
    case tolmex::Outcome::kClientNotStarted:
      return kExitClientNotStarted;
    case tolmex::Outcome::kClientLost:
      return kExitRuntimeError;
    case tolmex::Outcome::kEmptyRequest:
    case tolmex::Outcome::kNormal:
      break;
  }
  // A signal passed on to the client ends the run with its number.
  if (int sig = runtime::signal_passed_on()) return kExitSignalBase + sig;
  return kExitNormal;
}

// The site check of the public directory `dir`: one line per finding on
// stdout; the exit status.
int check(const runtime::Text& dir) {
  static const char* const kKinds[] = {"ok", "warning", "problem"};
  int status = kExitNormal;
  for (const runtime::Finding& f : check_site(dir)) {
    std::printf("%s: %s\n", kKinds[f.kind],
                runtime::escape_controls(f.text).c_str());
    if (f.kind == runtime::Finding::kProblem) status = kExitRuntimeError;
  }
  return std::fflush(stdout) == 0 ? status : kExitRuntimeError;
}

// --result P [OUT_TRADE_NO]: the outcome in the result file of P as one
// JSON object on stdout; the exit status. The locale is set before the
// operands are decoded.
int result(int argc, char** argv) {
  runtime::Status locale = runtime::init_locale();
  const std::vector<runtime::Text> operands =
      runtime::option_operands(argc, argv);
  runtime::use_parent_console();
  if (operands.empty() || operands.size() > 2) {
    std::fputs(kUsage, stderr);
    return kExitRuntimeError;
  }
  if (!locale.ok()) print_line("warning: ", locale.message());
  const ResultReport report = read_result(operands[0]);
  if (!report.failure.ok()) {
    print_failure(report.failure);
    return kExitResultNotReset;
  }
  if (!report.warning.empty()) print_line("warning: ", report.warning);
  std::printf("%s\n", result_json(report.values).c_str());
  if (std::fflush(stdout) != 0) return kExitRuntimeError;
  return operands.size() == 2 && !is_order(report, operands[1])
             ? kExitOtherOrder
             : kExitNormal;
}

// True when the command line looks like an option: its first argument
// starts with "--" and no argument holds a comma, so it has no field 2.
bool option_like(int argc, char** argv) {
  if (argc < 2 || std::string_view(argv[1]).substr(0, 2) != "--") return false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).find(',') != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// A command line of "--result" and its operands, or of exactly "--help",
// "--version" or "--check P" (P as
// runtime::option_operand() takes it: on Windows the rest of the line,
// blanks and all) is answered and touches nothing: no host sends one, as
// its field 2 (the public directory) would be empty. Any other that looks
// like an option is never taken for a request: it gets the usage on stderr
// and status 1. True when it was one of them, with `status` the exit
// status.
bool answered_option(int argc, char** argv, int& status) {
  status = kExitNormal;
  const std::string option = argc >= 2 ? argv[1] : "";
  if (option == "--result") {
    status = result(argc, argv);
    return true;
  }
  const runtime::Text operand = option == "--check"
                                    ? runtime::option_operand(argc, argv)
                                    : runtime::Text::null();
  const bool answered =
      !operand.is_null() ||
      (argc == 2 && (option == "--help" || option == "--version"));
  if (!answered && !option_like(argc, argv)) return false;
  runtime::use_parent_console();
  if (!answered) {
    std::fputs(kUsage, stderr);
    status = kExitRuntimeError;
    return true;
  }
  if (option == "--check") {
    status = check(operand);
    return true;
  }
  if (option == "--help") {
    std::fputs(kUsage, stdout);
  } else {
    std::printf("tolmex %s\n", TOLMEX_VERSION);
  }
  if (std::fflush(stdout) != 0) status = kExitRuntimeError;
  return true;
}

// The most UTF-16 units of a path or warning that the audit line shows;
// the rest is cut, so that the line stays within what the system log takes.
constexpr std::size_t kAuditPartUnits = 1024;

runtime::Text ascii(std::string_view text) {
  return runtime::Text(std::u16string(text.begin(), text.end()));
}

// `text` for the audit line: escaped (with the characters of `extra`) and
// followed by `close`, then by " (cut)" when it was cut (never inside a
// character of two units).
runtime::Text audit_part(const runtime::Text& text, std::string_view extra,
                         std::string_view close) {
  std::u16string units = text.units();
  const bool cut = units.size() > kAuditPartUnits;
  if (cut) {
    units.resize(kAuditPartUnits);
    if (units.back() >= 0xd800 && units.back() <= 0xdbff) units.pop_back();
  }
  return runtime::escape_controls(runtime::Text(units), extra) + ascii(close) +
         ascii(cut ? " (cut)" : "");
}

// The outcome that the client left, for the audit record: a part of its
// line (", result \"SUCCESS\", sub_code \"\", ..." with "none" for a
// missing key, or ", outcome not read: " and why) and a field for each key
// of kAuditKeys (null for a missing key); nothing where no client ran.
struct AuditOutcome {
  runtime::Text line = runtime::Text(u"");
  std::vector<runtime::LogField> fields;
};

AuditOutcome audit_outcome(const tolmex& app) {
  AuditOutcome out;
  if (!app.client_end.ended) return out;
  const ResultReport report =
      read_result_file(*app.site, app.globals.gs_file_ini);
  if (!report.failure.ok()) {
    out.line = ascii(", outcome not read: ") +
               audit_part(runtime::from_ansi(report.failure.message()), "", "");
    return out;
  }
  for (const AuditKey& key : kAuditKeys) {
    const runtime::Text& value = report.values[key.index];
    out.line = out.line + ascii(", ") + runtime::Text(kResultKeys[key.index]);
    out.line = out.line +
               (value.is_null()
                    ? ascii(" none")
                    : ascii(" \"") +
                          audit_part(value, runtime::kSystemLogEscaped, "\""));
    out.fields.push_back({key.field, value.is_null()
                                         ? runtime::Text::null()
                                         : audit_part(value, "", "")});
  }
  return out;
}

// The operator's line for a request: where it was served, how the run and
// the client ended, how long it took, the outcome the client left
// (`outcome`) and the warnings of the run. The path's and the outcome's
// controls, and what the system log takes for its syntax, show as "\xHH".
runtime::Text audit_line(const tolmex& app, int status, std::int64_t ms,
                         const runtime::Text& outcome) {
  runtime::Text line =
      ascii("public directory \"") +
      audit_part(app.globals.gs_public_path, runtime::kSystemLogEscaped, "\"");
  std::string end = ", exit status " + std::to_string(status) + ", client ";
  const runtime::ProgramEnd& client = app.client_end;
  if (!client.ended) {
    end += "not run";
  } else if (client.signal != 0) {
    end += "ended by signal " + std::to_string(client.signal);
  } else {
    end += "exit status " + std::to_string(client.exit_status);
  }
  end += ", " + std::to_string(ms) + " ms";
  line = line + ascii(end) + outcome;
  for (const std::string& warning : app.warnings) {
    line = line + ascii(", warning: ") +
           audit_part(runtime::from_ansi(warning), "", "");
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any argument is decoded: a name is bytes of the locale's code
  // set, and a GBK trail byte 0x5C is no separator.
  runtime::Status locale;
  try {
    locale = runtime::init_locale();
  } catch (const std::exception& e) {  // a code set that cannot be converted
    print_line("", e.what());
    return kExitRuntimeError;
  }
  if (int status; answered_option(argc, argv, status)) return status;
  const std::int64_t start = runtime::monotonic_milliseconds();
  tolmex app;
  int status = kExitRuntimeError;
  try {
    status = serve(app, locale, argc, argv);
  } catch (const std::exception& e) {  // a RuntimeError, or out of memory
    print_line("", e.what());
  }
  if (app.request_taken) {
    try {
      const AuditOutcome outcome = audit_outcome(app);
      runtime::write_system_log(
          "tolmex",
          audit_line(app, status, runtime::monotonic_milliseconds() - start,
                     outcome.line),
          outcome.fields);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tolmex: cannot write the audit line: %s\n",
                   e.what());
    }
  }
  return status;
}
