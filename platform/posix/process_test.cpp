#include "platform/posix/process.h"

#include <gtest/gtest.h>

#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::TempDir;
using testing_support::write_file;

TEST(SplitCommandLineTest, ProgramNameAndOneTail) {
  TempDir dir;
  const std::string d = dir.path();
  write_file(dir / "two words", "", 0755);
  struct Case {
    std::string line, program, tail;
  } cases[] = {
      {"\"" + d + "/a b.exe\"  x, y ", d + "/a b.exe", "x, y "},
      {"\"unclosed x", "unclosed x", ""},
      // No file is looked for, not even one whose name holds the blank.
      {d + "/two words x", d + "/two", "words x"},
      {"prog", "prog", ""},
      {"prog \t ", "prog", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SplitCommand got = split_command_line(c.line);
    EXPECT_EQ(got.program, c.program) << c.line;
    EXPECT_EQ(got.tail, c.tail) << c.line;
  }
}

TEST(RunWaitTest, TailIsOneArgumentOrNone) {
  TempDir dir;
  write_file(dir / "args", "#!/bin/sh\n[ $# = 1 ] && [ \"$1\" = ' a\"b ' ]\n",
             0755);
  write_file(dir / "noargs", "#!/bin/sh\nexit $#\n", 0755);
  std::uint16_t status = 99;
  EXPECT_TRUE(run_wait({dir / "args", " a\"b "}, status).ok());
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(run_wait({dir / "noargs", ""}, status).ok());
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace runtime
