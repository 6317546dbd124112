#pragma once

// The global settings of MainConfig.ini ("Global Parameter": MaxThreads,
// OutputFileNameBase, ConfigFileName) and the three start-up lines of the log. Read once
// at start-up on the front end's thread.

#include <cstdint>
#include <string>

#include "run/run_log.h"

namespace quaderix {

// The values of MainConfig.ini in use for the life of the process; a plain value owned
// by the front end.
struct Settings {
  int32_t maxThreads = 0;
  std::string outputFileNameBase;
  std::string configFileName;
  std::string commandLineConfig;
};

// The directory of the running program (from /proc/self/exe).
std::string ProgramDirectory();

// Reads `settingsPath` (normally MainConfig.ini in the program's directory). A
// commandLineConfig that is not empty becomes configFileName exactly as given; otherwise
// ConfigFileName is made absolute against `baseDirectory`.
Settings LoadSettings(const std::string& settingsPath, const std::string& commandLineConfig,
                      const std::string& baseDirectory);

// "Maximum number of active threads = %d", "Output file name base = %s",
// "Active configuration file = %s".
void AppendStartupLines(RunLog& log, const Settings& settings);

}  // namespace quaderix
