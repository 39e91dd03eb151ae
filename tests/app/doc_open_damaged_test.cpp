// A file whose data the decoder had to work around opens with what could be read, and the
// user is told it is damaged.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/Document.h"
#include "engine/EngineHost.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"

namespace {

class RecordingNotifier : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon, const std::vector<orb::MessageArg>& args) override {
    ids.push_back(id);
    if (!args.empty() && std::holds_alternative<std::string>(args[0])) texts.push_back(std::get<std::string>(args[0]));
  }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override { ids.push_back(-1); }
  std::vector<int> ids;
  std::vector<std::string> texts;
};

TEST(DocOpenDamaged, FaxDataWithPrematureEndsOfLineOpensWithAMessage) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "doc_open_damaged";
  std::filesystem::create_directories(dir);
  orb::SetTempFilesFolder(dir.string());
  RecordingNotifier notifier;
  orb::SetEngineHost(orb::EngineHost{&notifier, nullptr, nullptr});
  // 64 pixels a line coded, 80 claimed: libtiff pads every line and warns "Premature EOL".
  const std::string path = ORB_TEST_DATA_DIR "/imagemill/premature_eol_g3.tif";
  ImageState* s = orb::NewImageState();
  EXPECT_EQ(orb::OpenImageIntoDocument(s, path, nullptr), orb::OpenResult::Opened);
  EXPECT_EQ(s->width, 80);
  EXPECT_EQ(s->height, 8);
  EXPECT_EQ(s->sourceForm, 2u);
  ASSERT_EQ(notifier.ids, (std::vector<int>{202}));
  ASSERT_EQ(notifier.texts.size(), 1u);
  EXPECT_EQ(notifier.texts[0], path);
  orb::SetEngineHost(orb::EngineHost{});
  orb::FreeImageChain(s);
  orb::SetTempFilesFolder("");
  std::filesystem::remove_all(dir);
}

}  // namespace
