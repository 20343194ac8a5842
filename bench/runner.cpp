// Times commands for the benchmark: runs each command of its argument list
// in turn, RUNS rounds over, and prints per command the median wall time in
// milliseconds and the peak resident memory in KiB. Being small itself, it
// keeps its own memory out of what wait4() reports for the child.
//
// usage: bench_runner RUNS CMD1... [-- CMD2...]...
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_runner RUNS CMD... [-- CMD...]...\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<std::vector<char*>> commands(1);
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      commands.back().push_back(nullptr);
      commands.emplace_back();
    } else {
      commands.back().push_back(argv[i]);
    }
  }
  commands.back().push_back(nullptr);
  std::vector<std::vector<double>> times(commands.size());
  std::vector<long> peak(commands.size(), 0);
  for (int r = 0; r < runs; ++r) {
    for (std::size_t c = 0; c < commands.size(); ++c) {
      auto start = std::chrono::steady_clock::now();
      pid_t pid;
      if (posix_spawn(&pid, commands[c][0], nullptr, nullptr,
                      commands[c].data(), environ) != 0) {
        std::perror(commands[c][0]);
        return 1;
      }
      int status;
      rusage usage;
      if (wait4(pid, &status, 0, &usage) < 0) return 1;
      std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", commands[c][0]);
        return 1;
      }
      times[c].push_back(took.count());
      peak[c] = std::max(peak[c], usage.ru_maxrss);
    }
  }
  for (std::size_t c = 0; c < commands.size(); ++c) {
    std::nth_element(times[c].begin(), times[c].begin() + runs / 2,
                     times[c].end());
    std::printf("%.4f %ld\n", times[c][runs / 2], peak[c]);
  }
  return 0;
}
