// The log's text: every line ends with "\r\n" and the prompt, AppendLogText continues
// the open line, worker texts are never formats, and the listener sees each append.

#include "run/run_log.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quaderix {
namespace {

TEST(RunLog, LinesEndWithLineEndAndPrompt) {
  RunLog log;
  std::vector<std::string> added;
  log.SetListener([&](const std::string& text) { added.push_back(text); });
  EXPECT_EQ(log.text(), "::> ");
  log.AppendLog("Number of Threads = %d", 12);
  log.AppendLog("Timeto initialize %.1f sec", 1.26);
  // AppendLogText continues the open line; worker texts are never formats.
  log.AppendLogText("abc");
  log.AppendLog("%s", "def");
  log.AppendLine("100% %s %d %n");
  log.AppendRaw("%x");
  EXPECT_EQ(log.text(),
            "::> Number of Threads = 12\r\n::> Timeto initialize 1.3 sec\r\n::> abcdef\r\n"
            "::> 100% %s %d %n\r\n::> %x");
  EXPECT_EQ(added, (std::vector<std::string>{"Number of Threads = 12\r\n::> ",
                                             "Timeto initialize 1.3 sec\r\n::> ", "abc",
                                             "def\r\n::> ", "100% %s %d %n\r\n::> ", "%x"}));
  // Longer than any fixed buffer: formatted whole.
  const std::string longName(5000, 'x');
  log.AppendLog("Active configuration file = %s", longName.c_str());
  EXPECT_TRUE(log.text().ends_with("%xActive configuration file = " + longName + "\r\n::> "));
  log.Reset();
  EXPECT_EQ(log.text(), "::> ");
}

}  // namespace
}  // namespace quaderix
