#pragma once

// Why a puzzle was refused at set-up. The solver never prints; it keeps the reason here
// so that a front end can tell the user which key is wrong and what is wrong with it.

#include <string>

namespace quaderix {

enum class SetupErrorCode {
  kNone,
  kBadValue,        // a scalar out of range (sizes, EdgeZone, StoneCount, SymetryPosCount)
  kTooLarge,        // grid, cell count or tables would not fit in 32 bits or in memory
  kMissingRow,      // a YZLine_yy_zz row is missing or empty
  kRowLength,       // a row does not hold XSize values
  kMissingSymPos,   // a SymPos<i> key is missing or empty
  kSymPosLength,    // a SymPos<i> list is not three values long
  kSymPosNotFirst,  // SymPos0 is not the first cell of the fill order
  kSymPosOutside,   // a later symmetry position names a hole or lies outside the block
  kNoCells,         // every cell of the block is a hole
  kMissingStoneOrder,
  kStoneOrderLength,
  kStoneOrderRange,
  kStoneOrderRepeat,
  kMissingStone,       // a Stone_nn key is missing or empty
  kStoneLength,        // a Stone_nn list breaks the length rules
  kEdgeZoneTooNarrow,  // a stone reaches further than the frame is wide
  kOutOfMemory,
};

// Filled by the set-up on the worker's thread and read by a front end once the worker
// has reported the failure.
struct SetupError {
  SetupErrorCode code = SetupErrorCode::kNone;
  std::string message;  // one sentence for the user, naming the key

  void Set(SetupErrorCode c, std::string text) {
    code = c;
    message = std::move(text);
  }
  void Clear() { Set(SetupErrorCode::kNone, {}); }
};

}  // namespace quaderix
