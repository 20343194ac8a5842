// Whole-program tests of a public directory that other users share: files
// they plant there (programs, links, FIFOs, locks) never run, never redirect
// a write and never keep a run waiting. Runs here are root (as CI) or a
// second user through setpriv, against things planted by a third user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <ctime>

#include "tests/harness.h"

namespace {

using namespace testing_support;

constexpr uid_t kOther = 65533;   // plants things in the directory
constexpr uid_t kRunner = 65534;  // runs tolmex where root should not
constexpr int kSeconds = 20;      // a run that takes longer hangs

// A client that counts its runs in "ran" beside itself.
const std::string kClient =
    "#!/bin/sh\necho x >> \"$(echo \"$1\" | cut -d, -f2)/ran\"\n";
// A program of the other user that must never run.
const std::string kForeign = "#!/bin/sh\necho x > /tmp/tolmex-foreign-ran\n";

constexpr gid_t kGroup = 65532;  // the other user is a member

std::vector<std::string> as_user(uid_t uid, std::vector<std::string> argv) {
  argv.insert(argv.begin(),
              {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
               "--regid=" + std::to_string(uid),
               uid == kOther ? "--groups=" + std::to_string(kGroup)
                             : "--clear-groups"});
  return argv;
}

class SharedDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !exists("/usr/bin/setpriv")) {
      GTEST_SKIP() << "needs root and setpriv to act as other users";
    }
    ASSERT_EQ(::chmod(pub.path().c_str(), 01777), 0);
    ASSERT_EQ(::chmod(marks.path().c_str(), 01777), 0);
    std::remove("/tmp/tolmex-foreign-ran");
  }
  void TearDown() override {
    release();
    std::remove("/tmp/tolmex-foreign-ran");
  }

  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  // What every request in the sticky P says of it, and nothing more.
  std::string sticky_warning() {
    return "tolmex: warning: " + pub.path() +
           " is writable by others: other users may create names in the "
           "public directory " +
           pub.path() +
           " (the sticky bit keeps them from replacing the files of others, "
           "not from making one that is not there yet; chmod o-w " +
           pub.path() + ")\n";
  }
  int runs() {
    std::string ran = exists(pub / "ran") ? read_file(pub / "ran") : "";
    return static_cast<int>(ran.size() / 2);
  }
  // Runs tolmex as `uid` (0: root) on the request, or with `option` and
  // the public directory, and fails a run that hangs.
  RunResult run_as(uid_t uid, const std::vector<std::string>& env = {},
                   const std::string& option = "") {
    std::vector<std::string> argv{TOLMEX_BINARY, request()};
    if (!option.empty()) argv = {TOLMEX_BINARY, option, pub.path() + "/"};
    if (uid != 0) argv = as_user(uid, argv);
    std::vector<std::string> environment{"DISPLAY=", "WAYLAND_DISPLAY="};
    environment.insert(environment.end(), env.begin(), env.end());
    Started run = start(argv, environment);
    return finish_within(run, kSeconds);
  }
  // run_as() after a --check of the same directory, which must say a
  // problem (exit 1) exactly where the request ends with 2, 3 or 4, or
  // warns that others could replace the public directory.
  RunResult checked_run(uid_t uid, const std::vector<std::string>& env = {}) {
    RunResult check = run_as(uid, env, "--check");
    RunResult r = run_as(uid, env);
    const bool replaceable =
        r.err.find("can replace the public directory") != std::string::npos;
    EXPECT_EQ(check.status, (r.status >= 2 && r.status <= 4) || replaceable)
        << r.err << check.out;
    return r;
  }
  // Runs a shell command as the other user.
  void plant(const std::string& command) {
    RunResult r = run(as_user(kOther, {"/bin/sh", "-c", command}));
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
  }
  // Keeps the locks that `locks` (flock commands, each taking the next as
  // its command) take as the other user until the end; returns once they
  // are held.
  void hold(const std::string& locks) {
    const std::string held = marks / "held";
    std::remove(held.c_str());
    holders.push_back(start(as_user(kOther, {"/usr/bin/setsid", "/bin/sh", "-c",
                                             "exec " + locks + " sh -c ': > " +
                                                 held + "; exec sleep 60'"})));
    ASSERT_TRUE(appears(held)) << locks;
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
  TempDir marks;  // where the other users' processes say they are ready
  std::vector<Started> holders;
};

TEST_F(SharedDirTest, ForeignMartExeNeverRunsEvenWhenHeldInUse) {
  write_file(pub / "mart.dll", kClient, 0755);
  plant("printf '" + kForeign + "' > '" + (pub / "mart.exe") +
        "' && chmod 755 '" + (pub / "mart.exe") + "'");
  hold("flock -s '" + (pub / "mart.exe") + "'");
  // Another user cannot remove it from the sticky directory: the copy
  // fails as when mart.dll is missing.
  RunResult r = checked_run(kRunner);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("mart.exe: Operation not permitted"), std::string::npos)
      << r.err;
  // Root can remove it, and runs its own copy.
  r = checked_run(0);
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
  // Holds the in-use lock for 3 s from a process of its own, and returns
  // once it is held.
  const std::string fifo = "'" + (marks / "held") + "'";
  const std::string in_use = " && mkfifo " + fifo + " && (flock -s " + exe +
                             " sh -c 'echo > \"$0\"; exec sleep 3' " + fifo +
                             " &) && read _ < " + fifo + " && rm " + fifo;
  const Case cases[] = {
      {"a directory", "mkdir " + exe, false, 2},
      {"a dangling link", "ln -s /nonexistent " + exe, false, 0},
      {"a self-looping link", "ln -s mart.exe " + exe, false, 0},
      {"a FIFO", "mkfifo " + exe, false, 0},
      {"another user's file", "printf '" + kForeign + "' > " + exe, true, 2},
      // The runner's own, in use, but not a copy a run makes: replaced.
      {"a file of the runner's with a second name, in use",
       "printf '" + kForeign + "' > " + exe + " && chmod 700 " + exe +
           " && ln -f " + exe + " " + exe + "2" + in_use,
       false, 0},
      {"a file of the runner's that others may read, in use",
       "printf '" + kForeign + "' > " + exe + " && chmod 744 " + exe + in_use,
       false, 0},
  };
  write_file(pub / "mart.dll", kClient, 0755);
  for (const Case& c : cases) {
    std::remove((pub / "ran").c_str());
    RunResult made =
        run(as_user(c.by_other ? kOther : kRunner, {"/bin/sh", "-c", c.make}));
    ASSERT_EQ(made.status, 0) << c.name << ": " << made.err;
    RunResult r = checked_run(kRunner);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_EQ(runs(), c.status == 0 ? 1 : 0) << c.name;
    // The runner's own files draw no warning but the sticky P's.
    if (c.status == 0) {
      EXPECT_EQ(r.err, sticky_warning()) << c.name;
    }
    RunResult cleared = run({"/bin/rm", "-rf", pub / "mart.exe"});
    ASSERT_EQ(cleared.status, 0) << cleared.err;
  }
  EXPECT_FALSE(exists("/tmp/tolmex-foreign-ran"));
}

TEST_F(SharedDirTest, ReadersLocksNeitherKeepAnOutcomeNorLoseARecord) {
  // Anyone who may read tolmex.ini or the log can lock it: the reset still
  // replaces the result file and the record still goes in.
  write_file(pub / "mart.dll", kClient, 0755);
  ASSERT_EQ(run_as(0).status, 0);
  for (const char* kinds : {"-s -x", "-x -s"}) {
    const std::string ini_kind(kinds, 2), log_kind(kinds + 3);
    write_file(pub / "tolmex.ini", "[return]\r\nresult=SUCCESS\r\n");
    const std::string log = read_file(log_file());
    hold("flock " + ini_kind + " '" + (pub / "tolmex.ini") + "' flock " +
         log_kind + " '" + log_file() + "'");
    RunResult r = checked_run(0);
    release();
    EXPECT_EQ(r.status, 0) << kinds << ": " << r.err;
    EXPECT_EQ(read_file(pub / "tolmex.ini").find("SUCCESS"), std::string::npos)
        << kinds;
    const std::string now = read_file(log_file());
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'),
              std::count(log.begin(), log.end(), '\n') + 1)
        << kinds;
  }
  EXPECT_EQ(runs(), 3);
}

TEST_F(SharedDirTest, WhatOthersPlantNeverRunsNorRedirectsAWrite) {
  TempDir outside, roots;  // the other user's, and root's
  const std::string victim = outside / "victim";
  write_file(victim, "precious\n", 0644);
  ASSERT_EQ(::chown(outside.path().c_str(), kOther, kOther), 0);
  ASSERT_EQ(::chown(victim.c_str(), kOther, kOther), 0);
  write_file(roots / "victim", "precious\n", 0644);
  write_file(roots / "program", kForeign, 0755);
  ASSERT_EQ(::chmod(roots.path().c_str(), 0755), 0);
  const std::string pos = pub / "pos public";
  ASSERT_EQ(::mkdir(pos.c_str(), 0755), 0);
  const std::string day = log_file().substr(log_file().rfind('/') + 1);
  const std::string other_dll = "printf '" + kForeign + "' > '" +
                                (pub / "mart.dll") + "' && chmod 755 '" +
                                (pub / "mart.dll") + "'";
  // A P that group kGroup may write, with and without the sticky bit; a P
  // below a directory of the other user; a P of the other user's.
  const std::string g = pub / "g", shop = pub / "shop", theirs = pub / "theirs";
  const std::string sticky_g = "mkdir -m 1775 " + g + " && chgrp 65532 " + g;
  const std::string open_g = "mkdir -m 0775 " + g + " && chgrp 65532 " + g;
  const std::string in_shop =
      "mkdir -m 755 " + shop + " " + shop + "/pay && chown 65533 " + shop;
  const std::string links_ini = "ln -s " + (roots / "victim") + " " + g +
                                "/tolmex.ini && ln -s " + roots.path() + " " +
                                g + "/logpay";
  const std::string link_dll =
      "ln -s " + (roots / "program") + " " + g + "/mart.dll";
  auto their_dll = [](const std::string& dir) {
    return "printf '" + kForeign + "' > " + dir + "/mart.dll && chmod 755 " +
           dir + "/mart.dll";
  };
  struct Case {
    const char* name;
    std::string plant;  // run as the other user, a member of group kGroup
    std::string dir;    // the public directory, with its "/"
    mode_t dll_mode;    // of root's own mart.dll, when not planted
    int status;
    std::string err;                     // part of stderr
    std::string setup = "";              // run as root first
    std::string locale = "TOLMEX_ROW=";  // LC_ALL= of both runs
  };
  const Case cases[] = {
      {"a program at a prefix of a public directory with a blank",
       "printf '" + kForeign + "' > '" + (pub / "pos") + "' && chmod 755 '" +
           (pub / "pos") + "'",
       pos + "/", 0755, 0, ""},
      {"another user's logpay holding a link named like today's log",
       "mkdir '" + (pub / "logpay") + "' && ln -s '" + victim + "' '" +
           (pub / "logpay/") + day + "'",
       pub.path() + "/", 0755, 0,
       "/pay_log" + day.substr(7) + ": " + (pub / "logpay") +
           " belongs to user 65533"},
      {"another user's log in a sticky logpay",
       "touch " + log_file() + " && chmod 666 " + log_file(), pub.path() + "/",
       0755, 0,
       "warning: its owner 65533 may write " + pub.path() + "/logpay/" + day,
       "mkdir -m 1777 " + (pub / "logpay")},
      {"a logpay link of another user",
       "ln -s '" + outside.path() + "' '" + (pub / "logpay") + "'",
       pub.path() + "/", 0755, 0, "a symbolic link of another user"},
      {"another user's mart.dll", other_dll, pub.path() + "/", 0, 2,
       (pub / "mart.dll") + " belongs to user 65533"},
      {"a mart.dll that a group may write", "true", pub.path() + "/", 0775, 2,
       (pub / "mart.dll") + " is writable by group root: a run as root " +
           "starts only what root may change; chmod g-w " + (pub / "mart.dll")},
      // The owner of P is no longer trusted as such.
      {"a link of the owner of the directory it is in",
       "mkdir -m 1777 '" + (pub / "own") + "' && printf '[return]\\r\\n' > '" +
           (pub / "own/real.ini") + "' && ln -s real.ini '" +
           (pub / "own/tolmex.ini") + "'",
       pub / "own/", 0755, 3,
       "tolmex.ini is a symbolic link of another user (65533): a write as "
       "root goes only through what root may change"},
      {"root's link named tolmex.ini whose target cannot be made", "true",
       pub.path() + "/", 0755, 3, "cannot write " + (pub / "tolmex.ini"),
       "ln -s /nonexistent/tolmex.ini " + (pub / "tolmex.ini")},
      {"a hard link of another user's file as tolmex.ini",
       "ln '" + victim + "' '" + (pub / "tolmex.ini") + "'", pub.path() + "/",
       0755, 3, "(a hard link)"},
      {"a group member's links named tolmex.ini and logpay in a 1775 P",
       links_ini, g + "/", 0755, 3,
       g + "/tolmex.ini is a symbolic link of another user", sticky_g},
      {"a group member's link named mart.dll in a 1775 P", link_dll, g + "/", 0,
       2, g + "/mart.dll is a symbolic link of another user", sticky_g},
      {"a group member's links named tolmex.ini and logpay in a 0775 P",
       links_ini, g + "/", 0755, 3,
       g + "/tolmex.ini is a symbolic link of another user", open_g},
      {"a group member's link to root's directory in the place of P",
       "ln -s " + roots.path() + " " + g + "/p", g + "/p/", 0, 3,
       g + "/p leads to the public directory, and " + g +
           "/p is a symbolic link of another user (65533)",
       sticky_g},
      {"a group member's link named mart.dll in a 0775 P", link_dll, g + "/", 0,
       2,
       "warning: " + g + " is writable by group 65532 and has no sticky " +
           "bit: the users of group 65532 can replace the public directory",
       open_g},
      {"an ancestor of P owned by another user", "true", shop + "/pay/", 0755,
       0,
       "warning: " + shop + " belongs to user 65533: user 65533 can " +
           "replace the public directory " + shop + "/pay",
       in_shop},
      {"a P of that user's own put in place of root's",
       "mv " + shop + "/pay " + shop + "/old && mkdir " + shop + "/pay && " +
           their_dll(shop + "/pay"),
       shop + "/pay/", 0, 2, shop + "/pay/mart.dll belongs to user 65533",
       in_shop},
      {"a mart.dll whose interpreter lies in another user's directory",
       "cp /bin/sh " + outside.path() + "/sh", pub.path() + "/", 0, 2,
       (pub / "mart.dll") + " names the interpreter " + outside.path() +
           "/sh: " + outside.path() + " belongs to user 65533",
       "printf '#!" + outside.path() + "/sh\\n' > " + (pub / "mart.dll") +
           " && chmod 755 " + (pub / "mart.dll")},
      {"a mart.dll that loads libraries from beside itself in a sticky P",
       "true", pub.path() + "/", 0, 2,
       (pub / "mart.dll") +
           " looks for libraries in $ORIGIN/lib: " + pub.path() +
           " is writable by others: a library placed there would run",
       std::string("cp ") + ORIGIN_CLIENT_BINARY + " " + (pub / "mart.dll")},
      {"root's tolmex.ini that is a link to a link to the file", "true",
       pub / "chain/", 0755, 0, "",
       "mkdir " + (pub / "chain") + " && cd " + (pub / "chain") +
           " && printf '[return]\\r\\n' > real.ini && ln -s real.ini l2 && "
           "ln -s l2 tolmex.ini"},
      {"another user's directory at the writers' turn name in a sticky P",
       "mkdir " + (pub / ".tolmex.ini.tolmex-new"), pub.path() + "/", 0755, 3,
       ".tolmex.ini.tolmex-new was put there by user 65533; remove it"},
      {"a mart.dll that an access control list entry lets another write",
       "true", pub.path() + "/", 0, 2,
       (pub / "mart.dll") + " has an access control list entry that lets " +
           "others write it: a run as root starts only what root may " +
           "change; setfacl -b " + (pub / "mart.dll"),
       "printf '#!/bin/sh\\n' > " + (pub / "mart.dll") + " && chmod 755 " +
           (pub / "mart.dll") + " && setfacl -m u:65533:rwx " +
           (pub / "mart.dll")},
      {"a P on a file system mounted noexec", "true", pub / "nx/", 0755, 2,
       "mart.dll lies on a file system mounted noexec",
       "mkdir " + (pub / "nx") + " && mount -t tmpfs -o noexec tmpfs " +
           (pub / "nx")},
      {"a root run in a P and with a mart.dll of the POS user",
       their_dll(theirs), theirs + "/", 0, 2,
       theirs + "/mart.dll belongs to user 65533: a run as root starts only " +
           "what root may change; chown root " + theirs +
           "/mart.dll, or run the host as 65533",
       "mkdir " + theirs + " && chown 65533 " + theirs},
      // The operand is read in the locale's code set, where 0x5C can be the
      // second byte of a character, not a separator.
      {"a P in GBK whose name ends in a character with the byte 0x5C", "true",
       pub / "\x95\x5c/", 0755, 0, "",
       "locale -a | grep -qix zh_CN.gbk || { echo GBK not found >&2; exit 1; }"
       " && mkdir " +
           (pub / "\x95\x5c"),
       "LC_ALL=zh_CN.GBK"},
  };
  for (const Case& c : cases) {
    run({"/bin/umount", pub / "nx"});
    for (const char* name :
         {"mart.dll", "logpay", "tolmex.ini", "pos", "own", "g", "shop",
          "theirs", "nx", "chain", ".tolmex.ini.tolmex-new", "\x95\x5c"}) {
      run({"/bin/rm", "-rf", pub / name, pos + "/" + name});
    }
    if (!c.setup.empty()) {
      RunResult set = run({"/bin/sh", "-c", c.setup});
      if (set.status != 0 && (set.err.find("mount") != std::string::npos ||
                              set.err.find("not found") != std::string::npos)) {
        std::fprintf(stderr, "skipped \"%s\": %s", c.name, set.err.c_str());
        continue;
      }
      ASSERT_EQ(set.status, 0) << c.name << ": " << set.err;
    }
    plant(c.plant);
    if (c.dll_mode != 0) {
      write_file(c.dir + "mart.dll", kClient, c.dll_mode);
      ASSERT_EQ(::chmod((c.dir + "mart.dll").c_str(), c.dll_mode), 0);
    }
    std::remove((pub / "ran").c_str());
    std::remove((pos + "/ran").c_str());
    // The check says a problem exactly where the request is refused or
    // warns that others could replace P.
    Started s = start({TOLMEX_BINARY, "--check", c.dir}, {c.locale});
    RunResult check = finish_within(s, kSeconds);
    s = start({TOLMEX_BINARY, "pay," + c.dir + ",ORDER-1"},
              {"DISPLAY=", "WAYLAND_DISPLAY=", c.locale});
    RunResult r = finish_within(s, kSeconds);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
    const bool replaceable =
        r.err.find("can replace the public directory") != std::string::npos;
    EXPECT_EQ(check.status, (c.status >= 2 || replaceable) ? 1 : 0)
        << c.name << ": " << check.out;
    // ... and warns that the record is lost exactly where it is lost.
    EXPECT_EQ(check.out.find("would not be logged") != std::string::npos,
              r.err.find("was not logged") != std::string::npos)
        << c.name << ": " << check.out;
    EXPECT_EQ(exists(c.dir + "ran"), c.status == 0) << c.name;
    EXPECT_FALSE(exists("/tmp/tolmex-foreign-ran")) << c.name;
    EXPECT_EQ(read_file(victim) + read_file(roots / "victim"),
              "precious\nprecious\n")
        << c.name;
    EXPECT_EQ(list_dir(outside.path()).size() + list_dir(roots.path()).size(),
              3u + exists(outside / "sh"))
        << c.name;
  }
  run({"/bin/umount", pub / "nx"});
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
    r = checked_run(0);
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
        victim + "' '" + log_file() + "' && touch " + (pub / "trace") +
        " && chmod 666 " + (pub / "trace"));
  ASSERT_EQ(::link(victim.c_str(), (pub / "linked").c_str()), 0);
  // Nor is the trace written into a file of theirs, nor through a second
  // name that they could have made; the name that only we could make is
  // written through (last).
  for (const std::string& trace : {pub / "trace", pub / "linked", victim}) {
    RunResult r = checked_run(0, {"TOLMEX_TRACE=" + trace});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("a symbolic link of another user"), std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(pub / "trace"), "");
    EXPECT_EQ(read_file(victim) == "precious\n", trace != victim) << trace;
  }
}

// The public directory swapped for a link to itself between its open and
// the walk that judges who may replace it: the walk ends, and says so.
TEST(PlaceTest, DirectorySwappedForALinkToItselfEndsTheWalk) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' leak check cannot run under strace";
#endif
  if (!exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  TempDir tmp;
  const std::string p = tmp / "p";
  ASSERT_EQ(::mkdir(p.c_str(), 0755), 0);
  write_file(p + "/mart.dll", "#!/bin/sh\n", 0755);
  // The status of the opened directory, the call before the walk, waits.
  Started s = start({"/usr/bin/strace", "-f", "-o", tmp / "calls", "-P", p,
                     "-e", "inject=newfstatat:delay_enter=2000000:when=1",
                     TOLMEX_BINARY, "pay," + p + "/,ORDER-1"},
                    {"DISPLAY="});
  ASSERT_TRUE(appears(tmp / "calls", 10, [&] {
    return exists(tmp / "calls") &&
           read_file(tmp / "calls").find("newfstatat(") != std::string::npos;
  }));
  ASSERT_EQ(::rename(p.c_str(), (tmp / "old").c_str()), 0);
  ASSERT_EQ(::symlink("p", p.c_str()), 0);
  RunResult r = finish_within(s, kSeconds);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("(Too many levels of symbolic links)"),
            std::string::npos)
      << r.err;
}

TEST_F(SharedDirTest, CopyHasNoSetIdBitsAndOpenDirectoryIsWarnedOf) {
  write_file(
      pub / "mart.dll",
      "#!/bin/sh\nd=$(echo \"$1\" | cut -d, -f2)\nstat -L -c %a \"$0\" > "
      "\"$d/mode\"\necho \"${0%/*}\" >> \"$d/mode\"\n",
      06775);
  ASSERT_EQ(::chmod((pub / "mart.dll").c_str(), 06775), 0);
  ::chmod((pub / "mart.dll").c_str(), 04755);
  RunResult r = run_as(0);
  EXPECT_EQ(r.status, 0) << r.err;
  // A script reads itself from the descriptor that was judged.
  EXPECT_EQ(read_file(pub / "mode"), "700\n/dev/fd\n");
  EXPECT_EQ(r.err, sticky_warning());
  // Without the sticky bit, others may replace the files of P (the result
  // file, a script's copy) at any moment: the warning comes before the
  // client's start.
  for (const char* mode : {"777", "775"}) {
    run({"/bin/chmod", mode, pub.path()});
    write_file(pub / "mart.dll", "#!/bin/sh\necho started >&2\n", 0755);
    r = checked_run(0);
    const bool others = mode == std::string("777");
    EXPECT_TRUE(r.err.starts_with("tolmex: warning: " + pub.path() +
                                  (others ? " is writable by others and "
                                          : " is writable by group root and ")))
        << r.err;
    EXPECT_TRUE(r.err.ends_with((others ? "o-w " : "g-w ") + pub.path() +
                                ")\nstarted\n"))
        << r.err;
  }
}

TEST_F(SharedDirTest, OutputsShowWhatOthersShapedAsBytesAndNewFilesAreClosed) {
  // Controls, separators and a right-to-left override in the public
  // directory, run under umask 0: one line on stderr, nothing others may
  // write. In GBK, 0x81 leads a character: only a byte of none is shown.
  const struct {
    const char* locale;
    std::string name, shown;
  } cases[] = {
      {"C",
       "a\nb\xe2\x80\xae\xc2\x9b\xc2\x85\x9b\xe2\x80\xa8\xe2\x80\xa9\xd8\x9c"
       "\xe4\xb8\xad",
       "a\\x0ab\\u{202e}\\u{009b}\\u{0085}\\x9b\\u{2028}\\u{2029}\\u{061c}"
       "\xe4\xb8\xad"},
      {"zh_CN.GBK", "\x81\x5c\nx\x9b", "\x81\x5c\\x0ax\\x9b"},
  };
  for (const auto& c : cases) {
    if (std::setlocale(LC_ALL, c.locale) == nullptr) continue;  // not made
    std::setlocale(LC_ALL, "C");
    const std::string dir = pub / c.name;
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    TempDir trace_dir;
    Started s = start({"/bin/sh", "-c", "umask 0; exec \"$0\" \"$1\"",
                       TOLMEX_BINARY, "pay," + dir + "/"},
                      {"DISPLAY=", "TOLMEX_TRACE=" + (trace_dir / "trace"),
                       "LC_ALL=" + std::string(c.locale)});
    RunResult r = finish_within(s, kSeconds);
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string shown = pub.path() + "/" + c.shown;
    r.err = r.err.substr(r.err.find("tolmex: "));
    EXPECT_EQ(r.err, "tolmex: cannot copy " + shown + "/mart.dll to " + shown +
                         "/mart.exe: No such file or directory\n");
    EXPECT_EQ(read_file(trace_dir / "trace"),
              r.err.substr(r.err.find("cannot copy")).insert(0, "CopyFile: "));
    for (const std::string& made : {dir + "/tolmex.ini", dir + "/logpay"}) {
      EXPECT_EQ(mode_of(made) & 022, 0) << made;
    }
  }
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
  // A script reads itself through /proc (/dev/fd): the client is the
  // sample one, a program, which answers with the request's order.
  write_file(pub / "mart.dll", read_file(SAMPLE_CLIENT_BINARY), 0755);
  auto answered = [&](const std::string& order) {
    return read_file(pub / "tolmex.ini").find("out_trade_no=" + order) !=
           std::string::npos;
  };
  for (const char* name : {"mart.exe.tmp-1", "mart.exe.tmp-2",
                           ".mart.exe.tmp-1", "mart.exe.tmp"}) {
    ASSERT_EQ(::symlink(victim.c_str(), (pub / name).c_str()), 0);
  }
  // What a run killed while it staged left goes with the next one; another
  // user's file at such a name is theirs and stays.
  write_file(pub / ".mart.exe.tolmex-0", "theirs", 0600);
  ASSERT_EQ(::chown((pub / ".mart.exe.tolmex-0").c_str(), kOther, kOther), 0);
  write_file(pub / ".mart.exe.tolmex-1", "half a copy", 0600);
  // `wrapper`: a program that runs tolmex, with its arguments.
  auto without_proc = [&](const std::vector<std::string>& args,
                          const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> argv{
        "/usr/bin/unshare",
        "--mount",
        "--pid",
        "--fork",
        "/bin/sh",
        "-c",
        "mount -t tmpfs tmpfs /proc && exec \"$0\" \"$@\""};
    argv.insert(argv.end(), wrapper.begin(), wrapper.end());
    argv.push_back(TOLMEX_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    Started s = start(argv, {"DISPLAY="});
    return finish_within(s, kSeconds);
  };
  RunResult r = without_proc({request()});
  if (r.status != 0 && r.err.find("unshare") != std::string::npos) {
    GTEST_SKIP() << "no mount and PID namespaces here: " << r.err;
  }
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(answered("ORDER-1"));
  EXPECT_EQ(read_file(victim), "precious\n");
  // Nothing staged is left behind.
  const std::vector<std::string> left{
      ".mart.exe.tmp-1", ".mart.exe.tolmex-0", "logpay",         "mart.dll",
      "mart.exe.tmp",    "mart.exe.tmp-1",     "mart.exe.tmp-2", "tolmex.ini"};
  EXPECT_EQ(list_dir(pub.path()), left);
  // Also where the file system cannot rename without replacing: the copy
  // is linked to its name and its staging name removed.
  if (exists("/usr/bin/strace")) {
    r = without_proc({"pay," + pub.path() + "/,ORDER-2"},
                     {"/usr/bin/strace", "-o", "/dev/null", "-e",
                      "inject=renameat2:error=EINVAL"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(answered("ORDER-2"));
    EXPECT_EQ(list_dir(pub.path()), left);
  }
  // Every staging name another user's: the check and the request stop.
  for (int slot = 1; slot < 8; ++slot) {
    const std::string name = pub / (".mart.exe.tolmex-" + std::to_string(slot));
    write_file(name, "theirs", 0600);
    ASSERT_EQ(::chown(name.c_str(), kOther, kOther), 0);
  }
  EXPECT_EQ(without_proc({"--check", pub.path() + "/"}).status, 1);
  r = without_proc({request()});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("mart.exe: Device or resource busy"), std::string::npos);
  EXPECT_EQ(read_file(pub / ".mart.exe.tolmex-7"), "theirs");  // not removed
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
