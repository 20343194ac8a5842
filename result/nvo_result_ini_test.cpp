#include "result/nvo_result_ini.h"

#include <gtest/gtest.h>

#include "log/nvo_winapi.h"
#include "runtime/code_set.h"
#include "runtime/ini_file.h"
#include "tests/harness.h"

namespace {

using runtime::Text;
using testing_support::exists;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

class ResultIniTest : public ::testing::Test {
 protected:
  Text ini() { return u"tolmex.ini"; }
  // The file once the writes kept for it have reached it.
  std::string written() {
    EXPECT_TRUE(runtime::flush_profile_strings(site).ok());
    return read_file(dir / "tolmex.ini");
  }
  TempDir dir;
  runtime::Site site{runtime::from_ansi(dir.path() + "/")};
  nvo_result_ini writer{site};
};

TEST_F(ResultIniTest, BothFormsWriteTheirKeysInOrder) {
  write_file(dir / "tolmex.ini", "");
  nvo_payoutattrib record;
  record.is_result_code = u"never written";
  record.is_sub_code = u"40004";
  record.is_total_amount = u"12.50";
  writer.uf_set_result(u"FAIL", ini(), record);
  EXPECT_EQ(written(),
            "[return]\r\nresult=FAIL\r\nsub_code=40004\r\nsub_desc=\r\n"
            "trade_no=\r\nout_trade_no=\r\nbuyer_user_id=\r\n"
            "buyer_logon_id=\r\ntotal_amount=12.50\r\n");
  // The five-field form leaves the last three keys as they are.
  writer.uf_set_result(u"SUCCESS", u"", u"ok", u"T-1", u"ORDER-1", ini());
  EXPECT_EQ(written(),
            "[return]\r\nresult=SUCCESS\r\nsub_code=\r\nsub_desc=ok\r\n"
            "trade_no=T-1\r\nout_trade_no=ORDER-1\r\nbuyer_user_id=\r\n"
            "buyer_logon_id=\r\ntotal_amount=12.50\r\n");
}

TEST(WinApiTest, CreatesEmptyFileOnlyWhereNoneIs) {
  TempDir dir;
  runtime::Site site(runtime::from_ansi(dir.path() + "/"));
  nvo_winapi winapi(site);
  write_file(dir / "kept.ini", "[host]\r\nx=1\r\n");
  winapi.of_create_file(u"kept.ini");
  EXPECT_EQ(read_file(dir / "kept.ini"), "[host]\r\nx=1\r\n");
  winapi.of_create_file(u"new.ini");
  EXPECT_EQ(read_file(dir / "new.ini"), "");
  winapi.of_create_file(u"no/new.ini");
  EXPECT_FALSE(exists(dir / "no"));
}

}  // namespace
