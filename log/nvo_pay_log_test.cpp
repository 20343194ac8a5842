#include "log/nvo_pay_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/clock.h"
#include "runtime/code_set.h"
#include "tests/harness.h"

namespace {

using runtime::DateTime;
using runtime::Text;
using testing_support::exists;
using testing_support::list_dir;
using testing_support::read_file;
using testing_support::TempDir;

class PayLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::set_clock_for_testing([this] { return clock; });
  }
  void TearDown() override { runtime::set_clock_for_testing(nullptr); }
  Text logpay() { return u"logpay"; }

  TempDir dir;
  runtime::Site site{runtime::from_ansi(dir.path() + "/")};
  DateTime clock{2026, 12, 6, 14, 3, 7, 45};
};

TEST_F(PayLogTest, RecordsAreAppendedWithExactBytes) {
  nvo_pay_log log;
  log.of_init(site, logpay());
  EXPECT_EQ(log.is_log_file, logpay() + u"\\pay_log20261206.txt");
  EXPECT_EQ(log.of_write_log(u"abc"), 1);
  clock.millisecond = 46;
  EXPECT_EQ(log.of_write_log(u"x\r\ny中"), 1);
  EXPECT_EQ(log.of_write_log(u""), 1);
  EXPECT_EQ(read_file(dir / "logpay/pay_log20261206.txt"),
            "2026-12-06 14:03:07:045\tabc\r\r\n"
            "2026-12-06 14:03:07:046\tx\r\ny\xe4\xb8\xad\r\r\n"
            "2026-12-06 14:03:07:046\t\r\r\n");
  // A second run's log object writes into the same day's file, after; a
  // line cut short before it ends first.
  std::FILE* cut =
      std::fopen((dir / "logpay/pay_log20261206.txt").c_str(), "a");
  std::fputs("2026-12-06 14:03", cut);
  std::fclose(cut);
  nvo_pay_log other;
  other.of_init(site, logpay());
  other.of_write_log(u"second run");
  EXPECT_EQ(list_dir(dir / "logpay").size(), 1u);
  EXPECT_TRUE(read_file(dir / "logpay/pay_log20261206.txt")
                  .ends_with("\t\r\r\n2026-12-06 14:03\r\n"
                             "2026-12-06 14:03:07:046\tsecond run\r\r\n"));
}

TEST_F(PayLogTest, FileIsNamedWhenInitialisedNotWhenWritten) {
  clock = {2026, 12, 6, 23, 59, 59, 900};
  nvo_pay_log log;
  log.of_init(site, logpay());
  clock = {2026, 12, 7, 0, 0, 0, 100};
  log.of_write_log(u"late");
  EXPECT_EQ(read_file(dir / "logpay/pay_log20261206.txt"),
            "2026-12-07 00:00:00:100\tlate\r\r\n");
}

TEST_F(PayLogTest, NoFileBeforeInitOrWithoutDirectory) {
  nvo_pay_log log;
  EXPECT_EQ(log.of_write_log(u"early"), -1);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{});
  // One level only: a missing parent is not made.
  Text deep = u"missing\\logpay";
  // 1 all the same: the record's file is what fails.
  EXPECT_EQ(log.of_set_path(deep), 1);
  EXPECT_EQ(log.of_init(site, deep), 1);
  EXPECT_EQ(log.of_write_log(u"lost"), -1);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{});
  // A directory argument ending in a backslash gives two before the name.
  log.of_init(site, logpay() + u"\\");
  EXPECT_EQ(log.is_log_file, logpay() + u"\\\\pay_log20261206.txt");
  EXPECT_EQ(log.of_write_log(u"ok"), 1);
  EXPECT_TRUE(exists(dir / "logpay/pay_log20261206.txt"));
}

}  // namespace
