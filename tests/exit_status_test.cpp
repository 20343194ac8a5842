// Whole-program tests of what the host learns from the exit status and
// stderr: each status of the table from a real run, signals passed on to
// the client, the client's signal state, and failures with their reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <functional>
#include <regex>
#include <thread>

#include "tests/harness.h"

namespace {

using namespace testing_support;

const std::string kMissing = "系统错误: 缺少关键性文件,请与供应商联系! \n";

class ExitStatusTest : public ::testing::Test {
 protected:
  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  std::string exe() { return pub / "mart.exe"; }
  // Waits up to `seconds` for `file` to appear.
  bool appears(const std::string& file, int seconds = 10) {
    for (int i = 0; i < seconds * 100 && !exists(file); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exists(file);
  }
  TempDir pub;
};

TEST_F(ExitStatusTest, ClientThatCannotStartEndsWith4AndTheReason) {
  struct Case {
    const char* name;
    std::string client;
    int mode;
    std::string reason;
    std::size_t request_size = 0;  // a request longer than the kernel takes
  };
  const Case cases[] = {
      {"no execute permission", "#!/bin/sh\n", 0644, "Permission denied"},
      {"empty file", "", 0755, "Exec format error"},
      {"bad interpreter", "#!/nonexistent/sh\n", 0755,
       "No such file or directory"},
      {"request too long", "#!/bin/sh\n", 0755, "Argument list too long",
       200000},
  };
  for (const Case& c : cases) {
    write_file(pub / "mart.dll", c.client, c.mode);
    // The host's command line may hold more than one argument can: its
    // words are joined into the one parameter string.
    std::vector<std::string> args{request()};
    for (std::size_t n = 0; n < c.request_size; n += 100000) {
      args.push_back(std::string(100000, 'x'));
    }
    auto r = run_tolmex(args);
    EXPECT_EQ(r.status, 4) << c.name;
    EXPECT_EQ(r.err, kMissing + "tolmex: cannot start " + exe() + ": " +
                         c.reason + "\n")
        << c.name;
    EXPECT_FALSE(exists(exe())) << c.name;
  }
}

TEST_F(ExitStatusTest, EachEndHasItsStatus) {
  // 0, 2 and 3 here; 1 below, 4 and 128 + n in the tests above and below.
  write_file(pub / "mart.dll", "#!/bin/sh\nexit 9\n", 0755);
  EXPECT_EQ(run_tolmex({request()}).status, 0);  // the client's own is not
  EXPECT_EQ(run_tolmex({}).status, 0);
  std::remove((pub / "mart.dll").c_str());
  // The trace records the reasons too.
  const std::vector<std::string> traced{"TOLMEX_TRACE=" + (pub / "trace")};
  auto r = run_tolmex({request()}, traced);
  EXPECT_EQ(r.status, 2);
  const std::string copy_failure = "cannot copy " + (pub / "mart.dll") +
                                   " to " + exe() +
                                   ": No such file or directory";
  EXPECT_EQ(r.err, kMissing + "tolmex: " + copy_failure + "\n");
  ::chmod((pub / "tolmex.ini").c_str(), 0444);
  r = run_tolmex({request()}, traced);
  EXPECT_EQ(r.status, 3);
  const std::string trace = read_file(pub / "trace");
  EXPECT_NE(trace.find("CopyFile: " + copy_failure + "\n"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("WriteProfileString: " +
                       r.err.substr(r.err.find("tolmex: cannot") + 8)),
            std::string::npos)
      << trace;
}

TEST_F(ExitStatusTest, CodeSetThatCannotBeConvertedIsARuntimeError) {
  // A locale of our own whose code set no converter knows.
  TempDir locales;
  const std::string charmap = locales / "charmap";
  RunResult made =
      run({"/bin/sh", "-c",
           "zcat /usr/share/i18n/charmaps/ISO-8859-1.gz | "
           "sed 's/^<code_set_name> .*/<code_set_name> TOLMEX-UNKNOWN/' > '" +
               charmap + "' && localedef -c -i en_US -f '" + charmap + "' '" +
               (locales / "xx_XX") + "'"});
  if (!exists(locales / "xx_XX")) {
    GTEST_SKIP() << "cannot make a locale here (needs localedef and the "
                    "locale sources of the locales package): "
                 << made.err;
  }
  write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
  auto r =
      run_tolmex({request()}, {"LOCPATH=" + locales.path(), "LC_ALL=xx_XX"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tolmex: cannot convert between TOLMEX-UNKNOWN and UTF-16LE: "
            "Invalid argument\n");
  EXPECT_FALSE(exists(pub / "tolmex.ini"));
}

TEST_F(ExitStatusTest, HelpAndVersionAloneTouchNothing) {
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
  for (auto args : {std::vector<std::string>{"--help", "x"}, {"--check"}}) {
    RunResult r = run_tolmex(args, {}, cwd.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("usage: tolmex PARAMETER-STRING\n"));
  }
  EXPECT_EQ(list_dir(cwd.path()), std::vector<std::string>{});
  // With a comma it is a request like any other (here: no client).
  EXPECT_EQ(run_tolmex({"--help,x"}, {}, cwd.path()).status, 2);
  EXPECT_FALSE(list_dir(cwd.path()).empty());
}

TEST_F(ExitStatusTest, LocaleThatIsNotInstalledIsAWarning) {
  write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
  const std::string locale = "LC_ALL=xx_YY.BIG5";  // no such locale
  auto r = run_tolmex({request()}, {locale});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err,
            "tolmex: warning: locale xx_YY.BIG5 is not installed; using "
            "UTF-8\n");
  // An empty request stays silent.
  EXPECT_EQ(run_tolmex({}, {locale}).err, "");
  // A locale's name forges no line.
  r = run_tolmex({request()}, {"LC_ALL=xx\ntolmex: payment accepted"});
  EXPECT_EQ(r.err,
            "tolmex: warning: locale xx\\x0atolmex: payment accepted "
            "is not installed; using UTF-8\n");
}

TEST_F(ExitStatusTest, FullDiskAndMissingClientTellTheirReasons) {
  SmallFileSystem fs(pub.path());
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  write_file(pub / "mart.dll", std::string(200 << 10, '#'), 0755);
  auto r = run_tolmex({request()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kMissing + "tolmex: cannot copy " + (pub / "mart.dll") +
                       " to " + exe() + ": No space left on device\n");
}

// A client that records each of TERM, INT and HUP it gets in "got", says
// "ready", and runs until it gets one (or for `seconds` when it ignores
// TERM).
std::string trapping_client(bool ignore_term) {
  return std::string("#!/bin/sh\nd=$(dirname \"$0\")\n") +
         (ignore_term ? "trap 'echo TERM >> \"$d/got\"' TERM\n"
                      : "trap 'echo TERM >> \"$d/got\"; exit 0' TERM\n") +
         "trap 'echo INT >> \"$d/got\"; exit 0' INT\n"
         "trap 'echo HUP >> \"$d/got\"; exit 0' HUP\n"
         // A helper that runs sleep (and no longer the shell's traps).
         "sleep 30 & echo $! > \"$d/helper\"\necho $PPID > \"$d/parent\"\n"
         "until [ \"$(cat /proc/$!/comm)\" = sleep ]; do :; done\n"
         "echo > \"$d/ready\"\n" +
         (ignore_term ? "sleep 0.3; sleep 0.3\necho > \"$d/done\"\n"
                      : "while :; do sleep 0.01; done\n");
}

TEST_F(ExitStatusTest, SignalsReachTheClientAndTheRunWaitsForIt) {
  write_file(pub / "mart.dll", trapping_client(false), 0755);
  for (const auto& [sig, name] :
       {std::pair{SIGTERM, "TERM"}, std::pair{SIGINT, "INT"},
        std::pair{SIGHUP, "HUP"}}) {
    Started run = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
    ASSERT_TRUE(appears(pub / "ready")) << name;
    ::kill(run.pid, sig);
    RunResult r = finish_within(run, 10);
    EXPECT_EQ(r.status, 128 + sig) << name << r.err;
    EXPECT_EQ(read_file(pub / "got"), std::string(name) + "\n");
    EXPECT_FALSE(exists(exe())) << name;
    // What the client started got the signal too (a shell's background
    // command ignores SIGINT).
    const int helper = std::stoi(read_file(pub / "helper"));
    ::usleep(100000);
    const std::string stat = "/proc/" + std::to_string(helper) + "/stat";
    const bool alive =
        exists(stat) && read_file(stat).find(") Z ") == std::string::npos;
    EXPECT_EQ(alive, sig == SIGINT) << name;
    ::kill(helper, SIGKILL);
    std::remove((pub / "got").c_str());
    std::remove((pub / "ready").c_str());
  }
}

TEST_F(ExitStatusTest, ClientReadsTheTerminalThatTheRunHasInItsForeground) {
  // The client runs in a group of its own: without the terminal it would
  // be stopped at its first read. script(1) gives the run a terminal; the
  // lines after "|" are typed into it one a second.
  if (!exists("/usr/bin/script")) GTEST_SKIP() << "needs script(1)";
  auto typed = [&](const std::string& shell, const std::string& lines) {
    Started run = start(
        {"/bin/sh", "-c",
         "(for l in " + lines + "; do sleep 1; echo \"$l\"; done; " +
             "sleep 1) | /usr/bin/script -qec \"$0\" /dev/null",
         shell},
        {"DISPLAY=", "T=" TOLMEX_BINARY, "R=" + request(), "P=" + pub.path()});
    return finish_within(run, 15);
  };
  write_file(pub / "mart.dll",
             "#!/bin/sh\necho $PPID > \"$(dirname \"$0\")/parent\"\n"
             "read x < /dev/tty\necho \"$x\" > \"$(dirname \"$0\")/read\"\n",
             0755);
  // Once the client has ended, the terminal is the host's again.
  RunResult r =
      typed("\"$T\" \"$R\"; read y; echo $y > \"$P/after\"", "typed again");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub / "read"), "typed\n");
  EXPECT_EQ(read_file(pub / "after"), "again\n");
  // Also when a signal that is not passed on ends the run.
  std::remove((pub / "parent").c_str());
  std::thread killer([&] {
    // The pid once its line is whole: the file appears before it is written.
    for (int i = 0; i < 1000; ++i) {
      if (exists(pub / "parent") && read_file(pub / "parent").ends_with('\n')) {
        ::kill(std::stoi(read_file(pub / "parent")), SIGUSR1);
        return;
      }
      ::usleep(10000);
    }
  });
  r = typed("\"$T\" \"$R\"; read y; echo $y > \"$P/after\"", "later");
  killer.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub / "after"), "later\n");
  // A run in the background stops with the client that reads the
  // terminal, and goes on in the foreground.
  r = typed("bash --norc -i", "'\"$T\" \"$R\" &' fg in_front exit");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub / "read"), "in_front\n");
}

TEST_F(ExitStatusTest, CheckNamesWhatWouldStopARequestAndTouchesNothing) {
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
  TempDir other;
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
       "problem: cannot start " + exe() + ": Exec format error"},
      {"a mart.dll whose interpreter is missing", "mart.dll",
       "#!/nonexistent/sh\n", 0755, "C",
       "problem: cannot start " + exe() + ": No such file or directory"},
      {"a logpay that cannot be made", "logpay", "", 0644, "C",
       "warning: the request would not be logged: cannot open "},
      {"a read-only tolmex.ini", "tolmex.ini", "[return]\r\n", 0444, "C",
       "problem: cannot write " + (pub / "tolmex.ini") +
           ": this user may not write it"},
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

TEST_F(ExitStatusTest, ClientThatIgnoresTheSignalKeepsTheRunWaiting) {
  write_file(pub / "mart.dll", trapping_client(true), 0755);
  Started run = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
  ASSERT_TRUE(appears(pub / "ready"));
  ::kill(run.pid, SIGTERM);
  RunResult r = finish_within(run, 10);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
  EXPECT_TRUE(exists(pub / "done"));  // the client ran to its end
  EXPECT_FALSE(exists(exe()));
  // Of two signals, the first is the one the run ends with, also when the
  // second comes after the client ended: strace slows the removal of the
  // copy so that it comes then.
  std::remove((pub / "ready").c_str());
  std::remove((pub / "done").c_str());
  std::vector<std::string> argv{TOLMEX_BINARY, request()};
#ifndef __SANITIZE_ADDRESS__
  if (exists("/usr/bin/strace")) {
    argv.insert(argv.begin(),
                {"/usr/bin/strace", "-o", "/dev/null", "-e", "trace=unlinkat",
                 "-e", "inject=unlinkat:delay_enter=500000"});
  }
#endif
  run = start(argv, {"DISPLAY="});
  ASSERT_TRUE(appears(pub / "ready"));
  const int tolmex_pid = std::stoi(read_file(pub / "parent"));
  ::kill(tolmex_pid, SIGTERM);
  ASSERT_TRUE(appears(pub / "done"));
  ::usleep(100000);
  ::kill(tolmex_pid, SIGHUP);
  r = finish_within(run, 10);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
}

TEST_F(ExitStatusTest, KilledRunTakesItsClientAlong) {
  write_file(pub / "mart.dll", trapping_client(false), 0755);
  Started run = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
  ASSERT_TRUE(appears(pub / "ready"));
  ::kill(run.pid, SIGKILL);
  finish(run);
  EXPECT_TRUE(appears(pub / "got", 1));
  EXPECT_EQ(read_file(pub / "got"), "TERM\n");
}

// Runs tolmex with `prepare` called in the child just before the exec.
RunResult run_prepared(const std::vector<std::string>& args,
                       const std::function<void()>& prepare) {
  TempDir io;
  pid_t pid = ::fork();
  if (pid == 0) {
    int err = ::open((io / "err").c_str(), O_WRONLY | O_CREAT, 0600);
    int out = ::open((io / "out").c_str(), O_WRONLY | O_CREAT, 0600);
    ::dup2(err, 2);
    ::dup2(out, 1);
    prepare();
    std::vector<char*> argv{const_cast<char*>(TOLMEX_BINARY)};
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::unsetenv("DISPLAY");
    ::execv(argv[0], argv.data());
    ::_exit(126);
  }
  int status;
  ::waitpid(pid, &status, 0);
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = exists(io / "err") ? read_file(io / "err") : "";
  r.out = exists(io / "out") ? read_file(io / "out") : "";
  return r;
}

TEST_F(ExitStatusTest, ClientStartsWithDefaultSignalStateWhateverTheHostLeft) {
  // grep reads the state of its own process (a shell would clear its mask
  // and hide a fault); env execs it without touching signals.
  write_file(pub / "mart.dll",
             "#!/usr/bin/env -S grep -hE ^Sig(Blk|Ign): /proc/self/status\n",
             0755);
  RunResult r = run_prepared({request()}, [] {
    ::signal(SIGCHLD, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGUSR1, SIG_IGN);
    sigset_t set;
    sigfillset(&set);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
  });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(ExitStatusTest, ClosedStderrIsNoDeath) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  RunResult r = run_prepared({request()}, [&] { ::dup2(ends[1], 2); });
  ::close(ends[1]);
  EXPECT_EQ(r.status, 2);  // no mart.dll
}

}  // namespace

TEST_F(ExitStatusTest, AuditLineReachesTheSystemLog) {
  // A syslog socket of the test's own, shown to tolmex as /dev/log in a
  // mount namespace of its own.
  const std::string sock_path = pub / "log.sock";
  int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval limit = {10, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  auto run_logged = [&](const std::string& request) {
    // Without root, in a user namespace too (-r).
    return run({"/usr/bin/unshare", ::geteuid() == 0 ? "--mount" : "-rm",
                "/bin/sh", "-c",
                "mount -t tmpfs tmpfs /dev && ln -s '" + sock_path +
                    "' /dev/log && exec \"$0\" \"$@\"",
                TOLMEX_BINARY, request},
               {"DISPLAY=", "LC_ALL=C.UTF-8"});
  };
  auto next_line = [&] {
    char buf[4096];
    ssize_t n = ::recv(sock, buf, sizeof buf, 0);
    return n < 0 ? std::string("(nothing)") : std::string(buf, n);
  };
  const std::string stamp = R"(<14>[A-Z][a-z]{2} [ 1-3][0-9] \d\d:\d\d:\d\d )";
  write_file(pub / "mart.dll", "#!/bin/sh\nexit 7\n", 0755);
  RunResult r = run_logged(request());
  if (r.status != 0 && r.err.find("unshare") != std::string::npos) {
    GTEST_SKIP() << "no mount namespace here: " << r.err;
  }
  EXPECT_EQ(r.status, 0) << r.err;
  std::string line = next_line();
  EXPECT_TRUE(std::regex_match(
      line,
      std::regex(stamp + R"(tolmex\[\d+\]: public directory ")" + pub.path() +
                 R"(/", exit status 0, client exit status 7, \d+ ms)")))
      << line;
  std::remove((pub / "mart.dll").c_str());
  EXPECT_EQ(run_logged(request()).status, 2);
  line = next_line();
  EXPECT_TRUE(std::regex_match(
      line,
      std::regex(stamp + R"(tolmex\[\d+\]: public directory ")" + pub.path() +
                 R"(/", exit status 2, client not run, \d+ ms)")))
      << line;
  // A line break in the path cannot start a line of its own, nor a DEL
  // hide what is before it, nor a backslash pass for an escape; a path of
  // 1024 bytes is shown whole.
  const std::string tail(1024 - pub.path().size() - 7, 'c');
  EXPECT_EQ(run_logged("pay," + pub.path() + "/a\nb\x7f\\" + tail + "/").status,
            3);
  line = next_line();
  EXPECT_NE(line.find("public directory \"" + pub.path() +
                      "/a\\x0ab\\x7f\\x5c" + tail + "/\", exit status 3"),
            std::string::npos)
      << line;
  // Longer, it is cut after 1024 UTF-16 units, never inside a character
  // (U+10000 takes two).
  const std::string fill(1022 - pub.path().size(), 'c');
  for (const auto& [last, kept] :
       {std::pair{"cc", "c"}, std::pair{"\xF0\x90\x80\x80", ""}}) {
    EXPECT_EQ(run_logged("pay," + pub.path() + "/" + fill + last + "/").status,
              3);
    line = next_line();
    EXPECT_NE(line.find("/" + fill + kept + "\" (cut), exit"),
              std::string::npos)
        << line;
  }
  // An empty request leaves no line.
  EXPECT_EQ(run_logged("").status, 0);
  limit = {0, 300000};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  EXPECT_EQ(next_line(), "(nothing)");
  ::close(sock);
}
