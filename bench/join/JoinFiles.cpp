// Joins uncompressed RGB TIFF pieces in a grid through the join tool's writer, as the
// program's join button does: the pieces are items of a canvas that fits the grid, placed
// edge to edge, the output cut to them.
//   join_files OUT COLUMNS PIECE...   (pieces of one size, row by row)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/join/JoinOutput.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT COLUMNS PIECE...\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const int columns = std::max(1, std::atoi(argv[2]));
  orb::join::JoinModel model;
  model.MakeCanvas(orb::JoinImagesRecord{});
  model.SetMode(orb::join::kModeFree);
  for (int i = 3; i < argc; ++i) {
    if (!model.AddItem(argv[i])) {
      std::fprintf(stderr, "%s: not an uncompressed RGB TIFF\n", argv[i]);
      return 1;
    }
  }
  const int32_t w = model.items[0].Newest()->width;
  const int32_t h = model.items[0].Newest()->height;
  const int count = static_cast<int>(model.items.size());
  const int rows = (count + columns - 1) / columns;
  model.canvas.width = columns * w;
  model.canvas.height = rows * h;
  model.canvas.region = orb::Rect{0, 0, model.canvas.width, model.canvas.height};
  for (int i = 0; i < count; ++i) {
    const int32_t left = (i % columns) * w;
    const int32_t top = (i / columns) * h;
    model.items[static_cast<size_t>(i)].rect = orb::Rect{left, top, left + w, top + h};
  }
  orb::join::JoinOptions options;
  options.outputPath = argv[1];
  options.cropToItems = true;
  const orb::join::JoinReport r = orb::join::WriteJoinedImage(model, options, nullptr);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (r.result != orb::join::JoinResult::Written) {
    std::fprintf(stderr, "join failed\n");
    return 1;
  }
  std::printf("%d x %d in %.2f s\n", r.width, r.height, s);
  return 0;
}
