// The program's main frame over its own document manager, for tests that work through the
// frame as the user does.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/docview.h>
#include <wx/image.h>

#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "engine/AppStatus.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace orbtest {

// The main frame over `manager` as the program's top window, not shown, counting in
// `messages` the frame's private messages (this handler runs before the frame's own);
// null when it could not be made.
inline CMainFrame* CreateFrameCountingMessages(COrbalonDocManager* manager, std::map<uint32_t, int>* messages) {
  CMainFrame* frame = CMainFrame::Create(manager, "Orbalon");
  if (frame) {
    wxTheApp->SetTopWindow(frame);
    frame->Bind(orbEVT_APP_MESSAGE, [messages](OrbMessageEvent& e) {
      ++(*messages)[e.Message()];
      e.Skip();
    });
  }
  return frame;
}

// How a test wants its frame, where it differs from the program's defaults.
struct MainFrameSetup {
  wxSize size = wxDefaultSize;            // wxDefaultSize: the frame's own
  wxString openFilter = "*.*";            // the document template's filter
  std::filesystem::path tempFolder = {};  // empty: the fixture's files_
};

// Every frame test starts from the globals a fresh start has, with data and temporary
// folders of its own, and leaves no document, frame or manager behind for the next one
// (a frame left over would answer the next test's messages).
class MainFrameFixture : public ::testing::Test {
 protected:
  // Derived set-ups reset their own settings first, then start the frame last.
  void StartFrame(const MainFrameSetup& setup = {}) {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    g_bBatchMode = 0;
    AppStatus = 0;
    CancelFlag = 0;
    orb::SetTempFilesFolder((setup.tempFolder.empty() ? files_.path() : setup.tempFolder).string());
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", setup.openFilter, "", "tif", "COrbalonDoc", "COrbalonView",
                      CLASSINFO(COrbalonDoc), CLASSINFO(COrbalonView));
    frame_ = CMainFrame::Create(manager_, "Orbalon");
    ASSERT_TRUE(frame_);
    wxTheApp->SetTopWindow(frame_);
    if (setup.size != wxDefaultSize) frame_->SetSize(setup.size);
    frame_->Show();
    PumpUntil([] { return false; }, 20);
  }
  void TearDown() override {
    if (manager_) {
      // A test that leaves a changed document must not be asked about it here.
      for (wxDocument* d : manager_->GetDocumentsVector()) {
        if (auto* doc = dynamic_cast<COrbalonDoc*>(d)) doc->SetDiscardChanges(true);
      }
      manager_->CloseDocuments(true);
    }
    PumpUntil([] { return false; }, 20);
    if (frame_) {
      frame_->Destroy();
      PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    }
    delete manager_;
    orb::SetTempFilesFolder("");
  }

  // The document opened from `path` without questions (null when it is refused).
  COrbalonDoc* OpenSilently(const std::string& path) {
    return wxDynamicCast(manager_->CreateDocument(wxString::FromUTF8(path), wxDOC_SILENT), COrbalonDoc);
  }
  std::string Path(const std::string& name) const { return (files_.path() / name).string(); }
  // Keeps a picture of what a view showed in the test's folder, and in ORB_SCREENSHOT_DIR
  // when that names a folder: drawing is judged by people looking, too.
  void KeepScreenshot(const wxImage& shot, const std::string& name) const {
    shot.SaveFile(wxString::FromUTF8(Path(name)), wxBITMAP_TYPE_PNG);
    if (const char* dir = std::getenv("ORB_SCREENSHOT_DIR")) {
      shot.SaveFile(wxString::FromUTF8((std::filesystem::path(dir) / name).string()), wxBITMAP_TYPE_PNG);
    }
  }

  TempDir data_, files_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

}  // namespace orbtest
