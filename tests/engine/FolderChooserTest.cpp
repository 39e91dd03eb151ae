// The folder chooser's logic without a window: where it starts, which paths it takes, and
// what the user is told about one it cannot use.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/SharedRoutines.h"
#include "tests/platform/TempFolder.h"

namespace {

struct Shown {
  int id = 0;
  orb::MessageIcon icon = orb::MessageIcon::None;
  std::vector<orb::MessageArg> args;
};

class RecordingNotifier : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon icon, const std::vector<orb::MessageArg>& args) override {
    shown.push_back({id, icon, args});
  }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override { ++texts; }
  std::vector<Shown> shown;
  int texts = 0;
};

class FolderChooser : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = orb::Host();
    orb::EngineHost host = saved_;
    host.notifier = &notifier_;
    orb::SetEngineHost(host);
    std::filesystem::create_directories(dir_ / "a/b");
    std::FILE* f = std::fopen((dir_ / "file.txt").c_str(), "w");
    ASSERT_TRUE(f);
    std::fclose(f);
    std::filesystem::create_directories(dir_ / "readonly");
    ::chmod((dir_ / "readonly").c_str(), 0555);
    ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  }
  void TearDown() override {
    orb::SetFolderChooser({});
    orb::SetEngineHost(saved_);
  }
  // A chooser that records where it started and answers `answer` (nullopt: cancel).
  void Answer(std::optional<std::string> answer) {
    orb::SetFolderChooser([this, answer](orb::FolderBrowseState& state) {
      started_ = state.StartFolder();
      statusAtStart_ = state.StatusText();
      if (answer) state.Select(*answer);
      return answer;
    });
  }

  orb::testing::TempFolder dir_;
  RecordingNotifier notifier_;
  orb::EngineHost saved_;
  std::string started_, statusAtStart_;
};

TEST_F(FolderChooser, ChecksWhatAPathIs) {
  const struct {
    std::string path;
    orb::FolderCheck expected;
  } cases[] = {
      {dir_ / "a/b", orb::FolderCheck::Usable},
      {dir_ / "a/b/", orb::FolderCheck::Usable},
      {dir_ / "missing", orb::FolderCheck::Missing},
      {"", orb::FolderCheck::Missing},
      {dir_ / "file.txt", orb::FolderCheck::NotAFolder},
      {dir_ / "pipe", orb::FolderCheck::NotAFolder},
      {dir_ / "readonly", orb::FolderCheck::NotWritable},
  };
  for (const auto& c : cases) EXPECT_EQ(orb::CheckFolder(c.path), c.expected) << c.path;
}

TEST_F(FolderChooser, StartsAtTheNearestExistingFolder) {
  const char* home = std::getenv("HOME");
  const std::string homeFolder = home && std::filesystem::is_directory(home) ? home : "/";
  const struct {
    std::string initial;
    std::string start;
  } cases[] = {
      {dir_ / "a/b", dir_ / "a/b"},
      {dir_ / "a/missing/deeper", dir_ / "a"},
      {dir_ / "file.txt", dir_.path()},  // a file: its folder
      {"", homeFolder},
      {"relative-name-that-is-not-there", homeFolder},
  };
  for (const auto& c : cases) {
    orb::FolderBrowseState state(c.initial);
    EXPECT_EQ(state.StartFolder(), c.start) << c.initial;
    EXPECT_EQ(state.StatusText(), c.start) << c.initial;
  }
}

TEST_F(FolderChooser, StatusLineFollowsTheSelection) {
  orb::FolderBrowseState state(dir_.path());
  state.Select(dir_ / "a");
  EXPECT_EQ(state.StatusText(), dir_ / "a");
  state.Select(dir_ / "a/b");
  EXPECT_EQ(state.StatusText(), dir_ / "a/b");
  EXPECT_EQ(state.Selected(), dir_ / "a/b");
}

TEST_F(FolderChooser, AChosenFolderIsTaken) {
  Answer(dir_ / "a/b");
  std::string path = dir_ / "a";
  EXPECT_EQ(BrowseForFolder(path), orb::kFolderChosen);
  EXPECT_EQ(path, dir_ / "a/b");
  EXPECT_EQ(started_, dir_ / "a");
  EXPECT_EQ(statusAtStart_, dir_ / "a");
  EXPECT_TRUE(notifier_.shown.empty());
}

TEST_F(FolderChooser, APathThatIsNoUsableFolderIsReportedAndRefused) {
  for (const std::string& chosen : {dir_ / "file.txt", dir_ / "readonly", dir_ / "gone", dir_ / "pipe"}) {
    notifier_.shown.clear();
    Answer(chosen);
    std::string path = dir_ / "a";
    EXPECT_EQ(BrowseForFolder(path), orb::kFolderNotChosen) << chosen;
    // The chosen path is handed back all the same.
    EXPECT_EQ(path, chosen);
    ASSERT_EQ(notifier_.shown.size(), 1u) << chosen;
    EXPECT_EQ(notifier_.shown[0].id, 33025);
    EXPECT_EQ(notifier_.shown[0].icon, orb::MessageIcon::Exclamation);
    ASSERT_EQ(notifier_.shown[0].args.size(), 1u);
    EXPECT_EQ(std::get<std::string>(notifier_.shown[0].args[0]), chosen);
  }
}

TEST_F(FolderChooser, CancelLeavesThePathAndSaysNothing) {
  Answer(std::nullopt);
  std::string path = dir_ / "a";
  EXPECT_EQ(BrowseForFolder(path), orb::kFolderNotChosen);
  EXPECT_EQ(path, dir_ / "a");
  EXPECT_TRUE(notifier_.shown.empty());
  // Without any chooser (no window) nothing is chosen either.
  orb::SetFolderChooser({});
  EXPECT_EQ(BrowseForFolder(path), orb::kFolderNotChosen);
  EXPECT_EQ(path, dir_ / "a");
}

}  // namespace
