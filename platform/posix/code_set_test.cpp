#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/posix/iconv_code_set.h"
#include "runtime/runtime_error.h"

namespace runtime {
namespace {

TEST(CodeSetTest, Utf8DecodesAndKeepsInvalidBytes) {
  CodeSet utf8("UTF-8");
  EXPECT_EQ(utf8.decode("a\xe4\xb8\xad"), u"a中");
  EXPECT_EQ(utf8.decode("\xf0\x9f\x98\x80"), u"\U0001F600");
  // Invalid bytes, a truncated character, an encoded surrogate and an
  // overlong form each come back as one escape per byte.
  const std::string invalid[] = {"\xff",
                                 "\x80z",
                                 "x\xe4\xb8",
                                 "\xed\xa0\x80",
                                 "\xc0\xaf",
                                 "\xef\xbb\xbf"
                                 "bom"};
  for (const std::string& bytes : invalid) {
    EXPECT_EQ(utf8.encode(utf8.decode(bytes)), bytes) << bytes;
  }
  EXPECT_EQ(utf8.decode("\xff"), std::u16string(1, 0xDCFF));
  EXPECT_EQ(utf8.decode("\xe4\xb8!"), (std::u16string{0xDCE4, 0xDCB8, u'!'}));
}

TEST(CodeSetTest, GbkRoundTripsAndReplacesWhatItCannotHold) {
  CodeSet gbk("GBK");
  EXPECT_EQ(gbk.encode(u"接收的参数字符串："),
            "\xbd\xd3\xca\xd5\xb5\xc4\xb2\xce\xca\xfd\xd7\xd6\xb7\xfb\xb4\xae"
            "\xa3\xba");
  EXPECT_EQ(gbk.decode("\xd6\xd0"), u"中");
  for (std::string bytes :
       {"\xd6\xd0\x81\x5c", "\x81", "\xff\xff", "\x81\x20x", "\x80", "\xa1"}) {
    EXPECT_EQ(gbk.encode(gbk.decode(bytes)), bytes);
  }
  // A character outside GBK and a lone surrogate that carries no byte.
  EXPECT_EQ(gbk.encode(u"a\U0001F600b"), "a?b");
  EXPECT_EQ(gbk.encode(std::u16string{u'a', 0xD800, u'b'}), "a?b");
}

TEST(CodeSetTest, EveryByteRoundTripsAlone) {
  for (const char* name : {"UTF-8", "GBK", "ISO-8859-1", "GB18030", "BIG5"}) {
    CodeSet code_set(name);
    for (int b = 0; b < 256; ++b) {
      std::string bytes = "<" + std::string(1, static_cast<char>(b)) + ">";
      EXPECT_EQ(code_set.encode(code_set.decode(bytes)), bytes)
          << name << " " << b;
    }
  }
}

TEST(CodeSetTest, UnknownCodeSetIsARuntimeError) {
  EXPECT_THROW(CodeSet("NO-SUCH-CODESET"), RuntimeError);
}

TEST(CodeSetTest, StatefulCodeSetsKeepEverySequenceOfBytes) {
  // BIG5-HKSCS holds back a base character that may combine with the next;
  // "\x88\x62" is two characters (E with circumflex, combining macron), and
  // some BIG5 characters have two byte sequences. Such input goes through
  // the decoder that takes one character at a time: nothing may be lost,
  // and what does decode must be the code set's characters.
  CodeSet hkscs("BIG5-HKSCS");
  EXPECT_EQ(hkscs.decode("\x88\x62z"), u"\u00ca\u0304z");
  std::mt19937 random(20261207);
  for (const char* name : {"BIG5-HKSCS", "BIG5", "ISO-2022-JP", "UTF-7"}) {
    CodeSet code_set(name);
    std::vector<std::string> inputs = {"\x88\x62\xff", "\xff\x88\x62\x88",
                                       "\xa1\xfe\xa2\x40", "\x1b$B\x30\xff"};
    for (int i = 0; i < 300; ++i) {
      std::string bytes(random() % 12, '\0');
      // Mostly bytes above 0x7F, where the characters of these code sets are.
      for (char& c : bytes)
        c = static_cast<char>(random() % 3 ? random() % 128 + 128
                                           : random() % 128);
      inputs.push_back(bytes);
    }
    for (const std::string& bytes : inputs) {
      EXPECT_EQ(code_set.encode(code_set.decode(bytes)), bytes) << name;
    }
  }
}

}  // namespace
}  // namespace runtime
