#include "runtime/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/code_set.h"
#include "tests/harness.h"

namespace runtime {
namespace {

using testing_support::mode_of;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

TEST(FileOpenTest, CreateNewNeverTruncatesAppendAddsWholeLines) {
  TempDir dir;
  const Text file = from_ansi(dir / "f");
  const mode_t umask_was = ::umask(0);  // new files are 0644 whatever it is
  int fd = -1;
  ASSERT_TRUE(file_open(file, OpenMode::kCreateNew, fd).ok());
  ::umask(umask_was);
  EXPECT_EQ(mode_of(dir / "f"), 0644);
  EXPECT_TRUE(file_write_line(fd, u"中").ok());
  EXPECT_TRUE(file_close(fd).ok());
  EXPECT_EQ(file_open(file, OpenMode::kCreateNew, fd).message(),
            "cannot open " + dir / "f" + ": File exists");
  EXPECT_TRUE(file_open(file, OpenMode::kAppend, fd).ok());
  EXPECT_TRUE(file_write_line(fd, u"").ok());
  EXPECT_TRUE(file_close(fd).ok());
  EXPECT_EQ(read_file(dir / "f"), "\xe4\xb8\xad\r\n\r\n");
  EXPECT_FALSE(file_open(from_ansi(dir / "no/f"), OpenMode::kAppend, fd).ok());
  EXPECT_FALSE(file_open(u"", OpenMode::kAppend, fd).ok());
  EXPECT_EQ(fd, -1);
}

}  // namespace
}  // namespace runtime
