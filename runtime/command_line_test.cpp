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

// The request is what follows the program name of the exact line; the P
// of --check all that follows the option, one closing quote dropped.
TEST(CommandLineTest, WindowsLineGivesTheRequestAndTheCheckedDirectory) {
  const auto tail = windows_command_tail;
  const auto operand = windows_option_operand;
  // --result's operands, joined by "|".
  const auto operands = [](std::u16string_view line) {
    std::u16string joined;
    for (const std::u16string& o : windows_option_operands(line)) {
      joined += (joined.empty() ? u"" : u"|") + o;
    }
    return joined;
  };
  const struct {
    std::u16string (*read)(std::u16string_view);
    std::u16string line, expected;
  } cases[] = {
      {tail, u"tolmex.exe a,b", u"a,b"},
      {tail, u"\"C:\\Program Files\\tolmex.exe\"  \ta,b ", u"a,b "},
      {tail, u"\"C:\\x y\\tolmex.exe\"a,b", u"a,b"},
      {tail, u"tolmex.exe", u""},
      {tail, u"\"unclosed a,b", u""},
      {tail, u"tolmex.exe \"a b\",中", u"\"a b\",中"},
      {tail, u"", u""},
      {operand, u"tolmex.exe --check \"C:\\pos data\\\" ", u"C:\\pos data\\"},
      {operand, u"\"C:\\t\\tolmex.exe\" --check  C:\\pos data\\",
       u"C:\\pos data\\"},
      {operand, u"tolmex.exe --check \"C:\\中\"", u"C:\\中"},
      {operand, u"tolmex.exe --check \"C:\\a b\\\\\"", u"C:\\a b\\"},
      {operand, u"tolmex.exe --check", u""},
      {operands, u"tolmex.exe --result \"C:\\a b\\\\\" O-1", u"C:\\a b\\|O-1"},
      {operands, u"tolmex.exe --result C:\\a b\\ ", u"C:\\a b\\"},
      {operands, u"tolmex.exe --result C:\\a b\\  O-1", u"C:\\a b\\|O-1"},
      {operands, u"tolmex.exe --result C:\\a b\\ \"O 1\"", u"C:\\a b\\|O 1"},
      {operands, u"tolmex.exe --result /p/ \"\"", u"/p/|"},
      {operands, u"tolmex.exe --result C:\\pay", u"C:\\pay"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.read(c.line), c.expected) << c.line.size() << " units";
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
