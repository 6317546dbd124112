#include "config/puzzle_definition.h"

#include <limits>

#include "config/ini_reader.h"

namespace quaderix {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// Every pattern, fill position and stone type gets one placement list. Far below the
// 32-bit bound the list headers alone would exhaust memory, and on Linux an oversized
// allocation is not refused but kills the process later, so tables are capped here.
constexpr int64_t kMaxPlacementLists = int64_t{1} << 26;

// Sizes up to 2^31 each multiply past 64 bits; such products stand as the largest value,
// which every bound below refuses.
int64_t SaturatingProduct(int64_t a, int64_t b) {
  int64_t product;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<int64_t>::max() : product;
}

}  // namespace

PuzzleParameters BuiltInParameters() {
  PuzzleParameters p;
  p.useFile = 0;
  p.xSize = 5;
  p.ySize = 4;
  p.zSize = 3;
  p.edgeZone = 3;
  p.stoneCount = 12;
  p.enhancedSymetryCheck = 0;
  p.symPosCount = 4;
  p.writeEveryNSolution = 0;
  p.showLegend = 0;
  p.preCheckLevel = 2;
  p.firstPreCheckStone = 3;
  p.lastPreCheckStone = 10;
  return p;
}

PuzzleParameters ReadPuzzleParameters(const std::string& path, bool hasOutputFile) {
  if (path.empty()) return BuiltInParameters();

  IniReader ini(path);
  PuzzleParameters p;
  p.useFile = 1;
  struct Required {
    const char* section;
    const char* key;
    int32_t* field;
  };
  const Required required[] = {
      {kBlockInfo, "XSize", &p.xSize},
      {kBlockInfo, "YSize", &p.ySize},
      {kBlockInfo, "ZSize", &p.zSize},
      {kBlockInfo, "EdgeZone", &p.edgeZone},
      {kStoneInfo, "StoneCount", &p.stoneCount},
      {kSymetryInfo, "EnhancedSymetryCheck", &p.enhancedSymetryCheck},
      {kSymetryInfo, "SymetryPosCount", &p.symPosCount},
  };
  for (const Required& r : required) {
    if (!ini.ReadInt(r.section, r.key, *r.field)) {
      PuzzleParameters builtIn = BuiltInParameters();
      builtIn.missingKey = r.key;
      return builtIn;
    }
  }

  if (!hasOutputFile || !ini.ReadInt(kOutputInfo, "WriteEveryNSolution", p.writeEveryNSolution))
    p.writeEveryNSolution = 0;
  if (!ini.ReadInt(kStoneInfo, "ShowLegend", p.showLegend)) p.showLegend = 1;
  if (!ini.ReadInt(kStoneInfo, "PreCheckLevel", p.preCheckLevel)) p.preCheckLevel = 0;
  if (!ini.ReadInt(kStoneInfo, "FirstPreCheckStone", p.firstPreCheckStone))
    p.firstPreCheckStone = 1;
  if (!ini.ReadInt(kStoneInfo, "LastPreCheckStone", p.lastPreCheckStone))
    p.lastPreCheckStone = static_cast<int32_t>(static_cast<uint32_t>(p.stoneCount) - 2u);
  return p;
}

GridGeometry ComputeGeometry(const PuzzleParameters& p) {
  GridGeometry g;
  const int64_t e2 = 2 * int64_t{p.edgeZone};
  g.xStride = 1;
  g.yStride = p.xSize + e2;
  g.zStride = SaturatingProduct(g.yStride, p.ySize + e2);
  g.gridSize = SaturatingProduct(g.zStride, p.zSize + e2);
  g.cellCount = SaturatingProduct(int64_t{p.xSize} * p.ySize, p.zSize);
  return g;
}

int CheckPuzzleParameters(const PuzzleParameters& p, SetupError* error) {
  SetupError local;
  SetupError& err = error ? *error : local;
  auto fail = [&](SetupErrorCode code, std::string text) {
    err.Set(code, std::move(text));
    return 0;
  };
  struct Minimum {
    const char* key;
    int32_t value;
  };
  const Minimum minimums[] = {{"XSize", p.xSize},
                              {"YSize", p.ySize},
                              {"ZSize", p.zSize},
                              {"EdgeZone", p.edgeZone},
                              {"StoneCount", p.stoneCount}};
  for (const Minimum& m : minimums) {
    if (m.value < 1)
      return fail(SetupErrorCode::kBadValue, std::string(m.key) + " is " + std::to_string(m.value) +
                                                 " but must be at least 1");
  }
  if (p.symPosCount < 0 || p.symPosCount > 7)
    return fail(SetupErrorCode::kBadValue, "SymetryPosCount is " + std::to_string(p.symPosCount) +
                                               " but must lie between 0 and 7");
  // All factors are at least 1 here; products beyond 64 bits saturate.
  GridGeometry g = ComputeGeometry(p);
  if (g.zStride > kInt32Max || g.gridSize > kInt32Max || g.cellCount > kInt32Max)
    return fail(SetupErrorCode::kTooLarge,
                "the block " + std::to_string(p.xSize) + "*" + std::to_string(p.ySize) + "*" +
                    std::to_string(p.zSize) + " with EdgeZone " + std::to_string(p.edgeZone) +
                    " is too large: its grid does not fit in 32 bits");
  // cellCount is below 2^31 here; dividing keeps the product with stoneCount from overflowing.
  if (g.cellCount * 64 > kMaxPlacementLists / p.stoneCount)
    return fail(SetupErrorCode::kTooLarge,
                "the placement tables for " + std::to_string(g.cellCount) + " cells and " +
                    std::to_string(p.stoneCount) + " stones would need too much memory");
  err.Clear();
  return 1;
}

PuzzleSummary ReadPuzzleSummary(const std::string& path) {
  IniReader ini(path);
  PuzzleSummary s;
  if (!ini.ReadInt(kStoneInfo, "StoneCount", s.jobCount)) s.jobCount = 12;
  ini.ReadInt(kBlockInfo, "XSize", s.xSize);
  ini.ReadInt(kBlockInfo, "YSize", s.ySize);
  ini.ReadInt(kBlockInfo, "ZSize", s.zSize);
  ini.ReadInt(kStoneInfo, "StoneCount", s.stoneCount);
  ini.ReadInt(kSymetryInfo, "SymetryPosCount", s.symPosCount);
  ini.ReadInt(kOutputInfo, "WriteEveryNSolution", s.writeEveryNSolution);
  return s;
}

}  // namespace quaderix
