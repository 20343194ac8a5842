#include "runtime/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/code_set.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::exists;
using testing_support::list_dir;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

int mode_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777)
                                        : -1;
}

TEST(CopyFileTest, CopyKeepsContentAndModeAndReplacesUnusedTarget) {
  TempDir dir;
  write_file(dir / "mart.dll", "new", 0750);
  write_file(dir / "mart.exe", "old", 0600);
  EXPECT_EQ(copy_file(from_ansi(dir / "mart.dll"), from_ansi(dir / "mart.exe")),
            1);
  EXPECT_EQ(read_file(dir / "mart.exe"), "new");
  EXPECT_EQ(mode_of(dir / "mart.exe"), 0700);
  EXPECT_EQ(list_dir(dir.path()),
            (std::vector<std::string>{"mart.dll", "mart.exe"}));
  EXPECT_EQ(delete_file(from_ansi(dir / "mart.exe")), 1);
  EXPECT_EQ(copy_file(from_ansi(dir / "missing"), from_ansi(dir / "mart.exe")),
            -1);
  EXPECT_EQ(copy_file(from_ansi(dir.path()), from_ansi(dir / "mart.exe")), -1);
  EXPECT_FALSE(exists(dir / "mart.exe"));
}

TEST(CopyFileTest, CopyFromAnotherFileSystemMovesEveryByte) {
  // The kernel copies only within one file system; from a tmpfs to the
  // test's directory the copy falls back to reading and writing.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs";
  TempDir source, dir;
  ASSERT_EQ(::mount("tmpfs", source.path().c_str(), "tmpfs", 0, nullptr), 0);
  std::string content(3 * 65536 + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<char>(i * 131 % 251);
  }
  write_file(source / "mart.dll", content, 0755);
  EXPECT_EQ(
      copy_file(from_ansi(source / "mart.dll"), from_ansi(dir / "mart.exe")),
      1);
  ::umount2(source.path().c_str(), MNT_DETACH);
  EXPECT_EQ(read_file(dir / "mart.exe"), content);
  EXPECT_EQ(mode_of(dir / "mart.exe"), 0700);
  EXPECT_EQ(delete_file(from_ansi(dir / "mart.exe")), 1);
}

TEST(CopyFileTest, FileInUseElsewhereIsNeitherReplacedNorDeleted) {
  TempDir dir;
  write_file(dir / "mart.dll", "new", 0755);
  write_file(dir / "mart.exe", "running", 0700);
  // Another run holds the file in use: a shared lock of another open file.
  int other = ::open((dir / "mart.exe").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  const Text exe = from_ansi(dir / "mart.exe");
  EXPECT_EQ(delete_file(exe), -1);
  EXPECT_EQ(copy_file(from_ansi(dir / "mart.dll"), exe), -1);
  EXPECT_EQ(read_file(dir / "mart.exe"), "running");
  ::close(other);
  // This process now uses the copy it found, until it deletes it.
  other = ::open((dir / "mart.exe").c_str(), O_RDONLY);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
  EXPECT_EQ(delete_file(exe), 1);
  EXPECT_EQ(delete_file(exe), -1);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"mart.dll"});
}

TEST(FileOpenTest, CreateNewNeverTruncatesAppendAddsWholeLines) {
  TempDir dir;
  const Text file = from_ansi(dir / "f");
  const mode_t umask_was = ::umask(0);  // new files are 0644 whatever it is
  int fd = -1;
  ASSERT_TRUE(file_open(file, OpenMode::kCreateNew, fd).ok());
  ::umask(umask_was);
  EXPECT_EQ(mode_of(dir / "f"), 0644);
  EXPECT_TRUE(file_write_line(fd, u"中").ok());
  EXPECT_EQ(file_close(fd), 1);
  EXPECT_EQ(file_open(file, OpenMode::kCreateNew, fd).message(),
            "cannot open " + dir / "f" + ": File exists");
  EXPECT_TRUE(file_open(file, OpenMode::kAppend, fd).ok());
  EXPECT_TRUE(file_write_line(fd, u"").ok());
  file_close(fd);
  EXPECT_EQ(read_file(dir / "f"), "\xe4\xb8\xad\r\n\r\n");
  EXPECT_FALSE(file_open(from_ansi(dir / "no/f"), OpenMode::kAppend, fd).ok());
  EXPECT_FALSE(file_open(u"", OpenMode::kAppend, fd).ok());
  EXPECT_EQ(fd, -1);
}

}  // namespace
}  // namespace runtime
