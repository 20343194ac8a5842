#include "runtime/clock.h"

#include <gtest/gtest.h>

namespace runtime {
namespace {

TEST(ClockTest, FormatsBothPatterns) {
  DateTime t{2026, 12, 6, 4, 3, 7, 45};
  EXPECT_EQ(format_date(t, u"yyyy-mm-dd hh:mm:ss:fff"),
            Text(u"2026-12-06 04:03:07:045"));
  EXPECT_EQ(format_date(t, u"yyyymmdd"), Text(u"20261206"));
  EXPECT_TRUE(format_date(t, Text::null()).is_null());
}

}  // namespace
}  // namespace runtime
