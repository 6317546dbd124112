#include "model/stone_set.h"

#include <algorithm>
#include <cstdio>

#include "config/puzzle_definition.h"

namespace quaderix {
namespace {

struct BuiltInShape {
  int32_t count;
  Cube cubes[6];
};

constexpr BuiltInShape kBuiltInShapes[12] = {
    {5, {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 2, 0}, {2, 1, 0}}},             // plus
    {5, {{1, 0, 0}, {1, 1, 0}, {0, 2, 0}, {1, 2, 0}, {2, 2, 0}}},             // T
    {5, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 2, 0}, {2, 2, 0}}},             // Z
    {5, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}, {2, 2, 0}}},             // W
    {5, {{0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {1, 2, 0}}},             // Y
    {5, {{1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 1, 0}, {2, 1, 0}}},             // F
    {4, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 1}}},                        // chiral four
    {5, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 2, 0}}},             // U
    {5, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 2, 0}, {1, 3, 0}}},             // L
    {6, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 2, 0}, {0, 3, 0}}},  // six
    {5, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 1}}},             // not flat
    {5, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 2, 0}}},             // P
};

}  // namespace

std::vector<StoneDefinition> BuiltInStones() {
  std::vector<StoneDefinition> stones(12);
  for (int32_t k = 0; k < 12; ++k) {
    stones[k].key = "built-in stone " + std::to_string(k);
    stones[k].copies = 1;
    stones[k].cubeCount = kBuiltInShapes[k].count;
    std::copy_n(kBuiltInShapes[k].cubes, kBuiltInShapes[k].count, stones[k].cubes.begin());
  }
  return stones;
}

std::string StoneKey(int32_t number) {
  char key[32];
  std::snprintf(key, sizeof key, "Stone_%02d", number);
  return key;
}

int ReadStone(const IniReader& ini, const std::string& section, const std::string& key,
              StoneDefinition& out, SetupError* error) {
  IntArray list;
  if (!ini.ReadIntList(section, key, list)) {
    if (error) error->Set(SetupErrorCode::kMissingStone, "missing stone " + key);
    return 0;
  }
  const int32_t size = list.size();
  const int32_t n = size >= 2 ? list[1] : -1;
  if (size < 5 || size > 3 * kMaxStoneCubes + 2 || n < 1 || n > kMaxStoneCubes ||
      size != 3 * n + 2) {
    if (error) {
      std::string text = key + " has " + std::to_string(size) + " values but ";
      if (n >= 1 && n <= kMaxStoneCubes) {
        text += "3*" + std::to_string(n) + " + 2 = " + std::to_string(3 * n + 2) + " are needed";
      } else {
        text += "its cube count " + (size >= 2 ? std::to_string(n) : std::string("(none)")) +
                " must lie between 1 and " + std::to_string(kMaxStoneCubes);
      }
      error->Set(SetupErrorCode::kStoneLength, text);
    }
    return 0;
  }
  out.key = key;
  out.copies = list[0];
  out.cubeCount = n;
  for (int32_t j = 0; j < n; ++j) {
    out.cubes[j] = {list[2 + 3 * j], list[3 + 3 * j], list[4 + 3 * j]};
  }
  return 1;
}

int ReadStones(const IniReader& ini, int32_t stoneCount, std::vector<StoneDefinition>& out,
               SetupError* error) {
  auto fail = [&](SetupErrorCode code, std::string text) {
    if (error) error->Set(code, std::move(text));
    return 0;
  };
  IntArray order;
  if (!ini.ReadIntList(kStoneInfo, "StoneOrder", order))
    return fail(SetupErrorCode::kMissingStoneOrder, "missing StoneOrder");
  if (order.size() != stoneCount)
    return fail(SetupErrorCode::kStoneOrderLength,
                "StoneOrder has " + std::to_string(order.size()) + " values but StoneCount is " +
                    std::to_string(stoneCount));
  std::vector<char> seen(static_cast<size_t>(stoneCount), 0);
  for (int32_t k = 0; k < stoneCount; ++k) {
    if (order[k] < 0 || order[k] >= stoneCount)
      return fail(SetupErrorCode::kStoneOrderRange, "StoneOrder names " + std::to_string(order[k]) +
                                                        ", outside 0.." +
                                                        std::to_string(stoneCount - 1));
    if (seen[order[k]])
      return fail(SetupErrorCode::kStoneOrderRepeat,
                  "StoneOrder repeats " + std::to_string(order[k]));
    seen[order[k]] = 1;
  }
  out.assign(static_cast<size_t>(stoneCount), StoneDefinition{});
  for (int32_t k = 0; k < stoneCount; ++k) {
    if (!ReadStone(ini, kStoneInfo, StoneKey(order[k]), out[k], error)) return 0;
  }
  return 1;
}

int64_t StoneExtent(const StoneDefinition& stone) {
  int64_t extent = 0;
  for (int32_t a = 0; a < stone.cubeCount; ++a) {
    for (int32_t b = 0; b < stone.cubeCount; ++b) {
      const Cube& p = stone.cubes[a];
      const Cube& q = stone.cubes[b];
      extent = std::max({extent, int64_t{p.x} - q.x, int64_t{p.y} - q.y, int64_t{p.z} - q.z});
    }
  }
  return extent;
}

}  // namespace quaderix
