// MainConfig.ini: the three keys and their defaults, the puzzle file from the command
// line taking precedence exactly as typed, ConfigFileName made absolute against the
// program's directory, and the three start-up lines of the log.

#include "app/settings.h"

#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

TEST(Settings, DefaultsWithoutMainConfig) {
  TempDir dir;
  const std::string base = dir.path().string();
  const Settings s = LoadSettings(dir.PathOf("MainConfig.ini"), "", base);
  EXPECT_EQ(s.maxThreads, 1);
  EXPECT_EQ(s.outputFileNameBase, "");
  // The empty name resolves to the directory itself.
  EXPECT_EQ(s.configFileName, base);
  EXPECT_EQ(s.commandLineConfig, "");

  RunLog log;
  AppendStartupLines(log, s);
  EXPECT_EQ(log.text(),
            "::> Maximum number of active threads = 1\r\n"
            "::> Output file name base = \r\n"
            "::> Active configuration file = " +
                base + "\r\n::> ");
}

TEST(Settings, ReadsTheGlobalParameterSection) {
  TempDir dir;
  const std::string base = dir.path().string();
  const std::string ini = dir.WriteFile("MainConfig.ini",
                                        "; settings\r\n"
                                        "[Other]\r\nMaxThreads=9\r\n"
                                        "[global parameter]\r\n"
                                        "maxthreads = 0x10\r\n"
                                        "OutputFileNameBase = \"sol\"\r\n"
                                        "ConfigFileName=puzzles/../puzzles/cube.ini\r\n");
  const Settings s = LoadSettings(ini, "", base);
  EXPECT_EQ(s.maxThreads, 16);
  EXPECT_EQ(s.outputFileNameBase, "sol");
  EXPECT_EQ(s.configFileName, base + "/puzzles/cube.ini");

  RunLog log;
  AppendStartupLines(log, s);
  EXPECT_EQ(log.text(),
            "::> Maximum number of active threads = 16\r\n"
            "::> Output file name base = sol\r\n"
            "::> Active configuration file = " +
                base + "/puzzles/cube.ini\r\n::> ");
}

TEST(Settings, ValuesTakenAsTheyStand) {
  TempDir dir;
  // 0 and negative counts are kept; a value without a number keeps the default 1.
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {{"0", 0}, {"-2", -2}, {"010", 8}, {"many", 1}, {"", 1}, {"3 threads", 3}};
  for (const Case& c : cases) {
    const std::string ini = dir.WriteFile(
        "MainConfig.ini", std::string("[Global Parameter]\nMaxThreads=") + c.value + "\n");
    EXPECT_EQ(LoadSettings(ini, "", "/base").maxThreads, c.expected) << c.value;
  }
  const std::string absolute =
      dir.WriteFile("MainConfig.ini", "[Global Parameter]\nConfigFileName=/srv/puzzles/./a.ini\n");
  EXPECT_EQ(LoadSettings(absolute, "", "/base").configFileName, "/srv/puzzles/a.ini");
}

TEST(Settings, CommandLineFileTakesPrecedenceAsTyped) {
  TempDir dir;
  const std::string ini =
      dir.WriteFile("MainConfig.ini", "[Global Parameter]\nConfigFileName=other.ini\n");
  for (const char* typed : {"cube.ini", "./puzzles/../cube.ini", "/abs/cube.ini"}) {
    const Settings s = LoadSettings(ini, typed, "/base");
    EXPECT_EQ(s.configFileName, typed);
    EXPECT_EQ(s.commandLineConfig, typed);
  }
}

TEST(Settings, ProgramDirectoryHoldsTheRunningProgram) {
  const std::filesystem::path dir = ProgramDirectory();
  EXPECT_TRUE(dir.is_absolute());
  EXPECT_TRUE(std::filesystem::exists(dir / "quaderix_app_tests"));
  // It does not follow the current directory.
  const std::filesystem::path before = std::filesystem::current_path();
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  EXPECT_EQ(ProgramDirectory(), dir.string());
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace quaderix
