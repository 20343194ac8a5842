// The message box of a missing client in a real window, on a virtual X
// display: it appears with its title, tolmex waits while it is open, and
// ends with status 2 once it is closed. Skipped, with a message, where Xvfb
// or the X utilities are missing.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <optional>

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
  for (const char* tool :
       {"Xvfb", "xev", "xwininfo", "xprop", "xkill", "xmessage"}) {
    if (!installed(tool)) {
      GTEST_SKIP() << tool << " is not installed (.ci/run installs xvfb and "
                   << "x11-utils): the message box window is not tested";
    }
  }
  // Xvfb on a display of its own: a high number, not the :0 that a shared
  // abstract socket namespace may already hold for another server. Xvfb
  // writes the number to fd 3 once it takes connections; where the number
  // is taken it exits, and the next one is tried.
  std::optional<Started> x;
  int shown = -1;
  std::string display;
  for (int attempt = 0; attempt < 5 && display.empty(); ++attempt) {
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    const std::string number =
        std::to_string(100 + (::getpid() + 97 * attempt) % 800);
    x.emplace(start({"/usr/bin/env", "Xvfb", ":" + number, "-displayfd", "3",
                     "-nolisten", "tcp", "-screen", "0", "800x600x24"},
                    {}, "", [&] {
                      ::close(pipe_ends[0]);
                      ::dup2(pipe_ends[1], 3);
                    }));
    ::close(pipe_ends[1]);
    shown = pipe_ends[0];
    // The line may come in parts; the pipe stays open while Xvfb runs.
    std::string line;
    char c = 0;
    pollfd started = {shown, POLLIN, 0};
    while (::poll(&started, 1, 10000) == 1 && ::read(shown, &c, 1) == 1 &&
           c != '\n') {
      line += c;
    }
    if (c == '\n') {
      display = ":" + line;
    } else {
      ::kill(x->pid, SIGTERM);
      finish(*x);
      ::close(shown);
    }
  }
  ASSERT_FALSE(display.empty())
      << "Xvfb did not start: " << read_file(*x->io / "err");
  // xev reports the windows mapped on the display, once it has reported
  // a property set on the root window, which says it is listening.
  Started events = start({"/usr/bin/env", "xev", "-root", "-event",
                          "substructure", "-event", "property"},
                         {"DISPLAY=" + display});
  const std::string seen = *events.io / "out";
  auto reported = [&](const std::string& event, int seconds) {
    return appears(seen, seconds, [&] {
      return read_file(seen).find(event) != std::string::npos;
    });
  };
  bool listening = false;
  for (int i = 0; i < 10 && !listening; ++i) {
    run({"/usr/bin/env", "xprop", "-root", "-f", "TOLMEX_TEST", "8s", "-set",
         "TOLMEX_TEST", std::to_string(i)},
        {"DISPLAY=" + display});
    listening = reported("PropertyNotify", 1);
  }
  ASSERT_TRUE(listening) << "xev reports nothing: "
                         << read_file(*events.io / "err")
                         << "\nXvfb: " << read_file(*x->io / "err");

  TempDir pub;  // no "mart.dll" in it
  Started tolmex = start({TOLMEX_BINARY, "a," + pub.path() + "/,c"},
                         {"DISPLAY=" + display, "WAYLAND_DISPLAY="});
  EXPECT_TRUE(reported("MapNotify", 10)) << "no window appeared";
  // Looked for again on each further event, should the name come late.
  std::string window;
  EXPECT_TRUE(appears(seen, 5,
                      [&] {
                        window = find_window(display, "系统错误");
                        return !window.empty();
                      }))
      << "no window titled 系统错误 appeared: " << read_file(seen);
  EXPECT_FALSE(ends_within(tolmex.pid, 1)) << "tolmex did not wait for the box";
  if (!window.empty()) {
    run({"/usr/bin/env", "xkill", "-id", window}, {"DISPLAY=" + display});
  }
  RunResult ended = finish_within(tolmex, 10);
  EXPECT_EQ(ended.status, 2) << ended.err;
  EXPECT_NE(ended.err.find("系统错误: 缺少关键性文件,请与供应商联系! "),
            std::string::npos);
  ::kill(events.pid, SIGTERM);
  finish(events);
  ::kill(x->pid, SIGTERM);
  finish(*x);
  ::close(shown);
}

}  // namespace
