// Whole-program tests: build/tolmex serving requests in a temporary public
// directory with a real client script as "mart.dll".
#include <gtest/gtest.h>

#include "tests/harness.h"

namespace {

using testing_support::check_one_record;
using testing_support::exists;
using testing_support::list_dir;
using testing_support::log_time_now;
using testing_support::read_file;
using testing_support::recording_client;
using testing_support::run_tolmex;
using testing_support::TempDir;
using testing_support::write_file;

const char kEmptyReturn[] =
    "[return]\r\n"
    "result=\r\n"
    "sub_code=\r\n"
    "sub_desc=\r\n"
    "trade_no=\r\n"
    "out_trade_no=\r\n"
    "buyer_user_id=\r\n"
    "buyer_logon_id=\r\n"
    "total_amount=\r\n";

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(pub / "mart.dll", recording_client(rec.path()), 0755);
  }
  // The client's arguments, one per element.
  std::vector<std::string> client_args() {
    std::string raw = read_file(rec / "args");
    std::vector<std::string> args;
    for (std::size_t start = 0; start < raw.size();) {
      std::size_t nul = raw.find('\0', start);
      args.push_back(raw.substr(start, nul - start));
      start = nul + 1;
    }
    return args;
  }
  int client_runs() {
    if (!exists(rec / "runs")) return 0;
    std::string runs = read_file(rec / "runs");
    return static_cast<int>(std::count(runs.begin(), runs.end(), '\n'));
  }

  TempDir pub;  // the public directory
  TempDir rec;  // what the client records
};

TEST_F(RequestTest, EmptyOrBlankCommandLineDoesNothing) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{
           {}, {""}, {" \t\n\v\f\r"}, {"", ""}}) {
    auto r = run_tolmex(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(list_dir(pub.path()), std::vector<std::string>{"mart.dll"});
    EXPECT_EQ(client_runs(), 0);
  }
}

TEST_F(RequestTest, NormalRequestRunsClientOnceWithWholeParameterString) {
  // Shell and format characters, quotes, backslashes, blanks and bytes that
  // are not UTF-8: none is interpreted on the way to the client.
  const std::string request = "pay," + pub.path() +
                              "/,a b,,\"q\",$HOME;x\\y,$(id)`id`,'q',%s%n,"
                              "\xb1\xed\x81\x5c,last ";
  const std::string before = log_time_now();
  auto r = run_tolmex({request});
  const std::string after = log_time_now();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(client_runs(), 1);
  EXPECT_EQ(client_args(), std::vector<std::string>{request});
  EXPECT_EQ(read_file(rec / "ini"), kEmptyReturn);
  EXPECT_EQ(list_dir(pub.path()),
            (std::vector<std::string>{"logpay", "mart.dll", "tolmex.ini"}));
  EXPECT_EQ(check_one_record(pub / "logpay", before, after,
                             "接收的参数字符串：" + request),
            "");
}

TEST_F(RequestTest, MissingClientLibraryShowsMessageAndRemovesOldCopy) {
  std::remove((pub / "mart.dll").c_str());
  write_file(pub / "mart.exe", recording_client(rec.path()), 0755);
  auto r = run_tolmex({"pay," + pub.path() + "/"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "系统错误: 缺少关键性文件,请与供应商联系! \ntolmex: cannot copy " +
                (pub / "mart.dll") + " to " + (pub / "mart.exe") +
                ": No such file or directory\n");
  EXPECT_FALSE(exists(pub / "mart.exe"));
  EXPECT_EQ(client_runs(), 0);
  EXPECT_EQ(read_file(pub / "tolmex.ini"), kEmptyReturn);
}

TEST_F(RequestTest, PublicDirectoryWithoutTrailingSlashIsAPrefix) {
  // Field 2 "<tmp>/pay" names "<tmp>/paymart.dll" and "<tmp>/paytolmex.ini",
  // and the log directory "<tmp>/pay/logpay".
  const std::string prefix = pub / "pay";
  ::mkdir(prefix.c_str(), 0755);
  std::rename((pub / "mart.dll").c_str(), (prefix + "mart.dll").c_str());
  auto r = run_tolmex({"pay," + prefix});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(client_runs(), 1);
  EXPECT_EQ(read_file(prefix + "tolmex.ini"), kEmptyReturn);
  EXPECT_EQ(list_dir(prefix + "/logpay").size(), 1u);
  EXPECT_EQ(list_dir(pub.path()),
            (std::vector<std::string>{"pay", "paymart.dll", "paytolmex.ini"}));
}

TEST_F(RequestTest, BytesInvalidInCodeSetAndLongRequestsReachClientExactly) {
  const std::string field2 = pub.path() + "/";
  const std::string requests[] = {
      "pay," + field2 + ",\xff\xfe,\xe4\xb8,\xed\xa0\x80,end",
      "pay," + field2 + "," + std::string(5000, 'x') + "\x80",
  };
  for (const std::string& request : requests) {
    for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
      auto r = run_tolmex({request}, {locale});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(client_args(), std::vector<std::string>{request}) << locale;
      std::string log =
          read_file(pub / ("logpay/" + list_dir(pub / "logpay")[0]));
      EXPECT_NE(log.find("接收的参数字符串：" + request + "\r\r\n"),
                std::string::npos);
      std::remove((pub / ("logpay/" + list_dir(pub / "logpay")[0])).c_str());
    }
  }
}

TEST_F(RequestTest, PublicDirectoryIsField2WhateverTheOtherFieldsHold) {
  const std::string dir = pub.path() + "/";
  const std::string requests[] = {
      "," + dir + ",,,,,,,,,,rsa,13,14,15",  // empty fields, more than 12
      dir,                                   // one field only: field 2 is ""
      std::string(40000, 'x') + "," + dir + ",tail",  // beyond 32,767 units
  };
  auto r = run_tolmex({requests[0]});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(client_args(), std::vector<std::string>{requests[0]});

  // With field 2 empty every name lies in the working directory, the log
  // included; no "mart.dll" lies there: the message, no client.
  TempDir cwd;
  r = run_tolmex({requests[1]}, {}, cwd.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(list_dir(cwd.path()),
            (std::vector<std::string>{"logpay", "tolmex.ini"}));

  r = run_tolmex({requests[2]});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(client_args(), std::vector<std::string>{requests[2]});
  EXPECT_EQ(client_runs(), 2);
}

}  // namespace
