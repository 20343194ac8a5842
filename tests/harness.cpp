#include "tests/harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::vector<std::string> merged_environment(
    const std::vector<std::string>& env) {
  std::vector<std::string> out;
  auto overridden = [&](const std::string& entry) {
    std::string name = entry.substr(0, entry.find('=') + 1);
    return std::any_of(env.begin(), env.end(), [&](const std::string& e) {
      return e.compare(0, name.size(), name) == 0;
    });
  };
  for (char** e = environ; *e; ++e) {
    if (!overridden(*e)) out.push_back(*e);
  }
  for (const std::string& e : env) {
    if (e.back() != '=') out.push_back(e);
  }
  return out;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Puts this process into a mount namespace of its own, once; without root,
// into a user namespace too, in which it is root. False where neither is
// allowed.
bool own_mount_namespace() {
  static const bool entered = [] {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
      if (::unshare(CLONE_NEWNS) != 0) return false;
    } else {
      auto put = [](const char* file, const std::string& text) {
        int fd = ::open(file, O_WRONLY | O_CLOEXEC);
        bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) ==
                                 static_cast<ssize_t>(text.size());
        if (fd >= 0) ::close(fd);
        return ok;
      };
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
          !put("/proc/self/setgroups", "deny") ||
          !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
          !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        return false;
      }
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }();
  return entered;
}

}  // namespace

SmallFileSystem::SmallFileSystem(const std::string& dir) : dir_(dir) {
  mounted_ = own_mount_namespace() && ::mount("tmpfs", dir.c_str(), "tmpfs", 0,
                                              "size=256k,mode=0755") == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

bool SmallFileSystem::make_read_only() {
  return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                 "size=256k") == 0;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ =
      std::string(base && *base ? base : "/tmp") + "/tolmex-test-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) fail("mkdtemp");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& name) const {
  return path_ + "/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content, int mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) fail("cannot write " + path);
  bool ok = ::write(fd, content.data(), content.size()) ==
            static_cast<ssize_t>(content.size());
  ok = ::fchmod(fd, mode) == 0 && ok;
  ::close(fd);
  if (!ok) fail("cannot write " + path);
}

int mode_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777)
                                        : -1;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Started start(const std::vector<std::string>& argv,
              const std::vector<std::string>& env, const std::string& cwd,
              const std::function<void()>& prepare) {
  Started started(0, std::make_unique<TempDir>());
  const std::string out_path = *started.io / "out";
  const std::string err_path = *started.io / "err";
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = merged_environment(env);
  std::vector<char*> c_args = c_strings(args);
  std::vector<char*> c_env = c_strings(environment);
  // Reports a failed exec through a pipe that the exec closes.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) fail("pipe2");
  started.pid = ::fork();
  if (started.pid < 0) fail("fork");
  if (started.pid == 0) {
    // Only async-signal-safe calls from here: the test may have threads.
    ::close(report[0]);
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        (!cwd.empty() && ::chdir(cwd.c_str()) != 0)) {
      ::_exit(127);
    }
    ::close(out);
    ::close(err);
    if (prepare) prepare();
    ::execve(c_args[0], c_args.data(), c_env.data());
    const int error = errno;
    (void)!::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  const bool exec_failed = ::read(report[0], &error, sizeof error) > 0;
  ::close(report[0]);
  if (exec_failed) {
    ::waitpid(started.pid, nullptr, 0);
    started.finished = true;
    errno = error;
    fail("cannot start " + argv[0]);
  }
  return started;
}

namespace {

RunResult collect(Started& started, int status) {
  RunResult result;
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = read_file(*started.io / "out");
  result.err = read_file(*started.io / "err");
  return result;
}

}  // namespace

RunResult finish(Started& started) {
  int status;
  while (::waitpid(started.pid, &status, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  started.finished = true;
  return collect(started, status);
}

Started::Started(Started&& other) noexcept
    : pid(other.pid), io(std::move(other.io)), finished(other.finished) {
  other.finished = true;
}

Started& Started::operator=(Started&& other) noexcept {
  if (this != &other) {
    end_unfinished();
    pid = other.pid;
    io = std::move(other.io);
    finished = other.finished;
    other.finished = true;
  }
  return *this;
}

Started::~Started() { end_unfinished(); }

void Started::end_unfinished() {
  if (finished || pid <= 0) return;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  finished = true;
}

RunResult finish_within(Started& started, int seconds) {
  if (!ends_within(started.pid, seconds)) {
    ::kill(started.pid, SIGKILL);
    finish(started);
    RunResult result;
    result.err = "timed out after " + std::to_string(seconds) + " s";
    return result;
  }
  return finish(started);
}

bool ends_within(int pid, int seconds) {
  // A pidfd turns readable when the process ends, child or not.
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) {
    if (errno == ESRCH) return true;
    fail("pidfd_open");
  }
  pollfd ended = {fd, POLLIN, 0};
  int n;
  while ((n = ::poll(&ended, 1, seconds * 1000)) < 0 && errno == EINTR) {
  }
  ::close(fd);
  if (n < 0) fail("poll");
  return n > 0;
}

bool appears(const std::string& file, int seconds,
             const std::function<bool()>& ready) {
  const std::function<bool()> is_ready =
      ready ? ready : std::function<bool()>([&] { return exists(file); });
  // Watches the directory before looking, so that no change falls between
  // a look and the wait for the next change.
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) fail("inotify_init1");
  const std::string dir = std::filesystem::path(file).parent_path().string();
  if (::inotify_add_watch(fd, dir.c_str(),
                          IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                              IN_ATTRIB) < 0) {
    ::close(fd);
    fail("inotify_add_watch " + dir);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool seen;
  while (!(seen = is_ready())) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd changed = {fd, POLLIN, 0};
    if (::poll(&changed, 1, static_cast<int>(left.count())) > 0) {
      char events[4096];
      while (::read(fd, events, sizeof events) > 0) {
      }
    }
  }
  ::close(fd);
  return seen;
}

namespace {

std::vector<std::string> tolmex_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{TOLMEX_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> without_display(const std::vector<std::string>& env) {
  std::vector<std::string> environment{"DISPLAY=", "WAYLAND_DISPLAY="};
  environment.insert(environment.end(), env.begin(), env.end());
  return environment;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv,
              const std::vector<std::string>& env) {
  Started started = start(argv, env);
  return finish(started);
}

RunResult run_tolmex(const std::vector<std::string>& args,
                     const std::vector<std::string>& env,
                     const std::string& cwd) {
  Started started = start(tolmex_argv(args), without_display(env), cwd);
  return finish(started);
}

std::vector<RunResult> run_tolmex_at_once(
    const std::vector<std::vector<std::string>>& requests,
    const std::vector<std::string>& env) {
  std::vector<Started> all;
  for (const auto& args : requests) {
    all.push_back(start(tolmex_argv(args), without_display(env)));
  }
  std::vector<RunResult> results;
  for (Started& started : all) results.push_back(finish(started));
  return results;
}

std::string log_time_now() {
  timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  ::localtime_r(&ts.tv_sec, &local);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d:%03ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec,
                ts.tv_nsec / 1000000);
  return stamp;
}

std::string check_one_record(const std::string& log_dir,
                             const std::string& before,
                             const std::string& after,
                             const std::string& text) {
  std::vector<std::string> files = list_dir(log_dir);
  auto day_file = [](const std::string& time) {
    return "pay_log" + time.substr(0, 4) + time.substr(5, 2) +
           time.substr(8, 2) + ".txt";
  };
  if (files.size() != 1 ||
      (files[0] != day_file(before) && files[0] != day_file(after))) {
    return "not one log file of the day: " + std::to_string(files.size());
  }
  std::string log = read_file(log_dir + "/" + files[0]);
  const std::string shape = "dddd-dd-dd dd:dd:dd:ddd";
  bool shaped = log.size() >= shape.size();
  for (std::size_t i = 0; shaped && i < shape.size(); ++i) {
    shaped = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(log[i]))
                             : log[i] == shape[i];
  }
  if (!shaped) return "no timestamp: " + log;
  std::string stamp = log.substr(0, shape.size());
  if (stamp < before || stamp > after) {
    return "stamped " + stamp + ", not between " + before + " and " + after;
  }
  if (log.substr(shape.size()) != "\t" + text + "\r\r\n") {
    return "record is not \"" + text + "\": " + log;
  }
  return "";
}

std::string configparser_dump(const std::string& ini) {
  RunResult r = run({"/usr/bin/env", "python3",
                     TOLMEX_SOURCE_DIR "/tests/ini_check.py", "dump", ini});
  if (r.status != 0) return "configparser failed: " + r.out + r.err;
  return r.out;
}

std::string configparser_rejects(const std::vector<std::string>& files) {
  std::vector<std::string> argv{"/usr/bin/env", "python3",
                                TOLMEX_SOURCE_DIR "/tests/ini_check.py",
                                "parse"};
  argv.insert(argv.end(), files.begin(), files.end());
  RunResult r = run(argv);
  return r.status == 0 ? "" : r.out + r.err;
}

std::string recording_client(const std::string& record_dir) {
  return "#!/bin/sh\n"
         "rec='" +
         record_dir +
         "'\n"
         "public=${1#*,}; public=${public%%,*}\n"
         "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$rec/args\"\n"
         "cat \"${public}tolmex.ini\" > \"$rec/ini\" 2>/dev/null\n"
         "echo \"$$\" >> \"$rec/runs\"\n";
}

}  // namespace testing_support
