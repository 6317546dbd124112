#include "run/solver_engine.h"

#include "solver/puzzle_solver.h"
#include "solver/search_model.h"

namespace quaderix {
namespace {

// One worker's solver, set up afresh for every unit from the shared model; only the
// worker that owns it calls it.
class SolverUnitSearch : public UnitSearch {
 public:
  explicit SolverUnitSearch(std::shared_ptr<const SearchModel> model)
      : model_(std::move(model)), solver_(-1, -1, "", "") {}

  int Begin(const WorkUnit& unit, int32_t cutDepth, UnitObserver* observer) override {
    return solver_.SetupUnit(model_, unit, cutDepth, observer);
  }
  // One Step of the solver is a bounded slice of placements.
  bool Advance() override {
    if (!solver_.finished) solver_.Step();
    return solver_.finished != 0;
  }
  uint64_t NodeCount() const override { return solver_.NodeCount(); }
  void End() override { solver_.Teardown(); }

 private:
  std::shared_ptr<const SearchModel> model_;
  PuzzleSolver solver_;
};

// The model of a run, shared read-only by every worker.
class SolverRunModel : public RunModel {
 public:
  explicit SolverRunModel(std::shared_ptr<const SearchModel> model) : model_(std::move(model)) {}

  int32_t JobCount() const override { return model_->JobCount(); }
  int32_t WriteEveryNSolution() const override { return model_->WriteEveryNSolution(); }
  std::string FormatRecord(uint64_t number, const PlacementChoice* levels,
                           int32_t depth) const override {
    return model_->FormatRecord(number, levels, depth);
  }
  std::unique_ptr<UnitSearch> NewSearch() const override {
    return std::make_unique<SolverUnitSearch>(model_);
  }

 private:
  std::shared_ptr<const SearchModel> model_;
};

}  // namespace

ModelBuilder SolverModelBuilder() {
  return [](const std::string& puzzlePath, bool withOutput,
            SetupError* error) -> std::shared_ptr<const RunModel> {
    std::shared_ptr<const SearchModel> model = SearchModel::Build(puzzlePath, withOutput, error);
    if (!model) return nullptr;
    return std::make_shared<SolverRunModel>(std::move(model));
  };
}

}  // namespace quaderix
