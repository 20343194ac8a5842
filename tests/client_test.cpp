// Whole-program tests of how tolmex copies, starts and removes the payment
// client, alone and with many runs on one public directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "tests/harness.h"

namespace {

using testing_support::exists;
using testing_support::list_dir;
using testing_support::read_file;
using testing_support::run_tolmex;
using testing_support::TempDir;
using testing_support::write_file;

const std::vector<std::string> kAfterRun = {"logpay", "mart.dll", "tolmex.ini"};

TEST(ClientTest, PublicDirectoryWithBlanksStartsTheRightClient) {
  TempDir base;
  const std::string pub = base / "pay  dir x";
  ::mkdir(pub.c_str(), 0755);
  write_file(pub + "/mart.dll",
             "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/ran\"\n",
             0755);
  auto r = run_tolmex({"a," + pub + "/,c"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(pub + "/ran"), "a," + pub + "/,c");
  EXPECT_FALSE(exists(pub + "/mart.exe"));
}

TEST(ClientTest, RunEndsAndCopyGoesWhateverTheClientDoes) {
  // The trace holds failures only: a client's own end is none.
  const std::tuple<std::string, int, std::string> clients[] = {
      {"#!/bin/sh\nexit 7\n", 0, ""},
      {"#!/bin/sh\nkill -KILL $$\n", 0, ""},
      {"not a program\n", 4,
       "RunWait: cannot start %/mart.exe: Exec format error\n"},
  };
  for (auto [client, status, traced] : clients) {
    TempDir pub;
    write_file(pub / "mart.dll", client, 0755);
    auto r = run_tolmex({"a," + pub.path() + "/"},
                        {"TOLMEX_TRACE=" + pub.path() + "/trace"});
    EXPECT_EQ(r.status, status) << r.err;
    if (!traced.empty()) traced.replace(traced.find('%'), 1, pub.path());
    EXPECT_EQ(exists(pub / "trace") ? read_file(pub / "trace") : "", traced);
    std::remove((pub / "trace").c_str());
    EXPECT_EQ(list_dir(pub.path()), kAfterRun);
  }
}

TEST(ClientTest, LargeClientIsCopiedWholeForItsOwnerAlone) {
  TempDir pub;
  // The client checks its own copy while it runs: same bytes, its mode.
  std::string client =
      "#!/bin/sh\n"
      "d=$(dirname \"$0\")\n"
      "cmp -s \"$0\" \"$d/mart.dll\" && stat -c %a \"$0\" > \"$d/checked\"\n"
      "exit 0\n";
  client.resize(20 << 20, '#');
  write_file(pub / "mart.dll", client, 0750);
  auto r = run_tolmex({"a," + pub.path() + "/"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Readable by its owner alone: nobody else can take its in-use lock.
  EXPECT_EQ(read_file(pub / "checked"), "700\n");
  EXPECT_FALSE(exists(pub / "mart.exe"));
}

}  // namespace
