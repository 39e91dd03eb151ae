// Batch processing and batch scanning come with the batch tools. Until then a batch file
// named at start and a batch scan each say so and leave the program as a user expects it:
// not in batch mode, with Scan, Open and Exit working.
#pragma once

#include <string>

#include "app/ScanDecision.h"
#include "common/ResourceIds.h"

class wxWindow;

namespace orb::gui {

inline constexpr int kStrBatchRunUnavailable = orb::res::IDS_BATCH_RUN_UNAVAILABLE;
inline constexpr int kStrBatchScanUnavailable = orb::res::IDS_BATCH_SCAN_UNAVAILABLE;

// Says (once a run of the program) that the batch file is not run, leaves batch mode and
// shows the scan output page for it.
void DeclineBatchRun(wxWindow* parent, const std::string& batchFile);
// Says that batch scanning is not available; the answer switches batch scanning off as a
// cancelled wait would.
orb::BatchWaitResult DeclineBatchScan(wxWindow* parent);

}  // namespace orb::gui
