#include "platform/posix/fs_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "runtime/code_set.h"

namespace runtime {
namespace {

TEST(PathTest, BackslashesBecomeSlashesByCharacterNotByte) {
  EXPECT_EQ(fs_path(u"/pay/\\logpay\\pay_log.txt"), "/pay//logpay/pay_log.txt");
  EXPECT_EQ(fs_path(Text::null()), "");
  // In GBK "乗" is the bytes 81 5C: its trail byte is no backslash.
  ::setenv("LC_ALL", "zh_CN.GBK", 1);
  const bool gbk = init_locale().ok();
  const std::string path = fs_path(u"\\乗\\x");
  ::setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(init_locale().ok());
  if (!gbk)
    GTEST_SKIP() << "locale zh_CN.GBK is not installed (.ci/run makes it)";
  EXPECT_EQ(path, "/\x81\x5c/x");
}

}  // namespace
}  // namespace runtime
