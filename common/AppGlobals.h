// Process-wide values of the application shell, set at start-up and read everywhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The folders g_szDataFolder, g_szUserFolder and g_szProgramFolder live with the settings
// (engine/Settings.h). The main window's title, string 33095 of the language module:
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

// String ids of the output-format lists of the four groups of image kinds (colour,
// palette, grey, black and white), stored by the main frame.
struct OutputFormatListIds {
  int colour = 0;
  int palette = 0;
  int grey = 0;
  int bilevel = 0;
};
extern OutputFormatListIds g_outputFormatListIds;
