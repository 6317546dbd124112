#include "solver/puzzle_spec.h"

#include <sstream>

namespace quaderix::testing {
namespace {

std::string TwoDigits(int n) {
  std::string text = std::to_string(n);
  return n < 10 ? "0" + text : text;
}

}  // namespace

void PuzzleSpec::SetKey(int x, int y, int z, int key) {
  if (keys.empty()) keys.assign(static_cast<size_t>(xSize) * ySize * zSize, 1);
  keys[KeyIndex(x, y, z)] = key;
}

std::string ToIni(const PuzzleSpec& spec) {
  std::ostringstream out;
  out << "[BlockInfo]\n";
  out << "XSize=" << spec.xSize << "\nYSize=" << spec.ySize << "\nZSize=" << spec.zSize << "\n";
  out << "EdgeZone=" << spec.edgeZone << "\n";
  for (int z = 0; z < spec.zSize; ++z) {
    for (int y = 0; y < spec.ySize; ++y) {
      out << "YZLine_" << TwoDigits(y) << "_" << TwoDigits(z) << "=";
      for (int x = 0; x < spec.xSize; ++x) out << (x ? "," : "") << spec.KeyOf(x, y, z);
      out << "\n";
    }
  }
  out << "[StoneInfo]\n";
  out << "StoneCount=" << spec.StoneCount() << "\nStoneOrder=";
  for (int k = 0; k < spec.StoneCount(); ++k) out << (k ? "," : "") << spec.EntryOfType(k);
  out << "\n";
  for (int k = 0; k < spec.StoneCount(); ++k) {
    const StoneSpec& stone = spec.stones[k];
    out << "Stone_" << TwoDigits(k) << "=" << stone.copies << "," << stone.cubes.size();
    for (const Coord& c : stone.cubes) out << "," << c[0] << "," << c[1] << "," << c[2];
    out << "\n";
  }
  if (spec.showLegend) out << "ShowLegend=" << *spec.showLegend << "\n";
  if (spec.preCheckLevel) out << "PreCheckLevel=" << *spec.preCheckLevel << "\n";
  if (spec.firstPreCheckStone) out << "FirstPreCheckStone=" << *spec.firstPreCheckStone << "\n";
  if (spec.lastPreCheckStone) out << "LastPreCheckStone=" << *spec.lastPreCheckStone << "\n";
  out << "[SymetryInfo]\n";
  out << "SymetryPosCount=" << spec.symPositions.size() << "\nEnhancedSymetryCheck=0\n";
  for (size_t i = 0; i < spec.symPositions.size(); ++i) {
    const Coord& c = spec.symPositions[i];
    out << "SymPos" << i << "=" << c[0] << "," << c[1] << "," << c[2] << "\n";
  }
  out << "[OutputInfo]\n";
  if (spec.writeEveryNSolution) out << "WriteEveryNSolution=" << *spec.writeEveryNSolution << "\n";
  return out.str();
}

StoneSpec Monocube(int copies) {
  return Shape({{0, 0, 0}}, copies);
}

StoneSpec Domino(int copies) {
  return Shape({{0, 0, 0}, {1, 0, 0}}, copies);
}

StoneSpec Shape(std::vector<Coord> cubes, int copies) {
  StoneSpec stone;
  stone.copies = copies;
  stone.cubes = std::move(cubes);
  return stone;
}

}  // namespace quaderix::testing
