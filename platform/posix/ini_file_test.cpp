#include "runtime/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <functional>

#include "runtime/code_set.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::exists;
using testing_support::list_dir;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

class ProfileTest : public ::testing::Test {
 protected:
  Text path(const std::string& name) { return from_ansi(name); }
  // One key written and flushed: 1, or 0 when refused or not written.
  int set(const std::string& name, const Text& section, const Text& key,
          const Text& value) {
    int taken = set_profile_string(site, path(name), section, key, value).ok();
    return flush_profile_strings(site).ok() ? taken : 0;
  }
  TempDir dir;
  Site site{from_ansi(dir.path() + "/")};
};

TEST_F(ProfileTest, CreatesMissingFileNotMissingDirectory) {
  const mode_t umask = ::umask(0222);  // the new file's mode all the same
  EXPECT_EQ(set("a.ini", u"return", u"result", u"中"), 1);
  ::umask(umask);
  EXPECT_EQ(testing_support::mode_of(dir / "a.ini"), 0644);
  EXPECT_EQ(read_file(dir / "a.ini"), "[return]\r\nresult=\xe4\xb8\xad\r\n");
  EXPECT_EQ(get_profile_string(site, path("a.ini"), u"Return", u"RESULT"),
            Text(u"中"));
  EXPECT_EQ(set("no/a.ini", u"return", u"result", u""), 0);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"a.ini"});
}

TEST_F(ProfileTest, RefusalAndNullLeaveTheFileAlone) {
  write_file(dir / "a.ini", "[return]\nresult=1\n", 0640);
  EXPECT_EQ(set("a.ini", u"return", u"result", u"x\r\n[y]"), 0);
  EXPECT_EQ(set("a.ini", u"return", u"result", Text::null()), 0);
  EXPECT_EQ(set("b.ini", u"return", Text::null(), u""), 0);
  // In GBK a value that ends in a lead byte would take the line end into
  // its last character.
  if (::setenv("LC_ALL", "zh_CN.GBK", 1) == 0 && init_locale().ok()) {
    EXPECT_EQ(set("a.ini", u"return", u"result", from_ansi("x\x81")), 0);
  }
  ::setenv("LC_ALL", "C", 1);
  EXPECT_TRUE(init_locale().ok());
  EXPECT_EQ(read_file(dir / "a.ini"), "[return]\nresult=1\n");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"a.ini"});
}

TEST_F(ProfileTest, RewritesOnlyWhenTheContentChanges) {
  write_file(dir / "a.ini", "[return]\r\nresult=\r\n");
  auto inode = [&] {
    struct stat st;
    return ::stat((dir / "a.ini").c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const auto before = inode();
  EXPECT_EQ(set("a.ini", u"return", u"result", u""), 1);
  EXPECT_EQ(inode(), before);
  EXPECT_EQ(set("a.ini", u"return", u"result", u"1"), 1);
  EXPECT_NE(inode(), before);
}

TEST_F(ProfileTest, ReplacesOnlyAFileNobodyCouldTellFromItsReplacement) {
  // Each case gets its own file; `prepare` makes it what the case says.
  struct Shape {
    const char* name;
    bool replaced;  // by a new file (rename), not rewritten in place
    std::function<bool(const std::string&)> prepare;
  };
  const Shape cases[] = {
      {"a plain file of ours", true, [](auto&) { return true; }},
      {"a second hard link", false,
       [](const std::string& f) {
         return ::link(f.c_str(), (f + "2").c_str()) == 0;
       }},
      // Root gives the new file the old one's owner, group and attributes.
      {"another owner and group", true,
       [](const std::string& f) {
         return ::geteuid() == 0 && ::chown(f.c_str(), 65533, 65533) == 0;
       }},
      {"another owner and our group", true,
       [](const std::string& f) {
         return ::geteuid() == 0 && ::chown(f.c_str(), 65533, 0) == 0;
       }},
      {"two extended attributes", true,
       [](const std::string& f) {
         return ::setxattr(f.c_str(), "user.tolmex", "1", 1, 0) == 0 &&
                ::setxattr(f.c_str(), "user.tolmex2", "2", 1, 0) == 0;
       }},
      {"another group in a setgid directory", true,
       [](const std::string& f) {
         const std::string d = f.substr(0, f.rfind('/'));
         return ::geteuid() == 0 && ::chmod(d.c_str(), 02755) == 0 &&
                ::chown(f.c_str(), 0, 65533) == 0;
       }},
  };
  for (const Shape& c : cases) {
    const std::string name = std::string("f") + std::to_string(&c - cases);
    write_file(dir / name, "[return]\r\nresult=old\r\n", 0640);
    if (!c.prepare(dir / name)) {
      std::printf("not tested here: %s\n", c.name);
      continue;
    }
    struct stat before, after;
    ASSERT_EQ(::stat((dir / name).c_str(), &before), 0);
    const ssize_t attrs = ::listxattr((dir / name).c_str(), nullptr, 0);
    EXPECT_EQ(set(name, u"return", u"result", u""), 1) << c.name;
    ASSERT_EQ(::stat((dir / name).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino != before.st_ino, c.replaced) << c.name;
    EXPECT_EQ(after.st_uid, before.st_uid) << c.name;
    EXPECT_EQ(after.st_gid, before.st_gid) << c.name;
    EXPECT_EQ(::listxattr((dir / name).c_str(), nullptr, 0), attrs) << c.name;
    EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
    EXPECT_EQ(read_file(dir / name), "[return]\r\nresult=\r\n") << c.name;
  }
}

TEST_F(ProfileTest, ReadOnlyOrOddFilesAreNotWritten) {
  write_file(dir / "ro.ini", "[return]\r\nresult=old\r\n", 0444);
  ASSERT_EQ(::mkdir((dir / "dir.ini").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0666), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"ro.ini", "Permission denied"},
      {"dir.ini", ""},
      {"fifo.ini", "not a regular file"},
  };
  for (const auto& [name, reason] : cases) {
    EXPECT_TRUE(
        set_profile_string(site, path(name), u"return", u"result", u"").ok());
    Status s = flush_profile_strings(site);
    EXPECT_FALSE(s.ok()) << name;
    EXPECT_NE(s.message().find(std::string("cannot write ") + (dir / name)),
              std::string::npos)
        << s.message();
    EXPECT_NE(s.message().find(reason), std::string::npos) << s.message();
  }
  EXPECT_EQ(read_file(dir / "ro.ini"), "[return]\r\nresult=old\r\n");
}

TEST_F(ProfileTest, ReplacesTheFileKeepingModeAndSymbolicLink) {
  ::mkdir((dir / "real").c_str(), 0755);
  write_file(dir / "real/t.ini", "[x]\r\n", 0604);
  ASSERT_EQ(::symlink("real/t.ini", (dir / "link.ini").c_str()), 0);
  EXPECT_EQ(set("link.ini", u"x", u"k", u"v"), 1);
  struct stat st;
  ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_file(dir / "real/t.ini"), "[x]\r\nk=v\r\n");
  ASSERT_EQ(::stat((dir / "real/t.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(list_dir(dir / "real"), std::vector<std::string>{"t.ini"});
  // A link by the full path to a file that is not there yet: the file is
  // made, the link stays.
  ASSERT_EQ(
      ::symlink((dir / "real/new.ini").c_str(), (dir / "dangling.ini").c_str()),
      0);
  EXPECT_EQ(set("dangling.ini", u"x", u"k", u"v"), 1);
  EXPECT_EQ(read_file(dir / "real/new.ini"), "[x]\r\nk=v\r\n");
  ASSERT_EQ(::lstat((dir / "dangling.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

}  // namespace
}  // namespace runtime
