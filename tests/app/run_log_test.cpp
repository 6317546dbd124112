// The log's text: every line ends with "\r\n" and the prompt, AppendLogText continues
// the open line, worker texts are never formats, and the listener sees each append.

#include "app/run_log.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quaderix {
namespace {

TEST(RunLog, LinesEndWithLineEndAndPrompt) {
  RunLog log;
  EXPECT_EQ(log.text(), "::> ");
  log.AppendLog("Number of Threads = %d", 12);
  EXPECT_EQ(log.text(), "::> Number of Threads = 12\r\n::> ");
  log.AppendLog("Timeto initialize %.1f sec", 1.25 + 0.01);
  log.AppendLog("Output file name base = %s", "");
  EXPECT_EQ(log.text(),
            "::> Number of Threads = 12\r\n::> Timeto initialize 1.3 sec\r\n"
            "::> Output file name base = \r\n::> ");
  // Longer than any fixed buffer: formatted whole.
  const std::string longName(5000, 'x');
  log.AppendLog("Active configuration file = %s", longName.c_str());
  const std::string expectedTail = "Active configuration file = " + longName + "\r\n::> ";
  ASSERT_GE(log.text().size(), expectedTail.size());
  EXPECT_EQ(log.text().substr(log.text().size() - expectedTail.size()), expectedTail);
}

TEST(RunLog, TextWithoutLineEndContinuesTheLine) {
  RunLog log;
  log.AppendLog("start");
  log.AppendLogText("abc");
  EXPECT_EQ(log.text(), "::> start\r\n::> abc");
  log.AppendLog("%s", "def");
  EXPECT_EQ(log.text(), "::> start\r\n::> abcdef\r\n::> ");
  log.Reset();
  EXPECT_EQ(log.text(), "::> ");
}

TEST(RunLog, WorkerTextsAreNotFormats) {
  RunLog log;
  log.AppendLine("100% %s %d %n");
  log.AppendRaw("%x");
  EXPECT_EQ(log.text(), "::> 100% %s %d %n\r\n::> %x");
}

TEST(RunLog, ListenerSeesExactlyWhatWasAdded) {
  RunLog log;
  std::vector<std::string> added;
  log.SetListener([&](const std::string& text) { added.push_back(text); });
  log.AppendLog("a=%d", 1);
  log.AppendLogText("b");
  log.AppendLine("c");
  log.AppendRaw("d");
  EXPECT_EQ(added, (std::vector<std::string>{"a=1\r\n::> ", "b", "c\r\n::> ", "d"}));
  std::string joined = "::> ";
  for (const std::string& a : added) joined += a;
  EXPECT_EQ(joined, log.text());
}

}  // namespace
}  // namespace quaderix
