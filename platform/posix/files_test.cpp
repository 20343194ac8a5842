#include "runtime/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "runtime/code_set.h"
#include "runtime/platform.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::mode_of;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

TEST(FileOpenTest, CreateNewNeverTruncatesAppendAddsWholeLines) {
  TempDir dir;
  Site site(from_ansi(dir.path() + "/"));
  const Text file = u"f";
  const mode_t umask_was = ::umask(0);  // new files are 0644 whatever it is
  int fd = -1;
  ASSERT_TRUE(file_open(site, file, OpenMode::kCreateNew, fd).ok());
  ::umask(umask_was);
  EXPECT_EQ(mode_of(dir / "f"), 0644);
  EXPECT_TRUE(file_write_line(site, fd, u"中").ok());
  EXPECT_TRUE(file_close(site, fd).ok());
  EXPECT_EQ(file_open(site, file, OpenMode::kCreateNew, fd).message(),
            "cannot open " + dir / "f" + ": File exists");
  EXPECT_TRUE(file_open(site, file, OpenMode::kAppend, fd).ok());
  EXPECT_TRUE(file_write_line(site, fd, u"").ok());
  EXPECT_TRUE(file_close(site, fd).ok());
  // A lock that another holds past kLockWait holds the line up that long;
  // then it goes in without the lock.
  ASSERT_TRUE(file_open(site, file, OpenMode::kAppend, fd).ok());
  const int other = ::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(file_write_line(site, fd, u"x").ok());
  EXPECT_GE(std::chrono::steady_clock::now() - start, kLockWait);
  ::close(other);
  EXPECT_TRUE(file_close(site, fd).ok());
  EXPECT_EQ(read_file(dir / "f"), "\xe4\xb8\xad\r\n\r\nx\r\n");
  EXPECT_FALSE(file_open(site, u"no/f", OpenMode::kAppend, fd).ok());
  EXPECT_FALSE(file_open(site, u"", OpenMode::kAppend, fd).ok());
  EXPECT_EQ(fd, -1);
}

}  // namespace
}  // namespace runtime
