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

}  // namespace
}  // namespace runtime
