// Display-free steps of the program's start-up and exit.
#pragma once

#include <string>

#include "engine/ScanLog.h"  // kScanLogTotalsFile

namespace orb {

inline constexpr const char* kInitialDataFolder = "OrbalonData";  // in the program folder

// First run: the data folder has no "MiscData.dat" yet.
bool NeedsFirstRunCopy(const std::string& dataFolder);

// Copies everything inside the program folder's "OrbalonData" into the data folder
// (creating it), replacing files of the same name. Returns the file operation's result
// (0 when done or when there is nothing to copy).
int CopyInitialData(const std::string& programFolder, const std::string& dataFolder);

// Which settings files the exit may write. A file that exists but cannot be read was not
// really loaded (the defaults were): writing it at exit would put defaults over the
// user's settings, so it is left alone.
struct SettingsSaveRule {
  bool scanData = true;
  bool miscData = true;
  bool scanLogTotals = true;
};
SettingsSaveRule CheckSettingsReadable(const std::string& dataFolder);

// Loads the three settings records from the data folder; the rule says which may be
// written back at exit.
SettingsSaveRule LoadAllSettings(const std::string& dataFolder);
// Writes the records the rule allows (creating the data folder when missing). True when
// every allowed file was written.
bool SaveAllSettings(const std::string& dataFolder, const SettingsSaveRule& rule);

// Removes what saves, scans and settings writes of processes that no longer run left
// behind (their "*.part", raw and ".tmp" files) from the folders the program writes into:
// the data folder, the working folder, the images folder and the folders of the next scan,
// the last save-as and the open dialog. Returns how many files were removed.
int RemoveStaleTemporaries();

}  // namespace orb
