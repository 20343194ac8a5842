// A test helper that writes INI keys through tolmex's INI writer:
//   ini_write FILE SECTION PREFIX COUNT [loop]
// sets PREFIX0=0 ... PREFIX<COUNT-1>=<COUNT-1> in SECTION of FILE, over and
// over with "loop" (until it is killed). Exits 1 when a write fails.
#include <cstdio>
#include <string>

#include "runtime/code_set.h"
#include "runtime/ini_file.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: ini_write FILE SECTION PREFIX COUNT [loop]\n");
    return 2;
  }
  // A locale that is not installed leaves UTF-8, as in tolmex.
  static_cast<void>(runtime::init_locale());
  // FILE's directory is the site; its last name the file.
  const std::string path = argv[1];
  const std::size_t slash = path.find_last_of('/') + 1;
  runtime::Site site(runtime::from_ansi(path.substr(0, slash)));
  const runtime::Text file = runtime::from_ansi(path.substr(slash));
  const runtime::Text section = runtime::from_ansi(argv[2]);
  const int count = std::stoi(argv[4]);
  do {
    for (int i = 0; i < count; ++i) {
      std::string n = std::to_string(i);
      // A key refused here is refused again by the flush.
      static_cast<void>(runtime::set_profile_string(
          site, file, section, runtime::from_ansi(argv[3] + n),
          runtime::from_ansi(n)));
      // Each key on its own, so that writers interleave as often as can be.
      runtime::Status written = runtime::flush_profile_strings(site);
      if (!written.ok()) {
        std::fprintf(stderr, "ini_write: %s\n", written.message().c_str());
        return 1;
      }
    }
  } while (argc > 5);
  return 0;
}
