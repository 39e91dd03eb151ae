// The outside editor and indexer: the command lines the programs get (recorded by a test
// script standing in for them), the typed-path rules, and the waits that never freeze.
#include "tools/outside/OutsideTools.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "engine/EngineHost.h"
#include "tools/outside/OutsidePrograms.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

class OutsideTools : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("outside");
    fs::create_directories(dir_ / "with blank");
    // Records its arguments after its own name (a script's $0 is its path, whatever name it
    // was given), one a line, then appends to the image it was given.
    script_ = (dir_ / "record.sh").string();
    std::ofstream(script_) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                                  (dir_ / "args.txt").string() + "'\n[ -n \"$1\" ] && [ -f \"$1\" ] && echo edited >> \"$1\"\nexit 0\n";
    ::chmod(script_.c_str(), 0755);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Args() const { return orbtest::ReadFile(dir_ / "args.txt"); }
  fs::path dir_;
  std::string script_;
};

TEST_F(OutsideTools, EditorGetsItsNameAndTheImageAsOneArgument) {
  const std::string image = (dir_ / "with blank" / "my scan.tif").string();
  std::ofstream(image) << "pixels\n";
  orb::EditorRecord editor;
  orb::SetPathField(editor.AppName, script_);
  bool ran = false;
  EXPECT_EQ(RunEditor(editor, image, {}, &ran), 0);
  EXPECT_TRUE(ran);
  EXPECT_EQ(Args(), image + "\n");
  EXPECT_EQ(EditorArguments(script_, image), (std::vector<std::string>{"record.sh", image}));
  std::ifstream in(image);
  std::string last;
  for (std::string line; std::getline(in, line);) last = line;
  EXPECT_EQ(last, "edited");  // the editor changed the file before the wait ended
  // No image: the program's name alone.
  EXPECT_EQ(RunEditor(editor, "", {}, &ran), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(Args(), "");
  EXPECT_EQ(EditorArguments(script_, ""), (std::vector<std::string>{"record.sh"}));
}

TEST_F(OutsideTools, IndexerGetsSingleProjectAndImageAfterSlashes) {
  orb::IndexRecord indexer;
  orb::SetPathField(indexer.AppName, script_);
  orb::SetPathField(indexer.ProjName, "/db/project one.mdb");
  EXPECT_EQ(RunIndexer(indexer, "/scans/a b.tif"), 0);
  EXPECT_EQ(Args(), "/single\n//db/project one.mdb\n//scans/a b.tif\n");
  EXPECT_EQ(IndexerArguments(script_, "/p.mdb", "/i.tif")[0], "record.sh");
  EXPECT_EQ(RunIndexer(indexer, ""), 0);
  EXPECT_EQ(Args(), "");
}

TEST_F(OutsideTools, AProgramPathThatIsEmptyOrBeginsWithABlankIsNotSet) {
  for (const std::string& path : {std::string(), " " + script_}) {
    fs::remove(dir_ / "args.txt");
    orb::EditorRecord editor;
    orb::SetPathField(editor.AppName, path);
    orb::IndexRecord indexer;
    orb::SetPathField(indexer.AppName, path);
    EXPECT_EQ(RunEditor(editor, "/x.tif"), -1);
    EXPECT_EQ(RunIndexer(indexer, "/x.tif"), -1);
    EXPECT_FALSE(fs::exists(dir_ / "args.txt")) << "nothing may start";
  }
}

TEST_F(OutsideTools, AProgramThatCannotStartIsToldAndOneThatNeverEndsIsLeftRunning) {
  struct Seen final : orb::INotifier {
    void ShowMessage(int id, orb::MessageIcon, const std::vector<orb::MessageArg>&) override { ids.push_back(id); }
    void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
    std::vector<int> ids;
  } seen;
  const orb::EngineHost saved = orb::Host();
  orb::EngineHost h = saved;
  h.notifier = &seen;
  orb::SetEngineHost(h);
  orb::EditorRecord editor;
  orb::SetPathField(editor.AppName, (dir_ / "missing-editor").string());
  bool ran = true;
  EXPECT_EQ(RunEditor(editor, "/x.tif", {}, &ran), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(seen.ids, (std::vector<int>{kMsgProgramNotStarted}));
  orb::SetEngineHost(saved);

  // A program that never ends: the wait keeps pumping and stops when the pump says so.
  const std::string forever = (dir_ / "forever.sh").string();
  std::ofstream(forever) << "#!/bin/sh\nexec sleep 600\n";
  ::chmod(forever.c_str(), 0755);
  const pid_t pid = StartProgram(forever, {"forever.sh"});
  ASSERT_GT(pid, 0);
  int pumps = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForProgram(pid, [&] { return ++pumps < 5; }, 10), WaitEnd::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(pumps, 5);
  ::kill(pid, SIGKILL);
}

TEST_F(OutsideTools, TypedPathsAreCompletedAndChecked) {
  const std::string out = (dir_ / "with blank" / "scan0001.tif").string();
  struct Case {
    std::string typed;
    TypedPath::Result result;
    std::string path;
  } cases[] = {
      {"editor.sh", TypedPath::Ok, (dir_ / "with blank" / "editor.sh").string()},  // bare name
      {(dir_ / "no such folder" / "e.sh").string(), TypedPath::FolderMissing, ""},
      {(dir_ / "with blank").string(), TypedPath::IsFolder, ""},
      {script_, TypedPath::Ok, script_},
  };
  for (const Case& c : cases) {
    const TypedPath r = CheckTypedPath(c.typed, out);
    EXPECT_EQ(r.result, c.result) << c.typed;
    EXPECT_EQ(r.path, c.path) << c.typed;
  }
}

}  // namespace
