// The tests' scratch folders leave nothing behind: not when a test made a part read-only,
// and not when a test process died before its folders were removed.

#include "support/temp_files.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace quaderix {
namespace {

namespace fs = std::filesystem;

TEST(TempDir, LeavesNoFolderBehind) {
  fs::path kept;
  {
    testing::TempDir dir;
    kept = dir.path();
    dir.WriteFile("a.ini", "[S]\n");
    fs::create_directory(dir.path() / "locked");
    testing::TempDir::Remove(dir.path() / "nothing");  // a missing folder is no error
    std::ofstream(dir.path() / "locked" / "b.txt") << "x";
    fs::permissions(dir.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  }
  EXPECT_FALSE(fs::exists(kept));

  // A process that is gone: its folder is removed when the next scratch folder is made.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  const fs::path orphan =
      fs::temp_directory_path() / ("quaderix-test-" + std::to_string(child) + "-abcdef");
  fs::create_directories(orphan / "inner");
  testing::TempDir next;
  EXPECT_FALSE(fs::exists(orphan));
  EXPECT_TRUE(fs::exists(next.path()));
}

}  // namespace
}  // namespace quaderix
