#include "runtime/message_box.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/code_set.h"
#include "runtime/process.h"

namespace runtime {
namespace {

bool on_path(const std::string& tool) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = end > start ? dirs.substr(start, end - start) : ".";
    candidate.append("/").append(tool);
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
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
  if (!graphical_session()) return 1;
  // The dialog gets its texts in UTF-8, and a UTF-8 locale to read them in.
  CodeSet utf8("UTF-8");
  std::string title8 = utf8.encode(title.units());
  std::string text8 = utf8.encode(text.units());
  const std::vector<std::vector<std::string>> dialogs = {
      {"zenity", "--error", "--title=" + title8, "--text=" + text8},
      {"kdialog", "--title", title8, "--error", text8},
      {"xmessage", "-center", "-title", title8, "-buttons", "OK:0", text8},
  };
  for (const auto& dialog : dialogs) {
    if (on_path(dialog[0])) {
      run_tool(dialog, {"LC_ALL=C.UTF-8"});
      break;
    }
  }
  return 1;
}

}  // namespace runtime
