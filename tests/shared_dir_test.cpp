// Whole-program tests of a public directory that other users share: files
// they plant there (programs, links, FIFOs, locks) never run, never redirect
// a write and never keep a run waiting. Runs here are root (as CI) or a
// second user through setpriv, against things planted by a third user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "tests/harness.h"

namespace {

using namespace testing_support;

constexpr uid_t kOther = 65533;   // plants things in the directory
constexpr uid_t kRunner = 65534;  // runs tolmex where root should not
constexpr int kSeconds = 20;      // a run that takes longer hangs

// A client that counts its runs in "ran" beside itself.
const std::string kClient = "#!/bin/sh\necho x >> \"$(dirname \"$0\")/ran\"\n";
// A program of the other user that must never run.
const std::string kForeign = "#!/bin/sh\necho x > /tmp/tolmex-foreign-ran\n";

std::vector<std::string> as_user(uid_t uid, std::vector<std::string> argv) {
  argv.insert(argv.begin(),
              {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
               "--regid=" + std::to_string(uid), "--clear-groups"});
  return argv;
}

class SharedDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !exists("/usr/bin/setpriv")) {
      GTEST_SKIP() << "needs root and setpriv to act as other users";
    }
    ASSERT_EQ(::chmod(pub.path().c_str(), 01777), 0);
    std::remove("/tmp/tolmex-foreign-ran");
  }
  void TearDown() override {
    release();
    std::remove("/tmp/tolmex-foreign-ran");
  }

  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  int runs() {
    std::string ran = exists(pub / "ran") ? read_file(pub / "ran") : "";
    return static_cast<int>(ran.size() / 2);
  }
  // Runs tolmex as `uid` (0: root) and fails a run that hangs.
  RunResult run_as(uid_t uid, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv{TOLMEX_BINARY, request()};
    if (uid != 0) argv = as_user(uid, argv);
    std::vector<std::string> environment{"DISPLAY=", "WAYLAND_DISPLAY="};
    environment.insert(environment.end(), env.begin(), env.end());
    Started run = start(argv, environment);
    return finish_within(run, kSeconds);
  }
  // Runs a shell command as the other user.
  void plant(const std::string& command) {
    RunResult r = run(as_user(kOther, {"/bin/sh", "-c", command}));
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
  }
  // Keeps `command` running as the other user (a lock held) until the end.
  void hold(const std::string& command) {
    holders.push_back(
        start(as_user(kOther, {"/usr/bin/setsid", "/bin/sh", "-c", command})));
    ::usleep(200000);  // the lock is taken
  }
  void release() {
    for (Started& s : holders) {
      ::kill(-s.pid, SIGKILL);
      finish(s);
    }
    holders.clear();
  }
  std::string log_file() {
    std::time_t t = std::time(nullptr);
    char day[16];
    std::strftime(day, sizeof day, "%Y%m%d", std::localtime(&t));
    return pub / ("logpay/pay_log" + std::string(day) + ".txt");
  }

  TempDir pub;
  std::vector<Started> holders;
};

TEST_F(SharedDirTest, ForeignMartExeNeverRunsEvenWhenHeldInUse) {
  write_file(pub / "mart.dll", kClient, 0755);
  plant("printf '" + kForeign + "' > '" + (pub / "mart.exe") +
        "' && chmod 755 '" + (pub / "mart.exe") + "'");
  hold("exec flock -s '" + (pub / "mart.exe") + "' sleep 60");
  // Another user cannot remove it from the sticky directory: the copy
  // fails as when mart.dll is missing.
  RunResult r = run_as(kRunner);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("mart.exe: Operation not permitted"), std::string::npos)
      << r.err;
  // Root can remove it, and runs its own copy.
  r = run_as(0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runs(), 1);
  EXPECT_FALSE(exists("/tmp/tolmex-foreign-ran"));
}

TEST_F(SharedDirTest, OddThingsNamedMartExeEndTheRunWithinSeconds) {
  struct Case {
    const char* name;
    std::string make;  // a shell command run by the runner, or the other
    bool by_other;
    int status;  // 0 when the name can be removed and the client runs
  };
  const std::string exe = "'" + (pub / "mart.exe") + "'";
  const Case cases[] = {
      {"a directory", "mkdir " + exe, false, 2},
      {"a dangling link", "ln -s /nonexistent " + exe, false, 0},
      {"a self-looping link", "ln -s mart.exe " + exe, false, 0},
      {"a FIFO", "mkfifo " + exe, false, 0},
      {"another user's file", "printf '" + kForeign + "' > " + exe, true, 2},
  };
  write_file(pub / "mart.dll", kClient, 0755);
  for (const Case& c : cases) {
    std::remove((pub / "ran").c_str());
    RunResult made =
        run(as_user(c.by_other ? kOther : kRunner, {"/bin/sh", "-c", c.make}));
    ASSERT_EQ(made.status, 0) << c.name << ": " << made.err;
    RunResult r = run_as(kRunner);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_EQ(runs(), c.status == 0 ? 1 : 0) << c.name;
    RunResult cleared = run({"/bin/rm", "-rf", pub / "mart.exe"});
    ASSERT_EQ(cleared.status, 0) << cleared.err;
  }
  EXPECT_FALSE(exists("/tmp/tolmex-foreign-ran"));
}

TEST_F(SharedDirTest, ForeignLocksEndTheRunWithinSeconds) {
  // The other user locks the result file in one directory and the log in
  // another: the first run ends in status 3, the second loses its record
  // and runs the client. Both at once, as each waits for a while.
  TempDir second;
  ASSERT_EQ(::chmod(second.path().c_str(), 01777), 0);
  for (const TempDir* dir : {&pub, &second}) {
    write_file(*dir / "mart.dll", kClient, 0755);
    ASSERT_EQ(run_tolmex({"pay," + dir->path() + "/"}).status, 0);
  }
  const std::string second_log =
      second / log_file().substr(pub.path().size() + 1);
  const std::string log = read_file(second_log);
  hold("exec flock -x '" + (pub / "tolmex.ini") + "' sleep 60");
  hold("exec flock -x '" + second_log + "' sleep 60");
  Started locked_ini = start({TOLMEX_BINARY, request()}, {"DISPLAY="});
  Started locked_log =
      start({TOLMEX_BINARY, "pay," + second.path() + "/"}, {"DISPLAY="});
  RunResult r = finish_within(locked_ini, kSeconds);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(r.err.substr(r.err.find("tolmex: ")),
            "tolmex: cannot write " + (pub / "tolmex.ini") +
                ": locked by another process\n");
  EXPECT_EQ(finish_within(locked_log, kSeconds).status, 0);
  EXPECT_EQ(read_file(second_log), log);
  EXPECT_EQ(read_file(second / "ran"), "x\nx\n");
  EXPECT_EQ(runs(), 1);
}

TEST_F(SharedDirTest, FifosEndTheRunAtOnce) {
  write_file(pub / "mart.dll", kClient, 0755);
  ASSERT_EQ(run_as(0).status, 0);  // makes tolmex.ini and the log
  RunResult r;
  // FIFOs: as the result file (status 3), the client (2), the log (lost).
  struct Case {
    std::string fifo;
    int status;
  };
  for (const Case& c : {Case{pub / "tolmex.ini", 3}, Case{pub / "mart.dll", 2},
                        Case{log_file(), 0}}) {
    const std::string saved = pub / "saved";
    ASSERT_EQ(::rename(c.fifo.c_str(), saved.c_str()), 0);
    ASSERT_EQ(::mkfifo(c.fifo.c_str(), 0666), 0);
    r = run_as(0);
    EXPECT_EQ(r.status, c.status) << c.fifo << ": " << r.err;
    if (c.status != 0) {
      EXPECT_NE(r.err.find(": not a regular file"), std::string::npos) << r.err;
    }
    ASSERT_EQ(::rename(saved.c_str(), c.fifo.c_str()), 0);
  }
  EXPECT_EQ(runs(), 2);
}

TEST_F(SharedDirTest, LinksOfAnotherUserAreNotFollowed) {
  TempDir outside;
  const std::string victim = outside / "victim";
  write_file(victim, "precious\n", 0666);
  ASSERT_EQ(::chmod(outside.path().c_str(), 0755), 0);
  write_file(pub / "mart.dll", kClient, 0755);
  ASSERT_EQ(::mkdir((pub / "logpay").c_str(), 0700), 0);
  ASSERT_EQ(::chmod((pub / "logpay").c_str(), 01777), 0);
  plant("ln -s '" + victim + "' '" + (pub / "tolmex.ini") + "' && ln -s '" +
        victim + "' '" + log_file() + "'");
  RunResult r = run_as(0);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("a symbolic link of another user"), std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(victim), "precious\n");
}

TEST_F(SharedDirTest, CopyHasNoSetIdBitsAndOpenDirectoryIsWarnedOf) {
  write_file(pub / "mart.dll",
             "#!/bin/sh\nstat -c %a \"$0\" > \"$(dirname \"$0\")/mode\"\n",
             06775);
  ASSERT_EQ(::chmod((pub / "mart.dll").c_str(), 06775), 0);
  RunResult r = run_as(0);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub / "mode"), "755\n");
  EXPECT_EQ(r.err, "");
  // Without the sticky bit, others may swap the copy before it starts.
  ASSERT_EQ(::chmod(pub.path().c_str(), 0777), 0);
  r = run_as(0);
  EXPECT_EQ(r.err, "tolmex: warning: other users may write " + pub.path() +
                       " and it has no sticky bit, so they can replace "
                       "mart.exe before it starts (chmod +t or chmod o-w "
                       "makes it safe)\n");
}

TEST_F(SharedDirTest, NamedStagingNeverWritesThroughAPlantedLink) {
  // Without /proc no unnamed file can be reopened, so the copy is staged
  // under a name; in a PID namespace the run's PID is 1, which makes any
  // name derived from it easy to plant.
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' leak check cannot run without /proc";
#endif
  TempDir outside;
  const std::string victim = outside / "victim";
  write_file(victim, "precious\n", 0666);
  write_file(pub / "mart.dll", kClient, 0755);
  for (const char* name : {"mart.exe.tmp-1", "mart.exe.tmp-2",
                           ".mart.exe.tmp-1", "mart.exe.tmp"}) {
    ASSERT_EQ(::symlink(victim.c_str(), (pub / name).c_str()), 0);
  }
  Started s =
      start({"/usr/bin/unshare", "--mount", "--pid", "--fork", "/bin/sh", "-c",
             "mount -t tmpfs tmpfs /proc && exec \"$0\" \"$1\"", TOLMEX_BINARY,
             request()},
            {"DISPLAY="});
  RunResult r = finish_within(s, kSeconds);
  if (r.status != 0 && r.err.find("unshare") != std::string::npos) {
    GTEST_SKIP() << "no mount and PID namespaces here: " << r.err;
  }
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runs(), 1);
  EXPECT_EQ(read_file(victim), "precious\n");
  // Nothing staged is left behind.
  EXPECT_EQ(list_dir(pub.path()),
            (std::vector<std::string>{".mart.exe.tmp-1", "logpay", "mart.dll",
                                      "mart.exe.tmp", "mart.exe.tmp-1",
                                      "mart.exe.tmp-2", "ran", "tolmex.ini"}));
}

TEST_F(SharedDirTest, DialogsAreSoughtOnlyInAbsolutePathEntries) {
  TempDir cwd;
  write_file(cwd / "zenity", "#!/bin/sh\necho x > /tmp/tolmex-foreign-ran\n",
             0755);
  Started s = start({TOLMEX_BINARY, request()},
                    {"DISPLAY=:99", "PATH=.::relative"}, cwd.path());
  RunResult r = finish_within(s, kSeconds);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_FALSE(exists("/tmp/tolmex-foreign-ran"));
}

}  // namespace
