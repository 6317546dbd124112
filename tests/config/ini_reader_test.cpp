#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// One file holds every case, so each lookup also shows that the lines around it (comments,
// stray text, other sections, a later key or section of the same name) do not disturb it.
const char kFile[] =
    "; Dec=99 before any section\n[numbers]\ndec=12\nNeg=-3\nPlus=+9\nHex=0x1F\nNegHex=-0X10\n"
    "Oct=010\nOct8=08\nWord=7 word\nQuoted=\"5\"\nPadded=   42   \n"
    "Min=-2147483648\nLetters=abc\nEmpty=\nQuotes=\"\"\n; Note=1\n"
    "a line without an equals sign\nDec=13\nEmpty=5\nText=  hello world  \nSingle='c d'\n"
    "Mismatched=\"e f'\nThree=1, 2,3\nOne=5\nFormats=0x10, 010,08,-4\nEmptyMiddle=1,,3\n"
    "Trailing=1,2,\nTextPiece=1,x,3\nSpaced Key = value \n[NUMBERS]\nLater=4\n[Other]\n"
    "Last=0x10\n";

TEST(IniReader, ReadsEveryValueKindWithAnyLineEnd) {
  TempDir dir;
  const std::string lf = kFile;
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string noFinalEnd = lf.substr(0, lf.size() - 1);
  for (const std::string& content : {lf, crlf, noFinalEnd}) {
    SCOPED_TRACE(content == lf ? "LF" : content == crlf ? "CR LF" : "no final line end");
    IniReader ini(dir.WriteFile("t.ini", content));
    struct IntCase {
      const char* section;
      const char* key;
      int result;
      int32_t value;  // -777: left untouched (also for "Letters", present without a number)
    };
    // Section and key match without regard to case and the first key wins, even when its
    // value is empty; "Later" stands in a second section of the same name, never searched.
    const IntCase ints[] = {{"Numbers", "Dec", 1, 12},
                            {"NUMBERS", "DEC", 1, 12},
                            {"Other", "Last", 1, 16},
                            {"Nowhere", "Dec", 0, -777}};
    const std::tuple<const char*, int, int32_t> numbers[] = {
        {"Neg", 1, -3},      {"Plus", 1, 9},        {"Hex", 1, 31},       {"NegHex", 1, -16},
        {"Oct", 1, 8},       {"Oct8", 1, 0},        {"Word", 1, 7},       {"Quoted", 1, 5},
        {"Padded", 1, 42},   {"Min", 1, INT32_MIN}, {"Letters", 1, -777}, {"Empty", 0, -777},
        {"Quotes", 0, -777}, {"Missing", 0, -777},  {"; Note", 0, -777},  {"Later", 0, -777}};
    std::vector<IntCase> all(std::begin(ints), std::end(ints));
    for (const auto& [key, result, value] : numbers) all.push_back({"Numbers", key, result, value});
    for (const IntCase& c : all) {
      int32_t value = -777;
      EXPECT_EQ(ini.ReadInt(c.section, c.key, value), c.result) << c.key;
      EXPECT_EQ(value, c.value) << c.key;
    }

    const std::tuple<const char*, int, const char*> strings[] = {
        {"Text", 1, "hello world"}, {"Single", 1, "c d"},      {"Mismatched", 1, "\"e f'"},
        {"Quoted", 1, "5"},         {"Empty", 0, "untouched"}, {"Missing", 0, "untouched"},
        {"Spaced Key", 1, "value"}};
    for (const auto& [key, result, expected] : strings) {
      std::string text = "untouched";
      EXPECT_EQ(ini.ReadString("Numbers", key, text), result) << key;
      EXPECT_EQ(text, expected) << key;
    }

    // A piece without a number is stored as 0, so the length is always commas + 1. The
    // list is replaced, not appended to; a missing or empty key leaves it as it was.
    const std::tuple<const char*, int, std::vector<int32_t>> lists[] = {
        {"Three", 1, {1, 2, 3}},        {"One", 1, {5}},
        {"Formats", 1, {16, 8, 0, -4}}, {"EmptyMiddle", 1, {1, 0, 3}},
        {"Trailing", 1, {1, 2, 0}},     {"TextPiece", 1, {1, 0, 3}},
        {"Empty", 0, {99, 98}},         {"Missing", 0, {99, 98}}};
    for (const auto& [key, result, expected] : lists) {
      IntArray list;
      list.push_back(99);
      list.push_back(98);
      EXPECT_EQ(ini.ReadIntList("Numbers", key, list), result) << key;
      EXPECT_EQ(list.values(), expected) << key;
    }
  }
  // A UTF-8 byte-order mark before the first section header is not part of its name.
  int32_t value = 0;
  EXPECT_EQ(IniReader(dir.WriteFile("bom.ini", "\xEF\xBB\xBF[BlockInfo]\nXSize=3\n"))
                .ReadInt("BlockInfo", "XSize", value),
            1);
  EXPECT_EQ(value, 3);
}

TEST(IniReader, LongValuesAreCutTo1023Characters) {
  TempDir dir;
  std::string longText;
  for (int i = 0; i < 2000; ++i) longText += static_cast<char>('a' + i % 26);
  // 400 pieces "1000," make 2000 characters; the cut leaves 204 whole pieces and "100".
  std::string longList;
  for (int i = 0; i < 400; ++i) longList += "1000,";
  IniReader ini(
      dir.WriteFile("t.ini", "[S]\nText=" + longText + "\nList=" + longList + "\nAfter=5\n"));
  std::string text;
  EXPECT_EQ(ini.ReadString("S", "Text", text), 1);
  EXPECT_EQ(text, longText.substr(0, 1023));
  IntArray list;
  EXPECT_EQ(ini.ReadIntList("S", "List", list), 1);
  std::vector<int32_t> expected(204, 1000);
  expected.push_back(100);
  EXPECT_EQ(list.values(), expected);
  // A long line does not disturb the lines after it.
  int32_t value = 0;
  EXPECT_EQ(ini.ReadInt("S", "After", value), 1);
  EXPECT_EQ(value, 5);
}

}  // namespace
}  // namespace quaderix
