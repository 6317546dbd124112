#pragma once

// A model for the run layer's tests: every job is a fixed pseudo-random tree of `depth`
// levels whose leaves are packings when their hash says so. Its unit search walks the
// tree depth first one node per step, as the solver does, so cuts, units, pauses and
// counts behave as with a real puzzle, in microseconds. SerialRecords gives what one
// thread searching a job alone would count and write. Shared read-only by the workers;
// each search belongs to one worker.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "run/unit_engine.h"

namespace quaderix::testing {

class TreeModel : public RunModel {
 public:
  TreeModel(int32_t jobs, int32_t depth, int32_t everyN, uint32_t seed = 1)
      : jobs_(jobs), depth_(depth), everyN_(everyN), seed_(seed) {}

  int32_t JobCount() const override { return jobs_; }
  int32_t WriteEveryNSolution() const override { return everyN_; }
  std::string FormatRecord(uint64_t number, const PlacementChoice* levels,
                           int32_t depth) const override {
    std::string out = "Solution : " + std::to_string(number) + "\r\n";
    for (int32_t i = 0; i < depth; ++i) {
      out += std::to_string(levels[i].stone) + "." + std::to_string(levels[i].placement) + " ";
    }
    return out + "\r\n\r\n";
  }
  std::unique_ptr<UnitSearch> NewSearch() const override;

  // Children of the node at `path` below job `job`: from 1 to 3 near the top, so that
  // every job is big enough to cut, then 0 to 4.
  int32_t Degree(int32_t job, const std::vector<PlacementChoice>& path) const {
    if (job < 0 || job >= jobs_ || job == emptyJob) return 0;
    const uint32_t h = Hash(job, path);
    return path.size() < 3 ? 1 + static_cast<int32_t>(h % 3) : static_cast<int32_t>(h % 5);
  }
  bool IsPacking(int32_t job, const std::vector<PlacementChoice>& path) const {
    return static_cast<int32_t>(path.size()) == depth_ && Hash(job, path) % 3 != 0;
  }
  int32_t depth() const { return depth_; }

  // The serial search of one job: its count and its output file's bytes.
  std::pair<uint64_t, std::string> SerialRecords(int32_t job) const;

  // A job whose tree is empty, as a job beyond the symmetry positions' bound is.
  int32_t emptyJob = -1;
  // Steps of one slice of a search.
  int32_t sliceSteps = 64;
  // Made slow, a search lets a test act while units run; every step counts here.
  std::atomic<int64_t> stepDelayUs{0};
  mutable std::atomic<uint64_t> steps{0};

 private:
  uint32_t Hash(int32_t job, const std::vector<PlacementChoice>& path) const {
    uint32_t h = 2166136261u ^ seed_;
    auto mix = [&h](uint32_t v) { h = (h ^ v) * 16777619u; };
    mix(static_cast<uint32_t>(job));
    for (const PlacementChoice& c : path) mix(static_cast<uint32_t>(c.placement) * 7 + 1);
    return h ^ (h >> 13);
  }

  int32_t jobs_;
  int32_t depth_;
  int32_t everyN_;
  uint32_t seed_;
};

class TreeSearch : public UnitSearch {
 public:
  explicit TreeSearch(const TreeModel& model) : model_(model) {}

  int Begin(const WorkUnit& unit, int32_t cutDepth, UnitObserver* observer) override {
    job_ = unit.job;
    path_ = unit.prefix;
    base_ = path_.size();
    cutDepth_ = cutDepth;
    observer_ = observer;
    nodes_ = 0;
    next_.clear();
    done_ = !Enter();
    if (!done_) next_.push_back(0);
    return 1;
  }
  bool Advance() override {
    for (int32_t steps = model_.sliceSteps; steps > 0 && !done_; --steps) {
      if (const int64_t us = model_.stepDelayUs.load(); us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
      model_.steps.fetch_add(1, std::memory_order_relaxed);
      int32_t& k = next_.back();
      if (k < model_.Degree(job_, path_)) {
        path_.push_back({static_cast<int32_t>(path_.size()) == 0 ? job_ : 0, k});
        ++k;
        ++nodes_;
        if (Enter()) {
          next_.push_back(0);
        } else {
          path_.pop_back();
        }
      } else if (path_.size() == base_) {
        done_ = true;
      } else {
        path_.pop_back();
        next_.pop_back();
      }
    }
    return done_;
  }
  uint64_t NodeCount() const override { return nodes_; }
  void End() override { observer_ = nullptr; }

 private:
  // Reports the node now at path_; true when it is to be searched further.
  bool Enter() {
    const int32_t d = static_cast<int32_t>(path_.size());
    if (d == model_.depth()) {
      if (model_.IsPacking(job_, path_)) observer_->OnSolution(path_.data(), d);
      return false;
    }
    if (cutDepth_ > 0 && d == cutDepth_) {
      observer_->OnCut(path_.data(), d);
      return false;
    }
    return true;
  }

  const TreeModel& model_;
  int32_t job_ = 0;
  std::vector<PlacementChoice> path_;
  size_t base_ = 0;
  int32_t cutDepth_ = 0;
  UnitObserver* observer_ = nullptr;
  std::vector<int32_t> next_;
  uint64_t nodes_ = 0;
  bool done_ = true;
};

inline std::unique_ptr<UnitSearch> TreeModel::NewSearch() const {
  return std::make_unique<TreeSearch>(*this);
}

inline std::pair<uint64_t, std::string> TreeModel::SerialRecords(int32_t job) const {
  struct Collect : UnitObserver {
    void OnSolution(const PlacementChoice* levels, int32_t depth) override {
      ++count;
      if (everyN > 0 && (count == 1 || count % static_cast<uint64_t>(everyN) == 0))
        text += model->FormatRecord(count, levels, depth);
    }
    const TreeModel* model = nullptr;
    int32_t everyN = 0;
    uint64_t count = 0;
    std::string text;
  } collect;
  collect.model = this;
  collect.everyN = everyN_;
  TreeSearch search(*this);
  search.Begin(WorkUnit{job, {}}, 0, &collect);
  while (!search.Advance()) {
  }
  return {collect.count, collect.text};
}

}  // namespace quaderix::testing
