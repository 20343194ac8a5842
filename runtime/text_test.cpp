#include "runtime/text.h"

#include <gtest/gtest.h>

namespace runtime {
namespace {

const Text kNull = Text::null();

TEST(TextTest, NullDiffersFromEmptyAndPropagates) {
  EXPECT_FALSE(Text().is_null());
  EXPECT_EQ(len(Text()), 0);
  EXPECT_EQ(len(kNull), std::nullopt);
  EXPECT_TRUE((Text(u"a") + kNull).is_null());
  EXPECT_TRUE((kNull + Text(u"")).is_null());
  EXPECT_EQ(Text(u"a") + Text(u"中"), Text(u"a中"));
  EXPECT_EQ(equals(kNull, kNull), std::nullopt);
  EXPECT_FALSE(is_true(equals(kNull, u"")));
  EXPECT_EQ(equals(u"Abc", u"abc"), false);
  EXPECT_EQ(equals(u"", u""), true);
}

TEST(TextTest, PositionSearch) {
  struct Case {
    const char16_t* source;
    const char16_t* search;
    Int start;
    Int expected;
  } cases[] = {
      {u",a,b,", u",", 1, 1},
      {u",a,b,", u",", 2, 3},
      {u",a,b,", u",", 5, 5},
      {u",a,b,", u",", 6, 0},
      {u",a,b,", u";", 1, 0},
      {u"ab", u"", 1, 0},
      {u"ab", u"b", 0, 0},
      {u"a[/x]", u"[/x]", 1, 2},
      {u"ab", u"b", std::nullopt, std::nullopt},
      // A character outside the BMP counts two code units.
      {u"\U0001F600,", u",", 1, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pos(c.source, c.search, c.start), c.expected) << std::string(
        c.source, c.source + std::char_traits<char16_t>::length(c.source));
  }
  EXPECT_EQ(pos(kNull, u",", 1), std::nullopt);
  EXPECT_EQ(pos(u",", kNull, 1), std::nullopt);
}

TEST(TextTest, Substring) {
  EXPECT_EQ(mid(u"abcdef", 2, 3), Text(u"bcd"));
  EXPECT_EQ(mid(u"abcdef", 5, 10), Text(u"ef"));
  EXPECT_EQ(mid(u"abcdef", 7, 1), Text(u""));
  EXPECT_EQ(mid(u"abcdef", 2, 0), Text(u""));
  EXPECT_EQ(mid(u"abcdef", 2, -2), Text(u""));  // no closing delimiter
  EXPECT_EQ(mid(u"abcdef", 0, 2), Text(u""));
  EXPECT_TRUE(mid(u"abc", 1, std::nullopt).is_null());
  EXPECT_TRUE(mid(kNull, 1, 1).is_null());
}

}  // namespace
}  // namespace runtime
