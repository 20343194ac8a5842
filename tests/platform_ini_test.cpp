// Differential tests of the INI writer against the platform: the Windows
// profile functions, run under Wine through a probe program of ours, must
// read the files that tolmex writes as tolmex means them to be read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <random>

#include "result/nvo_result_ini.h"
#include "runtime/code_set.h"
#include "runtime/ini_text.h"
#include "tests/harness.h"

namespace {

using namespace testing_support;
using namespace std::literals;

// What the platform reads from one file: the value of each key that has
// one, by section and key name as they are looked up: in lower case, without
// the blanks around them.
using Reading = std::map<std::pair<std::string, std::string>, std::string>;

std::string lookup_name(std::string s) {
  s.erase(0, s.find_first_not_of(" \t\v\f\x1a"));
  s.erase(s.find_last_not_of(" \t\v\f\x1a") + 1);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return s;
}

std::string windows_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find(sep, start)) != std::string::npos;
       start = at + 1) {
    out.push_back(s.substr(start, at - start));
  }
  out.push_back(s.substr(start));
  return out;
}

// Escapes a file's bytes for a failure message; a run of more than 8 of
// one byte is shown as the byte and "{count}".
std::string shown(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = bytes[i];
    std::size_t run = 1;
    while (i + run < bytes.size() && bytes[i + run] == bytes[i]) ++run;
    if (run > 8) {
      i += run - 1;
      out += shown(std::string(1, c)) + "{" + std::to_string(run) + "}";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The probe under Wine: queue jobs, then run() them all in one process.
class Platform {
 public:
  explicit Platform(const TempDir& dir) : dir_(dir) {}

  // What the platform reads from `file`, after run(), and the keys that
  // `lookups` names ("section TAB key TAB key..."), which it may not list.
  void dump(const std::string& file, const std::string& lookups) {
    jobs_ += "D\t" + windows_path(file) + "\t" + lookups + "\n";
  }

  // The outcome keys of `file` as tolmex --result prints them, read by
  // GetPrivateProfileStringW, after run(): in the order asked.
  void outcome(const std::string& file) {
    jobs_ += "J\t" + windows_path(file) + "\n";
  }
  const std::vector<std::string>& outcomes() const { return outcomes_; }

  // Runs the jobs; false (with a test failure) when the probe did not work.
  bool run() {
#ifdef PROFILE_PROBE_EXE
    write_file(dir_ / "jobs", jobs_);
    Started probe =
        start({WINE64_BINARY, PROFILE_PROBE_EXE, windows_path(dir_ / "jobs")},
              {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all", "LC_ALL=zh_CN.GBK",
               "DISPLAY=", "WAYLAND_DISPLAY="});
    RunResult r = finish_within(probe, 120);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string file;
    for (std::string line : split(r.out, '\n')) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> f = split(line, '\t');
      if (f[0] == "J" && f.size() == 2) {
        outcomes_.push_back(f[1]);
      } else if (f[0] == "F" && f.size() == 2) {
        file = f[1];
        readings_[file];
      } else if (f.size() == 3) {
        readings_[file].emplace(std::pair{lookup_name(f[0]), lookup_name(f[1])},
                                f[2]);
      }
    }
    return r.status == 0;
#else
    return false;
#endif
  }

  const Reading& reading(const std::string& file) {
    return readings_[windows_path(file)];
  }

 private:
  const TempDir& dir_;
  std::string jobs_;
  std::map<std::string, Reading> readings_;
  std::vector<std::string> outcomes_;
};

// tolmex --result on each of `dirs` (each holding a tolmex.ini) prints
// what the platform reads, or ends with 3 where the file is UTF-16 of an
// odd size or a value holds a byte that GBK has no character for.
void expect_result_as_platform_reads(const std::vector<std::string>& dirs,
                                     const std::vector<std::string>& read) {
  ASSERT_EQ(dirs.size(), read.size());
#ifdef __SANITIZE_ADDRESS__
  // A sanitized run starts ten times slower: every tenth file.
  constexpr std::size_t kStride = 10;
#else
  constexpr std::size_t kStride = 1;
#endif
  for (std::size_t i = 0; i < dirs.size(); i += kStride) {
    const std::string content = read_file(dirs[i] + "/tolmex.ini");
    bool refused = runtime::is_torn_utf16(content);
    for (const char16_t* key : kResultKeys) {
      const runtime::Text value =
          runtime::read_ini_file(content, u"return", key);
      for (char16_t u : value.units()) {
        refused = refused || (u >= 0xd800 && u <= 0xdfff);
      }
    }
    const RunResult r =
        run({TOLMEX_BINARY, "--result", dirs[i] + "/"}, {"LC_ALL=zh_CN.GBK"});
    EXPECT_EQ(r.status, refused ? 3 : 0) << shown(content) << "\n" << r.err;
    EXPECT_EQ(r.out, refused ? "" : read[i] + "\n") << shown(content);
  }
}

// Both sides read and write 8-bit files in GBK, as a host does under code
// page 936.
class PlatformIniTest : public testing::Test {
 protected:
  void SetUp() override {
#ifndef PROFILE_PROBE_EXE
    GTEST_SKIP() << "wine64 or MinGW-w64 not found (.ci/run installs both): "
                    "the INI writer is not compared with the platform";
#endif
    ::setenv("LC_ALL", "zh_CN.GBK", 1);
    if (!runtime::init_locale().ok()) {
      GTEST_SKIP() << "locale zh_CN.GBK is not installed (.ci/run makes it)";
    }
  }
  void TearDown() override {
    ::setenv("LC_ALL", "C", 1);
    EXPECT_TRUE(runtime::init_locale().ok());
  }
};

// INI files of every shape the dialect knows, made from lines that touch the
// reset's keys, with GBK characters that hide an ASCII byte ("[", "]", "\\"
// as trail bytes; a lead byte before "=", a line end or the file's end),
// blanks that are none (U+3000), NUL bytes and a very long line; in GBK,
// UTF-8 or UTF-16 either way round, with or without a byte-order mark, some
// UTF-16 files with a mark holding a stray byte (one put in or lost).
class FileMaker {
 public:
  explicit FileMaker(unsigned seed) : random_(seed) {}

  std::string make() {
    static const std::string_view kLines[] = {"[return]",
                                              "[Return]",
                                              " [ RETURN ] note",
                                              "[return",
                                              "[other]",
                                              "\t[host]",
                                              "[x]y]",
                                              "[return]tail]",
                                              "result=OLD",
                                              "Result = old ",
                                              "result",
                                              "  result  ",
                                              "sub_code=7",
                                              "trade_no=T-1",
                                              "total_amount\t=\t9.00",
                                              ";result=comment",
                                              " ; sub_code=c",
                                              "#result=hash",
                                              "x=1",
                                              "X = 2",
                                              "client=kept",
                                              "",
                                              "   ",
                                              "\t",
                                              "buyer_user_id=",
                                              "out_trade_no = \"q\"",
                                              "buyer_logon_id=a=b",
                                              "sub_desc",
                                              "[return]",
                                              "result=SUCCESS",
                                              "result\0x=OLD"sv,
                                              "result\x1A=OLD",
                                              "result \0=OLD"sv,
                                              "[return\0x]"sv,
                                              "sub_desc= \0x"sv,
                                              "sub_desc=a\x01\\\"b"};
    static const std::string_view kOdd[] = {
        "\x81]", "\xFE[",    "\x81\\",           "\x81=",
        "\x81",  "\xA1\xA1", "\xBD\xE1\xB9\xFB", "\x80",
        "\xFF",  {"\0", 1},  {"=\0 ;", 4},       "\x1A"};
    static const char* const kEnds[] = {"\r\n", "\n", "\r"};
    const int style = pick(4);  // one line end for all, or mixed (3)
    std::string text;
    for (int n = pick(12) + 1, i = 0; i < n; ++i) {
      std::string line(kLines[pick(std::size(kLines))]);
      if (pick(40) == 0) line += std::string(70000, 'v');
      for (int odd = pick(4) - 1; odd > 0; --odd) {
        line.insert(pick(line.size() + 1), kOdd[pick(std::size(kOdd))]);
      }
      text += line;
      if (i + 1 < n || pick(3) != 0) {
        text += kEnds[style < 3 ? style : pick(3)];
      }
    }
    const int encoding = pick(8);
    if (encoding == 0) return "\xEF\xBB\xBF" + text;
    if (encoding > 2) return text;
    std::u16string units(runtime::from_ansi(text).units());
    const bool mark = pick(2) == 0;
    if (mark) units.insert(units.begin(), u'\xFEFF');
    std::string utf16;
    for (char16_t u : units) {
      const char low = static_cast<char>(u & 0xFF), high = u >> 8;
      utf16 += encoding == 1 ? std::string{low, high} : std::string{high, low};
    }
    if (mark && pick(2) == 0 && (utf16.size() == 2 || pick(2) == 0)) {
      utf16.insert(2 + pick(utf16.size() - 1), 1, "\0n]\n"[pick(4)]);
    } else if (mark && pick(2) == 0) {
      utf16.erase(2 + pick(utf16.size() - 2), 1);
    }
    return utf16;
  }

 private:
  int pick(std::size_t n) {
    return std::uniform_int_distribution<int>(0,
                                              static_cast<int>(n) - 1)(random_);
  }
  std::mt19937 random_;
};

// The keys written to file `i`, all in one section, in GBK: three times in
// four the reset (eight keys emptied in "return"), else one key of any shape.
struct Edits {
  std::string section;
  std::vector<std::pair<std::string, std::string>> keys;  // key, value
};

Edits edits_for(int i) {
  static const char* const kSections[] = {"return", "RETURN", " return ",
                                          "other",  "new",    "\x81]\xA1\xA1"};
  static const char* const kKeys[] = {"result", "Result", "sub_desc",
                                      "x",      "fresh",  "\xBD\xE1\xB9\xFB"};
  static const char* const kValues[] = {"", "v", "a b", "OLD", "\xA1\xA1\x81["};
  if (i % 4 == 0) {
    return {kSections[i / 4 % 6], {{kKeys[i / 24 % 6], kValues[i / 144 % 5]}}};
  }
  Edits reset{"return", {}};
  for (const char* key :
       {"result", "sub_code", "sub_desc", "trade_no", "out_trade_no",
        "buyer_user_id", "buyer_logon_id", "total_amount"}) {
    reset.keys.push_back({key, ""});
  }
  return reset;
}

TEST_F(PlatformIniTest, WrittenKeysReadAsWrittenAndTheRestAsBefore) {
  TempDir dir;
  Platform platform(dir);
  FileMaker maker(20261207);
  const int kFiles = 1300;
  std::vector<int> taken;
  std::vector<std::string> results;
  auto name = [&](const char* what, int i) {
    return dir / (what + std::to_string(i));
  };
  for (int i = 0; i < kFiles; ++i) {
    const std::string content = maker.make();
    const Edits e = edits_for(i);
    std::vector<runtime::IniEdit> edits;
    std::string lookups = e.section;
    for (const auto& [key, value] : e.keys) {
      edits.push_back({runtime::from_ansi(e.section), runtime::from_ansi(key),
                       runtime::from_ansi(value)});
      lookups += "\t" + key;
    }
    // A file that ends in a lead byte takes no line after it, nor UTF-16
    // with a stray byte any write: refused.
    // Every file, as tolmex --result finds it in a public directory.
    const std::string pub = name("p", i);
    ::mkdir(pub.c_str(), 0755);
    write_file(pub + "/tolmex.ini", content);
    results.push_back(pub);
    platform.outcome(pub + "/tolmex.ini");
    auto edited = runtime::edit_ini_file(content, edits);
    if (!edited) continue;
    taken.push_back(i);
    write_file(name("before", i), content);
    write_file(name("after", i), *edited);
    platform.dump(name("before", i), lookups);
    platform.dump(name("after", i), lookups);
  }
  EXPECT_GE(taken.size(), kFiles * 0.88);
  ASSERT_TRUE(platform.run());
  expect_result_as_platform_reads(results, platform.outcomes());
  for (int i : taken) {
    const std::string content = read_file(name("before", i));
    Reading expected = platform.reading(name("before", i));
    const Edits e = edits_for(i);
    for (const auto& [key, value] : e.keys) {
      std::string& read = expected[{lookup_name(e.section), lookup_name(key)}];
      // tolmex's reader finds the value the platform finds (where that is
      // ASCII, the same text).
      runtime::Text ours = runtime::read_ini_file(
          content, runtime::from_ansi(e.section), runtime::from_ansi(key));
      const std::string text = ours.is_null() ? "\x01" : runtime::to_ansi(ours);
      if (read == "\x01" ||
          std::all_of(text.begin(), text.end(),
                      [](unsigned char c) { return c < 0x80; })) {
        EXPECT_EQ(text, read) << key << " in " << shown(content);
      }
      read = value;
    }
    EXPECT_EQ(platform.reading(name("after", i)), expected)
        << "before: " << shown(content)
        << "\nafter:  " << shown(read_file(name("after", i)));
  }
}

}  // namespace
