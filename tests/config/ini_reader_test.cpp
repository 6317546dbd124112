#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

std::vector<int32_t> Values(const IntArray& a) {
  return a.values();
}

TEST(IniReader, ReadIntParsesNumbersLikeScanfI) {
  TempDir dir;
  const std::string path = dir.WriteFile("numbers.ini",
                                         "[Numbers]\n"
                                         "Dec=12\n"
                                         "Neg=-3\n"
                                         "Plus=+9\n"
                                         "Hex=0x1F\n"
                                         "HexUpper=0X1f\n"
                                         "Oct=010\n"
                                         "OctStopsAtEight=08\n"
                                         "Zero=0\n"
                                         "TrailingWord=7 word\n"
                                         "NegHex=-0x10\n"
                                         "Quoted=\"5\"\n"
                                         "SingleQuoted='6'\n"
                                         "Padded=   42   \n"
                                         "Wraps=4294967297\n");
  IniReader ini(path);
  struct Case {
    const char* key;
    int32_t expected;
  };
  const Case cases[] = {{"Dec", 12},
                        {"Neg", -3},
                        {"Plus", 9},
                        {"Hex", 31},
                        {"HexUpper", 31},
                        {"Oct", 8},
                        {"OctStopsAtEight", 0},
                        {"Zero", 0},
                        {"TrailingWord", 7},
                        {"NegHex", -16},
                        {"Quoted", 5},
                        {"SingleQuoted", 6},
                        {"Padded", 42},
                        {"Wraps", 1}};
  for (const Case& c : cases) {
    int32_t value = -777;
    EXPECT_EQ(ini.ReadInt("Numbers", c.key, value), 1) << c.key;
    EXPECT_EQ(value, c.expected) << c.key;
  }
}

TEST(IniReader, ValueWithoutNumberKeepsOutputButCountsAsPresent) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("t.ini", "[S]\nLetters=abc\nSign=-\nEmpty=\nBlanks=   \nEmptyQuotes=\"\"\n");
  IniReader ini(path);
  int32_t value = 4242;
  EXPECT_EQ(ini.ReadInt("S", "Letters", value), 1);
  EXPECT_EQ(value, 4242);
  EXPECT_EQ(ini.ReadInt("S", "Sign", value), 1);
  EXPECT_EQ(value, 4242);
  // Empty values are indistinguishable from missing keys.
  EXPECT_EQ(ini.ReadInt("S", "Empty", value), 0);
  EXPECT_EQ(ini.ReadInt("S", "Blanks", value), 0);
  EXPECT_EQ(ini.ReadInt("S", "EmptyQuotes", value), 0);
  EXPECT_EQ(ini.ReadInt("S", "Missing", value), 0);
  EXPECT_EQ(ini.ReadInt("Nowhere", "Letters", value), 0);
  EXPECT_EQ(value, 4242);

  std::string text = "untouched";
  EXPECT_EQ(ini.ReadString("S", "Empty", text), 0);
  EXPECT_EQ(text, "untouched");
  IntArray list;
  list.push_back(3);
  EXPECT_EQ(ini.ReadIntList("S", "Empty", list), 0);
  EXPECT_EQ(Values(list), std::vector<int32_t>{3});
}

TEST(IniReader, ReadStringTrimsAndUnquotes) {
  TempDir dir;
  const std::string path = dir.WriteFile("t.ini",
                                         "[S]\n"
                                         "Plain=  hello world  \n"
                                         "Double=\"a b\"\n"
                                         "Single='c d'\n"
                                         "Mismatched=\"e f'\n"
                                         "Spaced Key = value \n");
  IniReader ini(path);
  std::string text;
  EXPECT_EQ(ini.ReadString("S", "Plain", text), 1);
  EXPECT_EQ(text, "hello world");
  EXPECT_EQ(ini.ReadString("S", "Double", text), 1);
  EXPECT_EQ(text, "a b");
  EXPECT_EQ(ini.ReadString("S", "Single", text), 1);
  EXPECT_EQ(text, "c d");
  EXPECT_EQ(ini.ReadString("S", "Mismatched", text), 1);
  EXPECT_EQ(text, "\"e f'");
  EXPECT_EQ(ini.ReadString("S", "Spaced Key", text), 1);
  EXPECT_EQ(text, "value");
}

TEST(IniReader, SectionAndKeyMatchWithoutRegardToCase) {
  TempDir dir;
  const std::string path =
      dir.WriteFile("t.ini", "[blockinfo]\nxsize=4\n[STONEINFO]\nStOnEcOuNt=9\n");
  IniReader ini(path);
  int32_t value = 0;
  EXPECT_EQ(ini.ReadInt("BlockInfo", "XSize", value), 1);
  EXPECT_EQ(value, 4);
  EXPECT_EQ(ini.ReadInt("StoneInfo", "StoneCount", value), 1);
  EXPECT_EQ(value, 9);
  // A key is only found in its own section.
  EXPECT_EQ(ini.ReadInt("StoneInfo", "XSize", value), 0);
}

TEST(IniReader, OnlyFirstMatchingSectionAndKeyCount) {
  TempDir dir;
  const std::string path = dir.WriteFile("t.ini",
                                         "[A]\n"
                                         "k=1\n"
                                         "K=2\n"
                                         "[B]\n"
                                         "k=20\n"
                                         "j=21\n"
                                         "[a]\n"
                                         "k=3\n"
                                         "j=4\n");
  IniReader ini(path);
  int32_t value = -1;
  EXPECT_EQ(ini.ReadInt("A", "k", value), 1);
  EXPECT_EQ(value, 1);
  // j stands only in the second section named A, which is never searched.
  value = -1;
  EXPECT_EQ(ini.ReadInt("A", "j", value), 0);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(ini.ReadInt("B", "j", value), 1);
  EXPECT_EQ(value, 21);
}

TEST(IniReader, FirstKeyWinsEvenWhenItsValueIsEmpty) {
  TempDir dir;
  const std::string path = dir.WriteFile("t.ini", "[S]\nk=\nk=5\n");
  IniReader ini(path);
  int32_t value = -1;
  EXPECT_EQ(ini.ReadInt("S", "k", value), 0);
  EXPECT_EQ(value, -1);
}

TEST(IniReader, SkipsCommentsBlankAndStrayLines) {
  TempDir dir;
  const std::string path = dir.WriteFile("t.ini",
                                         "; XSize=9 before any section\n"
                                         "\n"
                                         "[BlockInfo]\n"
                                         "; XSize=8\n"
                                         "# XSize=7\n"
                                         "   \n"
                                         "a line without an equals sign\n"
                                         "XSize=3\n"
                                         "[OtherSection]\n"
                                         "XSize=6\n");
  IniReader ini(path);
  int32_t value = 0;
  EXPECT_EQ(ini.ReadInt("BlockInfo", "XSize", value), 1);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(ini.ReadInt("BlockInfo", "; XSize", value), 0);
}

TEST(IniReader, ReadsCrLfAndLfFilesAlike) {
  TempDir dir;
  const std::string lines[] = {"[S]", "Int=17", "List=1,2,3", "Text=abc", "[T]", "Last=0x10"};
  std::string lf, crlf;
  for (const std::string& line : lines) {
    lf += line + "\n";
    crlf += line + "\r\n";
  }
  // The last line without any line end.
  const std::string noEnd = lf.substr(0, lf.size() - 1);
  for (const std::string& content : {lf, crlf, noEnd}) {
    IniReader ini(dir.WriteFile("t.ini", content));
    int32_t value = 0;
    EXPECT_EQ(ini.ReadInt("S", "Int", value), 1);
    EXPECT_EQ(value, 17);
    IntArray list;
    EXPECT_EQ(ini.ReadIntList("S", "List", list), 1);
    EXPECT_EQ(Values(list), (std::vector<int32_t>{1, 2, 3}));
    std::string text;
    EXPECT_EQ(ini.ReadString("S", "Text", text), 1);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(ini.ReadInt("T", "Last", value), 1);
    EXPECT_EQ(value, 16);
  }
}

TEST(IniReader, ReadIntListSplitsAtCommas) {
  TempDir dir;
  const std::string path = dir.WriteFile("t.ini",
                                         "[S]\n"
                                         "Three=1, 2,3\n"
                                         "One=5\n"
                                         "Formats=0x10, 010,08,-4\n"
                                         "EmptyMiddle=1,,3\n"
                                         "Trailing=1,2,\n"
                                         "Leading=,1\n"
                                         "Text=1,x,3\n"
                                         "Commas=,,\n");
  IniReader ini(path);
  struct Case {
    const char* key;
    std::vector<int32_t> expected;
  };
  // A piece without a number is stored as 0, so the length is always commas + 1.
  const Case cases[] = {{"Three", {1, 2, 3}},        {"One", {5}},
                        {"Formats", {16, 8, 0, -4}}, {"EmptyMiddle", {1, 0, 3}},
                        {"Trailing", {1, 2, 0}},     {"Leading", {0, 1}},
                        {"Text", {1, 0, 3}},         {"Commas", {0, 0, 0}}};
  for (const Case& c : cases) {
    IntArray list;
    for (int i = 0; i < 6; ++i) list.push_back(99);  // replaced, not appended to
    EXPECT_EQ(ini.ReadIntList("S", c.key, list), 1) << c.key;
    EXPECT_EQ(Values(list), c.expected) << c.key;
  }
}

TEST(IniReader, MissingListKeyLeavesArrayAsItWas) {
  TempDir dir;
  IniReader ini(dir.WriteFile("t.ini", "[S]\nA=1\n"));
  IntArray list;
  list.push_back(7);
  list.push_back(-8);
  EXPECT_EQ(ini.ReadIntList("S", "B", list), 0);
  EXPECT_EQ(Values(list), (std::vector<int32_t>{7, -8}));
  EXPECT_EQ(ini.ReadIntList("T", "A", list), 0);
  EXPECT_EQ(Values(list), (std::vector<int32_t>{7, -8}));
}

TEST(IniReader, EmptyPathOrMissingFileReadsNothing) {
  TempDir dir;
  for (const std::string& path : {std::string(), dir.PathOf("absent.ini")}) {
    IniReader ini(path);
    int32_t value = 11;
    std::string text = "keep";
    IntArray list;
    list.push_back(1);
    EXPECT_EQ(ini.ReadInt("S", "A", value), 0);
    EXPECT_EQ(ini.ReadString("S", "A", text), 0);
    EXPECT_EQ(ini.ReadIntList("S", "A", list), 0);
    EXPECT_EQ(value, 11);
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(Values(list), std::vector<int32_t>{1});
  }
  EXPECT_EQ(GetProfileString("", "S", "A"), "");
}

TEST(IniReader, LongValuesAreCutTo1023Characters) {
  TempDir dir;
  std::string longText;
  for (int i = 0; i < 2000; ++i) longText += static_cast<char>('a' + i % 26);
  // 400 pieces "1000," make 2000 characters; the cut leaves 204 whole pieces and "100".
  std::string longList;
  for (int i = 0; i < 400; ++i) longList += "1000,";
  const std::string exact(1023, 'z');
  const std::string oneMore = std::string(1023, 'y') + "Y";
  IniReader ini(dir.WriteFile("t.ini", "[S]\nText=" + longText + "\nList=" + longList + "\nExact=" +
                                           exact + "\nOneMore=" + oneMore + "\nAfter=5\n"));
  std::string text;
  EXPECT_EQ(ini.ReadString("S", "Text", text), 1);
  EXPECT_EQ(text, longText.substr(0, 1023));
  EXPECT_EQ(ini.ReadString("S", "Exact", text), 1);
  EXPECT_EQ(text, exact);
  EXPECT_EQ(ini.ReadString("S", "OneMore", text), 1);
  EXPECT_EQ(text, std::string(1023, 'y'));

  IntArray list;
  EXPECT_EQ(ini.ReadIntList("S", "List", list), 1);
  ASSERT_EQ(list.size(), 205);
  EXPECT_EQ(list[0], 1000);
  EXPECT_EQ(list[203], 1000);
  EXPECT_EQ(list[204], 100);

  // A long line does not disturb the lines after it.
  int32_t value = 0;
  EXPECT_EQ(ini.ReadInt("S", "After", value), 1);
  EXPECT_EQ(value, 5);
}

TEST(IniReader, ConcurrentReadersSeeTheSameValues) {
  TempDir dir;
  IniReader shared(dir.WriteFile("t.ini", "[S]\nA=0x20\nL=1,2,3,4\n"));
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      IniReader own(shared.path());
      for (int i = 0; i < 100; ++i) {
        int32_t value = 0;
        IntArray list;
        if (own.ReadInt("S", "A", value) == 1 && value == 32 &&
            own.ReadIntList("S", "L", list) == 1 && list.size() == 4 && list[3] == 4)
          ++good[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good, std::vector<int>(4, 100));
}

TEST(ParseInteger, ReportsWhetherADigitWasRead) {
  int32_t value = 5;
  EXPECT_FALSE(ParseInteger("", value));
  EXPECT_FALSE(ParseInteger("  ", value));
  EXPECT_FALSE(ParseInteger("+", value));
  EXPECT_FALSE(ParseInteger("x1", value));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(ParseInteger(" \t-0", value));
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(ParseInteger("0xg", value));  // the 0 is a number, "xg" is ignored
  EXPECT_EQ(value, 0);
  EXPECT_TRUE(ParseInteger("0777", value));
  EXPECT_EQ(value, 511);
  EXPECT_TRUE(ParseInteger("0x7fffffff", value));
  EXPECT_EQ(value, 2147483647);
  EXPECT_TRUE(ParseInteger("-2147483648", value));
  EXPECT_EQ(value, -2147483647 - 1);
  EXPECT_TRUE(ParseInteger("99999999999999999999", value));  // wraps, but defined
}

}  // namespace
}  // namespace quaderix
