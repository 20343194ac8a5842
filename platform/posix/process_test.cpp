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
  ::mkdir((dir / "my dir").c_str(), 0755);
  write_file(dir / "my dir/mart.exe", "", 0755);
  write_file(dir / "two words", "", 0755);
  ::mkdir((dir / "sub dir").c_str(), 0755);
  struct Case {
    std::string line, program, tail;
  } cases[] = {
      {"\"" + d + "/a b.exe\"  x, y ", d + "/a b.exe", "x, y "},
      {"\"unclosed x", "unclosed x", ""},
      {d + "/my dir/mart.exe a,b c", d + "/my dir/mart.exe", "a,b c"},
      {d + "\\my dir\\mart.exe a", d + "\\my dir\\mart.exe", "a"},
      // The shortest prefix that names a file wins, as on Windows.
      {d + "/two words/mart.exe a", d + "/two", "words/mart.exe a"},
      {d + "/two words x", d + "/two words", "x"},
      // A directory is not a program; nothing matches: up to the first blank.
      {d + "/sub dir/x y", d + "/sub", "dir/x y"},
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
