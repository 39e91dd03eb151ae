// The enabling and checking of the main frame's commands through the toolkit's update
// events, by the status word, batch mode and the active document; and the frame's magnifier,
// drag-to-scroll and colour statistics commands.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/docmdi.h>
#include <wx/modalhook.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "app/FrameCommands.h"
#include "common/LanguageModule.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "scanning/ScannerEntryPoints.h"
#include "common/gui/AppMessage.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/KeepMessageText.h"
#include "tests/common/gui/MainFrameFixture.h"

namespace {

namespace res = orb::res;
using namespace orb::frame_cmds;

// The document the frame has active in a case.
enum class Doc {
  None,        // no document open
  Scan,        // a scan document (working record in state 0)
  Opened,      // an image opened from a file, not changed
  Edited,      // the same with its edited flag set
  NewVersion,  // a tool made a newer version (a crop)
};

struct UiState {
  bool setEnabled = false;
  bool enabled = false;
  bool setChecked = false;
  bool checked = false;
  wxString text;
};

class FrameUpdate : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    BWThresholdSettings = orb::BWThresholdRecord();
    orb::SetScanningEntryPoints({});
    if (const char* p = std::getenv("PATH")) savedPath_ = p;
  }
  void TearDown() override {
    AppStatus = 0;
    g_bBatchMode = 0;
    orbtest::MainFrameFixture::TearDown();
    setenv("PATH", savedPath_.c_str(), 1);
    orb::SetScanningEntryPoints({});
    BWThresholdSettings = orb::BWThresholdRecord();
  }

  // Makes the desktop's mail hand-over present or absent for the frame made next: the
  // search path holds only a folder with (or without) an executable of that name.
  void MailProgram(bool present) {
    const std::string dir = (bin_.path() / (present ? "with" : "without")).string();
    std::filesystem::create_directories(dir);
    if (present) {
      orbtest::WriteFile(dir + "/xdg-email", "#!/bin/sh\nexit 0\n");
      ::chmod((dir + "/xdg-email").c_str(), 0755);
    }
    setenv("PATH", dir.c_str(), 1);
  }

  void Make() { StartFrame(); }

  // An image file ImageMagick makes from `plan` in the test's folder, opened as the user
  // opens it (no view is activated by hand); null when it is refused.
  COrbalonDoc* OpenMade(const char* name, const std::string& plan = "xc:gray60") {
    const std::string path = Path(name);
    EXPECT_EQ(std::system(("convert -size 40x30 '" + plan + "' -depth 8 -compress none '" + path + "'").c_str()), 0);
    COrbalonDoc* doc = OpenSilently(path);
    orbtest::PumpUntil([] { return false; }, 20);
    return doc;
  }

  COrbalonDoc* Open(Doc kind) {
    if (kind == Doc::None) return nullptr;
    auto* doc = dynamic_cast<COrbalonDoc*>(manager_->CreateDocument(wxString(), wxDOC_NEW));
    EXPECT_TRUE(doc);
    if (!doc) return nullptr;
    doc->SetDiscardChanges(true);
    if (wxView* v = doc->GetFirstView()) v->Activate(true);
    ImageState* w = doc->WorkingImage();
    w->width = 64;
    w->height = 48;
    w->region = {0, 0, 63, 47};
    if (kind != Doc::Scan) w->state = VS_OPENED;
    if (kind == Doc::Edited) w->edited = 1;
    if (kind == Doc::NewVersion) {
      ImageState* crop = PushImageState(w);
      crop->operationCode = 9;
      doc->Image().SetWorking(crop);
    }
    EXPECT_EQ(manager_->GetCurrentDocument(), doc);
    return doc;
  }

  void Close(COrbalonDoc* doc) {
    if (!doc) return;
    doc->SetDiscardChanges(true);
    manager_->CloseDocument(doc, true);
    orbtest::PumpUntil([] { return false; }, 5);
  }

  // Asks the frame for the state of a menu item or tool, as the toolkit does before it
  // shows a menu.
  UiState Update(int wxId) {
    wxUpdateUIEvent e(wxId);
    e.SetEventObject(frame_);
    frame_->ProcessWindowEvent(e);
    UiState s;
    s.setEnabled = e.GetSetEnabled();
    s.enabled = e.GetEnabled();
    s.setChecked = e.GetSetChecked();
    s.checked = e.GetChecked();
    if (e.GetSetText()) s.text = e.GetText();
    return s;
  }

  void Command(int command) {
    wxCommandEvent e(wxEVT_MENU, res::WxCommandId(command));
    e.SetEventObject(frame_);
    frame_->ProcessWindowEvent(e);
  }

  orbtest::TempDir bin_;
  std::string savedPath_;
};

TEST_F(FrameUpdate, CommandsFollowTheStatusBatchModeAndTheActiveDocument) {
  MailProgram(true);
  Make();
  ASSERT_TRUE(frame_->MailAvailable());
  // The commands, in the order of the expected states below.
  const struct {
    int wxId;
    const char* name;
  } commands[] = {
      {wxID_CLOSE, "close"},
      {wxID_SAVE, "save"},
      {res::WxCommandId(kSaveAs), "save as"},
      {wxID_OPEN, "open"},
      {wxID_EXIT, "exit"},
      {wxID_PRINT, "print"},
      {wxID_PRINT_SETUP, "print setup"},
      {res::WxCommandId(kSavePreset), "save preset"},
      {res::WxCommandId(kSendMail), "e-mail"},
      {res::WxCommandId(kUndo), "undo"},
  };
  struct Case {
    const char* name;
    uint32_t status;
    bool batch;
    Doc doc;
    const char* enabled;  // one character a command: 1 enabled, 0 disabled
  } cases[] = {
      //                                                   close save saveas open exit print setup preset mail undo
      {"idle, nothing open", 0, false, Doc::None, "0001101100"},
      {"idle, scan document", 0, false, Doc::Scan, "0011111110"},
      {"idle, opened image", 0, false, Doc::Opened, "1011111110"},
      {"idle, edited image", 0, false, Doc::Edited, "1111111110"},
      {"idle, newer version", 0, false, Doc::NewVersion, "1111111111"},
      {"scanning", orb::Bits(orb::ScanState::Scanning), false, Doc::Scan, "0000000000"},
      {"decision pending", orb::Bits(orb::ScanState::DecisionPending), false, Doc::Scan, "0011111110"},
      {"medium moving", orb::Bits(orb::StatusBit::MediumMoving), false, Doc::Opened, "1011111110"},
      {"opening a file", orb::Bits(orb::StatusBit::Opening), false, Doc::NewVersion, "0000000001"},
      {"view rebuilding", orb::Bits(orb::StatusBit::ViewRefresh), false, Doc::Edited, "0000000000"},
      {"batch mode", 0, true, Doc::Edited, "0010011110"},
      {"batch mode, nothing open", 0, true, Doc::None, "0000001100"},
  };
  for (const Case& c : cases) {
    COrbalonDoc* doc = Open(c.doc);
    AppStatus = c.status;
    g_bBatchMode = c.batch ? 1 : 0;
    for (size_t i = 0; i < std::size(commands); ++i) {
      UiState s = Update(commands[i].wxId);
      EXPECT_TRUE(s.setEnabled) << c.name << ": " << commands[i].name;
      EXPECT_EQ(s.enabled, c.enabled[i] == '1') << c.name << ": " << commands[i].name;
    }
    AppStatus = 0;
    g_bBatchMode = 0;
    Close(doc);
  }
}

TEST_F(FrameUpdate, UndoNamesTheNewestOperation) {
  Make();
  UiState none = Update(res::WxCommandId(kUndo));
  EXPECT_FALSE(none.enabled);
  EXPECT_EQ(std::string(none.text.utf8_str()), orb::LoadString(33020));
  COrbalonDoc* doc = Open(Doc::NewVersion);
  UiState crop = Update(res::WxCommandId(kUndo));
  EXPECT_TRUE(crop.enabled);
  ASSERT_FALSE(orb::LoadString(33043).empty());
  EXPECT_EQ(std::string(crop.text.utf8_str()), orb::LoadString(33043));
  doc->WorkingImage()->operationCode = 1;
  EXPECT_EQ(std::string(Update(res::WxCommandId(kUndo)).text.utf8_str()), orb::LoadString(33017));
}

TEST_F(FrameUpdate, UndoFollowsTheOpenedImagesVersions) {
  Make();
  COrbalonDoc* doc = OpenMade("page.tif");
  ASSERT_TRUE(doc);
  EXPECT_TRUE(Update(wxID_CLOSE).enabled);
  EXPECT_FALSE(Update(res::WxCommandId(kUndo)).enabled);
  // A tool's newer version (a mirror) can be undone.
  ImageState* mirrored = PushImageState(doc->WorkingImage());
  mirrored->operationCode = 1;
  doc->Image().SetWorking(mirrored);
  UiState undo = Update(res::WxCommandId(kUndo));
  EXPECT_TRUE(undo.enabled);
  EXPECT_EQ(std::string(undo.text.utf8_str()), orb::LoadString(33017));
}

TEST_F(FrameUpdate, ScanMenuOffersStopAcceptAndRejectOnlyInTheirState) {
  Make();
  const int stop = res::WxCommandId(kPressStop), accept = res::WxCommandId(kPressAccept),
            reject = res::WxCommandId(kPressReject);
  AppStatus = 0;
  EXPECT_FALSE(Update(stop).enabled);
  EXPECT_FALSE(Update(accept).enabled);
  EXPECT_FALSE(Update(reject).enabled);
  orb::SetScanState(orb::ScanState::Scanning);
  EXPECT_TRUE(Update(stop).enabled);
  EXPECT_FALSE(Update(accept).enabled);
  orb::SetScanState(orb::ScanState::DecisionPending);
  EXPECT_FALSE(Update(stop).enabled);
  EXPECT_TRUE(Update(accept).enabled);
  EXPECT_TRUE(Update(reject).enabled);
  AppStatus = 0;
}

TEST_F(FrameUpdate, QuittingWhileAScanWaitsForTheDecisionAsksFirst) {
  Make();
  Open(Doc::Scan);
  orb::SetScanState(orb::ScanState::DecisionPending);
  bool closed = true;
  // No keeps the program, the scan and its document.
  wxTEST_DIALOG(closed = frame_->Close(false), wxExpectModal<wxMessageDialog>(wxID_NO));
  EXPECT_FALSE(closed);
  EXPECT_FALSE(frame_->IsBeingDeleted());
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
  AppStatus = 0;
}

TEST_F(FrameUpdate, TheWindowTitleFollowsTheActiveDocument) {
  Make();
  COrbalonDoc* first = OpenMade("first.tif");
  COrbalonDoc* second = OpenMade("second.tif");
  ASSERT_TRUE(first && second);
  EXPECT_NE(frame_->GetTitle().Find("second.tif"), wxNOT_FOUND) << frame_->GetTitle();
  Close(second);
  orbtest::PumpUntil([this] { return frame_->GetTitle().Find("first.tif") != wxNOT_FOUND; }, 200);
  EXPECT_NE(frame_->GetTitle().Find("first.tif"), wxNOT_FOUND) << frame_->GetTitle();
  Close(first);
  orbtest::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(frame_->GetTitle(), "Orbalon");
}

// The menu bar as the user opens it: the toolkit asks the frame for every item of a menu
// before it shows it. The item's own state is what the user sees.
bool MenuItemEnabled(wxFrame* frame, int wxId) {
  wxMenuBar* bar = frame->GetMenuBar();
  if (!bar) return false;
  wxMenu* menu = nullptr;
  wxMenuItem* item = bar->FindItem(wxId, &menu);
  if (!item || !menu) {
    ADD_FAILURE() << "no menu item " << wxId;
    return false;
  }
  menu->UpdateUI();
  return item->IsEnabled();
}

// Answers the quit question and remembers that it was asked.
class AnswerQuit : public wxExpectModalBase<wxMessageDialog, AnswerQuit> {
 public:
  AnswerQuit(bool* asked, int answer) : m_asked(asked), m_answer(answer) {}

 protected:
  int OnInvoked(wxMessageDialog* dlg) const override {
    *m_asked = true;
    EXPECT_NE(dlg->GetMessage().Find("Accept"), wxNOT_FOUND) << dlg->GetMessage();
    return m_answer;
  }
  wxString GetDefaultDescription() const override { return "quit question"; }

 private:
  bool* m_asked;
  int m_answer;
};

TEST_F(FrameUpdate, TheScanMenuOffersStopAcceptAndRejectOnlyInTheirStateAsTheUserOpensIt) {
  Make();
  const int stop = res::WxCommandId(kPressStop), accept = res::WxCommandId(kPressAccept),
            reject = res::WxCommandId(kPressReject);
  const struct {
    const char* name;
    uint32_t status;
    bool stop, decide;
  } cases[] = {
      {"idle", 0, false, false},
      {"scanning", orb::Bits(orb::ScanState::Scanning), true, false},
      {"decision pending", orb::Bits(orb::ScanState::DecisionPending), false, true},
      {"idle again", 0, false, false},
  };
  for (const auto& c : cases) {
    AppStatus = c.status;
    EXPECT_EQ(MenuItemEnabled(frame_, stop), c.stop) << c.name;
    EXPECT_EQ(MenuItemEnabled(frame_, accept), c.decide) << c.name;
    EXPECT_EQ(MenuItemEnabled(frame_, reject), c.decide) << c.name;
  }
  AppStatus = 0;
}

TEST_F(FrameUpdate, TheEditMenuOffersUndoForAnUndoableVersionOfTheActiveImage) {
  Make();
  const int undo = res::WxCommandId(kUndo);
  EXPECT_FALSE(MenuItemEnabled(frame_, undo));
  COrbalonDoc* doc = Open(Doc::Opened);
  EXPECT_FALSE(MenuItemEnabled(frame_, undo));
  ImageState* inverted = PushImageState(doc->WorkingImage());
  inverted->operationCode = 2;
  doc->Image().SetWorking(inverted);
  EXPECT_TRUE(MenuItemEnabled(frame_, undo));
  EXPECT_EQ(std::string(frame_->GetMenuBar()->GetLabel(undo).utf8_str()), orb::LoadString(33029));
  // The command undoes it: the older version is the working one again and Undo goes off.
  Command(kUndo);
  EXPECT_NE(doc->WorkingImage(), inverted);
  EXPECT_FALSE(MenuItemEnabled(frame_, undo));
}

TEST_F(FrameUpdate, CtrlQWhileAScanWaitsForTheDecisionAsksBeforeQuitting) {
  Make();
  Open(Doc::Scan);
  orb::SetScanState(orb::ScanState::DecisionPending);
  // The keys go where the pointer is (no window manager gives the focus).
  wxUIActionSimulator sim;
  const wxRect r = frame_->GetScreenRect();
  sim.MouseMove(r.GetLeft() + r.GetWidth() / 2, r.GetTop() + r.GetHeight() / 2);
  frame_->Raise();
  frame_->SetFocus();
  orbtest::PumpUntil([] { return false; }, 30);
  bool asked = false;
  wxTEST_DIALOG(
      {
        sim.Char('q', wxMOD_CONTROL);
        orbtest::PumpUntil([&] { return asked; }, 1000);
      },
      AnswerQuit(&asked, wxID_NO));
  EXPECT_TRUE(asked);
  // No keeps the program, the scan and its document.
  EXPECT_FALSE(frame_->IsBeingDeleted());
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
  AppStatus = 0;
}

TEST_F(FrameUpdate, YesToTheQuitQuestionQuitsAndThrowsTheScanAway) {
  Make();
  // The document a scan made, as the scan leaves it: the user cannot close it by itself.
  COrbalonDoc* scan = Open(Doc::Scan);
  ASSERT_TRUE(scan);
  scan->SetScanDocument(true);
  scan->SetDiscardChanges(false);
  scan->Modify(true);
  orb::SetScanState(orb::ScanState::DecisionPending);
  bool asked = false, closed = false;
  wxTEST_DIALOG(closed = frame_->Close(false), AnswerQuit(&asked, wxID_YES));
  EXPECT_TRUE(asked);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  if (closed) {
    orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    EXPECT_EQ(g_hMainFrame.load(), nullptr);
    frame_ = nullptr;
  }
  AppStatus = 0;
}

TEST_F(FrameUpdate, AfterFileCloseOfTheActiveImageTheTitleNamesTheOtherOne) {
  Make();
  ASSERT_TRUE(OpenMade("left.tif"));
  ASSERT_TRUE(OpenMade("right.tif"));
  EXPECT_NE(frame_->GetTitle().Find("right.tif"), wxNOT_FOUND) << frame_->GetTitle();
  // File, Close, as the user chooses it.
  wxCommandEvent close(wxEVT_MENU, wxID_CLOSE);
  close.SetEventObject(frame_);
  frame_->ProcessWindowEvent(close);
  orbtest::PumpUntil([this] { return frame_->GetTitle().Find("left.tif") != wxNOT_FOUND; }, 300);
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);
  EXPECT_NE(frame_->GetTitle().Find("left.tif"), wxNOT_FOUND) << frame_->GetTitle();
  EXPECT_EQ(frame_->GetTitle().Find("right.tif"), wxNOT_FOUND) << frame_->GetTitle();
}

TEST_F(FrameUpdate, MailStaysOffWithoutTheDesktopHandOver) {
  MailProgram(false);
  Make();
  ASSERT_FALSE(frame_->MailAvailable());
  Open(Doc::Opened);
  UiState s = Update(res::WxCommandId(kSendMail));
  EXPECT_TRUE(s.setEnabled);
  EXPECT_FALSE(s.enabled);
  // The other file commands are not affected.
  EXPECT_TRUE(Update(wxID_PRINT).enabled);
}

TEST_F(FrameUpdate, MagnifierCheckAndItsRefusalForAThresholdedScan) {
  Make();
  const int id = res::WxCommandId(kMagnifier);
  MiscSettings.MagnifierShown = 1;
  // Nothing open: the command is left as it is.
  UiState none = Update(id);
  EXPECT_FALSE(none.setEnabled);
  EXPECT_FALSE(none.setChecked);

  struct Case {
    const char* name;
    Doc doc;
    uint16_t kind;
    uint8_t softwareThreshold;
    int32_t thresholdType;
    uint32_t status;
    bool enabled;
  } cases[] = {
      {"colour scan", Doc::Scan, IK_RGB, 1, 0, 0, true},
      {"bilevel scan, threshold here", Doc::Scan, 4, 1, 0, 0, false},
      {"bilevel scan, error diffusion", Doc::Scan, 6, 0, 2, 0, false},
      {"bilevel scan, scanner thresholds", Doc::Scan, 4, 0, 0, 0, true},
      {"bilevel opened image", Doc::Opened, 4, 1, 0, 0, true},
      {"colour, while scanning", Doc::Scan, IK_RGB, 0, 0, orb::Bits(orb::ScanState::Scanning), true},
      {"colour, view rebuilding", Doc::Opened, IK_RGB, 0, 0, orb::Bits(orb::StatusBit::ViewRefresh), true},
  };
  for (const Case& c : cases) {
    MiscSettings.MagnifierShown = 1;
    BWThresholdSettings.SoftwareThreshold = c.softwareThreshold;
    BWThresholdSettings.ThresholdingType = c.thresholdType;
    COrbalonDoc* doc = Open(c.doc);
    doc->WorkingImage()->kind = static_cast<ImageKind>(c.kind);
    AppStatus = c.status;
    UiState s = Update(id);
    EXPECT_TRUE(s.setEnabled) << c.name;
    EXPECT_EQ(s.enabled, c.enabled) << c.name;
    EXPECT_TRUE(s.setChecked) << c.name;
    // A refused magnifier is switched off, otherwise the check shows the setting.
    EXPECT_EQ(s.checked, c.enabled) << c.name;
    EXPECT_EQ(MiscSettings.MagnifierShown, c.enabled ? 1 : 0) << c.name;
    MiscSettings.MagnifierShown = 0;
    if (c.enabled) {
      EXPECT_FALSE(Update(id).checked) << c.name;
    }
    AppStatus = 0;
    Close(doc);
  }
}

TEST_F(FrameUpdate, MagnifierCommandTogglesAndAsksTheViewUnlessBusy) {
  Make();
  COrbalonDoc* doc = Open(Doc::Opened);
  COrbalonView* view = doc->View();
  ASSERT_TRUE(view);
  int asked = 0;
  view->Bind(orbEVT_APP_MESSAGE, [&asked](OrbMessageEvent& e) {
    if (e.Message() == WM_SHOW_MAGNIFIER) ++asked;
    e.Skip();
  });

  struct Case {
    const char* name;
    uint32_t status;
    int asks;
  } cases[] = {
      {"idle", 0, 1},
      {"decision pending", orb::Bits(orb::ScanState::DecisionPending), 1},
      {"scanning", orb::Bits(orb::ScanState::Scanning), 0},
      {"opening a file", orb::Bits(orb::StatusBit::Opening), 0},
      {"view rebuilding", orb::Bits(orb::StatusBit::ViewRefresh), 0},
  };
  for (const Case& c : cases) {
    asked = 0;
    const uint8_t before = MiscSettings.MagnifierShown;
    AppStatus = c.status;
    Command(kMagnifier);
    AppStatus = 0;
    orbtest::PumpUntil([&] { return asked >= c.asks && c.asks > 0; }, c.asks ? 200 : 10);
    EXPECT_EQ(MiscSettings.MagnifierShown, before ? 0 : 1) << c.name;
    EXPECT_EQ(asked, c.asks) << c.name;
    EXPECT_EQ(Update(res::WxCommandId(kMagnifier)).checked, MiscSettings.MagnifierShown != 0) << c.name;
  }

  // Refused for a scan the program thresholds itself: the setting stays off, the view is
  // not asked.
  Close(doc);
  BWThresholdSettings.SoftwareThreshold = 1;
  COrbalonDoc* scan = Open(Doc::Scan);
  scan->WorkingImage()->kind = IK_BW;
  MiscSettings.MagnifierShown = 0;
  asked = 0;
  Command(kMagnifier);
  orbtest::PumpUntil([] { return false; }, 10);
  EXPECT_EQ(MiscSettings.MagnifierShown, 0);
  EXPECT_EQ(asked, 0);

  // Without a document the setting still flips, for the next image.
  Close(scan);
  Command(kMagnifier);
  EXPECT_EQ(MiscSettings.MagnifierShown, 1);
}

TEST_F(FrameUpdate, DragScrollCommandFlipsTheSettingAndItsCheck) {
  Make();
  const int id = res::WxCommandId(kDragScroll);
  MiscSettings.DragScroll = 0;
  UiState off = Update(id);
  EXPECT_TRUE(off.setChecked);
  EXPECT_FALSE(off.checked);
  // Not tied to a document or to the status word.
  AppStatus = orb::Bits(orb::ScanState::Scanning) | orb::Bits(orb::StatusBit::ViewRefresh);
  Command(kDragScroll);
  EXPECT_EQ(MiscSettings.DragScroll, 1);
  UiState on = Update(id);
  EXPECT_TRUE(on.checked);
  EXPECT_TRUE(on.enabled);
  Command(kDragScroll);
  EXPECT_EQ(MiscSettings.DragScroll, 0);
  EXPECT_FALSE(Update(id).checked);
}

TEST_F(FrameUpdate, RgbStatisticsBoxShowsTheCurrentViewsChannels) {
  Make();
  // Before any colour view was drawn every channel shows zero.
  wxString before;
  wxTEST_DIALOG(Command(kRgbStatistics), orbtest::KeepMessageText(&before));
  EXPECT_EQ(std::string(before.utf8_str()).rfind("     RGB statistics for current view \n", 0), 0u);
  // A flat picture made by an outside tool: red 200, green 100, blue 10 everywhere, so
  // each column's average, minimum and maximum is that channel's value.
  COrbalonDoc* doc = OpenMade("flat.tif", "xc:rgb(200,100,10)");
  ASSERT_TRUE(doc);
  doc->View()->UpdateView(orb::kHintRedraw);
  orbtest::PumpUntil([] { return false; }, 10);
  wxString text;
  wxTEST_DIALOG(Command(kRgbStatistics), orbtest::KeepMessageText(&text));
  const std::string shown(text.utf8_str());
  EXPECT_NE(shown.find("            Red    Green     Blue    \n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" Avg:    200      100       010   \n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" Min:     200      100       010  \n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" Max:    200      100       010   \n"), std::string::npos) << shown;
}

TEST_F(FrameUpdate, ViewMenuNamesTheCommandsTheFrameHandles) {
  Make();
  wxMenuBar* bar = frame_->GetMenuBar();
  ASSERT_TRUE(bar);
  const struct {
    int command;
    const char* label;
  } items[] = {
      {kDragScroll, "Drag to Scroll"},
      {kRgbStatistics, "RGB Statistics..."},
      {kDisplayDuringScan, "Display During Scan"},
      {kDiskWritesDuringScan, "Disk Writes During Scan"},
  };
  const int view = bar->FindMenu("View");
  ASSERT_NE(view, wxNOT_FOUND);
  for (const auto& item : items) {
    wxMenuItem* m = bar->GetMenu(view)->FindItem(res::WxCommandId(item.command));
    ASSERT_TRUE(m) << item.command;
    EXPECT_EQ(m->GetItemLabelText(), item.label) << item.command;
  }
  // The compact layout's tool for the same command says what it does.
  wxToolBar* tools = frame_->GetToolBar();
  ASSERT_TRUE(tools);
  EXPECT_EQ(tools->GetToolShortHelp(res::WxCommandId(kDragScroll)), "Drag to scroll");
}

}  // namespace
