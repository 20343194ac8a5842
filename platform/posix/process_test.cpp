#include <gtest/gtest.h>

#include "platform/posix/start_and_wait.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::TempDir;
using testing_support::write_file;

TEST(StartAndWaitTest, TailIsOneArgumentOrNone) {
  TempDir dir;
  write_file(dir / "args", "#!/bin/sh\n[ $# = 1 ] && [ \"$1\" = ' a\"b ' ]\n",
             0755);
  write_file(dir / "noargs", "#!/bin/sh\nexit $#\n", 0755);
  ProgramEnd end;
  EXPECT_TRUE(start_and_wait({dir / "args", " a\"b "}, end).ok());
  EXPECT_EQ(end.status(), 0);
  EXPECT_TRUE(start_and_wait({dir / "noargs", ""}, end).ok());
  EXPECT_EQ(end.status(), 0);
}

}  // namespace
}  // namespace runtime
