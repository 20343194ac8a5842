#include "runtime/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "runtime/code_set.h"
#include "runtime/fd_io.h"
#include "runtime/file_lock.h"
#include "runtime/path.h"
#include "runtime/unique_fd.h"

namespace runtime {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
  std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](unsigned char c) {
      return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One line of the file: [begin, end) is its text without the line end,
// `next` where the following line starts.
struct Line {
  std::size_t begin, end, next;
};

// The text of `line`, without its line end.
std::string_view text_of(std::string_view ini, const Line& line) {
  return ini.substr(line.begin, line.end - line.begin);
}

std::vector<Line> split_lines(std::string_view ini) {
  std::vector<Line> lines;
  std::size_t begin = ini.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
  while (begin < ini.size()) {
    std::size_t lf = ini.find('\n', begin);
    if (lf == std::string_view::npos) {
      // A last line without LF: a CR at its end is the start of a line end,
      // as it will be once a line is added after it.
      std::size_t end = ini.back() == '\r' ? ini.size() - 1 : ini.size();
      lines.push_back({begin, std::max(begin, end), ini.size()});
      break;
    }
    std::size_t end = lf > begin && ini[lf - 1] == '\r' ? lf - 1 : lf;
    lines.push_back({begin, end, lf + 1});
    begin = lf + 1;
  }
  return lines;
}

// The section name when `text` is a header line.
std::optional<std::string_view> header_name(std::string_view text) {
  text = trim(text);
  if (!text.starts_with('[')) return std::nullopt;
  text.remove_prefix(1);
  return text.substr(0, text.find(']'));
}

// Where "=" stands when `text` is a key line (not a comment or header).
std::optional<std::size_t> key_equals(std::string_view text) {
  std::string_view t = trim(text);
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') {
    return std::nullopt;
  }
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return eq;
}

// The lines of the first section named `section`: [first, last) indexes,
// `first` being the header; nullopt when there is none.
std::optional<std::pair<std::size_t, std::size_t>> find_section(
    std::string_view ini, const std::vector<Line>& lines,
    std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = header_name(text_of(ini, lines[i]));
    if (!name || !same_name(*name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && !header_name(text_of(ini, lines[j]))) {
      ++j;
    }
    return std::make_pair(i, j);
  }
  return std::nullopt;
}

// What ends the last line of `ini` when a line is added after it: nothing
// when it is ended already, LF after a lone CR, else `eol`.
std::string end_of_last_line(std::string_view ini, std::string_view eol) {
  if (ini.empty() || ini.back() == '\n') return "";
  return ini.back() == '\r' ? "\n" : std::string(eol);
}

bool has_line_break(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) !=
         std::string_view::npos;
}

bool acceptable(std::string_view section, std::string_view key,
                std::string_view value) {
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) {
    return false;
  }
  std::string_view k = trim(key);
  return !trim(section).empty() &&
         section.find(']') == std::string_view::npos && !k.empty() &&
         key.find('=') == std::string_view::npos && k[0] != '[' &&
         k[0] != ';' && k[0] != '#';
}

// The file to replace: the target of a symbolic link (one that does not
// exist yet too), else `path` itself.
std::string replaced_file(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  ssize_t n = ::readlink(path.c_str(), resolved, sizeof resolved);
  if (n <= 0 || static_cast<std::size_t>(n) == sizeof resolved) return path;
  std::string target(resolved, static_cast<std::size_t>(n));
  if (target[0] == '/') return target;
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? target
                                    : path.substr(0, slash + 1) + target;
}

bool replace_file_content(const std::string& path, std::string_view section,
                          std::string_view key, std::string_view value) {
  if (!acceptable(section, key, value)) return false;
  std::string target = replaced_file(path);
  // The lock is on the file itself; a writer that waited for it finds the
  // file replaced and locks the new one.
  UniqueFd locked = open_locked(target, LOCK_EX, O_CREAT);
  std::string old_content;
  struct stat st;
  if (!locked.valid() || !read_all(locked.get(), old_content) ||
      ::fstat(locked.get(), &st) != 0) {
    return false;
  }
  std::optional<std::string> content =
      set_ini_key(old_content, section, key, value);
  if (!content) return false;
  // Only the lock holder uses this name, so one left by a writer that died
  // is simply reused, or removed.
  std::size_t slash = target.find_last_of('/');
  std::string temp = target.substr(0, slash + 1) + "." +
                     target.substr(slash + 1) + ".tolmex-tmp";
  if (*content == old_content) {  // the key holds that value already
    ::unlink(temp.c_str());
    return true;
  }
  UniqueFd out(::open(temp.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                      0600));
  bool ok = out.valid() && ::fchmod(out.get(), st.st_mode & 07777) == 0 &&
            write_all(out.get(), *content) && ::close(out.release()) == 0 &&
            ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::optional<std::string> set_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key,
                                       std::string_view value) {
  if (!acceptable(section, key, value)) return std::nullopt;
  std::size_t lf = ini.find('\n');
  std::string_view eol =
      lf != std::string_view::npos && (lf == 0 || ini[lf - 1] != '\r') ? "\n"
                                                                       : "\r\n";
  std::vector<Line> lines = split_lines(ini);
  std::string entry = std::string(key) + "=" + std::string(value);
  std::string out(ini);

  auto found = find_section(ini, lines, section);
  if (!found) {
    out += end_of_last_line(ini, eol);
    out.append("[").append(section).append("]").append(eol);
    out.append(entry).append(eol);
    return out;
  }
  auto [header, end] = *found;
  std::size_t last_entry = header;
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view text = text_of(ini, lines[i]);
    auto eq = key_equals(text);
    if (!eq) continue;
    if (same_name(text.substr(0, *eq), key)) {
      out.replace(lines[i].begin + *eq + 1,
                  lines[i].end - lines[i].begin - *eq - 1, value);
      return out;
    }
    last_entry = i;
  }
  const Line& after = lines[last_entry];
  if (after.next == ini.size() && !ini.ends_with('\n')) {
    // After a last line that has no line end: end it, and leave the new
    // last line without one, as the file was.
    out.insert(after.next, end_of_last_line(ini, eol) + entry);
  } else {
    out.insert(after.next, entry + std::string(eol));
  }
  return out;
}

std::optional<std::string> get_ini_key(std::string_view ini,
                                       std::string_view section,
                                       std::string_view key) {
  std::vector<Line> lines = split_lines(ini);
  auto found = find_section(ini, lines, section);
  if (!found) return std::nullopt;
  for (std::size_t i = found->first + 1; i < found->second; ++i) {
    std::string_view text = text_of(ini, lines[i]);
    auto eq = key_equals(text);
    if (eq && same_name(text.substr(0, *eq), key)) {
      return std::string(trim(text.substr(*eq + 1)));
    }
  }
  return std::nullopt;
}

int set_profile_string(const Text& path, const Text& section, const Text& key,
                       const Text& value) {
  if (path.is_null() || section.is_null() || key.is_null() || value.is_null()) {
    return 0;
  }
  return replace_file_content(fs_path(path), to_ansi(section), to_ansi(key),
                              to_ansi(value))
             ? 1
             : 0;
}

Text get_profile_string(const Text& path, const Text& section,
                        const Text& key) {
  UniqueFd fd(::open(fs_path(path).c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  if (!fd.valid() || !read_all(fd.get(), content)) return Text::null();
  auto value = get_ini_key(content, to_ansi(section), to_ansi(key));
  return value ? from_ansi(*value) : Text::null();
}

}  // namespace runtime
