// The general, media handling and extended pages and the manual stitch dialog as windows:
// the module's templates with their controls, values shown, a change reaching the settings
// record and the settings file, the frame's messages, and the slider events of the toolkit
// mapped to the scroll codes.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/evtloop.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "platform/Clock.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimScanner.h"
#include "scanner_library/trennic.h"
#include "scanning/gui/ControlBinding.h"
#include "scanning/gui/ManualStitchDlg.h"
#include "scanning/gui/ScanPropSheet.h"
#include "scanning/gui/ScanSettingsPropPages.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

class FakeMainFrame : public wxEvtHandler {
 public:
  FakeMainFrame() {
    map.Attach(this);
    for (uint32_t m : {WM_SCANNER_CALIBRATE, WM_SCANNER_ALIGN, WM_SCANNER_DIAGNOSTICS, WM_APPLY_PAPER_TRANSPORT,
                       WM_SCAN_STOP, WM_SCAN_REJECT_PAGE, WM_SCANNER_LOAD, WM_SCAN_BATCH_WAIT,
                       WM_APPLY_PAPER_STAGING}) {
      map.On(m, [this, m](uintptr_t w, intptr_t) {
        got.push_back({m, w});
        return intptr_t{0};
      });
    }
    g_hMainFrame.store(orb::gui::HandleOf(this));
  }
  ~FakeMainFrame() override { g_hMainFrame.store(nullptr); }
  int Count(uint32_t m) const {
    int n = 0;
    for (const auto& g : got) n += g.first == m;
    return n;
  }
  orb::gui::MessageMap map;
  std::vector<std::pair<uint32_t, uintptr_t>> got;
};

std::string U(const wxString& s) { return std::string(s.ToUTF8()); }

void Fire(wxWindow* w, wxEventType type) {
  wxCommandEvent e(type, w->GetId());
  e.SetEventObject(w);
  if (auto* c = dynamic_cast<wxCheckBox*>(w)) e.SetInt(c->GetValue());
  w->ProcessWindowEvent(e);
}
void KillFocus(wxWindow* w) {
  wxFocusEvent e(wxEVT_KILL_FOCUS, w->GetId());
  e.SetEventObject(w);
  w->ProcessWindowEvent(e);
}
void Scroll(wxSlider* s, wxEventType type, int position) {
  s->SetValue(position);
  wxScrollEvent e(type, s->GetId(), position, wxHORIZONTAL);
  e.SetEventObject(s);
  s->ProcessWindowEvent(e);
}

class SheetWindow : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "/sheetXXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    savedData = g_szDataFolder;
    g_szDataFolder = dir;
    saved = ScanSettings;
    ScanSettings = orb::ScanSettingsRecord();
    ScanSettings.ScannerType = 1;
    ScanSettings.ModelCode = 9;
    ScanSettings.ScannerSubType = 1;
    ScanSettings.HighResWindow = 1;
    ScanSettings.ColourMode = 0;
    ScanSettings.ScanBrightness = 5;
    ScanSettings.GammaRed = ScanSettings.GammaGreen = ScanSettings.GammaBlue = 1.5f;
    ScanSettings.FirmwareAtLeast = 1;
    ScanSettings.MaxDpi = 800;
    ScanSettings.OpticalDpi = 400;
    ScanSettings.MaxWidth = 3600;
    orb::SetTextField(ScanSettings.OutputFileName, dir + "/Scan-0001.tif");
    orb::SetTextField(ScanSettings.Palette256File, dir + "/def256.apt");
    AppStatus.store(0);
    g_bScannerPresent = 1;
    orb::gui::InstallScanOutputPage();
    orb::gui::InstallScanSettingsPages();
    frame = new wxFrame(nullptr, wxID_ANY, "Scan settings", wxDefaultPosition, wxSize(1400, 360));
    sheet = new CScanPropSheet(frame);
    frame->Show();
    wxTheApp->ProcessPendingEvents();
  }
  void TearDown() override {
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    ScanSettings = saved;
    g_szDataFolder = savedData;
    AppStatus.store(0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  template <class T>
  T* Page(int index) {
    return dynamic_cast<T*>(sheet->GetPage(index));
  }
  void Show(int index) {
    sheet->GetTabControl()->SetSelection(static_cast<size_t>(index));
    wxTheApp->ProcessPendingEvents();
  }
  // The settings file as a later start would read it.
  orb::ScanSettingsRecord Saved() {
    const orb::ScanSettingsRecord now = ScanSettings;
    EXPECT_EQ(SaveScanData(), SettingsWrite::Written);
    ScanSettings = orb::ScanSettingsRecord();
    LoadScanData();
    orb::ScanSettingsRecord read = ScanSettings;
    ScanSettings = now;
    return read;
  }

  std::string dir, savedData;
  orb::ScanSettingsRecord saved;
  FakeMainFrame main;
  wxFrame* frame = nullptr;
  CScanPropSheet* sheet = nullptr;
};

TEST_F(SheetWindow, FourPagesInTabOrderFromTheirTemplates) {
  ASSERT_NE(Page<CScanToolsPropPage>(CScanPropSheet::kScanOutput), nullptr);
  ASSERT_NE(Page<CGenScanSetPropPage>(CScanPropSheet::kGeneral), nullptr);
  ASSERT_NE(Page<CScanMediaHandlingPropPage>(CScanPropSheet::kMedia), nullptr);
  ASSERT_NE(Page<CGenScanSetExPropPage>(CScanPropSheet::kExtended), nullptr);
  EXPECT_EQ(U(sheet->GetTabCaption(1)), "General");
  EXPECT_EQ(U(sheet->GetTabCaption(2)), "Media");
  EXPECT_EQ(U(sheet->GetTabCaption(3)), "Extended");
  // Every control the models name is in the module's templates.
  auto* general = Page<CGenScanSetPropPage>(1);
  for (const auto& [id, state] : general->Model().Controls()) EXPECT_NE(general->ControlWindow(id), nullptr) << id;
  auto* media = Page<CScanMediaHandlingPropPage>(2);
  for (const auto& [id, state] : media->Model().Controls()) EXPECT_NE(media->ControlWindow(id), nullptr) << id;
  auto* extended = Page<CGenScanSetExPropPage>(3);
  for (const auto& [id, state] : extended->Model().Controls()) EXPECT_NE(extended->ControlWindow(id), nullptr) << id;
  Show(0);
}

TEST_F(SheetWindow, GeneralPageShowsTheFormatsAndAChangeReachesTheSettingsFile) {
  ScanSettings.FormatIndexGrey = 3;
  Show(1);
  auto* page = Page<CGenScanSetPropPage>(1);
  auto* grey = dynamic_cast<wxChoice*>(page->ControlWindow(1050));
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(grey->GetCount(), 6u);
  EXPECT_EQ(grey->GetSelection(), 3);
  EXPECT_EQ(U(grey->GetString(3)), "TIFF uncompressed");
  EXPECT_TRUE(page->ControlWindow(1452)->IsEnabled());
  EXPECT_TRUE(page->ControlWindow(1341)->IsShown()) << "a scanner with the high-resolution window";
  grey->SetSelection(2);  // png: no options
  Fire(grey, wxEVT_CHOICE);
  EXPECT_EQ(ScanSettings.FormatIndexGrey, 2);
  EXPECT_FALSE(page->ControlWindow(1452)->IsEnabled());
  auto* bilevel = dynamic_cast<wxCheckBox*>(page->ControlWindow(1341));
  bilevel->SetValue(true);
  Fire(bilevel, wxEVT_CHECKBOX);
  EXPECT_EQ(ScanSettings.HighResBilevel, 1);
  auto* automatic = dynamic_cast<wxRadioButton*>(page->ControlWindow(1025));
  automatic->SetValue(true);
  Fire(automatic, wxEVT_RADIOBUTTON);
  EXPECT_EQ(ScanSettings.AutoPalette256, 1);
  EXPECT_FALSE(page->ControlWindow(1028)->IsEnabled());
  const orb::ScanSettingsRecord file = Saved();
  EXPECT_EQ(file.FormatIndexGrey, 2);
  EXPECT_EQ(file.HighResBilevel, 1);
  EXPECT_EQ(file.AutoPalette256, 1);
}

TEST_F(SheetWindow, ExtendedPageGammaBrightnessAndServiceButtons) {
  Show(3);
  auto* page = Page<CGenScanSetExPropPage>(3);
  auto* green = dynamic_cast<wxTextCtrl*>(page->ControlWindow(1038));
  ASSERT_NE(green, nullptr);
  EXPECT_EQ(U(green->GetValue()), "1.5");
  green->ChangeValue("12.5");
  KillFocus(green);
  EXPECT_FLOAT_EQ(ScanSettings.GammaGreen, 10.0f);
  EXPECT_EQ(U(green->GetValue()), "10.0");
  auto* slider = dynamic_cast<wxSlider*>(page->ControlWindow(1084));
  EXPECT_EQ(slider->GetMax(), 50);
  Scroll(slider, wxEVT_SCROLL_THUMBTRACK, 23);
  EXPECT_EQ(ScanSettings.ScanBrightness, 23);
  EXPECT_EQ(U(dynamic_cast<wxStaticText*>(page->ControlWindow(1034))->GetLabel()), "23");
  main.got.clear();
  Fire(page->ControlWindow(1051), wxEVT_BUTTON);
  Fire(page->ControlWindow(1054), wxEVT_BUTTON);
  Fire(page->ControlWindow(1117), wxEVT_BUTTON);
  wxTheApp->ProcessPendingEvents();  // diagnostics is posted
  EXPECT_EQ(main.Count(WM_SCANNER_CALIBRATE), 1);
  EXPECT_EQ(main.Count(WM_SCANNER_ALIGN), 1);
  EXPECT_EQ(main.Count(WM_SCANNER_DIAGNOSTICS), 1);
  const orb::ScanSettingsRecord file = Saved();
  EXPECT_FLOAT_EQ(file.GammaGreen, 10.0f);
  EXPECT_EQ(file.ScanBrightness, 23);

  AppStatus.store(1);
  page->OnSetActive();
  for (int id : {1084, 1037, 1051, 1054, 1117}) EXPECT_FALSE(page->ControlWindow(id)->IsEnabled()) << id;
}

TEST_F(SheetWindow, MediaPageAppliesTheTransportOncePerShowingAndMapsTheSliderEvents) {
  main.got.clear();
  Show(2);
  auto* page = Page<CScanMediaHandlingPropPage>(2);
  EXPECT_EQ(main.Count(WM_APPLY_PAPER_TRANSPORT), 1) << "one apply per activation";
  auto* delay = dynamic_cast<wxSlider*>(page->ControlWindow(1138));
  ASSERT_NE(delay, nullptr);
  EXPECT_TRUE(delay->IsShown());
  struct Step {
    wxEventType type;
    int position;
    bool applies;
  };
  const Step steps[] = {{wxEVT_SCROLL_THUMBTRACK, 2, false}, {wxEVT_SCROLL_THUMBRELEASE, 2, true},
                        {wxEVT_SCROLL_CHANGED, 2, false},    {wxEVT_SCROLL_LINEDOWN, 3, true},
                        {wxEVT_SCROLL_LINEUP, 2, true},      {wxEVT_SCROLL_PAGEDOWN, 5, false},
                        {wxEVT_SCROLL_TOP, 0, false}};
  int applies = main.Count(WM_APPLY_PAPER_TRANSPORT);
  for (const Step& st : steps) {
    Scroll(delay, st.type, st.position);
    applies += st.applies;
    EXPECT_EQ(ScanSettings.AutoLoadDelay, st.position);
    EXPECT_EQ(main.Count(WM_APPLY_PAPER_TRANSPORT), applies) << st.type;
  }
  auto* manual = dynamic_cast<wxCheckBox*>(page->ControlWindow(1231));
  manual->SetValue(true);
  Fire(manual, wxEVT_CHECKBOX);
  EXPECT_EQ(ScanSettings.ManualTransport, 1);
  EXPECT_FALSE(delay->IsShown());
  auto* eject = dynamic_cast<wxRadioButton*>(page->ControlWindow(1042));
  eject->SetValue(true);
  Fire(eject, wxEVT_RADIOBUTTON);
  EXPECT_EQ(ScanSettings.MediaHandlingByte, 2);
  const orb::ScanSettingsRecord file = Saved();
  EXPECT_EQ(file.ManualTransport, 1);
  EXPECT_EQ(file.MediaHandlingByte, 2);
  EXPECT_EQ(file.AutoLoadDelay, 0);
}

TEST_F(SheetWindow, DraggingTheDelaySliderAppliesTheTransportOnlyWhenReleased) {
  Show(2);
  auto* page = Page<CScanMediaHandlingPropPage>(2);
  auto* delay = dynamic_cast<wxSlider*>(page->ControlWindow(1138));
  ASSERT_NE(delay, nullptr);
  std::vector<wxEventType> seen;
  orb::gui::BindScroll(delay, [&](wxScrollEvent& e) {
    seen.push_back(e.GetEventType());
    e.Skip();
  });
  main.got.clear();
  frame->Raise();
  orbtest::PumpUntil([&] { return delay->IsShownOnScreen(); }, 500);
  orbtest::PumpUntil([] { return false; }, 50);
  ASSERT_TRUE(delay->IsShownOnScreen());
  // From the thumb at 0 to the right end of the track.
  const wxRect r = delay->GetScreenRect();
  const wxPoint from(r.x + 12, r.y + r.height / 2), to(r.x + r.width - 6, r.y + r.height / 2);
  wxUIActionSimulator sim;
  sim.MouseMove(from);
  orbtest::PumpUntil([] { return false; }, 30);
  sim.MouseDown();
  orbtest::PumpUntil([] { return false; }, 30);
  for (int step = 1; step <= 8; ++step) {
    sim.MouseMove(from + (to - from) * step / 8);
    orbtest::PumpUntil([] { return false; }, 20);
  }
  sim.MouseUp();
  orbtest::PumpUntil([&] { return main.Count(WM_APPLY_PAPER_TRANSPORT) > 0; }, 500);
  // What GTK sends for a drag: thumb tracks while the thumb moves, a release at the end.
  EXPECT_NE(std::find(seen.begin(), seen.end(), wxEVT_SCROLL_THUMBTRACK), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), wxEVT_SCROLL_THUMBRELEASE), seen.end());
  EXPECT_EQ(ScanSettings.AutoLoadDelay, delay->GetValue());
  EXPECT_GT(delay->GetValue(), 0);
  EXPECT_EQ(main.Count(WM_APPLY_PAPER_TRANSPORT), 1) << "applied once, on the release";
}

class StitchWindow : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "/stitchXXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    saved = ScanSettings;
    savedMisc = MiscSettings;
    orb::SetTextField(MiscSettings.WorkingFolder, dir);
    ScanSettings.CameraCount = 5;
    ScanSettings.ColourMode = 0;
    orb::SetDefaultClock(&clock);
    noBus = std::make_unique<orb::sim::ScopedPassThrough>(std::make_shared<orb::sim::SimScsiBus>(0));
    sti = std::make_unique<orb::sim::ScopedStiScanner>(orb::sim::SimScannerConfig{});
    scanner = std::make_unique<CTrennic>();
    DeviceInfoType info{};
    ASSERT_TRUE(scanner->Open(info));
    ASSERT_TRUE(scanner->SetLeftRightStitch(100, 110, 120, 130, 140));
    ASSERT_TRUE(scanner->SetFrontBackAlign(3, 4, 5, 6, 7));
    frame = new wxFrame(nullptr, wxID_ANY, "frame");
    frame->Show();
    AppStatus.store(0);
  }
  void TearDown() override {
    if (CManualStitchDlg::Current()) CManualStitchDlg::Current()->Destroy();
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    scanner.reset();
    sti.reset();
    noBus.reset();
    orb::SetDefaultClock(nullptr);
    ScanSettings = saved;
    MiscSettings = savedMisc;
    AppStatus.store(0);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
  orb::ScanSettingsRecord saved;
  orb::MiscSettingsRecord savedMisc;
  orb::FakeClock clock;
  FakeMainFrame main;
  std::unique_ptr<orb::sim::ScopedPassThrough> noBus;
  std::unique_ptr<orb::sim::ScopedStiScanner> sti;
  std::unique_ptr<CTrennic> scanner;
  wxFrame* frame = nullptr;
};

TEST_F(StitchWindow, ShowsTheSeamsSendsAReleasedSliderAndOkRestoresTheSettings) {
  const orb::ScanSettingsRecord user = ScanSettings;
  CManualStitchDlg* dlg = CManualStitchDlg::Show(frame, *scanner);
  ASSERT_EQ(CManualStitchDlg::Current(), dlg);
  EXPECT_EQ(CManualStitchDlg::Show(frame, *scanner), dlg) << "one window at a time";
  auto* text = dynamic_cast<wxStaticText*>(dlg->ControlWindow(1215));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(U(text->GetLabel()), "110");
  auto* slider = dynamic_cast<wxSlider*>(dlg->ControlWindow(1213));
  EXPECT_EQ(slider->GetValue(), 110);
  Scroll(slider, wxEVT_SCROLL_THUMBTRACK, 160);
  EXPECT_EQ(U(text->GetLabel()), "160");
  EXPECT_EQ(sti->scanner().LeftRightStitch()[1], 110) << "dragging sends nothing";
  Scroll(slider, wxEVT_SCROLL_THUMBRELEASE, 160);
  EXPECT_EQ(sti->scanner().LeftRightStitch()[1], 160);
  Fire(dlg->ControlWindow(1227), wxEVT_BUTTON);  // test scan
  EXPECT_EQ(ScanSettings.ColourMode, 3);
  EXPECT_EQ(main.Count(WM_SCAN_BATCH_WAIT), 1);
  wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
  dlg->ProcessWindowEvent(ok);
  wxTheApp->ProcessPendingEvents();
  EXPECT_EQ(CManualStitchDlg::Current(), nullptr);
  EXPECT_TRUE(ScanSettings == user) << "closing restores the user's settings";
}

TEST_F(StitchWindow, CancelDuringATestScanWaitsForItsEnd) {
  const orb::ScanSettingsRecord user = ScanSettings;
  CManualStitchDlg* dlg = CManualStitchDlg::Show(frame, *scanner);
  Fire(dlg->ControlWindow(1227), wxEVT_BUTTON);
  AppStatus.store(1);
  dlg->Tick();
  EXPECT_TRUE(dlg->ControlWindow(1230)->IsEnabled());
  EXPECT_FALSE(dlg->ControlWindow(1227)->IsEnabled());
  wxCommandEvent cancel(wxEVT_BUTTON, wxID_CANCEL);
  dlg->ProcessWindowEvent(cancel);
  EXPECT_EQ(main.Count(WM_SCAN_STOP), 1);
  EXPECT_EQ(CManualStitchDlg::Current(), dlg);
  EXPECT_EQ(ScanSettings.ColourMode, 3) << "not restored in the middle of the scan";
  AppStatus.store(2);
  dlg->Tick();
  wxTheApp->ProcessPendingEvents();
  EXPECT_EQ(CManualStitchDlg::Current(), nullptr);
  EXPECT_EQ(main.Count(WM_SCAN_REJECT_PAGE), 1);
  EXPECT_TRUE(ScanSettings == user);
}

}  // namespace
