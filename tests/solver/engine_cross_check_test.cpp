// The search engine against the reference engine: every job's count and output file byte
// for byte, on hand-made puzzles of every kind and on generated ones; and work units: a job
// cut at some depth and run unit by unit finds the job's packings in the job's order.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "solver/cross_check_puzzles.h"
#include "solver/puzzle_solver.h"
#include "solver/reference_solver.h"
#include "solver/search_model.h"
#include "solver/solver_test_util.h"

namespace quaderix::testing {
namespace {

using Packing = std::vector<PlacementChoice>;

// Collects what a unit reports, in order: packings, and cuts (marked by a leading stone -1).
class Recorder : public UnitObserver {
 public:
  void OnSolution(const PlacementChoice* levels, int32_t depth) override {
    events.emplace_back(levels, levels + depth);
  }
  void OnCut(const PlacementChoice* levels, int32_t depth) override {
    Packing cut{{-1, 0}};
    cut.insert(cut.end(), levels, levels + depth);
    events.push_back(cut);
  }
  std::vector<Packing> events;
};

template <class Solver>
void RunToEnd(Solver& solver) {
  for (int64_t steps = 0; !solver.finished && steps < 50'000'000; ++steps) solver.Step();
  EXPECT_TRUE(solver.finished);
}

using Anchors = PuzzleSolver::Anchors;

// The packings of one unit in search order (cuts included when cutDepth > 0).
std::vector<Packing> RunUnit(const std::shared_ptr<const SearchModel>& model, const WorkUnit& unit,
                             int32_t cutDepth, Anchors anchors = Anchors::kAutomatic) {
  Recorder recorder;
  PuzzleSolver solver(unit.job, unit.job, "", "");
  solver.SetAnchors(anchors);
  EXPECT_EQ(solver.SetupUnit(model, unit, cutDepth, &recorder), 1);
  RunToEnd(solver);
  return recorder.events;
}

// The job's packings gathered from a cut at `cutDepth`: the cut pass's own packings as they
// come, and each cut replaced by the packings of its unit.
std::vector<Packing> RunByUnits(const std::shared_ptr<const SearchModel>& model, int32_t job,
                                int32_t cutDepth, Anchors anchors) {
  std::vector<Packing> out;
  for (const Packing& event : RunUnit(model, {job, {}}, cutDepth, anchors)) {
    if (event.empty() || event[0].stone != -1) {
      out.push_back(event);
      continue;
    }
    EXPECT_EQ(static_cast<int32_t>(event.size()) - 1, cutDepth);
    for (const Packing& p :
         RunUnit(model, {job, Packing(event.begin() + 1, event.end())}, 0, anchors))
      out.push_back(p);
  }
  return out;
}

// Runs every job with both engines, writing every `rate`-th record, and compares the counts
// and files; then, for a few cut depths, that the units of each job give the job's
// packings, whose records are again the reference file's. The search engine runs with its
// own choice of anchor stones and with every stone that may be one. Returns the total
// count.
uint64_t CompareEngines(const TempDir& dir, PuzzleDescription puzzle, int rate, bool units) {
  puzzle.writeEveryNSolution = rate;
  const std::string path = dir.WriteFile("puzzle.ini", ToIni(puzzle));
  SetupError error;
  const std::shared_ptr<const SearchModel> model = SearchModel::Build(path, true, &error);
  EXPECT_NE(model, nullptr) << error.message;
  if (!model) return 0;
  uint64_t total = 0;
  for (int job = 0; job < puzzle.StoneCount(); ++job) {
    SCOPED_TRACE("job " + std::to_string(job));
    const std::string refFile = dir.PathOf("reference.txt");
    const std::string newFile = dir.PathOf("new.txt");
    ReferenceSolver reference(job, job, path, refFile);
    EXPECT_EQ(reference.Setup(job, job, path, refFile), 1) << reference.setupError.message;
    RunToEnd(reference);
    const std::string expected = ReadFileBytes(refFile);
    total += reference.SolutionCount();
    // The last pass keeps at most two packings' pieces per anchored node, so that larger
    // nodes are searched again without anchors.
    const size_t buffers[] = {PuzzleSolver::kMaxBufferedPieces, PuzzleSolver::kMaxBufferedPieces,
                              2 * static_cast<size_t>(model->TotalStones())};
    for (int pass = 0; pass < 3; ++pass) {
      const Anchors anchors = pass == 0 ? Anchors::kAutomatic : Anchors::kEvery;
      SCOPED_TRACE("anchor pass " + std::to_string(pass));
      PuzzleSolver solver(job, job, path, newFile);
      solver.SetAnchors(anchors, buffers[pass]);
      EXPECT_EQ(solver.Setup(job, job, path, newFile), 1) << solver.setupError.message;
      RunToEnd(solver);
      EXPECT_EQ(solver.SolutionCount(), reference.SolutionCount());
      EXPECT_EQ(ReadFileBytes(newFile), expected);
      if (!units || pass == 2) continue;
      const std::vector<Packing> whole = RunUnit(model, {job, {}}, 0, anchors);
      EXPECT_EQ(whole.size(), reference.SolutionCount());
      std::string records;
      for (size_t i = 0; i < whole.size(); ++i) {
        if (i == 0 || (i + 1) % static_cast<size_t>(rate) == 0)
          records +=
              model->FormatRecord(i + 1, whole[i].data(), static_cast<int32_t>(whole[i].size()));
      }
      EXPECT_EQ(records, expected);
      for (int32_t cut = 1; cut <= 3; ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        EXPECT_EQ(RunByUnits(model, job, cut, anchors), whole);
      }
    }
  }
  return total;
}

// More kinds than the shared set: the check from the first level on, seven symmetry
// positions, a large block of few cells, blocks over one and over eight mask words, and
// levels past 100.
std::vector<NamedPuzzle> EnginePuzzles() {
  std::vector<NamedPuzzle> out = CrossCheckPuzzles();
  for (NamedPuzzle& named : out) {
    if (named.puzzle.firstPreCheckStone) named.puzzle.firstPreCheckStone = 0;
  }
  out.push_back(
      {"SevenCorners",
       {.xSize = 2,
        .ySize = 2,
        .zSize = 2,
        .stones = {{kMonocube},
                   {kDomino},
                   {kMonocube},
                   {kMonocube},
                   {kMonocube},
                   {kMonocube},
                   {kMonocube}},
        .symPositions = {
            {0, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}});
  // A tripod around (1,1,1) covers three positions in one row, which the count test
  // counts as one claim, so it refuses some packings that the symmetry rule keeps. The
  // anchored search, which leaves that test to the replay, must refuse them too.
  out.push_back({"TripodOnThreePositions",
                 {.xSize = 3,
                  .ySize = 2,
                  .zSize = 2,
                  .stones = {{kTripod}, {kTripod}, {kDomino}, {kDomino}},
                  .symPositions = {{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}}}});
  // In the job of the domino, the far end may take its second copy and no lower stone:
  // the cover check must count the first stone's own type among those allowed there.
  out.push_back({"SecondCopyOnTheFarEnd",
                 {.xSize = 7,
                  .ySize = 1,
                  .zSize = 1,
                  .stones = {{kMonocube}, {kMonocube}, {kDomino, 2}, {kMonocube}},
                  .symPositions = {{0, 0, 0}, {6, 0, 0}}}});
  out.push_back({"TwoWordsPreCheck",
                 {.xSize = 5,
                  .ySize = 4,
                  .zSize = 4,
                  .stones = {{kTetraL, 1}, {kMonocube, 76}},
                  .symPositions = {{0, 0, 0}, {4, 3, 0}},
                  .preCheckLevel = 1,
                  .firstPreCheckStone = 2,
                  .lastPreCheckStone = 60}});
  // More than 64 block positions but few cells, which the stones fill: the cover check
  // finds the cells next to a stone by the fill-order masks instead of block-order shifts.
  PuzzleDescription wide{.xSize = 9,
                         .ySize = 8,
                         .zSize = 1,
                         .stones = {{kTetraL, 4}, {kTetraSquare, 1}},
                         .symPositions = {{0, 0, 0}}};
  for (int x = 0; x < wide.xSize; ++x)
    for (int y = 0; y < wide.ySize; ++y) wide.SetKey(x, y, 0, x < 4 && y < 5 ? 1 : 0);
  out.push_back({"WideBlockFewCells", wide});
  // Filled across a long box: a state and its images under the flips of the cross-section
  // share one entry of the table of dead states. A chiral stone has no mirror image, and the
  // pre-check refuses by the order of the levels: neither may use the images.
  const std::vector<Coord> tetraT = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 1, 0}};
  const std::vector<Coord> tetraS = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}};
  const std::vector<Coord> tetraI = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}};
  const std::vector<Coord> screw = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
  PuzzleDescription across{
      .xSize = 6,
      .ySize = 2,
      .zSize = 2,
      .stones = {{kTetraL}, {kTetraSquare}, {tetraT}, {tetraS}, {tetraI}, {kTripod}}};
  out.push_back({"AcrossALongBox", across});
  across.stones[4] = {screw};
  out.push_back({"AcrossALongBoxChiral", across});
  out.push_back({"AcrossALongBoxPreCheck",
                 {.xSize = 4,
                  .ySize = 2,
                  .zSize = 2,
                  .stones = {{kMonocube}, {kDomino}, {kTriLine}, {kTriBend}, {kTriBend}, {kTetraL}},
                  .preCheckLevel = 1}});
  out.push_back({"NineWords",
                 {.xSize = 9,
                  .ySize = 8,
                  .zSize = 8,
                  .stones = {{kTriLine, 1}, {kMonocube, 573}},
                  .symPositions = {{0, 0, 0}, {8, 7, 7}}}});
  return out;
}

TEST(EngineCrossCheck, EveryJobAndFileMatchesTheReference) {
  TempDir dir;
  for (const NamedPuzzle& named : EnginePuzzles()) {
    SCOPED_TRACE(named.name);
    const bool big = named.name == "SomaCube" || named.name == "NineWords";
    EXPECT_GT(CompareEngines(dir, named.puzzle, big ? 97 : 1, !big), 0u);
  }
}

// A random small puzzle: a block of up to 12 cells with holes and random order keys,
// stones of 1 to 4 cubes with 0 to 3 copies and at most the block's volume in all, often
// monocubes for the rest, symmetry positions on the first cell and random others, the
// check and the legend on or off.
PuzzleDescription RandomPuzzle(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  PuzzleDescription p{.xSize = pick(1, 3), .ySize = pick(1, 3), .zSize = pick(1, 2)};
  std::vector<Coord> cells;
  for (int x = 0; x < p.xSize; ++x)
    for (int y = 0; y < p.ySize; ++y)
      for (int z = 0; z < p.zSize; ++z) {
        const int key = pick(0, 9) == 0 ? 0 : pick(1, 3);
        p.SetKey(x, y, z, key);
        if (key > 0) cells.push_back({x, y, z});
      }
  int volume = static_cast<int>(cells.size());
  const int types = pick(1, 4);
  for (int t = 0; t < types; ++t) {
    std::vector<Coord> cubes{{0, 0, 0}};
    const int size = pick(1, 4);
    while (static_cast<int>(cubes.size()) < size) {
      Coord c = cubes[pick(0, static_cast<int>(cubes.size()) - 1)];
      c[pick(0, 2)] += pick(0, 1) ? 1 : -1;
      if (std::find(cubes.begin(), cubes.end(), c) == cubes.end()) cubes.push_back(c);
    }
    // Now and then a stone in two pieces: a cube one step further out leaves a gap.
    if (size >= 2 && pick(0, 4) == 0) {
      Coord c = cubes.back();
      c[0] += 1;
      if (std::find(cubes.begin(), cubes.end(), c) == cubes.end()) cubes.back() = c;
      p.edgeZone = 5;  // the gap makes the stone one cell longer
    }
    for (int axis = 0; axis < 3; ++axis) {
      int low = 0;
      for (const Coord& c : cubes) low = std::min(low, c[axis]);
      for (Coord& c : cubes) c[axis] -= low;
    }
    const int copies = std::min(pick(0, 3), volume / size);
    volume -= copies * size;
    p.stones.push_back({cubes, copies});
  }
  // Monocubes filling the rest make packings common.
  if (pick(0, 1)) p.stones.push_back({kMonocube, volume});
  if (!cells.empty() && pick(0, 2) > 0) {
    // The first cell of the fill order: the lowest key, the first in scan order among equals.
    Coord first = cells[0];
    for (const Coord& c : cells)
      if (p.KeyOf(c[0], c[1], c[2]) < p.KeyOf(first[0], first[1], first[2])) first = c;
    p.symPositions.push_back(first);
    std::shuffle(cells.begin(), cells.end(), rng);
    const int more = pick(0, 6);
    for (const Coord& c : cells)
      if (c != first && static_cast<int>(p.symPositions.size()) <= more)
        p.symPositions.push_back(c);
  }
  if (pick(0, 1)) {
    p.preCheckLevel = pick(1, 2);
    p.firstPreCheckStone = pick(0, 2);
    p.lastPreCheckStone = pick(1, 8);
  }
  p.showLegend = pick(0, 1);
  return p;
}

TEST(EngineCrossCheck, GeneratedPuzzlesMatchTheReference) {
  TempDir dir;
  std::mt19937 rng(20261207);
  uint64_t total = 0;
  for (int i = 0; i < 300; ++i) {
    const PuzzleDescription puzzle = RandomPuzzle(rng);
    SCOPED_TRACE("puzzle " + std::to_string(i) + ":\n" + ToIni(puzzle));
    total += CompareEngines(dir, puzzle, 1 + i % 3, i % 10 == 0);
    if (HasFailure()) break;
  }
  EXPECT_GT(total, 300u);  // the generated puzzles must have packings to compare
}

// A worker runs all its units on one solver. Every job of the engine's puzzles and of
// three more, each model built once and met twice (forward, then backward): the states
// the solver keeps from one job or model to the next must not change what a fresh solver
// finds. Three bars and a tripod never pack a 4x2x2 box, four bars do, with the same keys;
// in the line of dominoes, stones 0, 2 and 3 down leave 1 for the far end, which the first
// stone 2 forbids and 0 allows.
TEST(EngineUnits, OneSolverForEveryJobFindsWhatFreshSolversFind) {
  TempDir dir;
  const std::vector<Coord> bar = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}};
  std::vector<NamedPuzzle> puzzles = EnginePuzzles();
  puzzles.push_back(
      {"BarsAndATripod",
       {.xSize = 4, .ySize = 2, .zSize = 2, .stones = {{bar}, {bar}, {bar}, {kTripod}}}});
  puzzles.push_back(
      {"FourBars", {.xSize = 4, .ySize = 2, .zSize = 2, .stones = {{bar}, {bar}, {bar}, {bar}}}});
  puzzles.push_back({"LineOfDominoes",
                     {.xSize = 8,
                      .ySize = 1,
                      .zSize = 1,
                      .stones = {{kDomino}, {kDomino}, {kDomino}, {kDomino}},
                      .symPositions = {{0, 0, 0}, {7, 0, 0}}}});
  std::vector<std::shared_ptr<const SearchModel>> models;
  for (const NamedPuzzle& named : puzzles) {
    if (named.name == "SomaCube" || named.name == "NineWords") continue;  // big ones
    const std::string path = dir.WriteFile(named.name + ".ini", ToIni(named.puzzle));
    models.push_back(SearchModel::Build(path, false, nullptr));
    ASSERT_NE(models.back(), nullptr) << named.name;
  }
  std::vector<size_t> order;
  for (size_t i = 0; i < models.size(); ++i) order.push_back(i);
  order.insert(order.end(), order.rbegin(), order.rend());
  PuzzleSolver solver(-1, -1, "", "");
  solver.SetAnchors(Anchors::kNone);  // anchors turn the table of dead states off
  for (const size_t i : order) {
    for (int32_t job = 0; job < models[i]->JobCount(); ++job) {
      SCOPED_TRACE("puzzle " + std::to_string(i) + ", job " + std::to_string(job));
      Recorder recorder;
      ASSERT_EQ(solver.SetupUnit(models[i], {job, {}}, 0, &recorder), 1);
      RunToEnd(solver);
      EXPECT_EQ(recorder.events, RunUnit(models[i], {job, {}}, 0, Anchors::kNone));
    }
  }
}

TEST(EngineUnits, PrefixesOffTheSearchFindNothing) {
  TempDir dir;
  const std::string path = dir.WriteFile("puzzle.ini", ToIni(CrossCheckPuzzles()[0].puzzle));
  const std::shared_ptr<const SearchModel> model = SearchModel::Build(path, false, nullptr);
  ASSERT_NE(model, nullptr);
  const Packing valid = RunUnit(model, {0, {}}, 0).at(0);
  ASSERT_GE(valid.size(), 2u);
  // A wrong first stone, a row beyond the list, a stone where the search has none left,
  // a job beyond the stones, and a path longer than a packing.
  Packing wrongRow = valid;
  wrongRow[1].placement = 10'000;
  Packing longer = valid;
  longer.push_back(valid[1]);
  const std::vector<WorkUnit> invalid = {
      {1, {valid[0]}}, {0, wrongRow}, {0, {valid[0], valid[0]}}, {99, {}}, {0, longer}};
  for (const WorkUnit& unit : invalid) EXPECT_TRUE(RunUnit(model, unit, 0).empty());
  // The packing itself as a prefix is a unit holding just that packing.
  EXPECT_EQ(RunUnit(model, {0, valid}, 0), std::vector<Packing>{valid});
}

}  // namespace
}  // namespace quaderix::testing
