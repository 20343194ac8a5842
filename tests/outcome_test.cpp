// Whole-program tests of how one request ends. A table of outcomes: each
// row plants files in a fresh public directory, runs tolmex once, and
// states all the host then finds (exit status, stderr, stdout, the trace,
// the names left, whether the recording client ran with the whole request,
// the log record, the reset result file). After it, the ends a row cannot
// set up: a full disk, a log that cannot be closed, a code set without a
// converter, a closed stderr, the audit line in the system log, and the
// copy of a large client.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <regex>

#include "tests/harness.h"

namespace {

using namespace testing_support;

const std::string kMissing = "系统错误: 缺少关键性文件,请与供应商联系! \n";
const std::string kPrefix = "接收的参数字符串：";
const std::string kEmptyReturn =
    "[return]\r\nresult=\r\nsub_code=\r\nsub_desc=\r\ntrade_no=\r\n"
    "out_trade_no=\r\nbuyer_user_id=\r\nbuyer_logon_id=\r\ntotal_amount=\r\n";
// Stands for the public directory (no trailing slash) in a row's texts.
const std::string kPub = "<pub>";
// As a planted file's content: the recording client (tests/harness.h).
const std::string kRecording = "<recording client>";

struct Planted {
  std::string name{};  // in the public directory; a trailing "/": a directory
  std::string content = kRecording;
  int mode = 0755;
};

struct Outcome {
  std::string name{};
  std::vector<std::string> args{};  // tolmex's, joined by blanks: the request
  std::vector<Planted> planted = {{"mart.dll"}};
  std::vector<std::string> env{};
  std::string dir{};  // the public directory below the temporary one
  int status = 0;
  std::string err{}, out{}, trace{};  // each whole
  std::vector<std::string> files = {"logpay", "mart.dll", "tolmex.ini"};
  std::vector<std::string> in_cwd{};  // names left in the working directory
  bool ran = true;                    // the recording client, once
  std::string log = "logpay";         // holds the request's one record
  std::string ini = "tolmex.ini";     // reset to the empty answer
};

std::string cannot_start(const std::string& reason) {
  return kMissing + "tolmex: cannot start <pub>/mart.exe: " + reason + "\n";
}

const std::string kCannotCopy =
    "cannot copy <pub>/mart.dll to <pub>/mart.exe: No such file or directory";

const std::string kCannotWrite =
    "cannot write <pub>/tolmex.ini: Permission denied";

std::vector<Outcome> outcomes() {
  const Outcome nothing{
      .files = {"mart.dll"}, .ran = false, .log = "", .ini = ""};
  const Outcome missing{.planted = {},
                        .status = 2,
                        .err = kMissing + "tolmex: " + kCannotCopy + "\n",
                        .trace = "CopyFile: " + kCannotCopy + "\n",
                        .files = {"logpay", "tolmex.ini"},
                        .ran = false};
  std::vector<Outcome> rows;
  auto row = [&](std::string name, Outcome o) {
    o.name = std::move(name);
    rows.push_back(std::move(o));
  };
  auto like = [](Outcome o, auto&& change) {
    change(o);
    return o;
  };
  // What is no request does nothing.
  row("no_arguments", nothing);
  for (const auto& [name, args] :
       std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"empty_argument", {""}},
           {"blank_argument", {" \t\n\v\f\r"}},
           {"two_empty_arguments", {"", ""}}}) {
    row(name, like(nothing, [&](Outcome& o) { o.args = args; }));
  }
  // Shell and format characters, quotes, backslashes, blanks and bytes that
  // are not UTF-8: none is interpreted on the way to the client.
  row("request_reaches_the_client_whole",
      {.args = {"pay,<pub>/,a b,,\"q\",$HOME;x\\y,$(id)`id`,'q',%s%n,"
                "\xb1\xed\x81\x5c,last "}});
  for (const char* locale : {"C", "C.UTF-8"}) {
    const std::string in = std::string("_in_") + (locale[1] ? "utf_8" : "c");
    row("bytes_invalid_in_the_code_set" + in,
        {.args = {"pay,<pub>/,\xff\xfe,\xe4\xb8,\xed\xa0\x80,end"},
         .env = {std::string("LC_ALL=") + locale}});
    row("long_request" + in,
        {.args = {"pay,<pub>/," + std::string(5000, 'x') + "\x80"},
         .env = {std::string("LC_ALL=") + locale}});
  }
  // The public directory is field 2, whatever the other fields hold.
  row("empty_fields_and_more_than_twelve",
      {.args = {",<pub>/,,,,,,,,,,rsa,13,14,15"}});
  row("request_beyond_32767_units",
      {.args = {std::string(40000, 'x') + ",<pub>/,tail"}});
  row("blanks_in_the_public_directory",
      {.args = {"a,<pub>/,c"}, .dir = "pay  dir x"});
  // "<pub>/pay" names "<pub>/paymart.dll", "<pub>/paytolmex.ini" and the
  // log directory "<pub>/pay/logpay".
  row("public_directory_without_slash_is_a_prefix",
      {.args = {"pay,<pub>/pay"},
       .planted = {{"pay/", ""}, {"paymart.dll"}},
       .files = {"pay", "paymart.dll", "paytolmex.ini"},
       .log = "pay/logpay",
       .ini = "paytolmex.ini"});
  // With field 2 empty every name lies in the working directory, where no
  // mart.dll lies: the message, no client.
  row("field_2_empty_is_the_working_directory",
      {.args = {"<pub>/"},
       .status = 2,
       .err = kMissing +
              "tolmex: cannot copy mart.dll to mart.exe: No such file or "
              "directory\n",
       .trace = "CopyFile: cannot copy mart.dll to mart.exe: No such file or "
                "directory\n",
       .files = {"mart.dll"},
       .in_cwd = {"logpay", "tolmex.ini"},
       .ran = false,
       .log = "",
       .ini = ""});
  // The client's own end is not the run's; the trace holds failures only.
  row("client_exit_status_is_not_the_runs",
      {.args = {"a,<pub>/"},
       .planted = {{"mart.dll", "#!/bin/sh\nexit 7\n"}},
       .ran = false});
  // What it leaves running is ended and said; where the pid counter may
  // be set, that process's pid starts with a 1.
  row("client_that_leaves_a_process_running",
      {.args = {"a,<pub>/"},
       .planted = {{"mart.dll",
                    "#!/bin/sh\n{ echo 10000 >/proc/sys/kernel/ns_last_pid; "
                    "} 2>/dev/null\nsleep 30 >/dev/null 2>&1 &\n"}},
       .err = "tolmex: warning: the client left 1 process(es) running when "
              "it ended; they were ended\n",
       .ran = false});
  row("client_killed_by_a_signal",
      {.args = {"a,<pub>/"},
       .planted = {{"mart.dll", "#!/bin/sh\nkill -KILL $$\n"}},
       .ran = false});
  // A client that the kernel could not start as it is, or that would load
  // what nobody judged: refused before the copy, status 2 and the reason.
  for (const auto& [name, client, mode, reason] :
       std::vector<std::tuple<std::string, std::string, int, std::string>>{
           {"client_without_execute_permission", "#!/bin/sh\n", 0644,
            "<pub>/mart.dll is not executable by its owner: chmod u+x "
            "<pub>/mart.dll"},
           {"client_executable_by_others_only", "#!/bin/sh\n", 0655,
            "<pub>/mart.dll is not executable by its owner: chmod u+x "
            "<pub>/mart.dll"},
           {"client_that_is_no_program", "", 0755,
            "<pub>/mart.dll is neither an ELF program nor a script starting "
            "with \"#!\""},
           {"client_whose_interpreter_is_missing", "#!/nonexistent/sh\n", 0755,
            "<pub>/mart.dll names the interpreter /nonexistent/sh: No such "
            "file or directory"},
           {"client_for_another_machine",
            std::string("\x7f"
                        "ELF\x02\x01\x01",
                        7) +
                std::string(11, '\0') + std::string("\x28\x00", 2) +
                std::string(46, '\0'),
            0755,
            "<pub>/mart.dll is a program for another machine (ELF "
            "machine 40)"}}) {
    row(name, like(missing, [&](Outcome& o) {
          o.planted = {{"mart.dll", client, mode}};
          const std::string copy =
              "cannot copy <pub>/mart.dll to <pub>/mart.exe: " + reason;
          o.err = kMissing + "tolmex: " + copy + "\n";
          o.trace = "CopyFile: " + copy + "\n";
          o.args = {"pay,<pub>/,ORDER-1"};
          o.files = {"logpay", "mart.dll", "tolmex.ini"};
        }));
  }
  const Outcome unstartable{.args = {"pay,<pub>/,ORDER-1"},
                            .status = 4,
                            .files = {"logpay", "mart.dll", "tolmex.ini"},
                            .ran = false};
  // The host's command line may hold more than one argument can: its words
  // are joined into the one parameter string, longer than the kernel takes.
  row("request_longer_than_the_kernel_takes",
      like(unstartable, [&](Outcome& o) {
        o.args.insert(o.args.end(), 2, std::string(100000, 'x'));
        o.planted = {{"mart.dll", "#!/bin/sh\n"}};
        o.err = cannot_start("Argument list too long");
        o.trace =
            "RunWait: cannot start <pub>/mart.exe: Argument list too "
            "long\n";
      }));
  row("missing_client_removes_an_old_copy", like(missing, [](Outcome& o) {
        o.args = {"pay,<pub>/"};
        o.planted = {{"mart.exe"}};
      }));
  row("result_file_that_cannot_be_reset", like(missing, [](Outcome& o) {
        o.args = {"pay,<pub>/,ORDER-1"};
        o.planted = {{"tolmex.ini", "[return]\r\n", 0444}};
        o.status = 3;
        o.err = "系统错误: 无法写入结果文件,请与供应商联系! \ntolmex: " +
                kCannotWrite + "\n";
        o.trace = "WriteProfileString: " + kCannotWrite + "\n";
        o.files = {"tolmex.ini"};
        o.log = o.ini = "";
      }));
  // A locale that is not installed is a warning; its name forges no line.
  row("locale_not_installed",
      {.args = {"pay,<pub>/,ORDER-1"},
       .env = {"LC_ALL=xx_YY.BIG5"},
       .err = "tolmex: warning: locale xx_YY.BIG5 is not installed; using "
              "UTF-8\n"});
  row("locale_not_installed_and_no_request",
      like(nothing, [](Outcome& o) { o.env = {"LC_ALL=xx_YY.BIG5"}; }));
  row("locale_name_with_a_line_break",
      {.args = {"pay,<pub>/,ORDER-1"},
       .env = {"LC_ALL=xx\ntolmex: payment accepted"},
       .err = "tolmex: warning: locale xx\\x0atolmex: payment accepted is "
              "not installed; using UTF-8\n"});
  return rows;
}

std::string with_pub(std::string text, const std::string& pub) {
  for (std::size_t at; (at = text.find(kPub)) != std::string::npos;) {
    text.replace(at, kPub.size(), pub);
  }
  return text;
}

void PrintTo(const Outcome& o, std::ostream* os) { *os << o.name; }

class OutcomeTest : public ::testing::TestWithParam<Outcome> {
 protected:
  TempDir tmp, rec, cwd;
};

TEST_P(OutcomeTest, Of) {
  const Outcome& o = GetParam();
  const std::string pub = o.dir.empty() ? tmp.path() : tmp / o.dir;
  ::mkdir(pub.c_str(), 0755);
  for (const Planted& p : o.planted) {
    if (p.name.ends_with('/')) {
      ::mkdir((pub + "/" + p.name).c_str(), p.mode);
    } else {
      write_file(
          pub + "/" + p.name,
          p.content == kRecording ? recording_client(rec.path()) : p.content,
          p.mode);
    }
  }
  std::vector<std::string> args, env{"TOLMEX_TRACE=" + (rec / "trace")};
  std::string request;
  for (const std::string& a : o.args) {
    args.push_back(with_pub(a, pub));
    request += (request.empty() ? "" : " ") + args.back();
  }
  for (const std::string& e : o.env) env.push_back(with_pub(e, pub));
  const std::string before = log_time_now();
  RunResult r = run_tolmex(args, env, cwd.path());
  const std::string after = log_time_now();

  EXPECT_EQ(r.status, o.status) << r.err;
  EXPECT_EQ(r.err, with_pub(o.err, pub));
  EXPECT_EQ(r.out, with_pub(o.out, pub));
  EXPECT_EQ(exists(rec / "trace") ? read_file(rec / "trace") : "",
            with_pub(o.trace, pub));
  EXPECT_EQ(list_dir(pub), o.files);
  EXPECT_EQ(list_dir(cwd.path()), o.in_cwd);
  EXPECT_EQ(exists(rec / "runs"), o.ran);
  if (o.ran) {
    EXPECT_EQ(read_file(rec / "runs").find('\n'),
              read_file(rec / "runs").size() - 1);
    EXPECT_EQ(read_file(rec / "args"), request + '\0');
    // What it found beside itself.
    EXPECT_EQ(read_file(rec / "ini"), o.ini.empty() ? "" : kEmptyReturn);
  }
  if (!o.log.empty()) {
    EXPECT_EQ(
        check_one_record(pub + "/" + o.log, before, after, kPrefix + request),
        "");
  }
  if (!o.ini.empty()) {
    EXPECT_EQ(read_file(pub + "/" + o.ini), kEmptyReturn);
  }
}

INSTANTIATE_TEST_SUITE_P(Request, OutcomeTest, ::testing::ValuesIn(outcomes()),
                         [](const auto& row) { return row.param.name; });

TEST(OutcomesTest, FullDiskEndsWith2AndTheReason) {
  TempDir pub;
  SmallFileSystem fs(pub.path());
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  write_file(pub / "mart.dll", "#!/bin/sh\n" + std::string(200 << 10, '#'),
             0755);
  auto r = run_tolmex({"pay," + pub.path() + "/,ORDER-1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kMissing + "tolmex: cannot copy " + (pub / "mart.dll") +
                       " to " + (pub / "mart.exe") +
                       ": No space left on device\n");
  // No file left to make once the day's log is made: the copy cannot even
  // be staged, and says so.
  TempDir few;
  SmallFileSystem inodes(few.path());
  write_file(few / "mart.dll", "#!/bin/sh\n", 0755);
  write_file(few / "tolmex.ini", "");
  ::mkdir((few / "logpay").c_str(), 0755);
  struct statvfs st;
  ASSERT_EQ(::statvfs(few.path().c_str(), &st), 0);
  const std::string limit =
      "nr_inodes=" + std::to_string(st.f_files - st.f_ffree + 1);
  ASSERT_EQ(
      ::mount(nullptr, few.path().c_str(), nullptr, MS_REMOUNT, limit.c_str()),
      0);
  r = run_tolmex({"pay," + few.path() + "/,ORDER-1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kMissing + "tolmex: cannot copy " + (few / "mart.dll") +
                       " to " + (few / "mart.exe") +
                       ": No space left on device\n");
}

TEST(OutcomesTest, LogThatCannotBeClosedSaysTheRecordIsLost) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' leak check cannot run under strace";
#endif
  if (!exists("/usr/bin/strace")) GTEST_SKIP() << "needs strace";
  TempDir pub;
  write_file(pub / "mart.dll", "#!/bin/sh\n", 0755);
  const std::string day = log_time_now();
  const std::string log = pub / ("logpay/pay_log" + day.substr(0, 4) +
                                 day.substr(5, 2) + day.substr(8, 2) + ".txt");
  Started s = start({"/usr/bin/strace", "-f", "-o", "/dev/null", "-P", log,
                     "-e", "inject=close:error=EIO", TOLMEX_BINARY,
                     "pay," + pub.path() + "/,ORDER-1"},
                    {"DISPLAY="});
  RunResult r = finish_within(s, 20);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string lost = "tolmex: warning: the request was not logged: " +
                           ("cannot close " + log + ": Input/output error");
  EXPECT_NE(r.err.find(lost), std::string::npos) << r.err;
}

TEST(OutcomesTest, CodeSetThatCannotBeConvertedIsARuntimeError) {
  // A locale of our own whose code set no converter knows.
  TempDir locales, pub;
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
  auto r = run_tolmex({"pay," + pub.path() + "/,ORDER-1"},
                      {"LOCPATH=" + locales.path(), "LC_ALL=xx_XX"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tolmex: cannot convert between TOLMEX-UNKNOWN and UTF-16LE: "
            "Invalid argument\n");
  EXPECT_FALSE(exists(pub / "tolmex.ini"));
}

TEST(OutcomesTest, ClosedStderrIsNoDeath) {
  TempDir pub;
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  Started s = start({TOLMEX_BINARY, "pay," + pub.path() + "/"}, {"DISPLAY="},
                    "", [&] { ::dup2(ends[1], 2); });
  ::close(ends[1]);
  EXPECT_EQ(finish_within(s, 20).status, 2);  // no mart.dll
}

TEST(OutcomesTest, LargeClientIsCopiedWholeForItsOwnerAlone) {
  TempDir pub;
  // The client checks its own copy while it runs: same bytes, its mode.
  std::string client =
      "#!/bin/sh\n"
      "d=$(echo \"$1\" | cut -d, -f2)\n"
      "cmp -s \"$0\" \"$d/mart.dll\" && stat -L -c %a \"$0\" > \"$d/checked\"\n"
      "exit 0\n";
  client.resize(20 << 20, '#');
  write_file(pub / "mart.dll", client, 0750);
  auto r = run_tolmex({"a," + pub.path() + "/"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Readable by its owner alone: nobody else can take its in-use lock.
  EXPECT_EQ(read_file(pub / "checked"), "700\n");
  EXPECT_FALSE(exists(pub / "mart.exe"));
}

TEST(OutcomesTest, AuditLineReachesTheSystemLog) {
  // A socket of the test's own, shown to tolmex as /dev/log, and as the
  // journal's /run/systemd/journal/socket where `journal` is set, in a mount
  // namespace of its own.
  TempDir pub;
  const std::string sock_path = pub / "log.sock";
  int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval limit = {10, 0};
  ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  auto run_logged = [&](const std::string& request, bool journal = false) {
    // Without root, in a user namespace too (-r).
    return run({"/usr/bin/unshare", ::geteuid() == 0 ? "--mount" : "-rm",
                "/bin/sh", "-c",
                "mount -t tmpfs tmpfs /dev && ln -s '" + sock_path +
                    "' /dev/log && ln -s /proc/self/fd /dev/fd && "
                    "mount -t tmpfs tmpfs /run && mkdir -p "
                    "/run/systemd/journal && " +
                    (journal ? "ln -s '" + sock_path +
                                   "' /run/systemd/journal/socket && "
                             : "") +
                    "exec \"$0\" \"$@\"",
                TOLMEX_BINARY, request},
               {"DISPLAY=", "LC_ALL=C.UTF-8"});
  };
  auto next_line = [&] {
    char buf[8192];
    ssize_t n = ::recv(sock, buf, sizeof buf, 0);
    return n < 0 ? std::string("(nothing)") : std::string(buf, n);
  };
  const std::string stamp = R"(<14>[A-Z][a-z]{2} [ 1-3][0-9] \d\d:\d\d:\d\d )";
  const std::string request = "pay," + pub.path() + "/,ORDER-1";
  write_file(pub / "mart.dll", "#!/bin/sh\nexit 7\n", 0755);
  RunResult r = run_logged(request);
  if (r.status != 0 && r.err.find("unshare") != std::string::npos) {
    GTEST_SKIP() << "no mount namespace here: " << r.err;
  }
  EXPECT_EQ(r.status, 0) << r.err;
  std::string line = next_line();
  EXPECT_TRUE(std::regex_match(
      line,
      std::regex(stamp + R"(tolmex\[\d+\]: public directory ")" + pub.path() +
                 R"(/", exit status 0, client exit status 7, \d+ ms, )"
                 R"(result "", sub_code "", trade_no "", out_trade_no "", )"
                 R"(total_amount "")")))
      << line;
  std::remove((pub / "mart.dll").c_str());
  EXPECT_EQ(run_logged(request).status, 2);
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

  // With a journal: three payments, then the manual's recipes give three
  // rows whose outcome is what --result printed after each, and nothing
  // of the buyer's reaches the journal.
  const std::string client = read_file(SAMPLE_CLIENT_BINARY);
  write_file(pub / "mart.dll", client, 0755);
  TempDir captured;
  std::string expected;
  for (int i = 1; i <= 3; ++i) {
    const std::string order = "ORDER-" + std::to_string(i);
    const std::string amount = std::to_string(i) + "0.50";
    EXPECT_EQ(
        run_logged("pay," + pub.path() + "/," + order + "," + amount, true)
            .status,
        0);
    const std::string datagram = next_line();
    EXPECT_TRUE(datagram.starts_with("MESSAGE=")) << datagram;
    write_file(captured / ("d" + std::to_string(i)), datagram);
    EXPECT_TRUE(std::regex_search(datagram, std::regex("buyer|支付成功")) ==
                false)
        << datagram;
    const std::string json =
        run_tolmex({"--result", pub.path() + "/", order}).out;
    std::smatch m;
    EXPECT_TRUE(std::regex_search(
        json, m,
        std::regex(R"x("result":"([^"]*)","sub_code":"([^"]*)",.*)x"
                   R"x("trade_no":"([^"]*)","out_trade_no":"([^"]*)",.*)x"
                   R"x("total_amount":"([^"]*)")x")))
        << json;
    expected += m.format(",$1,$2,$3,$4,$5\n");
  }
  // journalctl -t tolmex -o json as the captured datagrams give it.
  write_file(
      captured / "journalctl",
      "#!/usr/bin/python3\nimport glob, json, struct\n"
      "for name in sorted(glob.glob('" +
          captured.path() +
          "/d*')):\n"
          "  d, r = open(name, 'rb').read(), {'__REALTIME_TIMESTAMP': '1'}\n"
          "  while d:\n"
          "    k, _, d = d.partition(b'\\n')\n"
          "    if b'=' in k: k, _, v = k.partition(b'=')\n"
          "    else: n = struct.unpack('<Q', d[:8])[0]; v, d = d[8:8+n], "
          "d[9+n:]\n"
          "    r[k.decode()] = v.decode()\n"
          "  if r.get('SYSLOG_IDENTIFIER') == 'tolmex': print(json.dumps(r))\n",
      0755);
  // Each recipe of the manual page, as it stands there.
  const std::string page = read_file(TOLMEX_SOURCE_DIR "/doc/tolmex.1.in");
  int recipes = 0;
  for (std::size_t at = 0;
       (at = page.find(".\\\" The recipe, run by", at)) != std::string::npos;
       ++recipes) {
    at = page.find(".EX\n", at) + 4;
    std::string recipe = page.substr(at, page.find(".EE\n", at) - at);
    recipe = std::regex_replace(recipe, std::regex(R"(\\-)"), "-");
    recipe = std::regex_replace(recipe, std::regex(R"(\\\(aq)"), "'");
    recipe = std::regex_replace(recipe, std::regex(R"(\\e)"), "\\");
    if (recipe.find("jq") != std::string::npos && !exists("/usr/bin/jq")) {
      continue;
    }
    RunResult csv = run({"/bin/sh", "-c", recipe},
                        {"PATH=" + captured.path() + ":/usr/bin:/bin"});
    EXPECT_EQ(csv.status, 0) << recipe << csv.err;
    // The outcome columns, without the time, the quotes and the header.
    std::string rows =
        std::regex_replace(csv.out, std::regex(R"((^|\n)[^,\n]*|"|\r)"), "$1");
    if (rows.starts_with(",result")) rows.erase(0, rows.find('\n') + 1);
    EXPECT_EQ(rows, expected) << recipe;
  }
  EXPECT_EQ(recipes, 2);
  EXPECT_EQ(next_line(), "(nothing)");  // the journal took each one alone
  ::close(sock);
}

}  // namespace
