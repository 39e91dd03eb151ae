#include "app/batch/BatchFile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/ImageState.h"
#include "platform/Files.h"
#include "platform/Ini.h"
#include "platform/TempNames.h"
#include "platform/Folders.h"

namespace orb::batch {
namespace {

std::string Str(std::string_view section, std::string_view key, std::string_view def, const std::string& path,
                size_t buffer) {
  return GetPrivateProfileString(section, key, def, path, buffer);
}
int Int(std::string_view section, std::string_view key, int def, const std::string& path) {
  return GetPrivateProfileInt(section, key, def, path);
}
bool Present(std::string_view section, const std::string& path) {
  return !GetPrivateProfileSection(section, path).empty();
}
std::string FileKey(size_t i) { return "File" + std::to_string(i); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// "n0,n1,...," as the gamma keys hold them: every number followed by a comma.
template <typename It>
std::string CommaList(It first, It last) {
  std::string s;
  for (It i = first; i != last; ++i) s += std::to_string(static_cast<int>(*i)) + ",";
  return s;
}

// The numbers of a comma list, in order; missing pieces read as 0.
std::vector<int> ReadCommaList(const std::string& text, size_t count) {
  std::vector<int> out(count, 0);
  size_t pos = 0;
  for (size_t i = 0; i < count && pos <= text.size(); ++i) {
    const size_t comma = text.find(',', pos);
    const std::string piece = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    out[i] = LeadingInteger(piece).value_or(0);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

const char* const kCurveKeys[4] = {"BezierControlPointsAll", "BezierControlPointsRed", "BezierControlPointsGreen",
                                   "BezierControlPointsBlue"};
const char* const kTableKeys[4] = {"GammaLutAll", "GammaLutRed", "GammaLutGreen", "GammaLutBlue"};

struct FormatName {
  const char* name;
  uint32_t format;
};
const std::vector<FormatName>& FormatTable(int kind) {
  static const std::vector<FormatName> colour = {
      {"jpg", 2},          {"jp2", 5},      {"pdf-jpeg", 0x40004}, {"png", 3}, {"tif-uncompressed", 1},
      {"tif-packbits", 0x10001}, {"tif-jpeg", 0x40001}, {"bmp", 6}};
  static const std::vector<FormatName> palette = {
      {"png", 3}, {"tif-uncompressed", 1}, {"tif-packbits", 0x10001}, {"bmp", 6}};
  static const std::vector<FormatName> grey = {{"jpg", 2}, {"pdf-jpeg", 0x40004}, {"png", 3},
                                               {"tif-uncompressed", 1}, {"tif-packbits", 0x10001}, {"bmp", 6}};
  static const std::vector<FormatName> bilevel = {{"pdf-g4", 0x30004}, {"tif-uncompressed", 1}, {"tif-g3", 0x20001},
                                                  {"tif-g4", 0x30001}, {"tif-packbits", 0x10001}, {"bmp", 6}};
  static const std::vector<FormatName> none;
  switch (kind) {
    case 0: return colour;
    case 1:
    case 2: return palette;
    case 3: return grey;
    case 4: return bilevel;
    default: return none;
  }
}

}  // namespace

// ----- [Files] ---------------------------------------------------------------------------

std::optional<std::string> ReadFileEntry(const std::string& batchPath, int index) {
  if (index < 0) return std::nullopt;
  std::string v = Str(kFiles, FileKey(static_cast<size_t>(index)), kNotFound, batchPath, kPathBuffer);
  if (v == kNotFound) return std::nullopt;
  return v;
}

std::vector<std::string> ReadFileList(const std::string& batchPath) {
  // One load of the file, then the same walk the private-profile reads make.
  std::vector<std::string> files;
  std::optional<IniFile> ini = IniFile::Load(batchPath);
  if (!ini) return files;
  for (size_t i = 0;; ++i) {
    std::optional<std::string> v = ini->Get(kFiles, FileKey(i));
    if (!v) break;
    std::string s = *v;
    // As a 260-byte buffer would take it.
    if (s.size() >= kPathBuffer) s = GetPrivateProfileString(kFiles, FileKey(i), kNotFound, batchPath, kPathBuffer);
    if (s == kNotFound) break;
    files.push_back(std::move(s));
  }
  return files;
}

bool WriteFileList(const std::string& batchPath, const std::vector<std::string>& files) {
  std::optional<IniFile> ini = IniFile::Load(batchPath);
  if (!ini) return false;
  ini->DeleteSection(kFiles);
  for (size_t i = 0; i < files.size(); ++i) {
    if (!ini->Set(kFiles, FileKey(i), files[i])) return false;
  }
  return ini->Save(batchPath);
}

bool AddFiles(const std::string& batchPath, const std::vector<std::string>& paths) {
  std::vector<std::string> files = ReadFileList(batchPath);
  std::set<std::string> known(files.begin(), files.end());
  for (const std::string& p : paths) {
    if (known.insert(p).second) files.push_back(p);
  }
  return WriteFileList(batchPath, files);
}

bool RemoveFiles(const std::string& batchPath, const std::vector<size_t>& positions) {
  const std::vector<std::string> files = ReadFileList(batchPath);
  if (files.empty()) return true;
  const std::set<size_t> drop(positions.begin(), positions.end());
  std::vector<std::string> kept;
  for (size_t i = 0; i < files.size(); ++i) {
    if (!drop.count(i)) kept.push_back(files[i]);
  }
  return WriteFileList(batchPath, kept);
}

// ----- [General] -------------------------------------------------------------------------

std::string FormatRunDate(const RunDate& d) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d/%d/%d,%d:%d:%d", d.year, d.month, d.day, d.hour, d.minute, d.second);
  return buf;
}

std::optional<RunDate> ParseRunDate(std::string_view text) {
  int v[6];
  size_t pos = 0;
  const char seps[6] = {'/', '/', ',', ':', ':', '\0'};
  for (int i = 0; i < 6; ++i) {
    size_t end = seps[i] ? text.find(seps[i], pos) : text.size();
    if (end == std::string_view::npos) return std::nullopt;
    std::optional<int> n = LeadingInteger(text.substr(pos, end - pos));
    if (!n) return std::nullopt;
    v[i] = *n;
    pos = end + 1;
  }
  return RunDate{v[0], v[1], v[2], v[3], v[4], v[5]};
}

EngineGeneral ReadEngineGeneral(const std::string& batchPath) {
  EngineGeneral g;
  g.scheduled = Int(kGeneral, "AutoRun", 0, batchPath) != 0;
  g.hold = Int(kGeneral, "HoldForQC", 0, batchPath) != 0;
  g.log = !g.hold && Int(kGeneral, "CreateLog", 0, batchPath) != 0;
  g.location = Str(kGeneral, "SaveAsLocation", "", batchPath, kPathBuffer);
  if (!g.location.empty() && g.location.back() != '/') g.location += '/';
  g.format = Str(kGeneral, "SaveAsFormat", "", batchPath, kFormatBuffer);
  g.deleteOriginals = Int(kGeneral, "DeleteOriginalFiles", 0, batchPath) != 0;
  return g;
}

EditorGeneral ReadEditorGeneral(const std::string& batchPath) {
  EditorGeneral g;
  g.automatic = Int(kGeneral, "HoldForQC", 1, batchPath) == 0;
  g.log = Int(kGeneral, "CreateLog", 0, batchPath) != 0;
  g.deleteOriginals = Int(kGeneral, "DeleteOriginalFiles", 0, batchPath) != 0;
  g.folder = Str(kGeneral, "SaveAsLocation", "", batchPath, kPathBuffer);
  g.folderBox = !g.folder.empty();
  g.format = Str(kGeneral, "SaveAsFormat", "", batchPath, kFormatBuffer);
  g.formatBox = !g.format.empty();
  const std::string run = Str(kGeneral, "AutoRun", "", batchPath, kFormatBuffer);
  g.scheduleBox = !run.empty();
  if (std::optional<RunDate> d = ParseRunDate(run)) g.runDate = *d;
  return g;
}

bool WriteGeneral(const std::string& batchPath, const EditorGeneral& g) {
  std::optional<IniFile> ini = IniFile::Load(batchPath);
  if (!ini) return false;
  ini->DeleteSection(kGeneral);
  bool ok = ini->Set(kGeneral, "HoldForQC", g.automatic ? "0" : "1");
  if (g.automatic) {
    ok = ok && ini->Set(kGeneral, "CreateLog", g.log ? "1" : "0");
    if (g.folderBox) ok = ok && ini->Set(kGeneral, "SaveAsLocation", g.folder);
    if (g.formatBox) ok = ok && ini->Set(kGeneral, "SaveAsFormat", g.format);
    ok = ok && ini->Set(kGeneral, "DeleteOriginalFiles", g.deleteOriginals ? "1" : "0");
    if (g.scheduleBox) ok = ok && ini->Set(kGeneral, "AutoRun", FormatRunDate(g.runDate));
  }
  return ok && ini->Save(batchPath);
}

// ----- processing sections ---------------------------------------------------------------

Recipe ReadRecipe(const std::string& p) {
  Recipe r;
  if ((r.threshold = Present("BinaryThreshold", p))) {
    auto& t = r.thresholdValues;
    t.ThresholdingType = Int("BinaryThreshold", "ThresholdingType", 0, p) != 0 ? 1 : 0;
    t.FixedThreshhold = Int("BinaryThreshold", "FixedThreshhold", 64, p);
    t.AdaptiveWindowSize = Int("BinaryThreshold", "AdaptiveWindowSize", 25, p);
    t.AdaptiveDynamic = Int("BinaryThreshold", "AdaptiveDynamic", 25, p);
    t.SoftwareThreshold = 1;
  }
  if ((r.despeckle = Present("BinaryDespeckle", p))) {
    r.despeckleValues.SpeckWidth = Int("BinaryDespeckle", "SpeckWidth", 0, p);
    r.despeckleValues.SpeckHeight = Int("BinaryDespeckle", "SpeckHeight", 0, p);
    r.despeckleValues.enabled = 1;
  }
  if ((r.brightCont = Present("BrightnessContrast", p))) {
    r.brightContValues.Brightness = Int("BrightnessContrast", "Brightness", 0, p);
    r.brightContValues.Contrast = Int("BrightnessContrast", "Contrast", 0, p);
    r.brightContValues.enabled = 1;
  }
  if ((r.bwPoint = Present("WhiteBlackPoint", p))) {
    r.bwPointValues.White = Int("WhiteBlackPoint", "White", 255, p);
    r.bwPointValues.Black = Int("WhiteBlackPoint", "Black", 0, p);
    r.bwPointValues.enabled = 1;
  }
  if ((r.noise = Present("NoiseRemoval", p))) {
    r.noiseValues.Level = Int("NoiseRemoval", "Level", 0, p);
    r.noiseValues.enabled = 1;
  }
  if ((r.gamma = Present("Gamma", p))) {
    GammaRecord& g = r.gammaValues;
    g = GammaRecord{};
    g.Channel = static_cast<uint32_t>(Int("Gamma", "Channel", 0, p));
    g.enabled = 1;
    for (int c = 0; c < 4; ++c) {
      const std::vector<int> pts = ReadCommaList(Str("Gamma", kCurveKeys[c], "", p, 2048), 8);
      for (int i = 0; i < 4; ++i) g.curves[c][i] = CurvePoint{pts[2 * i], pts[2 * i + 1]};
      const std::vector<int> lut = ReadCommaList(Str("Gamma", kTableKeys[c], "", p, 2048), 256);
      for (int i = 0; i < 256; ++i) g.tables[c][i] = static_cast<uint8_t>(lut[i]);
    }
  }
  r.invert = Present("Invert", p);
  r.mirror = Present("Mirror", p);
  if ((r.palette = Present("Palette", p))) {
    r.paletteValues.ConvertTo = static_cast<uint32_t>(Int("Palette", "ConvertTo", 0, p));
    r.paletteValues.enabled = 1;
  }
  if ((r.rotate = Present("Rotate90", p))) {
    r.rotateValues.Direction = Int("Rotate90", "Direction", 0, p);
    r.rotateValues.enabled = 1;
  }
  if ((r.sharpen = Present("SharpenBlur", p))) {
    r.sharpenValues.Level = Int("SharpenBlur", "Level", 0, p);
    r.sharpenValues.enabled = 1;
  }
  return r;
}

ToolRecordSet ToolRecordSet::Current() {
  return {&BWThresholdSettings, &DespeckleSettings, &BrightContSettings, &BWPointSettings,
          &DescreenSettings,    &GammaSettings,     &InvertSettings,     &MirrorSettings,
          &PaletteSettings,     &Rotate90Settings,  &SharpenSettings,    &EditorSettings,
          &IndexSettings};
}

bool WriteProcessingSections(const std::string& batchPath, const ToolRecordSet& t) {
  std::optional<IniFile> ini = IniFile::Load(batchPath);
  if (!ini) return false;
  bool ok = true;
  auto set = [&](const char* s, const char* k, const std::string& v) { ok = ini->Set(s, k, v) && ok; };
  auto num = [](int64_t v) { return std::to_string(v); };
  if (t.palette->enabled && t.palette->ConvertTo == 4) {
    set("BinaryThreshold", "ThresholdingType", num(t.threshold->ThresholdingType));
    set("BinaryThreshold", "FixedThreshhold", num(t.threshold->FixedThreshhold));
    set("BinaryThreshold", "AdaptiveWindowSize", num(t.threshold->AdaptiveWindowSize));
    set("BinaryThreshold", "AdaptiveDynamic", num(t.threshold->AdaptiveDynamic));
  }
  if (t.despeckle->enabled) {
    set("BinaryDespeckle", "SpeckWidth", num(t.despeckle->SpeckWidth));
    set("BinaryDespeckle", "SpeckHeight", num(t.despeckle->SpeckHeight));
  }
  if (t.brightCont->enabled) {
    set("BrightnessContrast", "Brightness", num(t.brightCont->Brightness));
    set("BrightnessContrast", "Contrast", num(t.brightCont->Contrast));
  }
  if (t.bwPoint->enabled) {
    set("WhiteBlackPoint", "White", num(t.bwPoint->White));
    set("WhiteBlackPoint", "Black", num(t.bwPoint->Black));
  }
  if (t.noise->enabled) set("NoiseRemoval", "Level", num(t.noise->Level));
  if (t.gamma->enabled) {
    set("Gamma", "Channel", num(t.gamma->Channel));
    for (int c = 0; c < 4; ++c) {
      std::vector<int> pts;
      for (const CurvePoint& q : t.gamma->curves[c]) {
        pts.push_back(q.x);
        pts.push_back(q.y);
      }
      set("Gamma", kCurveKeys[c], CommaList(pts.begin(), pts.end()));
    }
    for (int c = 0; c < 4; ++c) set("Gamma", kTableKeys[c], CommaList(t.gamma->tables[c].begin(), t.gamma->tables[c].end()));
  }
  if (t.invert->enabled) set("Invert", "Invert", "True");
  if (t.mirror->enabled) set("Mirror", "Mirror", "True");
  if (t.palette->enabled) set("Palette", "ConvertTo", num(t.palette->ConvertTo));
  if (t.rotate->enabled) set("Rotate90", "Direction", num(t.rotate->Direction));
  if (t.sharpen->enabled) set("SharpenBlur", "Level", num(t.sharpen->Level));
  if (t.editor->enabled) set("Editor", "AppName", GetPathField(t.editor->AppName));
  if (t.index->enabled) {
    set("Indexer", "AppName", GetPathField(t.index->AppName));
    set("Indexer", "ProjName", GetPathField(t.index->ProjName));
  }
  return ini->Save(batchPath) && ok;
}

// ----- save-as formats -------------------------------------------------------------------

std::optional<uint32_t> SaveAsFormatFor(int kind, std::string_view name) {
  for (const FormatName& f : FormatTable(kind)) {
    if (EqualNoCase(f.name, name)) return f.format;
  }
  return std::nullopt;
}

const std::vector<std::string>& SaveAsFormatNames(int kind) {
  static const std::vector<std::string> lists[5] = {
      {"jpg", "jp2", "pdf-jpeg", "png", "tif-uncompressed", "tif-packbits", "tif-jpeg", "bmp"},
      {"png", "tif-uncompressed", "tif-packbits", "bmp"},
      {"png", "tif-uncompressed", "tif-packbits", "bmp"},
      {"jpg", "pdf-jpeg", "png", "tif-uncompressed", "tif-packbits", "bmp"},
      {"pdf-g4", "tif-uncompressed", "tif-g3", "tif-g4", "tif-packbits", "bmp"}};
  static const std::vector<std::string> none;
  return kind >= 0 && kind <= 4 ? lists[kind] : none;
}

std::string MakeWorkingBatchFile(const std::string& folder) {
  std::string pattern = (std::filesystem::path(folder.empty() ? std::string(".") : folder) /
                         ("Qel" + OwnerMark() + "XXXXXX.tmp")).string();
  const int fd = ::mkstemps(pattern.data(), 4);
  if (fd < 0) return {};
  ::close(fd);
  return pattern;
}

// ----- log and schedule files ------------------------------------------------------------

std::string LogPathFor(const std::string& batchPath) {
  return std::filesystem::path(batchPath).replace_extension(".log").string();
}

std::string ScheduledFolder(const std::string& root) { return (std::filesystem::path(root) / "Scheduled").string(); }

std::string ScheduleFilePath(const std::string& root, const std::string& batchPath) {
  return (std::filesystem::path(ScheduledFolder(root)) / (std::filesystem::path(batchPath).stem().string() + ".sch"))
      .string();
}

bool WriteScheduleFile(const std::string& root, const std::string& batchPath) {
  std::error_code ec;
  std::filesystem::create_directories(ScheduledFolder(root), ec);
  const std::string target = ScheduleFilePath(root, batchPath);
  // Written beside the old one and renamed over it: a reader sees the old or the new.
  return WriteFileAtomically(target, batchPath);
}

void EndScheduledRun(const std::string& root, const std::string& batchPath) {
  ::unlink(ScheduleFilePath(root, batchPath).c_str());
  ::unlink((std::filesystem::path(ScheduledFolder(root)) / "processing.flg").c_str());
}

}  // namespace orb::batch
