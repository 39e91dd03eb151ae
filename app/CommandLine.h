// The program's command line: one parameter, an image file to open or a ".bch" batch file
// to run. Every parameter becomes the file name (the last one wins) and suppresses the
// About box at start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CcmdInfo {
 public:
  // One parameter; `isFlag` when it was written as a switch (its switch character already
  // removed). Flags are not recognised as commands: they simply become the file name.
  void ParseParam(std::string_view param, bool isFlag, bool last);

  bool m_bShowSplash = true;
  std::string m_strFileName;
  bool m_bBatch = false;  // a parameter ended in ".bch" (case-sensitive)
};

namespace orb {

// Feeds every argument after the program name to info.ParseParam. A leading '-' marks a
// switch and is removed; '/' is not a switch character here, it starts an absolute path.
void ParseCommandLine(const std::vector<std::string>& args, CcmdInfo& info);

// The process's arguments exactly as the system passed them (file names are bytes, not
// necessarily UTF-8 text); empty when they cannot be read.
std::vector<std::string> RawProcessArguments();
// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);
// `name` as text that can be shown: each byte that is not part of valid UTF-8 becomes \xNN.
std::string PrintableFileName(std::string_view name);

// Whether a parameter names a batch file: its last four characters are exactly ".bch".
bool IsBatchFileName(std::string_view name);

}  // namespace orb
