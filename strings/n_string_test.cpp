#include "strings/n_string.h"

#include <gtest/gtest.h>

namespace {

using runtime::Int;
using runtime::Text;

struct Case {
  Text source, first, end;
  Int number;
  Text expected;
};

TEST(NStringTest, PicksTheTextBetweenTheNthOpeningAndTheNextClosingDelimiter) {
  const Text null = Text::null();
  const Case cases[] = {
      {u",a,b,c,", u",", u",", 1, u"a"},
      {u",a,b,c,", u",", u",", 2, u"b"},
      {u",a,b,c,", u",", u",", 3, u"c"},
      {u",a,,c,", u",", u",", 2, u""},
      {u",a,,c,", u",", u",", 3, u"c"},
      {u"[x]1[/x][x]22[/x]", u"[x]", u"[/x]", 2, u"22"},
      {u"<><>", u"<", u">", 1, u""},
      {u",a,b,", u",", u",", 0, u""},
      {u",a,b,", u",", u",", -1, u""},
      {u",a,b,", u",", u",", 4, u""},
      // The last comma opens a field that nothing closes: an empty field.
      {u",a,b,", u",", u",", 3, u""},
      {u"[abc", u"[", u"]", 1, u""},
      {null, u",", u",", 1, u""},
      {u",a,", null, u",", 1, u""},
      {u",a,", u",", u",", std::nullopt, u""},
      {u",a,", u",", null, 1, null},
      {u",a,", u"", u",", 1, u""},
      // The closing delimiter counts only after the chosen opening one.
      {u"b]a[c]", u"[", u"]", 1, u"c"},
      // Opening delimiters do not overlap.
      {u"aaaa", u"aa", u"x", 2, u""},
      {u"aaaaXbY", u"aa", u"Y", 2, u"Xb"},
  };
  n_string s;
  for (const Case& c : cases) {
    Text got = s.of_get_str_to_to(c.source, c.first, c.end, c.number);
    EXPECT_EQ(got, c.expected)
        << "source " << runtime::len(c.source).value_or(-1) << " units, number "
        << c.number.value_or(-999) << ", got null=" << got.is_null();
  }
}

TEST(NStringTest, PositionsBeyondSixteenBitsStayRight) {
  // Field 3 starts 70,000 code units in: a 16-bit position would wrap.
  std::u16string source = u"," + std::u16string(70000, u'x') + u",y," +
                          std::u16string(40000, u'z') + u",";
  n_string s;
  EXPECT_EQ(s.of_get_str_to_to(source, u",", u",", 2), Text(u"y"));
  EXPECT_EQ(s.of_get_str_to_to(source, u",", u",", 3),
            Text(std::u16string(40000, u'z')));
}

}  // namespace
