// Runs a batch file as the program's batch engine does, without a window: every file of
// [Files] in turn through the operations its sections switch on, saved and logged as
// [General] says. For timing whole batches against other tools.
//   batch_run BATCH.bch [WORKFOLDER]
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/batch/BatchEngine.h"
#include "engine/ReadWrite/LineReader.h"
#include "platform/imagemill/imagemill.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: batch_run BATCH.bch [WORKFOLDER]\n");
    return 2;
  }
  IM_Init();
  const std::filesystem::path bch = std::filesystem::absolute(argv[1]);
  orb::SetTempFilesFolder(argc == 3 ? std::string(argv[2]) : bch.parent_path().string());
  const orb::batch::BatchSummary s = orb::batch::RunBatch(bch.string());
  std::printf("%d files, %d saved, %d skipped\n", s.files, s.saved, s.skipped);
  return s.skipped == 0 ? 0 : 1;
}
