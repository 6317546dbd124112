#pragma once

// Scratch files for tests that read INI files. Header-only so that any test binary can use
// it without linking anything.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quaderix::testing {

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes. Owned by one test; not meant to be shared between threads.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quaderix-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
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

 private:
  std::filesystem::path path_;
};

}  // namespace quaderix::testing
