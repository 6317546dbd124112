#include "records/stone_colouring.h"

#include <algorithm>
#include <numeric>

namespace quaderix {

std::vector<std::vector<int32_t>> PieceContacts(const Packing& p) {
  std::vector<std::vector<int32_t>> contacts(p.pieces.size());
  auto touch = [&](int32_t a, int32_t b) {
    if (a < 0 || b < 0 || a == b) return;
    contacts[a].push_back(b);
    contacts[b].push_back(a);
  };
  for (int32_t z = 0; z < p.zSize; ++z) {
    for (int32_t y = 0; y < p.ySize; ++y) {
      for (int32_t x = 0; x < p.xSize; ++x) {
        const int32_t here = p.piece[p.CellIndex(x, y, z)];
        if (x + 1 < p.xSize) touch(here, p.piece[p.CellIndex(x + 1, y, z)]);
        if (y + 1 < p.ySize) touch(here, p.piece[p.CellIndex(x, y + 1, z)]);
        if (z + 1 < p.zSize) touch(here, p.piece[p.CellIndex(x, y, z + 1)]);
      }
    }
  }
  for (auto& list : contacts) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  return contacts;
}

std::vector<int32_t> ColourPieces(const Packing& packing, int32_t paletteSize) {
  const std::vector<std::vector<int32_t>> contacts = PieceContacts(packing);
  const int32_t n = static_cast<int32_t>(contacts.size());
  std::vector<int32_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return contacts[a].size() > contacts[b].size(); });
  std::vector<int32_t> colour(n, -1);
  std::vector<int32_t> uses(paletteSize);
  std::vector<int32_t> total(paletteSize, 0);
  for (const int32_t piece : order) {
    std::fill(uses.begin(), uses.end(), 0);
    for (const int32_t other : contacts[piece])
      if (colour[other] >= 0) ++uses[colour[other]];
    // Fewest touching neighbours first, then the colour used least so far, so that every
    // piece gets a colour of its own while the palette lasts.
    int32_t best = 0;
    for (int32_t c = 1; c < paletteSize; ++c)
      if (uses[c] < uses[best] || (uses[c] == uses[best] && total[c] < total[best])) best = c;
    colour[piece] = best;
    ++total[best];
  }
  return colour;
}

}  // namespace quaderix
