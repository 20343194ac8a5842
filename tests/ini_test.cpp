// The result INI file and the log as other programs see them: read back by
// Python's configparser, under crashes, concurrent writers and code sets.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <random>
#include <tuple>

#include "runtime/ini_file.h"
#include "runtime/ini_text.h"
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

  // What a request makes has its modes whatever the umask, so that the
  // next request can write it too.
  TempDir fresh;
  write_file(fresh / "mart.dll", "#!/bin/sh\n", 0755);
  for (int i = 0; i < 2; ++i) {
    r = run({"/bin/sh", "-c", "umask 0222; exec \"$0\" \"$1\"", TOLMEX_BINARY,
             "a," + fresh.path() + "/"},
            {"DISPLAY="});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(configparser_dump(fresh / "tolmex.ini"), kEmptyReturnDump);
  EXPECT_EQ(mode_of(fresh / "tolmex.ini"), 0644);
  EXPECT_EQ(mode_of(fresh / "logpay"), 0755);
  for (const std::string& log : list_dir(fresh / "logpay")) {
    EXPECT_EQ(mode_of(fresh / ("logpay/" + log)), 0644);
  }
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

  // A reader that locks each new file (and keeps the lock) holds up no
  // writer.
  Started reader = start(
      {"/usr/bin/python3", "-c",
       "import fcntl, sys\nkept = []\nwhile True:\n  f = open(sys.argv[1])\n"
       "  try: fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB); kept.append(f)\n"
       "  except OSError: f.close()\n",
       ini});
  std::vector<Started> writers;
  for (char w = 'c'; w < 'm'; ++w) {
    writers.push_back(
        start({INI_WRITE_BINARY, ini, "return", std::string(1, w), "1"}));
  }
  for (Started& w : writers) {
    RunResult r = finish_within(w, 30);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  ::kill(reader.pid, SIGKILL);
  finish(reader);
  for (char w = 'c'; w < 'm'; ++w) {
    EXPECT_EQ(
        runtime::get_ini_key(read_file(ini), "return", std::string{w, '0'}),
        "0");
  }
}

TEST(IniFileTest, WriterThatStallsPastTheBoundIsNotGoneAround) {
  if (!exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' leak check cannot run under strace";
#endif
  // The first writer's sync takes 7 s; the second gives up after 5 s and
  // says so; the first then lands its key.
  TempDir dir;
  const std::string ini = dir / "shared.ini";
  write_file(ini, "[return]\r\n");
  Started slow =
      start({"/usr/bin/strace", "-o", "/dev/null", "-e", "trace=fdatasync",
             "-e", "inject=fdatasync:delay_enter=7000000", INI_WRITE_BINARY,
             ini, "return", "slow", "1"});
  ASSERT_TRUE(appears(dir / ".shared.ini.tolmex-new"));
  RunResult other = run({INI_WRITE_BINARY, ini, "return", "other", "1"});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("another writer has held it for 5 s"),
            std::string::npos)
      << other.err;
  EXPECT_EQ(finish_within(slow, 20).status, 0);
  EXPECT_EQ(read_file(ini), "[return]\r\nslow0=0\r\n");
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
  // A temporary file of a killed writer goes with the next write that
  // changes the file; one that changes nothing (k0=0, once written)
  // takes no turn and touches nothing. A link planted at that name is no
  // writer's: the write stops at once and names it.
  const std::string turn = dir / ".tolmex.ini.tolmex-new";
  EXPECT_EQ(run({INI_WRITE_BINARY, ini, "return", "k", "1"}).status, 0);
  write_file(turn, "[return]\r\nk0=");
  EXPECT_EQ(run({INI_WRITE_BINARY, ini, "return", "k", "1"}).status, 0);
  EXPECT_TRUE(exists(turn));
  EXPECT_EQ(run({INI_WRITE_BINARY, ini, "more", "k", "1"}).status, 0);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"tolmex.ini"});
  ASSERT_EQ(::symlink("/nonexistent", turn.c_str()), 0);
  RunResult planted = run({INI_WRITE_BINARY, ini, "again", "k", "1"});
  EXPECT_EQ(planted.status, 1);
  EXPECT_NE(planted.err.find(turn + " was put there by user root; remove it"),
            std::string::npos)
      << planted.err;
}

const char16_t* const kResetKeys[] = {
    u"result",       u"sub_code",      u"sub_desc",       u"trade_no",
    u"out_trade_no", u"buyer_user_id", u"buyer_logon_id", u"total_amount"};

// The reset as the client sees it: "" when the eight keys read empty by
// the platform's rules, else the first key that does not.
std::string stale_key(const std::string& ini) {
  for (const char16_t* key : kResetKeys) {
    if (runtime::read_ini_file(ini, u"return", key) != runtime::Text(u"")) {
      return std::string(key, key + std::char_traits<char16_t>::length(key));
    }
  }
  return "";
}

// A public directory with a recording client as "mart.dll".
class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(pub / "mart.dll", recording_client(rec.path()), 0755);
  }
  std::string request() { return "pay," + pub.path() + "/,ORDER-1"; }
  bool client_ran() { return exists(rec / "runs"); }
  TempDir pub, rec;
};

TEST_F(ResultFileTest, NoStaleOutcomeWhereOtherWritersHideIt) {
  // A file of exactly 1 MiB, the most that is read, whose reset shrinks it.
  std::string at_cap =
      "[host]\r\nterminal=7\r\n[return]\r\nresult=SUCCESS\r\nsub_code=\r\n"
      "sub_desc=\r\ntrade_no=\r\nout_trade_no=\r\nbuyer_user_id=\r\n"
      "buyer_logon_id=\r\ntotal_amount=\r\n";
  at_cap.resize((1 << 20) - 2, ';');
  const std::string files[] = {
      at_cap + "\r\n",
      // Lone CR line ends.
      "[return]\rresult=SUCCESS\rtrade_no=T-9\r[host]\rterminal=7\r",
      // A broken header above the real section.
      "[host]\r\nterminal=7\r\n[return\r\n[Return]\r\nresult=SUCCESS\r\n",
      // A key alone hides the line with its value.
      "[host]\nterminal=7\n[return]\nresult\nresult=SUCCESS\nsub_code=1\n",
  };
  for (const std::string& before : files) {
    write_file(pub / "tolmex.ini", before);
    auto r = run_tolmex({request()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stale_key(read_file(rec / "ini")), "") << before;
    EXPECT_EQ(runtime::read_ini_file(read_file(pub / "tolmex.ini"), u"host",
                                     u"terminal"),
              runtime::Text(u"7"))
        << before;
  }
}

TEST_F(ResultFileTest, FileThatCannotBeResetStopsTheRunUnchanged) {
  const std::string small = "[return]\r\nresult=SUCCESS\r\n";
  const std::string host = "[host]\r\nterminal=" + std::string(2000, '7') +
                           "\r\n[return]\r\nresult=SUCCESS";
  std::string stray = "\xFF\xFE";  // UTF-16LE with one byte too many
  for (char c : small) stray += {c, '\0'};
  stray += 'n';
  const struct {
    const char* name;
    std::string before;
    int mode;
    bool second_name;  // a hard link: rewritten in place, not replaced
    std::size_t size_limit;
    std::string reason;
    std::string fault = "";  // a system call of the file's that fails
    bool absent = false;     // no file before: the one the run made goes
  } cases[] = {
      {"read-only", small, 0444, false, 0, "Permission denied"},
      {"over 1 MiB", small + std::string(1 << 20, ';'), 0644, false, 0,
       "File too large"},
      {"over 1 MiB that the reset would make smaller",
       "[return]\r\nresult=" + std::string(1 << 20, '7') + "\r\n", 0644, false,
       0, "File too large"},
      {"1 MiB that the reset would make larger",
       small + std::string((1 << 20) - small.size(), ';'), 0644, false, 0,
       "File too large"},
      // The write fails midway (prlimit --fsize, no root needed); the old
      // content is put back.
      {"cut by the size limit", host, 0644, true, host.size() + 10,
       "File too large"},
      {"UTF-16 with a stray byte", stray, 0644, false, 0,
       "the written keys would not read back"},
      {"whose status cannot be read", small, 0644, false, 0,
       "Input/output error", "%fstat:error=EIO:when=1"},
      {"with a second name, whose new content cannot be synced", small, 0644,
       true, 0, "Input/output error", "fdatasync:error=EIO"},
      {"made by the run, whose status cannot be read", "", 0644, false, 0,
       "Input/output error", "%fstat:error=EIO:when=2", true},
  };
  bool traced = exists("/usr/bin/strace");
#ifdef __SANITIZE_ADDRESS__
  traced = false;  // the sanitizers' leak check cannot run under strace
#endif
  for (const auto& c : cases) {
    if (!c.fault.empty() && !traced) continue;
    std::remove((pub / "tolmex.ini").c_str());
    if (!c.absent) write_file(pub / "tolmex.ini", c.before, c.mode);
    std::remove((pub / "second").c_str());
    if (c.second_name) {
      ASSERT_EQ(::link((pub / "tolmex.ini").c_str(), (pub / "second").c_str()),
                0);
    }
    // Under prlimit or strace as the case asks; a run that hangs fails.
    std::vector<std::string> argv{TOLMEX_BINARY, request()};
    if (c.size_limit != 0) {
      argv.insert(argv.begin(),
                  {"/bin/sh", "-c",
                   "trap '' XFSZ; exec prlimit --fsize=" +
                       std::to_string(c.size_limit) + " \"$0\" \"$1\""});
    } else if (!c.fault.empty()) {
      argv.insert(argv.begin(),
                  {"/usr/bin/strace", "-f", "-o", "/dev/null", "-P",
                   pub / "tolmex.ini", "-e", "inject=" + c.fault});
    }
    Started s = start(argv, {"DISPLAY=", "WAYLAND_DISPLAY="});
    RunResult r = finish_within(s, 20);
    EXPECT_EQ(r.status, 3) << c.name << ": " << r.err;
    EXPECT_TRUE(c.absent ? !exists(pub / "tolmex.ini")
                         : read_file(pub / "tolmex.ini") == c.before)
        << c.name;
    EXPECT_FALSE(client_ran()) << c.name;
    EXPECT_FALSE(exists(pub / "mart.exe")) << c.name;
    EXPECT_NE(r.err.find("系统错误: 无法写入结果文件,请与供应商联系! "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("tolmex: cannot write " + pub.path() +
                         "/tolmex.ini: " + c.reason),
              std::string::npos)
        << c.name << ": " << r.err;
    ::chmod((pub / "tolmex.ini").c_str(), 0644);
  }
  // A request that stops at the reset makes no log directory.
  EXPECT_FALSE(exists(pub / "logpay"));
}

TEST_F(ResultFileTest, ResetIsOnDiskBeforeTheClientStarts) {
  if (!exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' leak check cannot run under strace";
#endif
  // Replaced: the data, then its name, then the name on disk, then the
  // client. With a second name the file is rewritten in place: the data,
  // then the client.
  for (bool second_name : {false, true}) {
    write_file(pub / "tolmex.ini", "[return]\r\nresult=SUCCESS\r\n");
    if (second_name) {
      ASSERT_EQ(::link((pub / "tolmex.ini").c_str(), (rec / "second").c_str()),
                0);
    }
    RunResult r =
        run({"/usr/bin/strace", "-f", "-o", pub / "calls", "-e",
             "trace=fdatasync,fsync,rename,renameat,renameat2,execve,execveat",
             TOLMEX_BINARY, request()},
            {"DISPLAY="});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string calls = read_file(pub / "calls");
    std::size_t at = 0;
    const std::vector<std::string> order =
        second_name ? std::vector<std::string>{"fdatasync(", "mart.exe"}
                    : std::vector<std::string>{"fdatasync(", "rename", "fsync(",
                                               "mart.exe"};
    for (const std::string& call : order) {
      std::size_t found = calls.find(call, at);
      ASSERT_NE(found, std::string::npos) << call << " after " << at << ":\n"
                                          << calls;
      at = found;
    }
  }
}

TEST_F(ResultFileTest, AnotherUsersFileInAStickyDirectoryKeepsItsIdentity) {
  if (::geteuid() != 0 || !exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root and setpriv to run as two other users";
  }
  constexpr uid_t kOwner = 65533, kRunner = 65534;
  ASSERT_EQ(::chmod(pub.path().c_str(), 01777), 0);
  ASSERT_EQ(::chmod(rec.path().c_str(), 0777), 0);
  const std::string ini = pub / "tolmex.ini";
  write_file(ini, "[host]\r\nterminal=7\r\n[return]\r\nresult=SUCCESS\r\n",
             0666);
  ASSERT_EQ(::chown(ini.c_str(), kOwner, kOwner), 0);
  struct stat before;
  ASSERT_EQ(::stat(ini.c_str(), &before), 0);

  Started run = start({"/usr/bin/setpriv", "--reuid=" + std::to_string(kRunner),
                       "--regid=" + std::to_string(kRunner), "--clear-groups",
                       TOLMEX_BINARY, request()},
                      {"DISPLAY=", "WAYLAND_DISPLAY="});
  RunResult r = finish_within(run, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(client_ran());
  EXPECT_EQ(stale_key(read_file(rec / "ini")), "");
  struct stat after;
  ASSERT_EQ(::stat(ini.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, kOwner);
  EXPECT_EQ(after.st_gid, kOwner);
  EXPECT_EQ(after.st_mode & 07777, 0666u);
  // Its owner, and anyone, may change the outcome: the operator hears so.
  EXPECT_NE(r.err.find("warning: its owner 65533 may write " + ini),
            std::string::npos)
      << r.err;
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
    const std::string before = log_time_now();
    auto r = run_tolmex({request}, {locale});
    const std::string after = log_time_now();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_dir(pub),
              (std::vector<std::string>{"logpay", "mart.dll", "tolmex.ini"}));
    EXPECT_EQ(
        check_one_record(pub + "/logpay", before, after, prefix + request), "")
        << locale;
  }
}

}  // namespace
