#include "runtime/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace runtime {
namespace {

TEST(CommandLineTest, TailIsArgumentsJoinedWithLeadingWhiteSpaceCut) {
  struct Case {
    std::vector<const char*> argv;
    std::string tail;
  } cases[] = {
      {{"tolmex"}, ""},
      {{"tolmex", ""}, ""},
      {{"tolmex", " \t\n\v\f\r"}, ""},
      {{"tolmex", "a,b"}, "a,b"},
      {{"tolmex", "  a,b \t"}, "a,b \t"},
      {{"tolmex", "a", "b"}, "a b"},
      {{"tolmex", "", "b"}, "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(command_line_tail(static_cast<int>(c.argv.size()), c.argv.data()),
              c.tail)
        << c.argv.size() << " arguments";
  }
}

TEST(CommandLineTest, WindowsTailFollowsTheProgramName) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"tolmex.exe a,b", u"a,b"},
      {u"\"C:\\Program Files\\tolmex.exe\"  \ta,b ", u"a,b "},
      {u"\"C:\\x y\\tolmex.exe\"a,b", u"a,b"},
      {u"tolmex.exe", u""},
      {u"\"unclosed a,b", u""},
      {u"tolmex.exe \"a b\",中", u"\"a b\",中"},
      {u"", u""},
  };
  for (const auto& [line, tail] : cases) {
    EXPECT_EQ(windows_command_tail(line), tail) << line.size() << " units";
  }
}

TEST(CommandLineTest, WindowsOptionOperandIsTheRestOfTheLine) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"tolmex.exe --check \"C:\\pos data\\\" ", u"C:\\pos data\\"},
      {u"\"C:\\t\\tolmex.exe\" --check  C:\\pos data\\", u"C:\\pos data\\"},
      {u"tolmex.exe --check \"C:\\中\"", u"C:\\中"},
      {u"tolmex.exe --check \"C:\\a b\\\\\"", u"C:\\a b\\"},
      {u"tolmex.exe --check", u""},
  };
  for (const auto& [line, operand] : cases) {
    EXPECT_EQ(windows_option_operand(line), operand) << line.size() << " units";
  }
}

TEST(CommandLineTest, ClientTailFollowsTheFirstProgramName) {
  EXPECT_EQ(client_command_tail(u"C:\\pos demo\\mart.exe pay,C:\\pos "
                                u"demo\\,O-1,mart.exe 1"),
            Text(u"pay,C:\\pos demo\\,O-1,mart.exe 1"));
  EXPECT_EQ(client_command_tail(u"C:\\pos\\mart.exe "), Text(u""));
  EXPECT_TRUE(client_command_tail(u"C:\\pos\\mart.exe").is_null());
}

}  // namespace
}  // namespace runtime
