// Writing the join canvas with its items into one uncompressed TIFF, line by line: each
// output line is filled white and the items that cover it are copied in, in array order
// (later items on top). Memory holds one output line and one line of each item.
#pragma once

#include <cstdint>
#include <string>

#include "tools/join/JoinModel.h"

namespace orb::join {

struct JoinOptions {
  std::string outputPath;
  bool cropToItems = true;
  bool deleteSources = false;
};

enum class JoinResult {
  Written,       // the output is complete; the items were released
  Cancelled,     // Esc: no output, the items as they were
  NoRoom,        // not enough free disk space (message shown)
  OutputIsItem,  // the output would replace an item's own file (message shown)
  Failed,        // reading an item or writing the output failed (message shown)
};

struct JoinReport {
  JoinResult result = JoinResult::Failed;
  int32_t width = 0;  // of the written image
  int32_t height = 0;
};

// Told of every line written.
class IJoinProgress {
 public:
  virtual ~IJoinProgress() = default;
  virtual void Step() = 0;
};

// Joins the model's items into options.outputPath (written beside it, then renamed over
// it). In alignment mode item 1 is turned and moved onto item 0 first. On success the
// items' later records and their files are freed, with deleteSources the items' own files
// removed, and the array emptied. A cancelled or failed join leaves no output file.
JoinReport WriteJoinedImage(JoinModel& model, const JoinOptions& options, IJoinProgress* progress);

// Seam removal of one item line (R, G, B bytes, `width` pixels): finds the width g of the
// doubled stretch left of seam column `seam`, expected `expected` pixels wide, keeping to
// within 1 of `stored` (0: no line yet) and storing the result.
int32_t FindSeamWidth(const uint8_t* line, int32_t width, int32_t seam, int32_t expected, int32_t& stored);
// Writes item pixels [from, seam - gap) and then [seam, to) to out at x `outX`, clipped
// to the output's `outWidth` pixels; every copy is kept inside both lines.
void CopySeamLine(const uint8_t* line, int32_t from, int32_t to, int32_t seam, int32_t gap, uint8_t* out,
                  int32_t outX, int32_t outWidth);

}  // namespace orb::join
