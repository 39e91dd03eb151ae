// Process-wide values of the application shell, set at start-up and read everywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Folders: data folder (settings, logs, presets, "Scheduled"), user folder (its "images"
// sub-folder holds scans by default) and the program folder (the executable's folder:
// language modules, initial data). Written once at start-up, before any thread runs.
extern std::string g_szDataFolder;
extern std::string g_szUserFolder;
extern std::string g_szProgramFolder;
extern std::string g_szAppTitle;

// Batch mode: the command line named a batch file, or batch files are being run.
extern std::atomic<uint8_t> g_bBatchMode;
extern std::string g_szBatchFile;

// Scanner found at start-up, and the family tag that names the presets sub-folder
// ("Vq", "QRDM" or "QRDC"; empty until set).
extern std::atomic<uint8_t> g_bScannerPresent;
extern std::string g_scanFamilyTag;

// 1 while a mouse button is held anywhere in the program's windows (the view uses it to
// decide on the wait cursor).
extern std::atomic<int32_t> g_bMouseButtonDown;
