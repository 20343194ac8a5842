#include "runtime/program_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/code_set.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using namespace testing_support;

// copy_file() of the names `from` to `to` of `site` as a word: "copied",
// "in use elsewhere" or the failure.
std::string copy(Site& site, const std::string& from,
                 const std::string& to = "mart.exe") {
  CopyOutcome outcome;
  Status s = copy_file(site, from_ansi(from), from_ansi(to), outcome);
  if (!s.ok()) return s.message();
  return outcome == CopyOutcome::kCopied ? "copied" : "in use elsewhere";
}

TEST(CopyFileTest, CopyKeepsContentAndModeAndReplacesUnusedTarget) {
  TempDir dir;
  Site site(from_ansi(dir.path() + "/"));
  write_file(dir / "mart.dll", "#!/bin/sh\nnew\n", 0750);
  write_file(dir / "mart.exe", "old", 0600);
  EXPECT_EQ(copy(site, "mart.dll"), "copied");
  EXPECT_EQ(read_file(dir / "mart.exe"), "#!/bin/sh\nnew\n");
  EXPECT_EQ(mode_of(dir / "mart.exe"), 0700);
  EXPECT_EQ(list_dir(dir.path()),
            (std::vector<std::string>{"mart.dll", "mart.exe"}));
  // A command line starts with the copy in use when a blank or the end
  // follows its path; a longer or shorter name is not that copy.
  const std::string exe = dir / "mart.exe";
  const std::pair<std::string, std::size_t> lines[] = {
      {exe, exe.size()}, {exe + " a", exe.size()}, {exe + "\ta", exe.size()},
      {exe + "2 a", 0},  {dir / "mart.ex", 0},
  };
  for (const auto& [line, length] : lines) {
    EXPECT_EQ(held_copy_length(site, from_ansi(line)), length) << line;
  }
  EXPECT_TRUE(delete_file(site, u"mart.exe").ok());
  EXPECT_EQ(held_copy_length(site, from_ansi(exe)), 0u);
  EXPECT_EQ(copy(site, "missing"), "cannot copy " + dir / "missing" + " to " +
                                       dir / "mart.exe" +
                                       ": No such file or directory");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  EXPECT_EQ(copy(site, "sub"), "cannot copy " + dir / "sub" + " to " +
                                   dir / "mart.exe" + ": not a regular file");
  EXPECT_FALSE(exists(dir / "mart.exe"));
  // A client's library directories are judged as they are named: a
  // system directory passes, one that others may write does not.
  const std::string refused = "cannot copy " + dir / "mart.dll" + " to " +
                              dir / "mart.exe" + ": " + dir / "mart.dll" +
                              " looks for libraries in /tmp////lib: /tmp is "
                              "writable by others: a library placed in";
  for (const auto& [runpath, outcome] :
       {std::pair<std::string, std::string>{"/usr///", "copied"},
        {"/tmp///", refused}}) {
    std::string client = read_file(ORIGIN_CLIENT_BINARY);
    for (std::size_t at; (at = client.find("$ORIGIN")) != std::string::npos;) {
      client.replace(at, 7, runpath);
    }
    write_file(dir / "mart.dll", client, 0755);
    EXPECT_EQ(copy(site, "mart.dll").substr(0, outcome.size()), outcome);
  }
  // A site named from the working directory: "$ORIGIN/lib" is judged from
  // "/" all the same.
  char here[PATH_MAX];
  ASSERT_TRUE(::getcwd(here, sizeof here) && ::chdir(dir.path().c_str()) == 0);
  write_file(dir / "mart.dll", read_file(ORIGIN_CLIENT_BINARY), 0755);
  ASSERT_EQ(::mkdir((dir / "lib").c_str(), 0755), 0);
  ::chmod((dir / "lib").c_str(), 0777);
  Site relative(u"");
  const std::string said = copy(relative, "mart.dll");
  ASSERT_EQ(::chdir(here), 0);
  EXPECT_NE(said.find("$ORIGIN/lib: " + dir / "lib" + " is writable by others"),
            std::string::npos)
      << said;
}

TEST(CopyFileTest, CopyFromAnotherFileSystemMovesEveryByte) {
  // The kernel copies only within one file system; from a tmpfs to the
  // test's directory the copy falls back to reading and writing.
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "src").c_str(), 0755), 0);
  SmallFileSystem fs(dir / "src");
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  Site site(from_ansi(dir.path() + "/"));
  std::string content(3 * 65536 + 17, '\0');  // fits the 256 KiB
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<char>(i * 131 % 251);
  }
  content.replace(0, 10, "#!/bin/sh\n");
  write_file(dir / "src/mart.dll", content, 0755);
  EXPECT_EQ(copy(site, "src/mart.dll"), "copied");
  EXPECT_EQ(read_file(dir / "mart.exe"), content);
  EXPECT_EQ(mode_of(dir / "mart.exe"), 0700);
  EXPECT_TRUE(delete_file(site, u"mart.exe").ok());
}

TEST(CopyFileTest, FileInUseElsewhereIsNeitherReplacedNorDeleted) {
  TempDir dir;
  Site site(from_ansi(dir.path() + "/"));
  write_file(dir / "mart.dll", "#!/bin/sh\n", 0755);
  write_file(dir / "mart.exe", "running", 0700);
  // Another run holds the file in use: a shared lock of another open file.
  int other = ::open((dir / "mart.exe").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  const Text exe = u"mart.exe";
  EXPECT_TRUE(delete_file(site, exe).ok());  // it stays
  EXPECT_EQ(copy(site, "mart.dll"), "in use elsewhere");
  EXPECT_EQ(read_file(dir / "mart.exe"), "running");
  ::close(other);
  // This process now uses the copy it found, until it deletes it.
  other = ::open((dir / "mart.exe").c_str(), O_RDONLY);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
  EXPECT_TRUE(delete_file(site, exe).ok());
  EXPECT_TRUE(delete_file(site, exe).ok());  // missing
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"mart.dll"});
}

}  // namespace
}  // namespace runtime
