// The outside editor page runs a test script as the editor on the active image's file and
// then has the view show the changed image; the indexer page runs its program likewise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <fstream>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/ToolPageFixture.h"
#include "tools/ToolDocumentHost.h"
#include "tools/gui/OutsideToolPages.h"

namespace fs = std::filesystem;
using namespace orb::tools;

namespace {

using orbtest::Shell;

TEST(OutsideToolPagesGui, EditorRunsOnTheImageAndTheViewShowsItAgain) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("outsidegui." + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "scans here");
  const orb::EditorRecord savedEditor = EditorSettings;
  const orb::IndexRecord savedIndex = IndexSettings;
  const std::string image = (dir / "scans here" / "sheet 1.tif").string();
  ASSERT_EQ(std::system(("convert -size 30x20 xc:gray20 -depth 8 -compress none '" + image + "'").c_str()), 0);
  // The "editor": inverts the image it is given, in place.
  const std::string editor = (dir / "editor.sh").string();
  std::ofstream(editor) << "#!/bin/sh\nconvert \"$1\" -negate -depth 8 -compress none \"$1\"\n";
  ::chmod(editor.c_str(), 0755);
  const std::string indexer = (dir / "indexer.sh").string();
  std::ofstream(indexer) << "#!/bin/sh\nprintf '%s|' \"$@\" > '" + (dir / "index.txt").string() + "'\n";
  ::chmod(indexer.c_str(), 0755);

  ImageState* s = orb::NewImageState();
  s->sourcePath = image;
  s->state = VS_OPENED;
  orbtest::StandInToolHost host;
  host.image = s;
  SetToolDocumentHost(&host);
  auto* frame = new wxFrame(nullptr, wxID_ANY, "outside tools");
  auto* hostWin = new wxPanel(frame);
  auto* frameCtl = new wxPanel(hostWin);
  auto* page = new CEditorTools();
  ASSERT_TRUE(page->Create(frameCtl));
  orb::SetPathField(EditorSettings.AppName, editor);
  page->UpdateControls();
  EXPECT_EQ(page->ProgramEdit()->GetValue(), wxString::FromUTF8(editor));
  EXPECT_EQ(page->Apply(), 0);
  EXPECT_EQ(Shell("convert '" + image + "' -format '%[fx:int(255*mean)]' info:"), "204");  // 255 - 51
  EXPECT_EQ(host.hints, (std::vector<int>{kViewHintRepaint}));
  EXPECT_EQ(host.changed, 1);

  auto* index = new CIndexTools();
  ASSERT_TRUE(index->Create(frameCtl));
  orb::SetPathField(IndexSettings.AppName, indexer);
  orb::SetPathField(IndexSettings.ProjName, "/db/p.mdb");
  EXPECT_EQ(index->Apply(), 0);
  std::ifstream in(dir / "index.txt");
  std::string got;
  std::getline(in, got);
  EXPECT_EQ(got, "/single|//db/p.mdb|/" + image + "|");
  // Without a program nothing runs.
  orb::SetPathField(EditorSettings.AppName, "");
  EXPECT_EQ(page->Apply(), -1);

  frame->Destroy();
  orbtest::PumpUntil([] { return false; }, 5);
  SetToolDocumentHost(nullptr);
  orb::FreeImageChain(s);
  EditorSettings = savedEditor;
  IndexSettings = savedIndex;
  fs::remove_all(dir);
}

}  // namespace
