// Whole-program tests of the options: --help and --version touch nothing,
// anything else that starts with "--" and holds no comma is a usage error,
// and --check names what would stop a request in a public directory
// without changing it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>

#include "tests/harness.h"

namespace {

using namespace testing_support;

class OptionTest : public ::testing::Test {
 protected:
  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  std::string exe() { return pub / "mart.exe"; }
  TempDir pub;
};

TEST_F(OptionTest, HelpAndVersionAloneTouchNothing) {
  TempDir cwd;
  RunResult help = run_tolmex({"--help"}, {}, cwd.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("usage: tolmex PARAMETER-STRING\n"));
  EXPECT_NE(help.out.find("  128+n  signal n"), std::string::npos);
  RunResult version = run_tolmex({"--version"}, {}, cwd.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tolmex " TOLMEX_VERSION "\n");
  EXPECT_EQ(help.err + version.err, "");
  EXPECT_EQ(list_dir(cwd.path()), std::vector<std::string>{});
  // Whatever else starts with "--" and holds no comma is no request either.
  for (auto args : {std::vector<std::string>{"--help", "x"},
                    {"--check"},
                    {"--result"},
                    {"--result", "a/", "b", "c"}}) {
    RunResult r = run_tolmex(args, {}, cwd.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("usage: tolmex PARAMETER-STRING\n"));
  }
  EXPECT_EQ(list_dir(cwd.path()), std::vector<std::string>{});
  // With a comma it is a request like any other (here: no client).
  EXPECT_EQ(run_tolmex({"--help,x"}, {}, cwd.path()).status, 2);
  EXPECT_FALSE(list_dir(cwd.path()).empty());
}

TEST_F(OptionTest, CheckNamesWhatWouldStopARequestAndTouchesNothing) {
  write_file(pub / "mart.dll", "#!/bin/sh\n", 0700);
  write_file(pub / "tolmex.ini", "[return]\r\nresult=\"\"\r\n");
  RunResult r = run_tolmex({"--check", pub.path() + "/"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("problem"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("section return: result=, sub_code=(none)"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(list_dir(pub.path()),
            (std::vector<std::string>{"mart.dll", "tolmex.ini"}));
  // Named through a link to its full path (as /var/run to /run): the same.
  TempDir other;
  ASSERT_EQ(::symlink(pub.path().c_str(), (other / "p").c_str()), 0);
  r = run_tolmex({"--check", other / "p/"});
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_EQ(::link((pub / "tolmex.ini").c_str(), (other / "ini").c_str()), 0);
  r = run_tolmex({"--check", pub.path() + "/"});
  EXPECT_NE(r.out.find("warning: " + (pub / "tolmex.ini") + " has 2 names"),
            std::string::npos)
      << r.out;
  // Findings that cannot be told fail the check.
  r = run({"/bin/sh", "-c", "exec \"$0\" --check \"$1\" > /dev/full",
           TOLMEX_BINARY, pub.path() + "/"});
  EXPECT_EQ(r.status, 1);
  if (::geteuid() == 0 && exists("/usr/bin/setpriv")) {
    ::chmod(pub.path().c_str(), 0755);
    r = run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
             "--clear-groups", TOLMEX_BINARY, "--check", pub.path() + "/"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("problem: this user may not write " + pub.path()),
              std::string::npos)
        << r.out;
  }
  // A problem exactly where the request then ends with 2, 3 or 4; a fault
  // of logpay loses the record, but the request is served: a warning.
  const bool gbk = std::setlocale(LC_ALL, "zh_CN.GBK") != nullptr;
  std::setlocale(LC_ALL, "C");
  const struct {
    const char* name;
    std::string file, content;
    int mode;
    std::string locale;
    std::string finding;  // "problem: ..." (status 1) or "warning: ..." (0)
  } cases[] = {
      {"a mart.dll others could change", "mart.dll", "#!/bin/sh\n", 0775, "C",
       "problem: cannot copy " + (pub / "mart.dll") + " to " + exe() + ": " +
           (pub / "mart.dll") + " is writable by group "},
      {"a mart.dll that is no program", "mart.dll", "MZ", 0755, "C",
       "problem: cannot copy " + (pub / "mart.dll") + " to " + exe() + ": " +
           (pub / "mart.dll") + " is neither an ELF program nor a script"},
      {"a mart.dll whose interpreter is missing", "mart.dll",
       "#!/nonexistent/sh\n", 0755, "C",
       "problem: cannot copy " + (pub / "mart.dll") + " to " + exe() + ": " +
           (pub / "mart.dll") +
           " names the interpreter /nonexistent/sh: No such file or directory"},
      {"a logpay that cannot be made", "logpay", "", 0644, "C",
       "warning: the request would not be logged: cannot open "},
      {"a read-only tolmex.ini", "tolmex.ini", "[return]\r\n", 0444, "C",
       "problem: cannot write " + (pub / "tolmex.ini") + ": Permission denied"},
      {"a tolmex.ini every user may write", "tolmex.ini", "[return]\r\n", 0666,
       "C", "warning: every user may write " + (pub / "tolmex.ini")},
      {"a tolmex.ini that ends in a lead byte", "tolmex.ini",
       "[return]\r\nx=\x81", 0644, gbk ? "zh_CN.GBK" : "",
       "problem: cannot write " + (pub / "tolmex.ini") +
           ": the written keys would not read back"},
  };
  for (const auto& c : cases) {
    if (c.locale.empty()) continue;  // no GBK locale made here
    for (const char* name : {"tolmex.ini", "logpay", "mart.exe", "mart.dll"}) {
      run({"/bin/rm", "-rf", pub / name});
    }
    write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
    write_file(pub / c.file, c.content, c.mode);
    const std::vector<std::string> env{"LC_ALL=" + c.locale, "DISPLAY="};
    Started s = start({TOLMEX_BINARY, "--check", pub.path() + "/"}, env);
    r = finish_within(s, 20);
    EXPECT_EQ(r.status, c.finding.starts_with("problem") ? 1 : 0)
        << c.name << ": " << r.out;
    EXPECT_NE(r.out.find(c.finding), std::string::npos)
        << c.name << ": " << r.out;
    s = start({TOLMEX_BINARY, request()}, env);
    RunResult served = finish_within(s, 20);
    EXPECT_EQ(served.status >= 2 && served.status <= 4, r.status == 1)
        << c.name << ": " << served.err;
  }
}

TEST_F(OptionTest, ResultPrintsTheOutcomeGuardsTheOrderAndTouchesNothing) {
  const std::string ini = pub / "tolmex.ini", p = pub.path() + "/";
  const std::string answered =
      "[return]\r\nresult=SUCCESS\r\nout_trade_no=ORDER-1\r\n"
      "total_amount=12.50\r\n";
  const std::string json =
      R"({"result":"SUCCESS","sub_code":null,"sub_desc":null,)"
      R"("trade_no":null,"out_trade_no":"ORDER-1","buyer_user_id":null,)"
      R"("buyer_logon_id":null,"total_amount":"12.50"})"
      "\n";
  write_file(ini, answered);
  auto times = [](const std::string& path) {
    struct stat st = {};
    ::stat(path.c_str(), &st);
    return std::vector<long>{st.st_atim.tv_sec, st.st_atim.tv_nsec,
                             st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                             st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  };
  const auto before = std::pair{times(ini), times(pub.path())};
  for (const auto& [order, status] : {std::pair{std::vector<std::string>{}, 0},
                                      {{"ORDER-1"}, 0},
                                      {{"ORDER-2"}, 5},
                                      {{""}, 5},
                                      {{"order-1"}, 5},
                                      {{"ORDER-1 "}, 5},
                                      {{"ORDER-"}, 5}}) {
    std::vector<std::string> args{"--result", p};
    args.insert(args.end(), order.begin(), order.end());
    RunResult r = run_tolmex(args);
    EXPECT_EQ(r.status, status) << args.back();
    EXPECT_EQ(r.out + r.err, json);
  }
  // Nothing in P changed, its times included.
  EXPECT_EQ(std::pair(times(ini), times(pub.path())), before);
  EXPECT_EQ(list_dir(pub.path()), std::vector<std::string>{"tolmex.ini"});
  // The reset's empty out_trade_no is no order's.
  write_file(ini, "[return]\r\nout_trade_no=\r\n");
  EXPECT_EQ(run_tolmex({"--result", p, ""}).status, 5);
  // What cannot be read or decoded: 3, nothing on stdout, the reason.
  for (const auto& [content, reason] :
       {std::pair{std::string(), ": No such file or directory"},
        {std::string("\xFF\xFE[\0r\0]", 7), ": UTF-16 text with an odd number"},
        {"[return]\r\nresult=\xFF\r\n",
         ": the value of result holds a byte"}}) {
    std::remove(ini.c_str());
    if (!content.empty()) write_file(ini, content);
    RunResult r = run_tolmex({"--result", p, "ORDER-1"});
    EXPECT_EQ(r.status, 3) << reason;
    EXPECT_TRUE(r.out.empty() &&
                r.err.starts_with("tolmex: cannot read " + ini + reason))
        << r.err;
  }
  // A file that another user could have chosen is read with a warning; a
  // link of theirs, which a request would not follow, is not followed.
  if (::geteuid() != 0) return;
  write_file(ini, answered, 0644);
  ASSERT_EQ(::chown(ini.c_str(), 65533, 65533), 0);
  EXPECT_EQ(run_tolmex({"--result", p}).err,
            "tolmex: warning: " + ini +
                " belongs to user 65533: what it says "
                "may not be the client's; chown root " +
                ini + "\n");
  std::remove(ini.c_str());
  ASSERT_EQ(::symlink("/etc/hostname", ini.c_str()), 0);
  ASSERT_EQ(::lchown(ini.c_str(), 65533, 65533), 0);
  EXPECT_NE(run_tolmex({"--result", p})
                .err.find("is a symbolic link of another user"),
            std::string::npos);
}

}  // namespace
