// Whole-program tests of signals and the terminal: signals sent to a run
// reach its client and the run ends with 128 + n once the client has; a
// killed run takes its client along; the client starts with the default
// signal state and reads the terminal the run has in its foreground. The
// tests wait for files the clients write, never for a while.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>

#include "tests/harness.h"

namespace {

using namespace testing_support;

// A client that records each of TERM, INT and HUP it gets in "got", writes
// its own pid to "client" and its parent's to "parent", then "ready", and
// runs until it gets one (or, ignoring TERM and HUP, with its helper
// stopped, 0.9 s more and then writes "done", "stopped" when the helper
// still is).
std::string trapping_client(bool ignore_term) {
  return std::string("#!/bin/sh\nd=$(echo \"$1\" | cut -d, -f2)\n") +
         (ignore_term ? "trap 'echo TERM >> \"$d/got\"' TERM\n"
                      : "trap 'echo TERM >> \"$d/got\"; exit 0' TERM\n") +
         (ignore_term ? "trap 'echo HUP >> \"$d/got\"' HUP\n"
                      : "trap 'echo HUP >> \"$d/got\"; exit 0' HUP\n") +
         "trap 'echo INT >> \"$d/got\"; exit 0' INT\n"
         // A helper that runs sleep (and no longer the shell's traps).
         "sleep 30 & echo $! > \"$d/helper\"\necho $PPID > \"$d/parent\"\n"
         "echo $$ > \"$d/client\"\n"
         "until [ \"$(cat /proc/$!/comm)\" = sleep ]; do :; done\n" +
         (ignore_term ? "kill -STOP $!\n" : "") + "echo > \"$d/ready\"\n" +
         (ignore_term ? "sleep 0.3; sleep 0.3; sleep 0.3\n"
                        "grep -q 'State:.*stopped' /proc/$!/status 2>/dev/null "
                        "&& s=stopped\n"
                        "echo $s > \"$d/done\"\n"
                      : "while :; do sleep 0.01; done\n");
}

class SignalTest : public ::testing::Test {
 protected:
  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  // The number in `name` once its line is whole.
  int pid_in(const std::string& name) {
    const std::string file = pub / name;
    EXPECT_TRUE(appears(file, 10, [&] {
      return exists(file) && read_file(file).ends_with('\n');
    })) << name;
    return std::stoi(read_file(file));
  }
  TempDir pub;
};

TEST_F(SignalTest, SignalsReachTheClientAndTheRunWaitsForIt) {
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
    EXPECT_FALSE(exists(pub / "mart.exe")) << name;
    // What the client started got the signal too, and what ignores it (a
    // shell's background command ignores SIGINT) is ended with the run.
    const int helper = pid_in("helper");
    EXPECT_TRUE(ends_within(helper, 1)) << name;
    if (sig == SIGINT) {
      EXPECT_NE(r.err.find("left 1 process(es) running"), std::string::npos)
          << r.err;
    }
    ::kill(helper, SIGKILL);
    for (const char* file : {"got", "ready", "helper", "parent", "client"}) {
      std::remove((pub / file).c_str());
    }
  }
}

TEST_F(SignalTest, ClientThatIgnoresTheSignalKeepsTheRunWaiting) {
  write_file(pub / "mart.dll", trapping_client(true), 0755);
  Started run = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
  ASSERT_TRUE(appears(pub / "ready"));
  ::kill(run.pid, SIGTERM);
  // Of two signals, the first is the one the run ends with.
  ASSERT_TRUE(appears(pub / "got"));
  ::kill(run.pid, SIGHUP);
  RunResult r = finish_within(run, 10);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
  EXPECT_EQ(read_file(pub / "got"), "TERM\nHUP\n");
  // The client ran to its end; its stopped helper was continued to end by
  // the signal.
  EXPECT_EQ(read_file(pub / "done"), "\n");
  EXPECT_FALSE(exists(pub / "mart.exe"));
  // Also when the second comes after the client ended (strace holds the
  // removal of the copy for 2 s, a wide margin on a loaded machine, so that
  // it comes then): it stays blocked, while one that is not passed on, once
  // the run has reaped its client, ends the run as it would before the
  // client started.
  for (const char* file : {"ready", "done", "client", "parent"}) {
    std::remove((pub / file).c_str());
  }
  std::vector<std::string> argv{TOLMEX_BINARY, request()};
#ifndef __SANITIZE_ADDRESS__
  if (exists("/usr/bin/strace")) {
    argv.insert(argv.begin(),
                {"/usr/bin/strace", "-o", "/dev/null", "-e", "trace=unlinkat",
                 "-e", "inject=unlinkat:delay_enter=2000000"});
  }
#endif
  const bool slowed = argv[0] != TOLMEX_BINARY;
  run = start(argv, {"DISPLAY="});
  ASSERT_TRUE(appears(pub / "ready"));
  const int tolmex_pid = pid_in("parent"), client = pid_in("client");
  ::kill(tolmex_pid, SIGTERM);
  ASSERT_TRUE(ends_within(client, 10));
  ::kill(tolmex_pid, SIGHUP);
  if (slowed) {
    const std::time_t limit = std::time(nullptr) + 10;
    while (::kill(client, 0) == 0 && std::time(nullptr) < limit) {
    }
    ::kill(tolmex_pid, SIGUSR1);
  }
  r = finish_within(run, 10);
  EXPECT_EQ(r.status, slowed ? 128 + SIGUSR1 : 128 + SIGTERM) << r.err;
  EXPECT_EQ(r.signal, slowed ? SIGUSR1 : 0);
}

TEST_F(SignalTest, KilledRunTakesItsClientAlong) {
  // SIGUSR1 is not passed on: the run ends by it, as by SIGKILL.
  write_file(pub / "mart.dll", trapping_client(false), 0755);
  for (int sig : {SIGKILL, SIGUSR1}) {
    for (const char* file : {"got", "ready"}) std::remove((pub / file).c_str());
    Started run = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
    ASSERT_TRUE(appears(pub / "ready")) << sig;
    ::kill(run.pid, sig);
    EXPECT_EQ(finish(run).signal, sig);
    EXPECT_TRUE(appears(pub / "got", 10, [&] {
      return exists(pub / "got") && read_file(pub / "got").ends_with('\n');
    }));
    EXPECT_EQ(read_file(pub / "got"), "TERM\n") << sig;
  }
}

TEST_F(SignalTest, ClientStartsWithDefaultSignalStateWhateverTheHostLeft) {
  // grep reads the state of its own process (a shell would clear its mask
  // and hide a fault); env execs it without touching signals.
  write_file(pub / "mart.dll",
             "#!/usr/bin/env -S grep -hE ^Sig(Blk|Ign): /proc/self/status\n",
             0755);
  Started s = start({TOLMEX_BINARY, request()}, {"DISPLAY="}, "", [] {
    ::signal(SIGCHLD, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGUSR1, SIG_IGN);
    sigset_t set;
    sigfillset(&set);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
  });
  RunResult r = finish_within(s, 20);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(SignalTest, ClientReadsTheTerminalThatTheRunHasInItsForeground) {
  // The client runs in a group of its own: without the terminal it would
  // be stopped as it first sets the terminal or reads it. script(1) gives the
  // run a terminal; the test types each line once the one meant to read it is
  // there.
  if (!exists("/usr/bin/script")) GTEST_SKIP() << "needs script(1)";
  write_file(pub / "mart.dll",
             "#!/bin/sh\necho $PPID > \"$(echo \"$1\" | cut -d, -f2)/parent\"\n"
             "stty -tostop < /dev/tty\nread x < /dev/tty\necho \"$x\" > "
             "\"$(echo \"$1\" | cut -d, -f2)/read\"\n",
             0755);
  // Keys go through a socket, so that typing to a terminal that is gone
  // fails the test and does not end it by SIGPIPE.
  int keys[2] = {-1, -1};
  auto session = [&](const std::string& shell) {
    for (const char* file : {"parent", "read", "returned", "after"}) {
      std::remove((pub / file).c_str());
    }
    ::close(keys[1]);
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, keys), 0);
    Started s = start(
        {"/usr/bin/script", "-qec", shell, "/dev/null"},
        {"DISPLAY=", "T=" TOLMEX_BINARY, "R=" + request(), "P=" + pub.path()},
        "", [&] { ::dup2(keys[0], 0); });
    ::close(keys[0]);
    return s;
  };
  auto type = [&](const std::string& line) {
    EXPECT_EQ(
        ::send(keys[1], (line + "\n").data(), line.size() + 1, MSG_NOSIGNAL),
        static_cast<ssize_t>(line.size() + 1));
  };
  auto holds = [&](const std::string& name, const std::string& text) {
    return appears(pub / name, 10, [&] {
      return exists(pub / name) && read_file(pub / name) == text;
    });
  };
  // The host's shell marks "returned" once the run is back, then reads:
  // once the client has ended, the terminal is the host's again.
  const std::string host =
      "\"$T\" \"$R\"; echo > \"$P/returned\"; read y; echo $y > \"$P/after\"";
  Started run = session(host);
  pid_in("parent");
  type("typed");
  EXPECT_TRUE(holds("read", "typed\n"));
  EXPECT_TRUE(appears(pub / "returned"));
  type("again");
  EXPECT_TRUE(holds("after", "again\n"));
  EXPECT_EQ(finish_within(run, 15).status, 0);
  // Also when a signal that is not passed on ends the run (the last
  // real-time one too).
  for (int sig : {SIGUSR1, SIGRTMAX}) {
    run = session(host);
    ::kill(pid_in("parent"), sig);
    EXPECT_TRUE(appears(pub / "returned")) << sig;
    type("later");
    EXPECT_TRUE(holds("after", "later\n")) << sig;
    EXPECT_EQ(finish_within(run, 15).status, 0) << sig;
  }
  // A run in the background stops with the client that sets the terminal
  // (by SIGTTOU, which the run blocks again once continued, so that it can
  // take the terminal back at the end), and goes on in the foreground. Without
  // line editing, bash reads its lines as they are typed and leaves the next to
  // the client.
  run = session("bash --norc --noediting -i -o notify");
  type("\"$T\" \"$R\" &");
  pid_in("parent");
  const std::string screen = *run.io / "out";
  EXPECT_TRUE(appears(screen, 10, [&] {
    return read_file(screen).find("Stopped") != std::string::npos;
  })) << read_file(screen);
  type("fg");
  type("in_front");
  EXPECT_TRUE(holds("read", "in_front\n"));
  type("exit");
  EXPECT_EQ(finish_within(run, 15).status, 0);
  ::close(keys[1]);
}

}  // namespace
