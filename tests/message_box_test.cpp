// The message box of a missing client in a real window, on a virtual X
// display: it appears with its title, tolmex waits while it is open, and
// ends with status 2 once it is closed. Skipped, with a message, where Xvfb
// or the X utilities are missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/harness.h"

namespace {

using namespace testing_support;

bool installed(const std::string& tool) {
  return run({"/bin/sh", "-c", "command -v " + tool}).status == 0;
}

// The id of a top-level window whose WM_NAME holds `title`, or "".
std::string find_window(const std::string& display, const std::string& title) {
  RunResult tree = run({"/usr/bin/env", "xwininfo", "-root", "-children"},
                       {"DISPLAY=" + display});
  std::size_t at = 0;
  while ((at = tree.out.find("0x", at)) != std::string::npos) {
    std::string id = tree.out.substr(at, tree.out.find(' ', at) - at);
    at += id.size();
    RunResult name = run({"/usr/bin/env", "xprop", "-id", id, "WM_NAME"},
                         {"DISPLAY=" + display, "LC_ALL=C.UTF-8"});
    if (name.out.find(title) != std::string::npos) return id;
  }
  return "";
}

TEST(MessageBoxTest, MissingClientShowsARealWindowAndWaitsForIt) {
  for (const char* tool : {"Xvfb", "xwininfo", "xprop", "xkill", "xmessage"}) {
    if (!installed(tool)) {
      GTEST_SKIP() << tool << " is not installed (.ci/run installs xvfb and "
                   << "x11-utils): the message box window is not tested";
    }
  }
  const std::string number = std::to_string(100 + ::getpid() % 400);
  const std::string display = ":" + number;
  Started x = start({"/usr/bin/env", "Xvfb", display, "-nolisten", "tcp",
                     "-screen", "0", "800x600x24"});
  for (int i = 0; i < 100 && !exists("/tmp/.X11-unix/X" + number); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(exists("/tmp/.X11-unix/X" + number)) << "Xvfb did not start";

  TempDir pub;  // no "mart.dll" in it
  Started tolmex = start({TOLMEX_BINARY, "a," + pub.path() + "/,c"},
                         {"DISPLAY=" + display, "WAYLAND_DISPLAY="});
  std::string window;
  for (int i = 0; i < 100 && window.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    window = find_window(display, "系统错误");
  }
  EXPECT_NE(window, "") << "no window titled 系统错误 appeared";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(::waitpid(tolmex.pid, nullptr, WNOHANG), 0)
      << "tolmex did not wait for the box";
  if (!window.empty()) {
    run({"/usr/bin/env", "xkill", "-id", window}, {"DISPLAY=" + display});
  }
  RunResult ended = finish(tolmex);
  EXPECT_EQ(ended.status, 2);
  EXPECT_NE(ended.err.find("系统错误: 缺少关键性文件,请与供应商联系! "),
            std::string::npos);
  ::kill(x.pid, SIGTERM);
  finish(x);
}

}  // namespace
