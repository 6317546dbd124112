#include "run/checkpoint.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_files.h"

namespace quaderix {
namespace {

using testing::TempDir;

Checkpoint Sample() {
  Checkpoint cp;
  cp.puzzleFingerprint = Fingerprint("[BlockInfo]\nXSize=3\n");
  cp.puzzleSize = 20;
  cp.outputBase = "my run";  // a blank inside the name
  cp.writeEveryNSolution = 1000;
  cp.elapsedMs = 123456789012ULL;
  cp.jobs.resize(3);
  cp.jobs[1].cut = true;
  cp.jobs[1].probedSize = 1234.5;
  // A finished unit, a packing found while cutting, and a unit still to run; shares
  // such as 1/3 must come back exactly.
  cp.jobs[1].units = {{{{1, 0}, {3, 7}}, false, 5000000000LL, 77, 1.0 / 3},
                      {{{1, 0}, {4, 2}, {2, 9}}, true, 1, 0, 0},
                      {{{1, 1}}, false, -1, 0, 2.0 / 3}};
  cp.jobs[1].committedLength = 987;
  cp.jobs[2].cut = true;
  cp.jobs[2].units = {{{}, false, -1, 0, 1.0}};
  return cp;
}

bool SameCheckpoint(const Checkpoint& a, const Checkpoint& b) {
  if (a.puzzleFingerprint != b.puzzleFingerprint || a.puzzleSize != b.puzzleSize ||
      a.outputBase != b.outputBase || a.writeEveryNSolution != b.writeEveryNSolution ||
      a.elapsedMs != b.elapsedMs || a.jobs.size() != b.jobs.size())
    return false;
  for (size_t i = 0; i < a.jobs.size(); ++i) {
    if (a.jobs[i].cut != b.jobs[i].cut || a.jobs[i].probedSize != b.jobs[i].probedSize ||
        a.jobs[i].units != b.jobs[i].units ||
        a.jobs[i].committedLength != b.jobs[i].committedLength)
      return false;
  }
  return true;
}

TEST(Checkpoint, ReadsBackWhatItWrote) {
  const std::string text = SerializeCheckpoint(Sample());
  Checkpoint back;
  std::string error;
  ASSERT_TRUE(ParseCheckpoint(text, &back, &error)) << error;
  EXPECT_TRUE(SameCheckpoint(back, Sample()));
  EXPECT_EQ(back.jobs[1].FinishedSolutions(), 5000000001ULL);
  EXPECT_EQ(back.jobs[1].FinishedUnits(), 2);
}

// A crash can leave any prefix of a file that was written in place; every one of them,
// and every single changed byte, must be refused rather than half believed.
TEST(Checkpoint, RefusesEveryCutAndEveryAlteredByte) {
  const std::string text = SerializeCheckpoint(Sample());
  Checkpoint back;
  std::string error;
  for (size_t n = 0; n < text.size(); ++n) {
    EXPECT_FALSE(ParseCheckpoint(text.substr(0, n), &back, &error)) << "cut at " << n;
    std::string altered = text;
    altered[n] = static_cast<char>(altered[n] ^ 0x01);
    EXPECT_FALSE(ParseCheckpoint(altered, &back, &error)) << "byte " << n;
    EXPECT_NE(error.find("damaged"), std::string::npos);
  }
}

TEST(Checkpoint, SaysWhatDiffers) {
  const Checkpoint cp = Sample();
  struct Case {
    uint64_t fingerprint, size;
    std::string base;
    int32_t every;
    std::string word;  // "" when it matches
  } cases[] = {
      {cp.puzzleFingerprint, 20, "my run", 1000, ""},
      {cp.puzzleFingerprint + 1, 20, "my run", 1000, "another puzzle"},
      {cp.puzzleFingerprint, 21, "my run", 1000, "another puzzle"},
      {cp.puzzleFingerprint, 20, "other", 1000, "output base"},
      {cp.puzzleFingerprint, 20, "my run", 1, "WriteEveryNSolution=1000"},
  };
  for (const Case& c : cases) {
    const std::string why = CheckpointMismatch(cp, c.fingerprint, c.size, c.base, c.every);
    if (c.word.empty()) {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.word), std::string::npos) << why;
    }
  }
}

TEST(Checkpoint, WritesWholeFilesAndCutsOutputsBack) {
  TempDir dir;
  const std::string path = dir.PathOf("run.checkpoint");
  std::string error, bytes;
  ASSERT_TRUE(WriteFileAtomically(path, "first", &error)) << error;
  ASSERT_TRUE(WriteFileAtomically(path, "second", &error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, &bytes, &error));
  EXPECT_EQ(bytes, "second");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));

  Checkpoint cp = Sample();
  cp.jobs[0].committedLength = 0;
  cp.jobs[1].committedLength = 4;
  const std::string job1 = dir.WriteFile("out_01.txt", "abcdefgh");
  // Job 0's file never came to exist; a file too short for its checkpoint is refused
  // before anything is cut.
  const std::string job2 = dir.WriteFile("out_02.txt", "xy");
  cp.jobs[2].committedLength = 3;
  const std::vector<std::string> paths = {dir.PathOf("out_00.txt"), job1, job2};
  EXPECT_FALSE(CutOutputFilesBack(cp, paths, &error));
  EXPECT_NE(error.find("shorter"), std::string::npos);
  ASSERT_TRUE(ReadWholeFile(job1, &bytes, &error));
  EXPECT_EQ(bytes, "abcdefgh");

  cp.jobs[2].committedLength = 1;
  ASSERT_TRUE(CutOutputFilesBack(cp, paths, &error)) << error;
  ASSERT_TRUE(ReadWholeFile(job1, &bytes, &error));
  EXPECT_EQ(bytes, "abcd");
  ASSERT_TRUE(ReadWholeFile(job2, &bytes, &error));
  EXPECT_EQ(bytes, "x");
}

}  // namespace
}  // namespace quaderix
