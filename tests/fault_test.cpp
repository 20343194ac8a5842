// Whole-program tests under faults and load: runs killed at random moments,
// fifty runs at once, a full and a read-only public directory, bad requests.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "tests/harness.h"

namespace {

using namespace testing_support;

const std::string kPrefix = "接收的参数字符串：";
const std::vector<std::string> kAfterRun = {"logpay", "mart.dll", "tolmex.ini"};
const char kEmptyReturnDump[] =
    "[return]\nresult=\nsub_code=\nsub_desc=\ntrade_no=\nout_trade_no=\n"
    "buyer_user_id=\nbuyer_logon_id=\ntotal_amount=\n";

// The records of a log file; fails the test on anything that is not a whole
// record "yyyy-mm-dd hh:mm:ss:fff<TAB>text<CR><CR><LF>".
std::vector<std::string> records(const std::string& log) {
  std::vector<std::string> texts;
  std::size_t at = 0;
  for (std::size_t end; (end = log.find("\r\r\n", at)) != std::string::npos;
       at = end + 3) {
    std::string record = log.substr(at, end - at);
    const std::string shape = "dddd-dd-dd dd:dd:dd:ddd\t";
    bool whole = record.size() >= shape.size();
    for (std::size_t i = 0; whole && i < shape.size(); ++i) {
      whole = shape[i] == 'd'
                  ? std::isdigit(static_cast<unsigned char>(record[i]))
                  : record[i] == shape[i];
    }
    EXPECT_TRUE(whole) << record;
    texts.push_back(record.substr(std::min(record.size(), shape.size())));
  }
  EXPECT_EQ(at, log.size()) << "torn end: " << log.substr(at);
  return texts;
}

std::string only_log(const std::string& pub) {
  std::vector<std::string> logs = list_dir(pub + "/logpay");
  EXPECT_EQ(logs.size(), 1u);
  return logs.empty() ? "" : read_file(pub + "/logpay/" + logs[0]);
}

TEST(FaultTest, RequestsKilledAtRandomMomentsLeaveWholeFiles) {
  TempDir pub;
  TempDir snapshots;
  write_file(pub / "mart.dll", read_file(SAMPLE_CLIENT_BINARY), 0755);
  write_file(pub / "tolmex.ini", "[host]\r\nterminal=7\r\n");
  const std::string request = "pay," + pub.path() + "/,ORDER-7,1.00";
  // Kills fall anywhere within the time a whole request takes here.
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(run_tolmex({request}).status, 0);
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now() - t0)
                         .count();
  std::mt19937 random(7);
  std::vector<std::string> inis;
  for (int i = 0; i < 300; ++i) {
    Started run = start({TOLMEX_BINARY, request}, {"DISPLAY="});
    ::usleep(std::uniform_int_distribution<unsigned>(
        0, static_cast<unsigned>(whole))(random));
    ::kill(run.pid, SIGKILL);
    finish(run);
    inis.push_back(snapshots / std::to_string(i));
    write_file(inis.back(), read_file(pub / "tolmex.ini"));
  }
  // The clients of killed runs end on their own.
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::error_code gone;
    const std::string name = entry.path().filename();
    if (std::isdigit(static_cast<unsigned char>(name[0])) &&
        std::filesystem::read_symlink(entry.path() / "exe", gone)
            .string()
            .starts_with(pub / "mart.exe")) {
      EXPECT_TRUE(ends_within(std::stoi(name), 10)) << name;
    }
  }
  EXPECT_EQ(configparser_rejects(inis), "");
  // The next run clears what killed runs left: a client copy, a temporary.
  EXPECT_EQ(run_tolmex({request}).status, 0);
  EXPECT_EQ(list_dir(pub.path()), kAfterRun);
  EXPECT_NE(configparser_dump(pub / "tolmex.ini").find("result=SUCCESS"),
            std::string::npos);
  for (const std::string& text : records(only_log(pub.path()))) {
    EXPECT_EQ(text, kPrefix + request);
  }
}

TEST(FaultTest, FiftyRunsAtOnceEachRunTheirClientOnceAndLogOnce) {
  TempDir pub;
  TempDir rec;
  write_file(pub / "mart.dll",
             "#!/bin/sh\n"
             "echo \"start $1\" >> '" +
                 rec.path() +
                 "/log'\n"
                 "sleep 0.0$(( $$ % 10 ))$(( $$ % 7 ))\n"
                 // A real client's answer: all eight keys written.
                 "'" SAMPLE_CLIENT_BINARY
                 "' \"$1\"\n"
                 "echo \"end $1\" >> '" +
                 rec.path() + "/log'\n",
             0755);
  std::vector<std::vector<std::string>> requests;
  for (int i = 0; i < 50; ++i) {
    requests.push_back({"a," + pub.path() + "/," + std::to_string(i)});
  }
  for (const auto& r : run_tolmex_at_once(requests)) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  std::map<std::string, int> lines;
  std::string log = read_file(rec / "log");
  for (std::size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos;
       at = nl + 1) {
    ++lines[log.substr(at, nl - at)];
  }
  std::map<std::string, int> logged;
  for (const std::string& text : records(only_log(pub.path()))) ++logged[text];
  EXPECT_EQ(logged.size(), 50u);
  for (const auto& request : requests) {
    EXPECT_EQ(lines["start " + request[0]], 1) << request[0];
    EXPECT_EQ(lines["end " + request[0]], 1) << request[0];
    EXPECT_EQ(logged[kPrefix + request[0]], 1) << request[0];
  }
  EXPECT_EQ(lines.size(), 100u);
  // Resets and answers interleave; each key is there once, with the value
  // of one of them.
  std::string dump = configparser_dump(pub / "tolmex.ini");
  std::string keys;
  for (std::size_t at = 0, nl; (nl = dump.find('\n', at)) != std::string::npos;
       at = nl + 1) {
    keys += dump.substr(at, dump.find_first_of("=\n", at) - at) + " ";
  }
  EXPECT_EQ(keys,
            "[return] result sub_code sub_desc trade_no out_trade_no "
            "buyer_user_id buyer_logon_id total_amount ")
      << dump;
  EXPECT_TRUE(dump.find("result=\n") != std::string::npos ||
              dump.find("result=SUCCESS\n") != std::string::npos)
      << dump;
  EXPECT_EQ(list_dir(pub.path()), kAfterRun);
}

TEST(FaultTest, FullOrReadOnlyPublicDirectoryLosesNothing) {
  const std::string ini = "[host]\r\nterminal=7\r\n[return]\r\nresult=old\r\n";
  // Today's log, so that the run appends to it.
  const std::string now = log_time_now();
  const std::string day_log = "pay_log" + now.substr(0, 4) + now.substr(5, 2) +
                              now.substr(8, 2) + ".txt";
  const std::string log = now + "\t" + kPrefix + "earlier\r\r\n";
  for (const char* fault : {"full", "read-only"}) {
    TempDir pub;
    SmallFileSystem fs(pub.path());
    if (!fs.mounted()) {
      GTEST_SKIP() << "cannot mount a tmpfs here (no root, no user "
                      "namespaces): full and read-only public directories "
                      "not tested";
    }
    write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
    write_file(pub / "tolmex.ini", ini);
    ::mkdir((pub / "logpay").c_str(), 0755);
    write_file(pub / ("logpay/" + day_log), log);
    if (std::string(fault) == "full") {
      std::string block(4096, 'x');
      std::FILE* filler = std::fopen((pub / "filler").c_str(), "wb");
      while (std::fwrite(block.data(), 1, block.size(), filler) ==
                 block.size() &&
             std::fflush(filler) == 0) {
      }
      std::fclose(filler);
    } else {
      ASSERT_TRUE(fs.make_read_only());
    }
    // A record longer than a page cannot fit into the log's last one.
    auto r = run_tolmex({"a," + pub.path() + "/," + std::string(6000, 'c')});
    // The reset cannot take: the file as it was, the reason, status 3.
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(read_file(pub / "tolmex.ini"), ini);
    EXPECT_NE(
        r.err.find("tolmex: cannot write " + pub.path() + "/tolmex.ini: " +
                   (std::string(fault) == "full" ? "No space left on device"
                                                 : "Read-only file system")),
        std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(pub / ("logpay/" + day_log)), log) << fault;
    EXPECT_NE(r.err.find("tolmex: warning: the request was not logged: "),
              std::string::npos)
        << fault << ": " << r.err;
    EXPECT_FALSE(exists(pub / "mart.exe")) << fault;
  }
}

// The status of a request of junk run in an empty directory: 0 for white
// space alone (an empty request); 3 when the result file's name, field 2
// + "tolmex.ini", is too long for the file system; else 2, as there is no
// mart.dll.
int expected_status(const std::string& junk) {
  std::string tail =
      junk.substr(std::min(junk.size(), junk.find_first_not_of(" \t\n\v\f\r")));
  if (tail.empty()) return 0;
  std::string fields = tail + ",";
  std::size_t start = fields.find(',') + 1;
  std::string field2 =
      start < fields.size()
          ? fields.substr(start, fields.find(',', start) - start)
          : "";
  return field2.size() + std::string("tolmex.ini").size() > 255 ? 3 : 2;
}

TEST(FaultTest, BadRequestsEndClearlyAndWriteOnlyWhereTheyPoint) {
  TempDir base;
  write_file(base / "file", "not a directory");
  ::mkdir((base / "pub").c_str(), 0755);
  write_file(base / "pub/mart.dll", "#!/bin/sh\n", 0755);
  // No result file can be made there: the reset guard stops the run.
  for (const auto& [dir, reason] :
       {std::pair{base / "missing/", "No such file or directory"},
        std::pair{base / "file/", "Not a directory"}}) {
    auto r = run_tolmex({"a," + dir + ",c"});
    EXPECT_EQ(r.status, 3) << dir;
    EXPECT_NE(r.err.find("无法写入结果文件"), std::string::npos);
    EXPECT_NE(
        r.err.find("tolmex: cannot write " + dir + "tolmex.ini: " + reason),
        std::string::npos)
        << r.err;
  }
  auto r = run_tolmex({"..," + base.path() + "/pub/../pub/,../..,..\\.."});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(list_dir(base.path()), (std::vector<std::string>{"file", "pub"}));
  EXPECT_EQ(list_dir(base / "pub"), kAfterRun);
  EXPECT_EQ(read_file(base / "file"), "not a directory");

  // Junk without separators names no directory: all stays in the current
  // one, and the process ends on its own terms.
  std::mt19937 random(11);
  for (int i = 0; i < 20; ++i) {
    std::string junk(std::uniform_int_distribution<int>(1, 300)(random), ' ');
    for (char& c : junk) {
      do {
        c = static_cast<char>(
            std::uniform_int_distribution<int>(1, 255)(random));
      } while (c == '/' || c == '\\');
    }
    TempDir cwd;
    auto j = run_tolmex({junk}, {}, cwd.path());
    EXPECT_EQ(j.status, expected_status(junk)) << j.err;
    EXPECT_FALSE(exists("/logpay"));
  }
}

}  // namespace
