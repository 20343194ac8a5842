// Times commands for the benchmark: runs each command of its argument list
// in turn, RUNS rounds over, and prints per command the median wall time in
// milliseconds and the peak resident memory in KiB. Being small itself, it
// keeps its own memory out of what wait4() reports for the child. With
// --copy FILE, each round also copies FILE inside the kernel to a new file
// beside it and deletes that, and the median time of that is printed last.
//
// With --expect STATUS, the commands must end with that status (else 0).
//
// usage: bench_runner RUNS [--copy FILE] [--expect STATUS] CMD1...
//                     [-- CMD2...]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Milliseconds to copy `from` inside the kernel to a new file beside it and
// delete that again; exits on failure.
double copy_ms(const std::string& from) {
  auto start = std::chrono::steady_clock::now();
  const std::string to = from + ".bench-copy";
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  struct stat st;
  if (in < 0 || out < 0 || fstat(in, &st) != 0) std::exit(1);
  for (off_t left = st.st_size; left > 0;) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr,
                                static_cast<std::size_t>(left), 0);
    if (n <= 0) std::exit(1);
    left -= n;
  }
  close(in);
  close(out);
  unlink(to.c_str());
  std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start;
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_runner RUNS CMD... [-- CMD...]...\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  int first = 2;
  std::string copy_from;
  if (argc > first + 2 && std::strcmp(argv[first], "--copy") == 0) {
    copy_from = argv[first + 1];
    first += 2;
  }
  int expected = 0;
  if (argc > first + 2 && std::strcmp(argv[first], "--expect") == 0) {
    expected = std::atoi(argv[first + 1]);
    first += 2;
  }
  std::vector<double> copy_times;
  std::vector<std::vector<char*>> commands(1);
  for (int i = first; i < argc; ++i) {
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
    if (!copy_from.empty()) copy_times.push_back(copy_ms(copy_from));
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
      if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
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
  if (!copy_times.empty()) {
    std::nth_element(copy_times.begin(), copy_times.begin() + runs / 2,
                     copy_times.end());
    std::printf("%.4f 0\n", copy_times[runs / 2]);
  }
  return 0;
}
