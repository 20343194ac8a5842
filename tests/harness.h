// The library every test program links, for tests that work on real files
// and processes: a temporary directory, whole-file reads and writes, the
// one way to start a program (and run it with its exit status and output),
// and waits for a file or a process's end that never sleep. A failure of
// the harness itself throws, which fails the test with its message.
#ifndef TOLMEX_TESTS_HARNESS_H_
#define TOLMEX_TESTS_HARNESS_H_

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A fresh directory under $TMPDIR (or /tmp), removed with all it holds when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing slash.
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content,
                int mode = 0644);
bool exists(const std::string& path);
// The permission bits of `path` (following a link), or -1.
int mode_of(const std::string& path);
// The names in `dir`, sorted; "." and ".." left out.
std::vector<std::string> list_dir(const std::string& dir);

// A tmpfs of 256 KiB on `dir` for the object's life, mounted in a mount
// namespace of this test process's own (without root, inside a user
// namespace where it is root), so that the test needs no root where the
// system lets users have namespaces; processes the test starts see it.
// mounted() is false where it cannot be made.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& dir);
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }
  bool make_read_only();

 private:
  std::string dir_;
  bool mounted_ = false;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  int signal = 0;   // the signal that ended it, as a shell's $? cannot tell
  std::string out;  // standard output
  std::string err;  // standard error
};

// A process started by start(), with its output going to files. One that
// is not finished when the object goes away (a test that failed on the
// way) is killed, so that no test leaves a process behind.
struct Started {
  Started(int started_pid, std::unique_ptr<TempDir> files)
      : pid(started_pid), io(std::move(files)) {}
  Started(Started&& other) noexcept;
  Started& operator=(Started&& other) noexcept;
  ~Started();

  int pid = 0;
  std::unique_ptr<TempDir> io;
  bool finished = false;

 private:
  void end_unfinished();
};

// Starts `argv` (argv[0] a path) with the environment `env` added to this
// process's one ("NAME=value" entries; "NAME=" alone removes NAME), in the
// directory `cwd` (this process's when empty), with `prepare` called in the
// new process just before the exec (async-signal-safe calls only); finish()
// waits for it and collects its output. Every test starts its processes
// here.
Started start(const std::vector<std::string>& argv,
              const std::vector<std::string>& env = {},
              const std::string& cwd = "",
              const std::function<void()>& prepare = {});
RunResult finish(Started& started);
// As finish(), but kills the process when it has not ended within
// `seconds`; the result's status is then -1 and `err` says so.
RunResult finish_within(Started& started, int seconds);
// True once the process `pid` (any process, not only a child) has ended,
// false when it still runs after `seconds`.
bool ends_within(int pid, int seconds);
// True once `ready` holds (by default: once `file` exists), false when it
// still does not after `seconds`. It looks again on each change in the
// directory of `file`, which is where a process under test marks that it
// is ready; it never sleeps.
bool appears(const std::string& file, int seconds = 10,
             const std::function<bool()>& ready = {});

// Runs `argv` as start() does and waits.
RunResult run(const std::vector<std::string>& argv,
              const std::vector<std::string>& env = {});

// Runs the tolmex program built with the tests, with DISPLAY and
// WAYLAND_DISPLAY removed so that no dialog opens.
RunResult run_tolmex(const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {},
                     const std::string& cwd = "");

// Starts one tolmex per element of `requests` (its arguments) at once, as
// run_tolmex() does, and waits for all of them.
std::vector<RunResult> run_tolmex_at_once(
    const std::vector<std::vector<std::string>>& requests,
    const std::vector<std::string>& env = {});

// The current local time as the payment log stamps a record:
// "yyyy-mm-dd hh:mm:ss:fff".
std::string log_time_now();

// "" when `log_dir` holds exactly one file, named for the day of `before`
// or `after`, holding exactly one record of `text` stamped between `before`
// and `after` (times from log_time_now()); else what is wrong.
std::string check_one_record(const std::string& log_dir,
                             const std::string& before,
                             const std::string& after, const std::string& text);

// What Python's configparser reads from `ini`: "[section]" and "key=value"
// lines, or a line that says why it could not.
std::string configparser_dump(const std::string& ini);

// "" when configparser reads every one of `files`; else what it said.
std::string configparser_rejects(const std::vector<std::string>& files);

// A shell script that, run as the payment client, records in the directory
// `record_dir`: its arguments ("args", NUL-terminated each), the result INI
// file as it found it ("ini"), and one line per run in "runs". The public
// directory is where the script itself lies.
std::string recording_client(const std::string& record_dir);

}  // namespace testing_support

#endif  // TOLMEX_TESTS_HARNESS_H_
