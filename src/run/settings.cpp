#include "run/settings.h"

#include <filesystem>
#include <system_error>

#include "config/ini_reader.h"

namespace quaderix {
namespace {

constexpr const char* kGlobalSection = "Global Parameter";

// Relative names are taken against `base`, "." and ".." are resolved textually, and the
// empty name is `base` itself, so an unset ConfigFileName shows the program's directory.
std::string MakeAbsolute(const std::string& path, const std::string& base) {
  namespace fs = std::filesystem;
  fs::path p(path);
  if (p.is_relative()) p = fs::path(base) / p;
  std::string out = p.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace

std::string ProgramDirectory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  return exe.parent_path().string();
}

Settings LoadSettings(const std::string& settingsPath, const std::string& commandLineConfig,
                      const std::string& baseDirectory) {
  IniReader ini(settingsPath);
  Settings s;
  s.commandLineConfig = commandLineConfig;
  // A value that is present but holds no number leaves the default in place.
  s.maxThreads = 1;
  ini.ReadInt(kGlobalSection, "MaxThreads", s.maxThreads);
  ini.ReadString(kGlobalSection, "OutputFileNameBase", s.outputFileNameBase);
  if (!commandLineConfig.empty()) {
    s.configFileName = commandLineConfig;
  } else {
    std::string configured;
    ini.ReadString(kGlobalSection, "ConfigFileName", configured);
    s.configFileName = MakeAbsolute(configured, baseDirectory);
  }
  return s;
}

void AppendStartupLines(RunLog& log, const Settings& settings) {
  log.AppendLog("Maximum number of active threads = %d", static_cast<int>(settings.maxThreads));
  log.AppendLog("Output file name base = %s", settings.outputFileNameBase.c_str());
  log.AppendLog("Active configuration file = %s", settings.configFileName.c_str());
}

}  // namespace quaderix
