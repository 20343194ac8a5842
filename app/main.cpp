// The process entry: takes the host's parameter string from the command line
// in the locale's code set, serves the request and turns its end into the
// exit status. Only here are errors printed.
#include <cstdio>
#include <exception>
#include <string>

#include "app/tolmex.h"
#include "runtime/code_set.h"
#include "runtime/command_line.h"
#include "runtime/ini_file.h"
#include "runtime/process.h"

namespace {

// The exit statuses; README.md and the manual page list them.
constexpr int kExitNormal = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitClientMissing = 2;
constexpr int kExitResultNotReset = 3;
constexpr int kExitClientNotStarted = 4;
constexpr int kExitSignalBase = 128;

void print_failure(const runtime::Status& failure) {
  if (!failure.ok()) {
    std::fprintf(stderr, "tolmex: %s\n", failure.message().c_str());
  }
}

int serve(int argc, char** argv) {
  runtime::init_signals();
  runtime::Status locale = runtime::init_locale();
  std::string tail = runtime::command_line_tail(argc, argv);
  // An empty request ends silently, so only a real one hears the warning.
  if (!locale.ok() && !tail.empty()) {
    std::fprintf(stderr, "tolmex: warning: %s\n", locale.message().c_str());
  }
  runtime::Text commandline = runtime::from_ansi(tail);
  tolmex app;
  tolmex::Outcome outcome = app.open(commandline);
  // The run halts: INI writes still kept go to their file.
  runtime::flush_profile_strings();
  print_failure(app.failure);
  switch (outcome) {
    case tolmex::Outcome::kClientMissing:
      return kExitClientMissing;
    case tolmex::Outcome::kResultNotReset:
      return kExitResultNotReset;
    case tolmex::Outcome::kClientNotStarted:
      return kExitClientNotStarted;
    case tolmex::Outcome::kEmptyRequest:
    case tolmex::Outcome::kNormal:
      break;
  }
  // A signal passed on to the client ends the run with its number.
  if (int sig = runtime::signal_passed_on()) return kExitSignalBase + sig;
  return kExitNormal;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return serve(argc, argv);
  } catch (const std::exception& e) {  // a RuntimeError, or out of memory
    std::fprintf(stderr, "tolmex: %s\n", e.what());
  }
  return kExitRuntimeError;
}
