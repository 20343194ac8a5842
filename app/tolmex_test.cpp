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

TEST_F(TraceTest, CallThroughNullTracesTheCallersCodeInHexAndRaises) {
  EXPECT_THROW(Ref<n_string>().call(0x7c0), RuntimeError);
  EXPECT_THROW(Ref<n_string>().call(0x1a), RuntimeError);
  EXPECT_EQ(trace(),
            "*** WE HAVE A PROBLEM HERE. Error = 7c0 ***\n"
            "*** WE HAVE A PROBLEM HERE. Error = 1a ***\n");
}

}  // namespace
