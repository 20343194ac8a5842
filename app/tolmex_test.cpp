#include "app/tolmex.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "log/nvo_winapi.h"
#include "runtime/code_set.h"
#include "runtime/runtime_error.h"
#include "tests/harness.h"

namespace {

using runtime::Ref;
using runtime::RuntimeError;
using runtime::Text;
using testing_support::read_file;
using testing_support::TempDir;

// Switches the diagnostic trace on into a temporary file for one test.
class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("TOLMEX_TRACE", trace_file().c_str(), 1); }
  void TearDown() override { ::unsetenv("TOLMEX_TRACE"); }
  std::string trace_file() { return dir / "trace"; }
  std::string trace() {
    return testing_support::exists(trace_file()) ? read_file(trace_file()) : "";
  }
  TempDir dir;
};

TEST_F(TraceTest, CallThroughNullTracesTheCallersCodeAndRaises) {
  const std::pair<runtime::TraceCode, const char*> callers[] = {
      {tolmex::kTraceCode, "7cc"},
      {n_string::kTraceCode, "7c0"},
      {nvo_pay_log::kTraceCode, "808"},
      {nvo_result_ini::kTraceCode, "804"},
      {nvo_payoutattrib::kTraceCode, "7c0"},
      {nvo_winapi::kTraceCode, "808"},
  };
  std::string expected;
  for (const auto& [code, hex] : callers) {
    EXPECT_THROW(Ref<n_string>().call(code), RuntimeError);
    expected +=
        std::string("*** WE HAVE A PROBLEM HERE. Error = ") + hex + " ***\n";
  }
  EXPECT_EQ(trace(), expected);
}

TEST_F(TraceTest, InitialisationBeforeOpenStopsOnNullWriter) {
  tolmex app;
  EXPECT_TRUE(app.globals.gn_str.is_null());
  EXPECT_TRUE(app.globals.gn_ini.is_null());
  app.globals.gs_public_path = runtime::from_ansi(dir.path()) + u"/";
  EXPECT_THROW(app.ue_init(), RuntimeError);
  EXPECT_EQ(trace(), "*** WE HAVE A PROBLEM HERE. Error = 7cc ***\n");
  // It stopped at the call: the file it made first is there, empty.
  EXPECT_EQ(read_file(dir / "tolmex.ini"), "");
}

TEST(TolmexTest, ExternalCallThatCannotBeResolvedStopsAndLeavesTheCopy) {
  TempDir pub;
  testing_support::write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
  tolmex app;
  app.runwait_function.body = nullptr;  // a library that is not there
  EXPECT_THROW(app.open(u"pay," + runtime::from_ansi(pub.path()) + u"/"),
               RuntimeError);
  EXPECT_TRUE(testing_support::exists(pub / "mart.exe"));
}

}  // namespace
