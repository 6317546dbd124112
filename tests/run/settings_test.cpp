// MainConfig.ini: the three keys and their defaults, ConfigFileName made absolute against
// the program's directory, and the three start-up lines of the log. The puzzle file typed
// on the command line is followed through the window's and the command line's own tests.

#include "run/settings.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

TEST(Settings, ReadsTheGlobalParameterSection) {
  TempDir dir;
  const std::string base = dir.path().string();
  struct Case {
    const char* file;  // nullptr: there is no MainConfig.ini
    int32_t maxThreads;
    const char* outputFileNameBase;
    std::string configFileName;
  };
  const Case cases[] = {
      // The empty name resolves to the directory itself.
      {nullptr, 1, "", base},
      {"; settings\r\n[Other]\r\nMaxThreads=9\r\n[global parameter]\r\nmaxthreads = 0x10\r\n"
       "OutputFileNameBase = \"sol\"\r\nConfigFileName=puzzles/../puzzles/cube.ini\r\n",
       16, "sol", base + "/puzzles/cube.ini"},
      // Counts are taken as they stand; a value without a number keeps the default 1.
      {"[Global Parameter]\nMaxThreads=0\n", 0, "", base},
      {"[Global Parameter]\nMaxThreads=-2\n", -2, "", base},
      {"[Global Parameter]\nMaxThreads=010\n", 8, "", base},
      {"[Global Parameter]\nMaxThreads=3 threads\n", 3, "", base},
      {"[Global Parameter]\nMaxThreads=many\n", 1, "", base},
      {"[Global Parameter]\nConfigFileName=/srv/puzzles/./a.ini\n", 1, "", "/srv/puzzles/a.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "no file");
    std::filesystem::remove(dir.PathOf("MainConfig.ini"));
    if (c.file) dir.WriteFile("MainConfig.ini", c.file);
    const Settings s = LoadSettings(dir.PathOf("MainConfig.ini"), "", base);
    EXPECT_EQ(s.maxThreads, c.maxThreads);
    EXPECT_EQ(s.outputFileNameBase, c.outputFileNameBase);
    EXPECT_EQ(s.configFileName, c.configFileName);
    RunLog log;
    AppendStartupLines(log, s);
    EXPECT_EQ(log.text(), "::> Maximum number of active threads = " + std::to_string(c.maxThreads) +
                              "\r\n::> Output file name base = " + c.outputFileNameBase +
                              "\r\n::> Active configuration file = " + c.configFileName +
                              "\r\n::> ");
  }
}

}  // namespace
}  // namespace quaderix
