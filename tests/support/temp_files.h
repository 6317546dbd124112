#pragma once

// Scratch files for tests that read INI files. Header-only so that any test binary can use
// it without linking anything.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quaderix::testing {

inline constexpr const char* kTempPrefix = "quaderix-test-";

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes. Its name carries the test process's id, so that the folders of a
// test process that crashed or was killed are removed by the next test that starts.
// Owned by one test; not meant to be shared between threads.
class TempDir {
 public:
  TempDir() {
    RemoveLeftovers();
    std::string pattern = (std::filesystem::temp_directory_path() /
                           (kTempPrefix + std::to_string(getpid()) + "-XXXXXX"))
                              .string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { Remove(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `contents` byte for byte (line ends are not translated) and returns the full path.
  std::string WriteFile(const std::string& name, const std::string& contents) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
  }

  // A path inside the directory that no file has been written to.
  std::string PathOf(const std::string& name) const { return (path_ / name).string(); }

  // Removes `dir` even when a test made parts of it read-only, or a worker that was just
  // stopped wrote one more file while the folder was being emptied.
  static void Remove(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (int attempt = 0; attempt < 3; ++attempt) {
      fs::remove_all(dir, ec);
      if (!fs::exists(dir, ec)) return;
      for (auto it = fs::recursive_directory_iterator(dir, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
      }
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }

  // The folders of test processes that no longer run.
  static void RemoveLeftovers() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(kTempPrefix, 0) != 0) continue;
      const std::string rest = name.substr(std::char_traits<char>::length(kTempPrefix));
      const size_t dash = rest.find('-');
      if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash)
        continue;
      const pid_t owner = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
      if (kill(owner, 0) != 0 && errno == ESRCH) Remove(entry.path());
    }
  }

 private:
  std::filesystem::path path_;
};

}  // namespace quaderix::testing
