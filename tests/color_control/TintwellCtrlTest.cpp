// The control's dispatch methods and events, with a recording stand-in for the dialog.
#include "color_control/TintwellCtrl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "color_control/HueflockSettings.h"
#include "color_control/TintwellRegistration.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Ini.h"

namespace {

struct FakeView : ClassificationView {
  std::vector<std::string>* log;
  bool creatable = true, shown = false;
  FakeView(std::vector<std::string>* l, bool c) : log(l), creatable(c) {}
  bool Create() override { log->push_back("create"); return creatable; }
  bool IsShown() const override { return shown; }
  void Show() override { shown = true; log->push_back("show"); }
  void Redraw() override {}
  void SetCountRange(int max, int pos) override {
    log->push_back("range " + std::to_string(max) + " " + std::to_string(pos));
  }
  void EnableClassify(bool on) override { log->push_back(on ? "classify on" : "classify off"); }
  void StartRefreshTimer() override { log->push_back("timer"); }
  void SetPickCursor(int id) override { log->push_back("cursor " + std::to_string(id)); }
  void MakeCurrent(int p) override { log->push_back("current " + std::to_string(p)); }
};

struct Sink : _DTintwellEvents {
  std::vector<std::string> events;
  std::vector<uint8_t> pal, lut;
  uint32_t n = 0;
  void PaletteModified(const uint8_t* p, uint32_t k, const uint8_t* l) override {
    events.push_back("PaletteModified " + std::to_string(k));
    pal.assign(p, p + 768);
    lut.assign(l, l + 65536);
    n = k;
  }
  void HueflockDlgClosed(uint32_t s) override { events.push_back("Closed " + std::to_string(s)); }
  void DisplayUsingPalette() override { events.push_back("DisplayUsingPalette"); }
  void RequestMergeArea() override { events.push_back("RequestMergeArea"); }
  void CancelRequestMergeArea() override { events.push_back("CancelRequestMergeArea"); }
  void CancelRequestCurrentColor() override { events.push_back("CancelRequestCurrentColor"); }
};

struct Host {
  std::vector<std::string> viewLog, messages, loaded;
  bool creatable = true, moduleLoads = false;
  Sink sink;
  CTintwellCtrl* ctrl;
  Host() {
    ctrl = new CTintwellCtrl(
        [this](CTintwellCtrl&) { return std::make_unique<FakeView>(&viewLog, creatable); },
        [this](const std::string& m) { messages.push_back(m); },
        [this](const std::string& path, TintwellStrings&) { loaded.push_back(path); return moduleLoads; },
        "/modules");
    ctrl->Advise(&sink);
  }
  ~Host() {
    if (ctrl) ctrl->Release();
  }
  void ClassifyFourColours();
};

// Pixels of `n` distinct cells, `each` pixels apiece.
std::vector<uint8_t> Cells(int n, int each) {
  std::vector<uint8_t> px;
  for (int i = 0; i < n; ++i) {
    for (int k = 0; k < each; ++k) px.insert(px.end(), {uint8_t(i * 50), uint8_t(255 - i * 40), uint8_t(i * 30)});
  }
  return px;
}

void Host::ClassifyFourColours() {
  ASSERT_EQ(ctrl->InitClassify(), kTwTrue);
  const auto px = Cells(4, 3);
  ctrl->BuildHistogram(px.data(), 12, 1);
  ctrl->SetNumberOfColors(4);
  ASSERT_EQ(ctrl->RunClassify(kTwFalse), kTwTrue);
  ASSERT_EQ(sink.n, 4u);
}

TEST(TintwellCtrl, MethodsBeforeInitClassifyReturnFalse) {
  Host h;
  const uint8_t pal[768] = {};
  const uint32_t flags[256] = {};
  EXPECT_EQ(h.ctrl->SetPalette(pal), kTwFalse);
  EXPECT_EQ(h.ctrl->SetNumberOfColors(4), kTwFalse);
  EXPECT_EQ(h.ctrl->BuildHistogram(pal, 1, 1), kTwFalse);
  EXPECT_EQ(h.ctrl->SetCurrentColor(0), kTwFalse);
  EXPECT_EQ(h.ctrl->MergeAreaToCurrentColor(flags), kTwFalse);
  EXPECT_EQ(h.ctrl->RunClassify(kTwFalse), kTwFalse);
  EXPECT_TRUE(h.sink.events.empty());
}

TEST(TintwellCtrl, SecondInitClassifyIsRefusedAndKeepsTheHistogram) {
  Host h;
  ASSERT_EQ(h.ctrl->InitClassify(), kTwTrue);
  const auto px = Cells(3, 4);
  h.ctrl->BuildHistogram(px.data(), 12, 1);
  EXPECT_EQ(h.ctrl->InitClassify(), kTwFalse);
  EXPECT_EQ(h.viewLog, (std::vector<std::string>{"create"}));
  ASSERT_NE(h.ctrl->Builder(), nullptr);
  EXPECT_EQ(h.ctrl->Builder()->Count(CMedianCutQuantizer::CellOf(0, 255, 0)), 4u);
}

TEST(TintwellCtrl, ClassifyingFiveCellsForSixteenMakesFive) {
  Host h;
  h.ctrl->SetLanguageAndHelpPath(9, "/nowhere");
  ASSERT_EQ(h.ctrl->InitClassify(), kTwTrue);
  const auto px = Cells(5, 10);
  h.ctrl->BuildHistogram(px.data(), 25, 2);
  h.ctrl->SetNumberOfColors(16);
  ASSERT_EQ(h.ctrl->RunClassify(kTwFalse), kTwTrue);
  EXPECT_EQ(h.sink.n, 5u);
  EXPECT_EQ(h.viewLog.back(), "timer");
  EXPECT_EQ(h.viewLog[h.viewLog.size() - 2], "range 5 5");
  // The table maps each fed colour to an entry of that colour's cell centre.
  for (int i = 0; i < 5; ++i) {
    const int cell = CMedianCutQuantizer::CellOf(i * 50, 255 - i * 40, i * 30);
    const int idx = h.sink.lut[cell];
    ASSERT_LT(idx, 5);
    EXPECT_EQ(h.sink.pal[3 * idx], (i * 50 >> 3) * 8 + 4);
  }
  EXPECT_EQ(h.sink.events, (std::vector<std::string>{"DisplayUsingPalette", "PaletteModified 5"}));
  h.ctrl->OnRefreshTimer();  // sorts, rebuilds, reports again
  EXPECT_EQ(h.sink.events.back(), "PaletteModified 5");
}

TEST(TintwellCtrl, EditModeReportsTheHostsPaletteUnchangedFirst) {
  Host h;
  ASSERT_EQ(h.ctrl->InitClassify(), kTwTrue);
  std::vector<uint8_t> pal(768, 0), lut(65536);
  const uint8_t colours[3][3] = {{10, 200, 30}, {250, 250, 250}, {0, 0, 90}};
  for (int i = 0; i < 3; ++i) std::copy(colours[i], colours[i] + 3, pal.begin() + 3 * i);
  for (int c = 0; c < 65536; ++c) lut[c] = uint8_t(c % 3);
  h.ctrl->SetNumberOfColors(3);
  h.ctrl->SetPalette(pal.data());
  h.ctrl->SetScannerLut(lut.data());
  ASSERT_EQ(h.ctrl->RunClassify(kTwTrue), kTwTrue);
  EXPECT_NE(std::find(h.viewLog.begin(), h.viewLog.end(), "classify off"), h.viewLog.end());
  EXPECT_EQ(h.sink.n, 3u);
  EXPECT_EQ(h.sink.pal, pal);
  EXPECT_EQ(h.sink.lut, lut);
  // The refresh reports the palette in lightness order with the table remapped to match.
  h.ctrl->OnRefreshTimer();
  ASSERT_EQ(h.sink.n, 3u);
  const std::vector<uint8_t> sorted = {250, 250, 250, 10, 200, 30, 0, 0, 90};
  EXPECT_TRUE(std::equal(sorted.begin(), sorted.end(), h.sink.pal.begin()));
  for (int c = 0; c < 65536; ++c) {
    const int old = c % 3;
    ASSERT_TRUE(std::equal(pal.begin() + 3 * old, pal.begin() + 3 * old + 3, h.sink.pal.begin() + 3 * h.sink.lut[c]));
  }
}

TEST(TintwellCtrl, GetPaletteOverwritesWithTheGreyRamp) {
  Host h;
  h.ClassifyFourColours();
  const auto grey = h.ctrl->GetPalette();
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(grey[3 * k], k);
    ASSERT_EQ(grey[3 * k + 2], k);
  }
  EXPECT_EQ(h.ctrl->Model().Tables().palette, grey);
}

TEST(TintwellCtrl, AreaMergeReportsAShorterPalette) {
  Host h;
  h.ClassifyFourColours();
  h.ctrl->OnRefreshTimer();
  h.ctrl->SetCurrentColor(0);
  uint32_t flags[256] = {};
  flags[1] = flags[2] = 1;
  ASSERT_EQ(h.ctrl->MergeAreaToCurrentColor(flags), kTwTrue);
  EXPECT_EQ(h.sink.n, 2u);
  EXPECT_TRUE(h.ctrl->Model().CanUndo());
}

TEST(TintwellCtrl, LanguageNineLoadsNoModuleOtherLanguagesFallBackWithAMessage) {
  Host h;
  h.ctrl->SetLanguageAndHelpPath(9, "/nowhere");
  h.messages.clear();
  h.ctrl->InitClassify();
  EXPECT_TRUE(h.loaded.empty());
  EXPECT_TRUE(h.messages.empty());
  h.ctrl->OnDialogClosing(2);
  h.ctrl->OnDialogDestroyed();
  h.ctrl->SetLanguageAndHelpPath(7, "/nowhere");
  h.messages.clear();
  EXPECT_EQ(h.ctrl->InitClassify(), kTwTrue);
  EXPECT_EQ(h.loaded, (std::vector<std::string>{"/modules/Lang7_ColorClass.xrs"}));
  EXPECT_EQ(h.messages, (std::vector<std::string>{
                            "Unable to load language resource Lang7_ColorClass.xrs, defaulting to English"}));
}

TEST(TintwellCtrl, DialogThatCannotBeMadeLeavesNoBuilder) {
  Host h;
  h.creatable = false;
  EXPECT_EQ(h.ctrl->InitClassify(), kTwFalse);
  EXPECT_EQ(h.ctrl->Builder(), nullptr);
  h.creatable = true;
  EXPECT_EQ(h.ctrl->InitClassify(), kTwTrue);  // nothing was left open
}

TEST(TintwellCtrl, ClosingFiresInOrderAndAllowsANewSession) {
  Host h;
  ASSERT_EQ(h.ctrl->InitClassify(), kTwTrue);
  h.sink.events.clear();
  h.ctrl->OnDialogClosing(1);
  h.ctrl->OnDialogDestroyed();
  EXPECT_EQ(h.sink.events, (std::vector<std::string>{"PaletteModified 0", "CancelRequestMergeArea",
                                                     "CancelRequestCurrentColor", "Closed 1"}));
  EXPECT_EQ(h.ctrl->Builder(), nullptr);
  EXPECT_EQ(h.ctrl->InitClassify(), kTwTrue);
  EXPECT_EQ(h.ctrl->Builder()->Count(0), 0u);
}

TEST(TintwellCtrl, EventsSevenAndEightReachASinkByDispatchId) {
  Host h;
  EXPECT_EQ(TintwellEventId("RequestMergeArea"), 7);
  EXPECT_EQ(TintwellEventId("CancelRequestMergeArea"), 8);
  EXPECT_EQ(TintwellMethodId("SetLanguageAndHelpPath"), 12);
  EXPECT_EQ(TintwellMethodId("Nothing"), -1);
  h.ctrl->Fire(7);
  h.ctrl->Fire(8);
  EXPECT_EQ(h.sink.events, (std::vector<std::string>{"RequestMergeArea", "CancelRequestMergeArea"}));
}

TEST(TintwellCtrl, LatestControlIsForgottenWhenDestroyed) {
  auto* a = new Host;
  EXPECT_EQ(CTintwellCtrl::Latest(), a->ctrl);
  delete a;
  EXPECT_EQ(CTintwellCtrl::Latest(), nullptr);
}

std::string TempFolder(const char* name) {
  const char* base = std::getenv("ORB_TEST_TMP");
  const std::string dir = orb::JoinPath(base ? base : "/tmp", std::string("tintwell-") + name + "-" + std::to_string(getpid()));
  orb::EnsureFolder(dir);
  return dir;
}

TEST(TintwellCtrl, ReadOnlyHelpFileIsEnoughMissingOneFallsBackToEnglish) {
  Host h;
  const std::string dir = TempFolder("help");
  const std::string help = orb::JoinPath(dir, "Tintwell7.hlp");
  std::ofstream(help) << "help";
  ::chmod(help.c_str(), 0444);
  h.ctrl->SetLanguageAndHelpPath(7, dir.c_str());
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(h.ctrl->HelpFile(), help);
  EXPECT_EQ(h.ctrl->SettingsFolder(), dir);
  h.ctrl->SetLanguageAndHelpPath(8, dir.c_str());
  EXPECT_EQ(h.messages, (std::vector<std::string>{"Unable to load " + dir +
                                                  "/Tintwell8.hlp, defaulting to English help file"}));
  EXPECT_EQ(h.ctrl->HelpFile(), orb::JoinPath(dir, "Tintwell9.hlp"));
}

TEST(HueflockSettings, EmptyFileGivesDefaultsAndSaveWritesSixValues) {
  const std::string dir = TempFolder("settings");
  std::remove(orb::JoinPath(dir, "Hueflock.dat").c_str());
  const HueflockSettings d = HueflockSettings::Load(dir);
  EXPECT_TRUE(orb::FileExists(orb::JoinPath(dir, "Hueflock.dat")));  // made empty
  EXPECT_EQ(d.sortKey, 3);
  EXPECT_EQ(d.view, 0);
  EXPECT_EQ(d.top, -1);
  EXPECT_EQ(d.left, -1);
  EXPECT_EQ(d.replaceOn, 0);
  EXPECT_EQ(d.replaceColor, 0x00FF00);
  HueflockSettings s;
  s.sortKey = 2; s.view = 1; s.top = 40; s.left = -300; s.replaceOn = 1; s.replaceColor = 0x123456;
  ASSERT_TRUE(s.Save(dir));
  // Read back byte by byte with an independent reader.
  std::ifstream in(orb::JoinPath(dir, "Hueflock.dat"), std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(b.size(), 24u);
  const std::vector<unsigned char> want = {2, 0, 0, 0, 1, 0, 0, 0, 40, 0, 0, 0, 0xD4, 0xFE, 0xFF, 0xFF,
                                           1, 0, 0, 0, 0x56, 0x34, 0x12, 0};
  EXPECT_EQ(b, want);
  EXPECT_EQ(HueflockSettings::Load(dir).left, -300);
}

TEST(TintwellRegistration, RegisterWritesTheClassesAndUnregisterRemovesThem) {
  const std::string dir = orb::JoinPath(TempFolder("reg"), "Controls");
  EXPECT_EQ(tintwell::RegisterServer("/opt/orbalon/libtintwell.so", dir), tintwell::kRegOk);
  const std::string file = orb::JoinPath(dir, "Tintwell.reg");
  std::ifstream in(file);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("[TypeLib]\nId={A4662F48-0628-44EF-B928-47B90A325D83}"), std::string::npos);
  EXPECT_NE(text.find("[{DE87BFDB-6A28-44D4-AB35-CDCFE860784D}]\nProgID=TINTWELL.TintwellCtrl.1"), std::string::npos);
  EXPECT_NE(text.find("ProgID=TINTWELL.TintwellPropPage.1"), std::string::npos);
  EXPECT_EQ(tintwell::FindRegisteredLibrary("TINTWELL.TintwellCtrl.1", dir), "/opt/orbalon/libtintwell.so");
  EXPECT_EQ(tintwell::FindRegisteredLibrary("{de87bfdb-6a28-44d4-ab35-cdcfe860784d}", dir), "/opt/orbalon/libtintwell.so");
  EXPECT_EQ(tintwell::UnregisterServer(dir), tintwell::kRegOk);
  EXPECT_FALSE(orb::FileExists(file));
  EXPECT_EQ(tintwell::FindRegisteredLibrary("TINTWELL.TintwellCtrl.1", dir), "");
  EXPECT_EQ(tintwell::UnregisterServer(dir), tintwell::kRegTypeLibFailed);
}

TEST(TintwellRegistration, UnwritableFolderFailsAtTheTypeLibrary) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  const std::string dir = TempFolder("ro");
  ::chmod(dir.c_str(), 0555);
  EXPECT_EQ(tintwell::RegisterServer("/x/libtintwell.so", dir), tintwell::kRegTypeLibFailed);
  EXPECT_EQ(tintwell::RegisterServer("/x/libtintwell.so", orb::JoinPath(dir, "sub")), tintwell::kRegTypeLibFailed);
  ::chmod(dir.c_str(), 0755);
}

}  // namespace
