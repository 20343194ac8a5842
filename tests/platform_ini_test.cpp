// Differential tests of the INI writer against the platform: the Windows
// profile functions, run under Wine through a probe program of ours, must
// read the files that tolmex writes as tolmex means them to be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "runtime/ini_text.h"
#include "tests/harness.h"

namespace {

using namespace testing_support;

// What the platform reads from one file: the value of each key that has
// one, by section and key name in lower case.
using Reading = std::map<std::pair<std::string, std::string>, std::string>;

std::string lower(std::string s) {
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

// Escapes a file's bytes for a failure message.
std::string shown(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
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

  // The platform's own writer on `file`.
  void write(const std::string& file, const std::string& section,
             const std::string& key, const std::string& value) {
    jobs_ += "W\t" + windows_path(file) + "\t" + section + "\t" + key + "\t" +
             value + "\n";
  }
  // What the platform reads from `file`, after run().
  void dump(const std::string& file) {
    jobs_ += "D\t" + windows_path(file) + "\n";
  }

  // Runs the jobs; false (with a test failure) when the probe did not work.
  bool run() {
#ifdef PROFILE_PROBE_EXE
    write_file(dir_ / "jobs", jobs_);
    Started probe =
        start({WINE64_BINARY, PROFILE_PROBE_EXE, windows_path(dir_ / "jobs")},
              {"WINEPREFIX=" WINE_PREFIX, "WINEDEBUG=-all",
               "DISPLAY=", "WAYLAND_DISPLAY="});
    RunResult r = finish_within(probe, 120);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string file;
    for (std::string line : split(r.out, '\n')) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string> f = split(line, '\t');
      if (f[0] == "W") {
        EXPECT_EQ(line, "W\t1") << "the platform's writer failed";
      } else if (f[0] == "F" && f.size() == 2) {
        file = f[1];
        readings_[file];
      } else if (f.size() == 3) {
        readings_[file].emplace(std::pair{lower(f[0]), lower(f[1])}, f[2]);
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
};

bool platform_available() {
#ifdef PROFILE_PROBE_EXE
  return true;
#else
  return false;
#endif
}

// INI files of every shape the dialect knows, made from lines that touch the
// reset's keys, in ASCII so that every code page reads them alike.
class FileMaker {
 public:
  explicit FileMaker(unsigned seed) : random_(seed) {}

  std::string make() {
    static const char* const kLines[] = {"[return]",
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
                                         "result=SUCCESS"};
    static const char* const kEnds[] = {"\r\n", "\n", "\r"};
    const int style = pick(4);  // one line end for all, or mixed (3)
    std::string text;
    for (int n = pick(12) + 1, i = 0; i < n; ++i) {
      text += kLines[pick(std::size(kLines))];
      if (i + 1 < n || pick(3) != 0) {
        text += kEnds[style < 3 ? style : pick(3)];
      }
    }
    switch (pick(7)) {
      case 0:
        return "\xEF\xBB\xBF" + text;
      case 1: {
        std::string utf16 = "\xFF\xFE";
        for (char c : text) utf16 += {c, '\0'};
        return utf16;
      }
      default:
        return text;
    }
  }

  std::string one_of(std::initializer_list<const char*> choices) {
    return *(choices.begin() + pick(choices.size()));
  }

 private:
  int pick(std::size_t n) {
    return std::uniform_int_distribution<int>(0,
                                              static_cast<int>(n) - 1)(random_);
  }
  std::mt19937 random_;
};

const char16_t* const kResetKeys[] = {
    u"result",       u"sub_code",      u"sub_desc",       u"trade_no",
    u"out_trade_no", u"buyer_user_id", u"buyer_logon_id", u"total_amount"};

TEST(PlatformIniTest, ResetReadsAsEightEmptyKeysAndTheRestAsBefore) {
  if (!platform_available()) {
    GTEST_SKIP() << "wine64 or MinGW-w64 not found (.ci/run installs both): "
                    "the INI writer is not compared with the platform";
  }
  TempDir dir;
  Platform platform(dir);
  FileMaker maker(20261207);
  std::vector<runtime::IniEdit> reset;
  for (const char16_t* key : kResetKeys) reset.push_back({u"return", key, u""});
  const int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) {
    const std::string before = dir / ("before" + std::to_string(i));
    const std::string after = dir / ("after" + std::to_string(i));
    const std::string content = maker.make();
    write_file(before, content);
    auto edited = runtime::edit_ini_file(content, reset);
    ASSERT_TRUE(edited) << shown(content);
    write_file(after, *edited);
    platform.dump(before);
    platform.dump(after);
  }
  ASSERT_TRUE(platform.run());
  for (int i = 0; i < kFiles; ++i) {
    const std::string before = dir / ("before" + std::to_string(i));
    const std::string after = dir / ("after" + std::to_string(i));
    Reading expected = platform.reading(before);
    for (const char16_t* key : kResetKeys) {
      std::string k(key, key + std::char_traits<char16_t>::length(key));
      expected[{"return", k}] = "";
    }
    EXPECT_EQ(platform.reading(after), expected)
        << "before: " << shown(read_file(before))
        << "\nafter:  " << shown(read_file(after));
  }
}

TEST(PlatformIniTest, OneKeyReadsAsThePlatformsOwnWriterLeavesIt) {
  if (!platform_available()) {
    GTEST_SKIP() << "wine64 or MinGW-w64 not found (.ci/run installs both): "
                    "the INI writer is not compared with the platform";
  }
  TempDir dir;
  Platform platform(dir);
  FileMaker maker(7);
  const int kFiles = 200;
  for (int i = 0; i < kFiles; ++i) {
    const std::string content = maker.make();
    const std::string section =
        maker.one_of({"return", "RETURN", " return ", "other", "new"});
    const std::string key =
        maker.one_of({"result", "Result", "sub_desc", "x", "fresh"});
    const std::string value = maker.one_of({"", "v", "a b", " v ", "OLD"});
    const std::string ours = dir / ("ours" + std::to_string(i));
    const std::string theirs = dir / ("theirs" + std::to_string(i));
    auto edited = runtime::edit_ini_file(
        content,
        {{runtime::Text(std::u16string(section.begin(), section.end())),
          runtime::Text(std::u16string(key.begin(), key.end())),
          runtime::Text(std::u16string(value.begin(), value.end()))}});
    ASSERT_TRUE(edited) << shown(content);
    write_file(ours, *edited);
    write_file(theirs, content);
    platform.write(theirs, section, key, value);
    platform.dump(ours);
    platform.dump(theirs);
  }
  ASSERT_TRUE(platform.run());
  for (int i = 0; i < kFiles; ++i) {
    const std::string ours = dir / ("ours" + std::to_string(i));
    const std::string theirs = dir / ("theirs" + std::to_string(i));
    EXPECT_EQ(platform.reading(ours), platform.reading(theirs))
        << "ours:   " << shown(read_file(ours))
        << "\ntheirs: " << shown(read_file(theirs));
  }
}

}  // namespace
