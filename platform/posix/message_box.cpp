// The message box on POSIX systems: the message on stderr, and a dialog
// through zenity, kdialog or xmessage where a graphical session has one.
#include "runtime/message_box.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/exec_args.h"
#include "platform/posix/iconv_code_set.h"

namespace runtime {
namespace {

// The path of the program `tool` in the first absolute entry of PATH that
// has it, or "". Empty and relative entries are skipped: they name
// whatever directory the host happens to run in.
std::string find_on_path(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path == nullptr ? "" : path;
  while (!dirs.empty()) {
    std::string_view dir = dirs.substr(0, dirs.find(':'));
    dirs.remove_prefix(std::min(dirs.size(), dir.size() + 1));
    if (!dir.starts_with('/')) continue;
    std::string candidate = std::string(dir) + "/" + tool;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

// Runs the dialog `argv` (argv[0] the tool's path) with this process's
// environment changed by the "NAME=value" entries of `env`, and waits for it.
// What became of it does not matter: the message is on stderr already.
void run_dialog(std::vector<std::string> argv,
                const std::vector<std::string>& env) {
  std::vector<std::string> entries = changed_environment(env);
  std::vector<char*> envp = c_strings(entries);
  std::vector<char*> args = c_strings(argv);
  pid_t pid;
  if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(),
                    envp.data()) != 0) {
    return;
  }
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

bool graphical_session() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int message_box(const Text& title, const Text& text) {
  std::string t = to_ansi(title);
  std::string m = to_ansi(text);
  std::fprintf(stderr, "%s: %s\n", t.c_str(), m.c_str());
  std::fflush(stderr);
  const std::string tool = dialog_tool();
  if (tool.empty()) return 1;
  // The dialog gets its texts in UTF-8, and a UTF-8 locale to read them in.
  CodeSet utf8("UTF-8");
  std::string title8 = utf8.encode(title.units());
  std::string text8 = utf8.encode(text.units());
  const std::string name = tool.substr(tool.find_last_of('/') + 1);
  std::vector<std::string> dialog;
  if (name == "zenity") {
    dialog = {tool, "--error", "--title=" + title8, "--text=" + text8};
  } else if (name == "kdialog") {
    dialog = {tool, "--title", title8, "--error", text8};
  } else if (name == "xmessage") {
    dialog = {tool, "-center", "-title", title8, "-buttons", "OK:0", text8};
  }
  if (!dialog.empty()) run_dialog(dialog, {"LC_ALL=C.UTF-8"});
  return 1;
}

std::string dialog_tool() {
  if (!graphical_session()) return "";
  for (const char* tool : {"zenity", "kdialog", "xmessage"}) {
    std::string path = find_on_path(tool);
    if (!path.empty()) return path;
  }
  return "";
}

}  // namespace runtime
