// A host that loads libtintwell.so as the program does: registration, classification,
// merges by area and by dragging one cell onto another, the events, closing.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/choice.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/radiobut.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "color_control/TintwellCtrl.h"
#include "color_control/TintwellHost.h"
#include "color_control/TintwellRegistration.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

namespace fs = std::filesystem;

using orbtest::PumpUntil;

fs::path ProgramFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

struct Sink : _DTintwellEvents {
  std::vector<std::string> events;
  std::vector<uint8_t> pal, lut;
  uint32_t n = 0;
  int paletteCalls = 0;
  void PaletteModified(const uint8_t* p, uint32_t k, const uint8_t* l) override {
    ++paletteCalls;
    pal.assign(p, p + 768);
    lut.assign(l, l + 65536);
    n = k;
  }
  void HueflockDlgClosed(uint32_t s) override { events.push_back("Closed " + std::to_string(s)); }
  void RequestMergeArea() override { events.push_back("RequestMergeArea"); }
  void CancelRequestMergeArea() override { events.push_back("CancelRequestMergeArea"); }
  void CancelRequestCurrentColor() override { events.push_back("CancelRequestCurrentColor"); }
  void DisplayUsingPalette() override { events.push_back("DisplayUsingPalette"); }
};

// Five well separated colours, 40 pixels each, as 10 lines of 20 pixels.
const uint8_t kColours[5][3] = {{250, 20, 20}, {20, 250, 20}, {20, 20, 250}, {240, 240, 60}, {30, 30, 30}};
std::vector<uint8_t> Image() {
  std::vector<uint8_t> px;
  for (int i = 0; i < 200; ++i) px.insert(px.end(), kColours[i % 5], kColours[i % 5] + 3);
  return px;
}
int Cell(const uint8_t* c) { return (c[0] >> 3) * 2048 + (c[1] >> 2) * 32 + (c[2] >> 3); }

struct HostFixture : testing::Test {
  TintwellLibrary lib;
  wxFrame* frame = nullptr;
  Sink sink;
  _DTintwell* ctrl = nullptr;
  std::string folder;

  void SetUp() override {
    std::string err;
    ASSERT_TRUE(lib.Load((ProgramFolder() / "libtintwell.so").string(), &err)) << err;
    frame = new wxFrame(nullptr, wxID_ANY, "host", wxPoint(0, 0), wxSize(300, 200));
    frame->Show();
    folder = (fs::path(getenv("HOME")) / "tintwell").string();
    fs::create_directories(folder);
    std::ofstream(folder + "/Tintwell9.hlp") << "help";
  }
  void TearDown() override {
    if (ctrl) ctrl->Release();
    if (frame) frame->Destroy();
    PumpUntil([] { return false; }, 20);
  }
  void Classify() {
    ctrl = lib.CreateControl(frame, &sink);
    ASSERT_NE(ctrl, nullptr);
    ctrl->SetLanguageAndHelpPath(9, folder.c_str());
    ASSERT_EQ(ctrl->InitClassify(), kTwTrue);
    const auto px = Image();
    ASSERT_EQ(ctrl->BuildHistogram(px.data(), 20, 10), kTwTrue);
    ctrl->SetNumberOfColors(16);
    ASSERT_EQ(ctrl->RunClassify(kTwFalse), kTwTrue);
    ASSERT_EQ(sink.n, 5u);
    // The refresh timer reports the sorted palette once more.
    const int before = sink.paletteCalls;
    ASSERT_TRUE(PumpUntil([&] { return sink.paletteCalls > before; }));
  }
  wxWindow* Dialog() const {
    // Dialogs of earlier tests may still wait for their deletion.
    wxWindow* found = nullptr;
    for (wxWindow* w : wxTopLevelWindows) {
      if (w->GetLabel() == "Color Classification" && !w->IsBeingDeleted() && w->IsShown()) found = w;
    }
    return found;
  }
  // Each fed colour's palette index after the last report.
  std::vector<int> Indices() const {
    std::vector<int> v;
    for (const auto& c : kColours) v.push_back(sink.lut[Cell(c)]);
    return v;
  }
};

TEST_F(HostFixture, RegistrationFileNamesTheLibraryAndGoesAgain) {
  const std::string regFolder = tintwell::ControlsFolder();
  ASSERT_EQ(lib.RegisterServer(), tintwell::kRegOk);
  const std::string lib2 = tintwell::FindRegisteredLibrary(tintwell::kControlProgId, regFolder);
  EXPECT_EQ(fs::canonical(lib2), fs::canonical(ProgramFolder() / "libtintwell.so"));
  TintwellLibrary again;
  std::string err;
  EXPECT_TRUE(again.LoadRegistered(regFolder, &err)) << err;
  EXPECT_EQ(lib.UnregisterServer(), tintwell::kRegOk);
  EXPECT_FALSE(fs::exists(tintwell::RegistrationFile(regFolder)));
  TintwellLibrary none;
  EXPECT_FALSE(none.LoadRegistered(regFolder, &err));
}

TEST_F(HostFixture, ClassifiesMergesAnAreaAndClosesWithTheEvents) {
  Classify();
  ASSERT_NE(Dialog(), nullptr);
  EXPECT_TRUE(Dialog()->IsShown());
  EXPECT_EQ(Dialog()->GetParent(), frame);
  // Every colour maps to an entry of its own cell centre.
  const auto idx = Indices();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(sink.pal[3 * idx[i]], (kColours[i][0] >> 3) * 8 + 4) << i;
  }
  // Merge the indices of colours 1 and 2 into colour 0.
  ctrl->SetCurrentColor(uint8_t(idx[0]));
  uint32_t flags[256] = {};
  flags[idx[1]] = flags[idx[2]] = 1;
  ASSERT_EQ(ctrl->MergeAreaToCurrentColor(flags), kTwTrue);
  EXPECT_EQ(sink.n, 3u);
  const auto after = Indices();
  EXPECT_EQ(after[1], after[0]);
  EXPECT_EQ(after[2], after[0]);
  EXPECT_NE(after[3], after[0]);
  // The plain exports reach the control.
  EXPECT_EQ(lib.SetScannerLut(sink.lut.data()), kTwTrue);
  // OK closes the dialog.
  auto* ok = wxDynamicCast(Dialog()->FindWindow(wxID_OK), wxButton);
  ASSERT_NE(ok, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
  click.SetEventObject(ok);
  ok->ProcessWindowEvent(click);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"DisplayUsingPalette", "CancelRequestMergeArea",
                                                   "CancelRequestCurrentColor", "Closed 1"}));
  ASSERT_TRUE(PumpUntil([&] { return Dialog() == nullptr; }));
  std::ifstream in(folder + "/Hueflock.dat", std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(b[0], 3);  // sort key still lightness
  EXPECT_EQ(b[20], 0x00);
  EXPECT_EQ(b[21], 0xFF);  // replacement colour green
  // A new session starts from an empty histogram.
  EXPECT_EQ(ctrl->InitClassify(), kTwTrue);
  ctrl->Release();
  ctrl = nullptr;
  const uint8_t pal[768] = {};
  EXPECT_EQ(lib.SetPalette(pal), kTwFalse);  // no control: the export does nothing
}

TEST_F(HostFixture, DraggingOneCellOntoAnotherMergesThem) {
  Classify();
  wxWindow* dlg = Dialog();
  ASSERT_NE(dlg, nullptr);
  dlg->Raise();
  wxWindow* view = dlg->FindWindow(207);
  ASSERT_NE(view, nullptr);
  PumpUntil([] { return false; }, 50);
  // Grid cells: width (W - 15) / 17, height (H - 20) / 18, 16 to a row from (15, 20).
  const wxSize sz = view->GetClientSize();
  const int w = (sz.x - 15) / 17, h = (sz.y - 20) / 18;
  auto centre = [&](int k) {
    return view->ClientToScreen(wxPoint(15 + (k % 16) * (w + 1) + w / 2, 20 + (k / 16) * (h + 1) + h / 2));
  };
  const auto before = Indices();
  wxUIActionSimulator sim;
  const wxPoint from = centre(1), to = centre(3);
  sim.MouseMove(from);
  PumpUntil([] { return false; }, 30);
  sim.MouseDown();
  PumpUntil([] { return false; }, 30);
  for (int s = 1; s <= 5; ++s) {
    sim.MouseMove(from + (to - from) * s / 5);
    PumpUntil([] { return false; }, 20);
  }
  sim.MouseUp();
  ASSERT_TRUE(PumpUntil([&] { return sink.n == 4; }));
  // The colour shown at position 1 now maps to the index of the one at position 3.
  const auto after = Indices();
  int moved = -1, target = -1;
  for (int i = 0; i < 5; ++i) {
    if (before[i] == 1) moved = i;
    if (before[i] == 3) target = i;
  }
  ASSERT_GE(moved, 0);
  ASSERT_GE(target, 0);
  EXPECT_EQ(after[moved], after[target]);
  std::vector<int> distinct(after);
  std::sort(distinct.begin(), distinct.end());
  EXPECT_EQ(std::unique(distinct.begin(), distinct.end()) - distinct.begin(), 4);
}

}  // namespace

namespace {

// What the screen shows of a window's client area.
wxImage Grab(wxWindow* w) {
  // Paint now: a window mapped where an earlier one stood shows the old pixels until then.
  wxGetTopLevelParent(w)->Refresh();
  wxGetTopLevelParent(w)->Update();
  PumpUntil([] { return false; }, 50);
  const wxSize sz = w->GetClientSize();
  const wxPoint at = w->ClientToScreen(wxPoint(0, 0));
  wxBitmap bmp(sz.x, sz.y, 24);
  wxMemoryDC mem(bmp);
  wxScreenDC screen;
  mem.Blit(0, 0, sz.x, sz.y, &screen, at.x, at.y);
  mem.SelectObject(wxNullBitmap);
  return bmp.ConvertToImage();
}

std::array<int, 3> At(const wxImage& img, int x, int y) {
  return {img.GetRed(x, y), img.GetGreen(x, y), img.GetBlue(x, y)};
}

TEST_F(HostFixture, GridShowsThePaletteInItsOrder) {
  Classify();
  wxWindow* dlg = Dialog();
  ASSERT_NE(dlg, nullptr);
  dlg->Raise();
  wxWindow* view = dlg->FindWindow(207);
  PumpUntil([] { return false; }, 100);
  const wxSize sz = view->GetClientSize();
  const int w = (sz.x - 15) / 17, h = (sz.y - 20) / 18;
  const wxImage grid = Grab(view);
  if (const char* dir = getenv("ORB_SCREENSHOT_DIR")) {
    Grab(dlg).SaveFile(wxString(dir) + "/classification-grid.png", wxBITMAP_TYPE_PNG);
  }
  // Palette index = list position = grid cell; cell 0 is current (white frame), so look
  // at the middle of each cell.
  for (int k = 0; k < 5; ++k) {
    const std::array<int, 3> want = {sink.pal[3 * k], sink.pal[3 * k + 1], sink.pal[3 * k + 2]};
    EXPECT_EQ(At(grid, 15 + k * (w + 1) + w / 2, 20 + h / 2), want) << k;
  }
}

TEST_F(HostFixture, StoredHistogramViewShowsOneBarPerColour) {
  // Hueflock.dat: sort by count, histogram view, no stored position.
  const uint8_t stored[24] = {1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0, 0, 0, 0, 0, 0xFF, 0, 0};
  std::ofstream(folder + "/Hueflock.dat", std::ios::binary).write(reinterpret_cast<const char*>(stored), 24);
  Classify();
  wxWindow* dlg = Dialog();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(static_cast<wxRadioButton*>(dlg->FindWindow(222))->GetValue());
  EXPECT_EQ(static_cast<wxChoice*>(dlg->FindWindow(252))->GetStringSelection(), "Count");
  wxWindow* view = dlg->FindWindow(207);
  PumpUntil([] { return false; }, 100);
  const wxImage bars = Grab(view);
  if (const char* dir = getenv("ORB_SCREENSHOT_DIR")) {
    Grab(dlg).SaveFile(wxString(dir) + "/classification-histogram.png", wxBITMAP_TYPE_PNG);
  }
  // Only the first paint of a window reaches the screen reliably here, so the bars are
  // checked in a test of their own. Equal counts of 40 pixels: five bars of 40 pixels standing on the arrows' row.
  const wxSize sz = view->GetClientSize();
  const int w = (sz.x - 15) / 17, base = sz.y - 16 - 8;
  for (int k = 0; k < 5; ++k) {
    const std::array<int, 3> want = {sink.pal[3 * k], sink.pal[3 * k + 1], sink.pal[3 * k + 2]};
    EXPECT_EQ(At(bars, 10 + k * (w + 1) + w / 2, base - 20), want) << k;
    EXPECT_NE(At(bars, 10 + k * (w + 1) + w / 2, base - 60), want) << k;
  }
}

}  // namespace

namespace {

using orbtest::Shell;

TEST(TintwellLanguage, EnglishModuleHoldsTheBuiltInStrings) {
  const std::string table =
      Shell("unzip -p '" + (ProgramFolder() / "Lang9_ColorClass.xrs").string() + "' strings.txt");
  ASSERT_FALSE(table.empty());
  std::istringstream in(table);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_EQ(line.substr(tab + 1), TintwellEnglishString(std::stoi(line))) << line;
    ++lines;
  }
  EXPECT_GE(lines, 10);
}

// A copy of the library beside a module for language 7 whose caption differs: the
// dialog takes its texts from the module.
TEST_F(HostFixture, OtherLanguageComesFromItsModuleBesideTheLibrary) {
  const fs::path dir = fs::path(getenv("HOME")) / "lang7";
  fs::create_directories(dir / "src");
  fs::copy_file(ProgramFolder() / "libtintwell.so", dir / "libtintwell.so");
  std::ofstream(dir / "src" / "strings.txt") << "215\tFarbklassifizierung\n221\tRaster\n";
  ASSERT_EQ(std::system(("cd '" + (dir / "src").string() + "' && zip -q ../Lang7_ColorClass.xrs strings.txt").c_str()), 0);
  TintwellLibrary copy;
  std::string err;
  ASSERT_TRUE(copy.Load((dir / "libtintwell.so").string(), &err)) << err;
  std::ofstream(folder + "/Tintwell7.hlp") << "help";
  ctrl = copy.CreateControl(frame, &sink);
  ctrl->SetLanguageAndHelpPath(7, folder.c_str());
  ASSERT_EQ(ctrl->InitClassify(), kTwTrue);
  wxWindow* found = nullptr;
  for (wxWindow* w : wxTopLevelWindows) {
    if (w->GetLabel() == "Farbklassifizierung") found = w;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->FindWindow(221)->GetLabel(), "Raster");
  EXPECT_EQ(found->FindWindow(222)->GetLabel(), "Histogram");  // missing ids stay English
  ctrl->Release();
  ctrl = nullptr;
}

}  // namespace
