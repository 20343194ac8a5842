// The result INI file and the log as other programs see them: read back by
// Python's configparser, under crashes, concurrent writers and code sets.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <random>
#include <tuple>

#include "runtime/ini_file.h"
#include "tests/harness.h"

namespace {

using namespace testing_support;

const char kEmptyReturnDump[] =
    "[return]\nresult=\nsub_code=\nsub_desc=\ntrade_no=\nout_trade_no=\n"
    "buyer_user_id=\nbuyer_logon_id=\ntotal_amount=\n";

TEST(IniFileTest, RequestLeavesEightEmptyKeysForAStandardReader) {
  TempDir pub;
  write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
  write_file(pub / "tolmex.ini",
             "; written by the host\n[host]\nterminal = 7\n\n[Return]\n"
             "Result=old\ntrade_no = T-1\nclient=kept\n");
  auto r = run_tolmex({"a," + pub.path() + "/"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub / "tolmex.ini"),
            "; written by the host\n[host]\nterminal = 7\n\n[Return]\n"
            "Result=\ntrade_no =\nclient=kept\nsub_code=\nsub_desc=\n"
            "out_trade_no=\nbuyer_user_id=\nbuyer_logon_id=\ntotal_amount=\n");
  EXPECT_EQ(configparser_dump(pub / "tolmex.ini"),
            "[host]\nterminal=7\n[Return]\nresult=\ntrade_no=\nclient=kept\n"
            "sub_code=\nsub_desc=\nout_trade_no=\nbuyer_user_id=\n"
            "buyer_logon_id=\ntotal_amount=\n");

  TempDir fresh;
  write_file(fresh / "mart.dll", "#!/bin/sh\n", 0755);
  run_tolmex({"a," + fresh.path() + "/"});
  EXPECT_EQ(configparser_dump(fresh / "tolmex.ini"), kEmptyReturnDump);
}

TEST(IniFileTest, TwoWritersLoseNoKey) {
  TempDir dir;
  const std::string ini = dir / "shared.ini";
  Started a = start({INI_WRITE_BINARY, ini, "return", "a", "200"});
  Started b = start({INI_WRITE_BINARY, ini, "return", "b", "200"});
  EXPECT_EQ(finish(a).status, 0);
  EXPECT_EQ(finish(b).status, 0);
  std::string content = read_file(ini);
  for (int i = 0; i < 200; ++i) {
    for (const char* prefix : {"a", "b"}) {
      std::string key = prefix + std::to_string(i);
      EXPECT_EQ(runtime::get_ini_key(content, "return", key), std::to_string(i))
          << key;
    }
  }
  std::string dump = configparser_dump(ini);
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 401);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"shared.ini"});
}

TEST(IniFileTest, WriterKilledAtRandomMomentsNeverLeavesATornFile) {
  TempDir dir;
  TempDir snapshots;
  const std::string ini = dir / "tolmex.ini";
  write_file(ini, "[host]\r\nterminal=7\r\n");
  std::mt19937 random(20261207);
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) {
    Started w = start({INI_WRITE_BINARY, ini, "return", "k", "8", "loop"});
    ::usleep(std::uniform_int_distribution<unsigned>(0, 4000)(random));
    ::kill(w.pid, SIGKILL);
    finish(w);
    files.push_back(snapshots / std::to_string(i));
    write_file(files.back(), read_file(ini));
    ASSERT_EQ(runtime::get_ini_key(read_file(ini), "host", "terminal"), "7")
        << i;
  }
  EXPECT_EQ(configparser_rejects(files), "");
  // A temporary file of a killed writer goes with the next write.
  EXPECT_EQ(run({INI_WRITE_BINARY, ini, "return", "k", "1"}).status, 0);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"tolmex.ini"});
}

TEST(CodeSetTest, LogIsWrittenInTheLocalesCodeSet) {
  if (std::setlocale(LC_ALL, "zh_CN.GBK") == nullptr) {
    GTEST_SKIP() << "locale zh_CN.GBK is not installed (.ci/run makes it)";
  }
  std::setlocale(LC_ALL, "C");
  const std::string prefix_gbk =
      "\xbd\xd3\xca\xd5\xb5\xc4\xb2\xce\xca\xfd\xd7\xd6\xb7\xfb\xb4\xae\xa3"
      "\xba";
  const std::string prefix_utf8 = "接收的参数字符串：";
  // In GBK "\x81\x5c" is one character ("乗"), whose trail byte is not a
  // backslash: the public directory's name keeps it. Under UTF-8 the same
  // byte is a backslash, so that locale gets a plain directory.
  TempDir base;
  for (const auto& [locale, prefix, dir] :
       {std::tuple{"LC_ALL=zh_CN.GBK", prefix_gbk, "\x81\x5c"},
        std::tuple{"LC_ALL=C", prefix_utf8, "plain"}}) {
    const std::string pub = base / dir;
    ::mkdir(pub.c_str(), 0755);
    write_file(pub + "/mart.dll", "#!/bin/sh\n", 0755);
    const std::string request = "\xd6\xd0," + pub + "/,\x81\x5c\xff";
    auto r = run_tolmex({request},
                        {locale, "TOLMEX_TEST_NOW=2026-12-06 01:02:03.004"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_dir(pub),
              (std::vector<std::string>{"logpay", "mart.dll", "tolmex.ini"}));
    EXPECT_EQ(read_file(pub + "/logpay/pay_log20261206.txt"),
              "2026-12-06 01:02:03:004\t" + prefix + request + "\r\r\n")
        << locale;
  }
}

}  // namespace
