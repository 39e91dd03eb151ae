#include "common/AppGlobals.h"

std::string g_szAppTitle;
std::atomic<uint8_t> g_bBatchMode{0};
std::string g_szBatchFile;
std::atomic<uint8_t> g_bScannerPresent{0};
std::string g_scanFamilyTag;
std::atomic<int32_t> g_bMouseButtonDown{0};
OutputFormatListIds g_outputFormatListIds;
