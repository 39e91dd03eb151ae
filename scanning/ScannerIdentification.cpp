#include "scanning/ScannerIdentification.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "common/AppGlobals.h"
#include "scanning/ScannerEntryPoints.h"
#include "platform/Files.h"
#include "scanner_library/trennic.h"

namespace orb {
namespace {

const std::vector<int32_t> kList508 = {64, 100, 200, 300, 400, 508, 1016};
const std::vector<int32_t> kList400 = {50, 100, 200, 300, 400, 600, 800};
const std::vector<int32_t> kList300 = {50, 100, 200, 300, 450, 600};
const std::vector<int32_t> kList600 = {75, 100, 200, 300, 400, 500, 600, 1200};
const std::vector<int32_t> kList200 = {50, 100, 200, 300, 400};
const std::vector<int32_t> kList800 = {100, 200, 300, 400, 600, 800, 1600};

ScsiModel Row(const char* id, int32_t code, int32_t optical, int32_t maxDpi, int32_t maxWidth,
              int32_t cameras, std::vector<int32_t> list) {
  ScsiModel m{};
  m.id = id;
  m.modelCode = code;
  m.opticalDpi = optical;
  m.maxDpi = maxDpi;
  m.maxWidth = maxWidth;
  m.cameraCount = cameras;
  m.resolutions = std::move(list);
  return m;
}

std::vector<ScsiModel> BuildTable() {
  std::vector<ScsiModel> t;
  auto add = [&](ScsiModel m) -> ScsiModel& { t.push_back(std::move(m)); return t.back(); };
  {
    auto& m = add(Row("TR5578", 2, 508, 1016, 6200, 5, kList508));
    m.firmwareAtLeast = 0;
    m.mediaFeature = 1;
  }
  add(Row("TR6729", 3, 400, 800, 5399, 3, kList400));
  add(Row("TR6641", 4, 300, 600, 4799, 2, kList300));
  add(Row("TR8857", 9, 400, 800, 4199, 3, kList400));
  add(Row("TR8846", 10, 300, 600, 4200, 3, kList300));
  {
    auto& m = add(Row("TR9166", 5, 800, 1600, 4199, 5,
                      {100, 200, 300, 400, 500, 600, 700, 800, 1600}));
    m.firmwareAtLeast = 0;
    m.mediaFeature = 1;
  }
  add(Row("TR8835", 11, 508, 1016, 4199, 3, kList508));
  add(Row("TR9020X", 7, 508, 1016, 4199, 0, {64, 100, 200, 300, 400, 508, 762, 1016}));
  {
    auto& m = add(Row("TR9014", 6, 508, 1016, 4199, 3, kList508));
    m.firmwareAtLeast = 0;
    m.mediaFeature = 1;
  }
  add(Row("TR9020", 8, 508, 1016, 4199, 3, kList508));
  add(Row("TK7402", 12, 400, 800, 3599, 2, kList400));
  add(Row("TK7403", 18, 400, 800, 3599, 2, kList400)).resolutionOption = 1;
  add(Row("HALD21", 17, 400, 800, 3599, 2, kList400)).paperEndDetection = 1;
  add(Row("HALD22", 20, 400, 800, 3599, 3, kList400)).paperEndDetection = 1;
  add(Row("HALD23", 21, 600, 1200, 2399, 2, kList600)).paperEndDetection = 1;
  add(Row("HALD24", 22, 600, 1200, 3599, 3, kList600)).paperEndDetection = 1;
  add(Row("HALD26", 23, 400, 800, 2399, 2, kList400)).paperEndDetection = 1;
  add(Row("TK7190", 13, 200, 400, 3599, 3, kList200));
  add(Row("TK7191", 19, 200, 400, 3599, 3, kList200)).resolutionOption = 1;
  add(Row("TK3362", 14, 800, 1600, 2799, 3, kList800));
  add(Row("TK5804", 15, 800, 1600, 2699, 3, kList800)).firmwareAtLeast = 0;
  {
    auto& m = add(Row("TK2231", 16, 600, 1200, 2400, 2, kList600));
    m.maxLength = 3599;
    m.clearMediaHandling = true;
    m.paperEndDetection = 1;
  }
  return t;
}

// A fixed-width field of the inquiry data, without terminator.
// INQUIRY texts are padded with blanks to their field width; the padding is not part of
// the name (the series letter is appended to the product, and captions show it).
std::string Field(const char* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != '\0'; ++i) s.push_back(p[i]);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

const std::vector<ScsiModel>& ScsiModelTable() {
  static const std::vector<ScsiModel> table = BuildTable();
  return table;
}

const ScsiModel* MatchScsiModel(std::string_view product) {
  for (const ScsiModel& m : ScsiModelTable()) {
    const std::string_view id(m.id);
    if (product.size() >= id.size() && product.substr(0, id.size()) == id) return &m;
  }
  return nullptr;
}

std::string ResolutionEntry(int32_t dpi) {
  std::string n = std::to_string(dpi);
  while (n.size() < 3) n.push_back(' ');
  return n + " dpi";
}

IdentifyResult IdentifyScsiScanner(CTrennic& scanner) {
  ScanSettingsRecord& s = ScanSettings;
  const std::string dataFolder = DataFolder();
  IdentifyResult r;
  s.HardwareThreshold = 0;
  s.HighResWindow = 0;
  s.ResolutionOption = 0;
  s.MediaFeature = 0;
  s.FirmwareAtLeast = 0;

  DeviceInfoType info{};
  (void)scanner.Open(info);
  AditionalSenseCodeType sense{};
  (void)scanner.UnitReady(&sense);
  r.texts.vendor = Field(info.VendorId, sizeof(info.VendorId));
  r.texts.product = Field(info.ProductId, sizeof(info.ProductId));
  r.texts.revision = Field(info.ProductRevision, sizeof(info.ProductRevision));

  // The firmware number starts at the third character of the revision ("1.52" -> 52).
  const std::string& rev = r.texts.revision;
  const int firmware = rev.size() > 2 ? std::atoi(rev.c_str() + 2) : 0;

  s.ScannerType = 0;
  s.ScannerSubType = 1;
  s.ScannerVariant = 0;
  s.MaxLength = 16777215;
  s.HighResWindow = 1;
  s.ExtraSettingsFeature = 1;

  int threshold = 37;
  if (static_cast<int>(scanner.ScannerInfoGetScannerSeriesType()) == 3) {
    s.HardwareThreshold = 1;
    s.ResolutionOption = 1;
    s.ResolutionOptionValue = 6;
    r.texts.product += "e";
    s.ScannerType = 1;
    threshold = 52;
  }
  s.FirmwareAtLeast = firmware >= threshold ? 1 : 0;

  std::vector<std::string>& list = ResolutionList();
  if (list.size() < 2) list.resize(2);
  list[0] = TextField(s.ResolutionText);

  const ScsiModel* m = MatchScsiModel(Field(info.ProductId, sizeof(info.ProductId)));
  if (!m) {
    s.OpticalDpi = 400;
    s.MaxDpi = 400;
    s.MaxWidth = 5399;
    s.CameraCount = 3;
    if (list.size() < 4) list.resize(4);
    list[2] = "400 dpi";
    return r;
  }

  r.matched = true;
  s.ModelCode = m->modelCode;
  s.OpticalDpi = m->opticalDpi;
  s.MaxDpi = m->maxDpi;
  s.MaxWidth = m->maxWidth;
  if (m->cameraCount != 0) s.CameraCount = m->cameraCount;
  if (m->firmwareAtLeast == 0) s.FirmwareAtLeast = 0;
  if (m->mediaFeature) s.MediaFeature = 1;
  if (m->resolutionOption) {
    s.ResolutionOption = 1;
    s.ResolutionOptionValue = 6;
  }
  s.MaxLength = m->maxLength;
  if (m->clearMediaHandling) s.MediaHandlingByte = 0;
  s.PaperEndDetection = m->paperEndDetection;
  list.resize(1);
  for (int32_t dpi : m->resolutions) list.push_back(ResolutionEntry(dpi));
  list.push_back(std::string());  // the list ends at its first empty entry

  g_scanFamilyTag = "Vq";
  if (s.ScannerType != s.StoredScannerType || s.ScannerSubType != s.StoredSubType) {
    r.scannerChanged = true;
    s.GammaRed = s.GammaGreen = s.GammaBlue = 1.5f;
    s.ScanBrightness = 5;
    s.ColourMode = 0;
    SaveScanData();
    const std::string from = dataFolder + "/" + kScanDataFile;
    const std::string presetDir = dataFolder + "/presets/" + g_scanFamilyTag;
    std::error_code ec;
    std::filesystem::create_directories(presetDir, ec);
    if (auto bytes = ReadFileBytes(from))
      WriteFileAtomically(presetDir + "/_FactoryDefaults.s", *bytes);
  }
  return r;
}

void InstallScsiIdentification(CTrennic* scanner) {
  ScanningEntryPoints e = GetScanningEntryPoints();
  e.identifyScsi = [scanner](IdentifiedScanner* out) {
    if (!scanner) return IdentifyNoScanner(out);
    const IdentifyResult r = IdentifyScsiScanner(*scanner);
    if (out) {
      out->vendor = r.texts.vendor;
      out->model = r.texts.product;
      out->firmware = r.texts.revision;
      out->changed = r.scannerChanged;
    }
    return r.matched;
  };
  SetScanningEntryPoints(std::move(e));
}

}  // namespace orb
