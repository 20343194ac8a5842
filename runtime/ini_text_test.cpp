#include "runtime/ini_text.h"

#include <gtest/gtest.h>

#include <string>

namespace runtime {
namespace {

using namespace std::literals;

struct Case {
  const char* name;
  std::string before, section, key, value, after;
};

TEST(SetIniKeyTest, ChangesOnlyTheKeyLine) {
  const std::string odd =
      "; head\r\n[Other]\r\n a = 1 \r\n\r\n[ Return ] \r\n  Result = old ; "
      "x\r\n"
      "extra=keep\r\n\r\n[tail]\r\nz=9";
  const Case cases[] = {
      {"empty file", "", "return", "result", "", "[return]\r\nresult=\r\n"},
      {"existing key keeps its spelling and position", odd, "return", "result",
       "new",
       "; head\r\n[Other]\r\n a = 1 \r\n\r\n[ Return ] \r\n  Result =new\r\n"
       "extra=keep\r\n\r\n[tail]\r\nz=9"},
      {"new key after the last key of its section", odd, "RETURN", "sub_code",
       "1",
       "; head\r\n[Other]\r\n a = 1 \r\n\r\n[ Return ] \r\n  Result = old ; "
       "x\r\n"
       "extra=keep\r\nsub_code=1\r\n\r\n[tail]\r\nz=9"},
      {"new key after a last line without line end", odd, "tail", "y", "2",
       odd + "\r\ny=2"},
      {"new section at the end", odd, "new", "k", "v",
       odd + "\r\n[new]\r\nk=v\r\n"},
      {"LF file stays LF", "[a]\nk=v\n", "a", "n", "1", "[a]\nk=v\nn=1\n"},
      {"LF file, new section", "[a]\nk=v\n", "b", "n", "1",
       "[a]\nk=v\n[b]\nn=1\n"},
      {"section without keys", "[a]\r\n; c\r\n", "a", "k", "",
       "[a]\r\nk=\r\n; c\r\n"},
      {"first of a doubled key", "[a]\r\nk=1\r\nk=2\r\n", "a", "K", "3",
       "[a]\r\nk=3\r\nk=2\r\n"},
      {"comment that looks like the key", "[a]\r\n;k=1\r\n", "a", "k", "2",
       "[a]\r\nk=2\r\n;k=1\r\n"},
      {"byte-order mark kept", "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "2",
       "\xEF\xBB\xBF[a]\r\nk=2\r\n"},
      {"a header needs its \"]\"", "k=1\n[Return\r", "return", "k", "2",
       "k=1\n[Return\r[return]\nk=2\n"},
      {"lone CR line ends", "[a]\rk=old\rj=1\r", "a", "k", "",
       "[a]\rk=\rj=1\r"},
      {"new lines end as the first", "[a]\r", "b", "k", "", "[a]\r[b]\rk=\r"},
      {"mixed line ends", "[a]\r\nx=1\ry=2\n", "a", "y", "3",
       "[a]\r\nx=1\ry=3\n"},
      {"broken header is a line of the section above",
       "[b]\r\n[return\r\nresult=x\r\n[Return]\r\nresult=old\r\n", "return",
       "result", "", "[b]\r\n[return\r\nresult=x\r\n[Return]\r\nresult=\r\n"},
      {"text after \"]\" ignored", "[ a ] x\r\nk=1\r\n", "A", "k", "2",
       "[ a ] x\r\nk=2\r\n"},
      {"key alone gets its value in its place",
       "[a]\r\n Result \r\nresult=old\r\n", "a", "result", "",
       "[a]\r\n Result =\r\nresult=old\r\n"},
      {"Ctrl-Z is a blank around a name", "[a]\r\nk\x1A=old\r\n", "a", "k", "",
       "[a]\r\nk\x1A=\r\n"},
      {"\"#\" starts a key line", "[a]\r\n#k=1\r\n", "a", "j", "2",
       "[a]\r\n#k=1\r\nj=2\r\n"},
      {"first line empty: LF file", "\n[a]\n", "a", "k", "", "\n[a]\nk=\n"},
      {"keys before any section are not the section's", "k=1\r\n", "a", "k",
       "2", "k=1\r\n[a]\r\nk=2\r\n"},
  };
  for (const Case& c : cases) {
    auto got = set_ini_key(c.before, c.section, c.key, c.value);
    ASSERT_TRUE(got) << c.name;
    EXPECT_EQ(*got, c.after) << c.name;
    EXPECT_EQ(get_ini_key(*got, c.section, c.key), c.value) << c.name;
  }
}

TEST(GetIniKeyTest, ReadsAsTheProfileFunctions) {
  const std::string ini =
      "k=top\r[a]\r\n\tk = \" v \" \rnoeq\nnoeq=1\r\n; j=c\r\n#j=h\r\n"
      "q='x\"\r\nn \0=1\r\nz= 1 \0x\r\n"
      "[broken\r\nb=1\r\n[A]\r\nlater=1\r\n[c \0x]\r\nk=1\r\n[d\0x]\r\nk=2"s;
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"k", " v "},   // the blanks around the value are cut, then its quotes
      {"q", "'x\""},  // quotes that do not pair stay
      {"n", std::nullopt},  // a name or value ends at a NUL, after the cut
      {"z", "1 "},
      {"noeq", std::nullopt},  // a key alone hides the later line
      {"j", std::nullopt},     // a comment is not a key
      {"#j", "h"},
      {"b", "1"},               // under a "[" line without "]"
      {"later", std::nullopt},  // only the first section of a name counts
  };
  for (const auto& [key, value] : cases) {
    EXPECT_EQ(get_ini_key(ini, "a", key), value) << key;
  }
  EXPECT_EQ(get_ini_key(ini, "c", "k"), std::nullopt);
  EXPECT_EQ(get_ini_key(ini, "d", "k"), "2");
  // The name of a section ends at the last "]" of its line.
  EXPECT_EQ(get_ini_key("[a]b] x\nk=1", "a]b", "k"), "1");
}

TEST(EditIniFileTest, KeepsTheFilesEncoding) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[a]\r\nk=old\r\n")) utf16 += {c, '\0'};
  auto got = edit_ini_file(utf16, {{u"a", u"k", u"中"}, {u"b", u"n", u""}});
  ASSERT_TRUE(got);
  std::string expected = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[a]\r\nk=中\r\n[b]\r\nn=\r\n")) {
    expected += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  }
  EXPECT_EQ(*got, expected);
  EXPECT_EQ(read_ini_file(*got, u"A", u"K"), Text(u"中"));

  // A UTF-8 mark makes the file UTF-8 whatever the locale; none: the locale.
  EXPECT_EQ(edit_ini_file("\xEF\xBB\xBF[a]\n", {{u"a", u"k", u"中"}}),
            "\xEF\xBB\xBF[a]\nk=\xE4\xB8\xAD\n");
  EXPECT_FALSE(edit_ini_file("", {{u"a", u"k", u"ok"}, {u"a", u"k\n", u""}}));
  // A key written twice does not read back as its first write.
  EXPECT_FALSE(edit_ini_file("", {{u"a", u"k", u"1"}, {u"A", u"K ", u"2"}}));
}

TEST(SetIniKeyTest, RefusesWhatWouldChangeOtherLines) {
  const std::pair<std::string, std::string> refused[] = {
      {"key", "a\r\n[evil]"},
      {"key", "a\nb"},
      {"key", "a\rb"},
      {"key", std::string("a\0b", 3)},
      {"k=x", "v"},
      {"", "v"},
      {"  ", "v"},
      {"[k", "v"},
      {";k", "v"},
      {"#k", "v"},
      {"k\n", "v"},
  };
  for (const auto& [key, value] : refused) {
    EXPECT_FALSE(set_ini_key("[a]\r\n", "a", key, value))
        << key << "=" << value;
  }
  EXPECT_FALSE(set_ini_key("", "a]b", "k", "v"));
  EXPECT_FALSE(set_ini_key("", "", "k", "v"));
  EXPECT_FALSE(set_ini_key("", "a\r\n", "k", "v"));
}

}  // namespace
}  // namespace runtime
