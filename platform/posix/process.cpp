// Starting the client on POSIX systems and waiting for it, with the signals
// passed on (platform/posix/start_and_wait.h), and the signal state of the
// process (runtime/process.h).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/exec_args.h"
#include "platform/posix/fs_path.h"
#include "platform/posix/start_and_wait.h"
#include "platform/posix/unique_fd.h"
#include "runtime/code_set.h"

extern char** environ;

namespace runtime {
namespace {

std::string program_path(const std::string& name) {
  return fs_path(from_ansi(name));
}

// The controlling terminal, open, when this process's group is in its
// foreground; else an invalid descriptor.
UniqueFd foreground_terminal() {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (tty.valid() && ::tcgetpgrp(tty.get()) != ::getpgrp()) tty.reset();
  return tty;
}

// Waits for the child `pid`; its wait status, or -1.
int wait_for(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

// The signals passed on to a running program.
sigset_t passed_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
  return set;
}

// The other signals whose default action ends this process: while a
// program runs they are taken in turn too, so that the terminal is given
// back before this process ends by them.
sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR,
                  SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGSYS, SIGTRAP}) {
    sigaddset(&set, sig);
  }
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

// Hands the terminal `tty` (when valid) to the process group `group`.
void give_terminal(const UniqueFd& tty, pid_t group) {
  if (tty.valid()) ::tcsetpgrp(tty.get(), group);
}

// Ends this process by `sig`, its default action, as if it had not been
// taken in turn.
[[noreturn]] void end_by(int sig) {
  std::signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

// Stops this process by the stop signal `sig` (SIGSTOP where the shell
// could not continue it: its process group has no parent in the session
// outside it) and returns once it is continued.
void stop_like(int sig) {
  const pid_t parent = ::getppid();
  if (sig != SIGSTOP &&
      (::getpgid(parent) == ::getpgrp() || ::getsid(parent) != ::getsid(0))) {
    sig = SIGSTOP;
  }
  sigset_t one, old;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::sigprocmask(SIG_UNBLOCK, &one, &old);
  ::raise(sig);
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
}

int first_passed_signal = 0;

// How long what a program left in its group may take to end by itself,
// and then to end after SIGTERM, before SIGKILL.
constexpr std::chrono::milliseconds kLeftoverGrace{1000};

// The processes of the process group `group` that have not ended, from
// /proc; 0 where /proc cannot be read.
int group_members(pid_t group) {
  int count = 0;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    UniqueFd stat(::openat(::dirfd(proc),
                           (std::string(entry->d_name) + "/stat").c_str(),
                           O_RDONLY | O_CLOEXEC));
    char buf[512];
    const ssize_t n =
        stat.valid() ? ::read(stat.get(), buf, sizeof buf - 1) : -1;
    if (n <= 0) continue;
    buf[n] = '\0';
    // "pid (name) state ppid pgrp ...": the name may hold anything.
    const char* after = std::strrchr(buf, ')');
    char state;
    int ppid, pgrp;
    if (after != nullptr &&
        std::sscanf(after + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 &&
        pgrp == group && state != 'Z' && state != 'X') {
      ++count;
    }
  }
  ::closedir(proc);
  return count;
}

// True when no process of the group `group` is left running within
// `wait`; sleeps between looks.
bool group_ends_within(pid_t group, std::chrono::milliseconds wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (group_members(group) == 0) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    ::usleep(20000);
  }
}

// Ends what the program whose process group is `group` left running in
// it; how many processes were left.
int end_leftovers(pid_t group) {
  // Most clients leave nothing: then one call says so, without /proc.
  if (::kill(-group, 0) != 0 && errno == ESRCH) return 0;
  const int left = group_members(group);
  if (left == 0 || group_ends_within(group, kLeftoverGrace)) return left;
  ::kill(-group, SIGTERM);
  ::kill(-group, SIGCONT);
  if (!group_ends_within(group, kLeftoverGrace)) ::kill(-group, SIGKILL);
  return left;
}

// True when the open file `fd` starts with "#!": a script. Only a system
// call, for the child between vfork and exec.
bool is_script(int fd) {
  char start[2];
  return ::pread(fd, start, sizeof start, 0) == 2 && start[0] == '#' &&
         start[1] == '!';
}

// In the child between vfork and exec: a process group of its own (with
// the terminal `tty` when it is not -1; SIGTTOU is still blocked here), a
// clean signal state, death with the parent, then the program: from
// `program_fd` unless that is -1, else by its path argv[0]. Only
// system calls here; the parent's memory is shared until the exec.
[[noreturn]] void exec_child(char* const argv[], int program_fd, pid_t parent,
                             int tty, volatile int& exec_error) {
  ::setpgid(0, 0);
  if (tty >= 0) ::tcsetpgrp(tty, ::getpid());
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) {
      ::sigaction(sig, &default_action, nullptr);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // Asked for first and checked after: a parent that died before the
  // request leaves this child with another parent, and no client starts.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) {
    exec_error = ::getppid() != parent ? ESRCH : errno;
    ::_exit(127);
  }
  if (program_fd >= 0) {
    // A script's interpreter reads it as /dev/fd/N: the descriptor stays
    // open across the exec (in this child's table only), so the file that
    // runs is the one judged, whatever its name comes to mean meanwhile.
    if (is_script(program_fd)) ::fcntl(program_fd, F_SETFD, 0);
    ::execveat(program_fd, "", argv, environ, AT_EMPTY_PATH);
  } else {
    ::execve(argv[0], argv, environ);
  }
  exec_error = errno;
  ::_exit(127);
}

}  // namespace

void init_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGCHLD, SIG_DFL);
}

void use_parent_console() {}

int signal_passed_on() { return first_passed_signal; }

Status start_and_wait(const ClientCommand& command, ProgramEnd& end) {
  end = ProgramEnd();
  std::vector<std::string> args{program_path(command.program)};
  if (!command.tail.empty()) args.push_back(command.tail);
  std::vector<char*> argv = c_strings(args);
  // The signals to pass on, and the child's end, are taken from the
  // pending set, so none can slip by between the start and the wait.
  // SIGTTOU is blocked while the terminal changes hands.
  sigset_t waited = passed_signals(), ending = ending_signals(), old_mask,
           blocked;
  sigorset(&waited, &waited, &ending);
  sigaddset(&waited, SIGCHLD);
  blocked = waited;
  sigaddset(&blocked, SIGTTOU);
  ::sigprocmask(SIG_BLOCK, &blocked, &old_mask);
  const pid_t parent = ::getpid();
  UniqueFd tty = foreground_terminal();
  // vfork and execve, as posix_spawn does: the child reports a failed exec
  // through the shared flag.
  volatile int exec_error = 0;
  pid_t pid = ::vfork();
  if (pid == 0) {
    exec_child(argv.data(), command.program_fd, parent, tty.get(), exec_error);
  }
  int error = pid < 0 ? errno : exec_error;
  if (pid > 0) {
    // Also here, so that the group exists before a signal is passed on.
    ::setpgid(pid, pid);
    give_terminal(tty, pid);
  }
  int wait_status = -1;
  if (pid > 0 && error == 0) {
    for (;;) {
      siginfo_t info;
      int sig = ::sigwaitinfo(&waited, &info);
      if (sig < 0 && errno == EINTR) continue;
      if (sig < 0 || sig == SIGCHLD) {
        int status;
        pid_t done =
            ::waitpid(pid, &status, (sig < 0 ? 0 : WNOHANG) | WUNTRACED);
        if (done == pid && WIFSTOPPED(status)) {
          // The client stopped (Ctrl-Z, or a read of a terminal it does
          // not have): so does this process, so that the shell's job
          // control sees the job stopped; once continued, so is the client,
          // with the terminal when this process has it now.
          give_terminal(tty, ::getpgrp());
          stop_like(WSTOPSIG(status));
          tty = foreground_terminal();
          give_terminal(tty, pid);
          ::kill(-pid, SIGCONT);
          continue;
        }
        if (done == pid) wait_status = status;
        if (done == pid || (done < 0 && errno != EINTR)) break;
        continue;
      }
      if (sigismember(&ending, sig)) {
        give_terminal(tty, ::getpgrp());
        end_by(sig);  // the client gets SIGTERM as this process ends
      }
      // To the whole group, stopped members too: what the client started
      // stops writing as well.
      ::kill(-pid, sig);
      ::kill(-pid, SIGCONT);
      if (first_passed_signal == 0) first_passed_signal = sig;
    }
  } else if (pid > 0) {
    wait_for(pid);
  }
  give_terminal(tty, ::getpgrp());
  if (int left = wait_status != -1 ? end_leftovers(pid) : 0) {
    end.warnings.push_back("the client left " + std::to_string(left) +
                           " process(es) running when it ended; they were "
                           "ended");
  }
  // A signal passed on stays blocked (pending, it would end this process
  // before it can tell the host); the rest of the mask is restored.
  if (first_passed_signal != 0) {
    sigset_t passed = passed_signals();
    for (int sig = 1; sig < NSIG; ++sig) {
      if (sigismember(&passed, sig)) sigaddset(&old_mask, sig);
    }
  }
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (error != 0) {
    return Status::failure("cannot start " + args[0], error);
  }
  end.started = true;
  if (wait_status == -1) {
    return Status::failure("cannot wait for " + args[0], errno);
  }
  end.ended = true;
  end.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  end.exit_status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 0;
  return Status();
}

}  // namespace runtime
