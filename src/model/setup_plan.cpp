#include "model/setup_plan.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>

#include "config/ini_reader.h"
#include "model/symmetry_analysis.h"

namespace quaderix {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

int64_t Mul(int64_t a, int64_t b) {
  int64_t r;
  return __builtin_mul_overflow(a, b, &r) ? kInt64Max : r;
}

int64_t Add(int64_t a, int64_t b) {
  int64_t r;
  return __builtin_add_overflow(a, b, &r) ? kInt64Max : r;
}

std::string Megabytes(int64_t bytes) {
  const int64_t mb = bytes / (1024 * 1024) + (bytes % (1024 * 1024) != 0 ? 1 : 0);
  return std::to_string(mb) + " MB";
}

}  // namespace

int64_t EstimateSetupBytes(const PuzzleParameters& p, const std::vector<StoneDefinition>& stones) {
  const GridGeometry g = ComputeGeometry(p);
  const int64_t volume = g.cellCount;
  int64_t bytes = Mul(g.gridSize, sizeof(int32_t) + 1);  // grid and the symmetry mask
  bytes = Add(bytes, Mul(volume, 3 * sizeof(int32_t)));  // fill order and its sort keys
  bytes = Add(bytes, Mul(Mul(Mul(volume, p.stoneCount), kPatternCount), sizeof(PlacementList)));
  // An orientation whose bounding box spans e cells along an axis fits in S - e + 1
  // places along it; each of its n anchors gives one row of n offsets for some cell.
  const int64_t size[3] = {p.xSize, p.ySize, p.zSize};
  int64_t rowBytes = 0;
  for (const StoneDefinition& stone : stones) {
    const int64_t n = stone.cubeCount;
    for (const std::array<int64_t, 3>& span : OrientationSpans(stone)) {
      int64_t places = 1;
      for (int32_t i = 0; i < 3; ++i)
        places = Mul(places, std::max<int64_t>(0, size[i] - span[i] + 1));
      rowBytes = Add(rowBytes, Mul(places, n * n * int64_t{sizeof(int32_t)}));
    }
  }
  return Add(bytes, rowBytes);
}

int64_t AvailableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    long long kb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %lld kB", &kb) == 1) return Mul(kb, 1024);
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages < 0 || pageSize < 0) return -1;
  return Mul(pages, pageSize);
}

int CheckMemoryFits(int64_t jobBytes, int64_t jobs, int64_t available, SetupError* error) {
  const int64_t needed = Mul(jobBytes, std::max<int64_t>(jobs, 1));
  if (available < 0 || needed <= available) return 1;
  if (error) {
    std::string text = "its tables would need about " + Megabytes(jobBytes) + " or more";
    if (jobs > 1) text += " for each of " + std::to_string(jobs) + " jobs running at once";
    error->Set(SetupErrorCode::kTooLarge,
               text + ", but only " + Megabytes(available) + " of memory are available");
  }
  return 0;
}

int CheckEdgeZone(int32_t edgeZone, const std::vector<StoneDefinition>& stones, SetupError* error) {
  for (const StoneDefinition& stone : stones) {
    const int64_t extent = StoneExtent(stone);
    if (extent > edgeZone) {
      if (error)
        error->Set(SetupErrorCode::kEdgeZoneTooNarrow,
                   "EdgeZone is " + std::to_string(edgeZone) + " but " + stone.key + " spans " +
                       std::to_string(extent + 1) +
                       " cells along one axis, so EdgeZone must be at least " +
                       std::to_string(extent));
      return 0;
    }
  }
  return 1;
}

int PlanSetup(const std::string& path, int64_t jobsAtOnce, PuzzleModel& model, SetupPlan& plan,
              SetupError* error) {
  SetupError local;
  SetupError& err = error ? *error : local;
  err.Clear();
  plan = SetupPlan{};
  plan.params = ReadPuzzleParameters(path, false);
  const PuzzleParameters& p = plan.params;
  if (!CheckPuzzleParameters(p, &err)) return 0;
  if (p.useFile) {
    if (!ReadStones(IniReader(path), p.stoneCount, plan.stones, &err)) return 0;
  } else {
    plan.stones = BuiltInStones();
  }
  int64_t total = 0;
  for (const StoneDefinition& stone : plan.stones) total += stone.copies;
  if (total > std::numeric_limits<int32_t>::max() || total < std::numeric_limits<int32_t>::min()) {
    err.Set(SetupErrorCode::kBadValue,
            "the copies of all stones add up to " + std::to_string(total) + ", too many");
    return 0;
  }
  if (!CheckEdgeZone(p.edgeZone, plan.stones, &err)) return 0;
  plan.jobBytes = EstimateSetupBytes(p, plan.stones);
  if (!CheckMemoryFits(plan.jobBytes, jobsAtOnce, AvailableMemoryBytes(), &err)) return 0;

  model.SetGeometry(path, p);
  if (!model.ReadBlock() || !model.ReadSymmetry() || !model.ResetBlockCells()) {
    err = model.setupError;
    return 0;
  }
  model.stones = plan.stones;
  return 1;
}

}  // namespace quaderix
