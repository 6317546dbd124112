// quaderix-cli show: the packing of the output format's own example as plain text and
// in colour, and the answers for lists, missing solutions and foreign files.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "cli/puzzle_check.h"
#include "cli/show_command.h"
#include "records/solution_file.h"
#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

// Two records of the 3x2x2 example: level 1 = stone 0, 2 = stone 1, 3 = stone 2.
const std::string kExample =
    "Solution : 1\r\n"
    "Stone Legend (Presentation=Stone) :  1= 0;  2= 1;  3= 2; \r\n"
    "__BEGINBLOCK[1]; __XYZ[3,2,2];\r\n"
    "  1   3   3       2   2   3     \r\n"
    "[ 1]  1   1       2   2 ( 3)    \r\n"
    "__ENDBLOCK;\r\n"
    "\r\n"
    "Solution : 7\r\n"
    "__BEGINBLOCK[7]; __XYZ[3,2,2];\r\n"
    "  1   3   3       2   2   3     \r\n"
    "[ 1]  1   1       2   2 ( 3)    \r\n"
    "__ENDBLOCK;\r\n"
    "\r\n";

TEST(ShowCommand, PrintsLayersSideBySide) {
  TempDir dir;
  const std::string path = dir.WriteFile("example_00.txt", kExample);
  std::ostringstream out, err;
  EXPECT_EQ(RunShow({path, 1, true, false}, false, out, err), kExitOk);
  EXPECT_EQ(out.str(), "Solution 1 of " + path +
                           ": 3 x 2 x 2 cells\n"
                           "    z=0         z=1\n"
                           "y=1   1  3  3     2  2  3\n"
                           "y=0   1  1  1     2  2  3\n"
                           "legend (level=stone): 1=0 2=1 3=2\n");
  EXPECT_EQ(err.str(), "");

  // In colour every cell of a piece has the same background, and touching pieces differ.
  SolutionFile file;
  ASSERT_EQ(file.Open(path), SolutionFile::Ok);
  Packing p;
  ASSERT_EQ(file.Load(1, p), SolutionFile::Ok);
  EXPECT_FALSE(p.hasLegend);
  const std::string coloured = FormatPackingForTerminal(p, true);
  auto backgroundBefore = [&](const std::string& cellText, size_t from) {
    const size_t at = coloured.find(cellText, from);
    const size_t escape = coloured.rfind("\x1b[48;5;", at);
    return coloured.substr(escape, at - escape);
  };
  const size_t row1 = coloured.find("y=1");
  EXPECT_EQ(backgroundBefore("  1", row1), backgroundBefore("  1", coloured.find("y=0")));
  EXPECT_NE(backgroundBefore("  1", row1), backgroundBefore("  3", row1));
  EXPECT_NE(backgroundBefore("  2", row1), backgroundBefore("  3", row1));
  EXPECT_NE(coloured.find("=?"), std::string::npos);  // no legend: stone unknown
}

TEST(ShowCommand, ListsAndRefusals) {
  TempDir dir;
  const std::string path = dir.WriteFile("example_00.txt", kExample);
  const std::string cut = dir.WriteFile("cut_00.txt", kExample.substr(0, kExample.find("Solution : 7") + 40));
  const std::string ini = dir.WriteFile("puzzle.ini", "[BlockInfo]\nXSize=3\n");
  const struct {
    ShowOptions options;
    int exitCode;
    std::string out;
    std::string err;
  } cases[] = {
      {{path, 0, false, true}, kExitOk, "1\n7\n", ""},
      {{cut, 0, false, true},
       kExitOk,
       "1\n",
       "Warning: The last record (from line 8 on) is cut short and is left out.\n"},
      {{path, 4, true, false}, kExitSetupFailed, "", "Solution 4 is not in " + path + ".\n"},
      {{ini, 0, false, false},
       kExitSetupFailed,
       "",
       ini + " is not a solution output file: Line 1 is not a \"Solution : <number>\" line.\n"},
      {{dir.PathOf("none.txt"), 0, false, false},
       kExitUnreadable,
       "",
       dir.PathOf("none.txt") + " cannot be read: No such file or directory.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.file);
    std::ostringstream out, err;
    EXPECT_EQ(RunShow(c.options, false, out, err), c.exitCode);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str(), c.err);
  }
}

}  // namespace
}  // namespace quaderix
