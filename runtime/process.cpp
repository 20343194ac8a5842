#include "runtime/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "runtime/code_set.h"
#include "runtime/path.h"

extern char** environ;

namespace runtime {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string program_path(const std::string& name) {
  return fs_path(from_ansi(name));
}

bool names_regular_file(const std::string& name) {
  struct stat st;
  return ::stat(program_path(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Starts argv[0] (a path, or a name looked up on PATH when `search_path`)
// with the environment `envp` and waits for it. The wait status, or -1 when
// it could not be started.
int spawn_and_wait(const std::vector<std::string>& args, bool search_path,
                   char** envp) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (search_path) {
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp) !=
        0) {
      return -1;
    }
  } else {
    // vfork and execve, as posix_spawn does, but without its resetting of
    // every signal's disposition in the child (this program installs no
    // handlers), which costs as much as the rest of the start. The child
    // only execs, and reports a failed exec through a shared flag.
    volatile int exec_error = 0;
    pid = ::vfork();
    if (pid == 0) {
      ::execve(argv[0], argv.data(), envp);
      exec_error = errno;
      ::_exit(127);
    }
    if (pid < 0) return -1;
    if (exec_error != 0) {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
  }
  int status;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

SplitCommand split_command_line(const std::string& line) {
  std::size_t end;  // one past the program name
  std::size_t rest;
  SplitCommand cmd;
  if (!line.empty() && line[0] == '"') {
    std::size_t quote = line.find('"', 1);
    end = quote == std::string::npos ? line.size() : quote;
    cmd.program = line.substr(1, end - 1);
    rest = quote == std::string::npos ? line.size() : quote + 1;
  } else {
    end = std::string::npos;
    for (std::size_t i = 0; i <= line.size() && end == std::string::npos; ++i) {
      bool boundary = i == line.size() || is_blank(line[i]);
      if (boundary && i > 0 && names_regular_file(line.substr(0, i))) end = i;
    }
    if (end == std::string::npos) {
      end = 0;
      while (end < line.size() && !is_blank(line[end])) ++end;
    }
    cmd.program = line.substr(0, end);
    rest = end;
  }
  while (rest < line.size() && is_blank(line[rest])) ++rest;
  cmd.tail = line.substr(rest);
  return cmd;
}

std::uint16_t run_wait(const SplitCommand& command) {
  std::vector<std::string> args{program_path(command.program)};
  if (!command.tail.empty()) args.push_back(command.tail);
  int status = spawn_and_wait(args, false, environ);
  if (status < 0) return kNotStarted;
  if (WIFSIGNALED(status))
    return static_cast<std::uint16_t>(128 + WTERMSIG(status));
  return static_cast<std::uint16_t>(WEXITSTATUS(status));
}

bool run_tool(const std::vector<std::string>& argv,
              const std::vector<std::string>& env) {
  std::vector<std::string> entries = env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry = *e;
    std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced =
        std::any_of(env.begin(), env.end(),
                    [&](const std::string& c) { return c.starts_with(name); });
    if (!replaced) entries.emplace_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  int status = spawn_and_wait(argv, true, envp.data());
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace runtime
