// Every message the scan road shows by string id has a text in the English module, so the
// user never sees a bare "(message N)" instead of the reason a scan stopped.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/LanguageModule.h"
#include "scanning/ScanPlan.h"
#include "scanning/ScsiScanControl.h"

namespace orb {
namespace {

TEST(ScanStrings, EveryScanMessageHasAnEnglishText) {
  const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::string error;
  auto module = LanguageModule::Load(folder / "Lang9.xrs", &error);
  ASSERT_TRUE(module) << error;
  for (int id : {kStrOverwrite, kStrNoSpaceWorking, kStrNoSpaceOutput, kStrEmptyArea,
                 kStrReadError, kStrJpegTooHigh, kStrAutoSizeCaption, kStrPreScanCaption,
                 kStrNoEdges, kStrNoLeftEdge, kStrNoRightEdge, 33074 /* white fill caption */,
                 34010 /* JPEG size clamped */}) {
    EXPECT_TRUE(module->HasString(id)) << "string " << id;
    EXPECT_FALSE(module->String(id).empty()) << "string " << id;
  }
}

}  // namespace
}  // namespace orb
