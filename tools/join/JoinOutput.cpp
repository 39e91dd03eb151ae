#include "tools/join/JoinOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "platform/Files.h"

namespace orb::join {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kSeamWindow = 128;
constexpr int32_t kSeamSlack = 64;

int32_t PixelSum(const uint8_t* line, int32_t x) {
  const uint8_t* p = line + static_cast<size_t>(x) * 3;
  return p[0] + p[1] + p[2];
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// One item during the join: its newest record, read by line number.
struct ItemStream {
  ImageState* image = nullptr;
  PixelRect savedRegion;
  std::unique_ptr<LineReader> reader;
  std::vector<uint8_t> line;
  bool open = false;
};

class JoinRun {
 public:
  JoinRun(JoinModel& model, const JoinOptions& options, IJoinProgress* progress)
      : model_(model), options_(options), progress_(progress) {}
  ~JoinRun() { Close(); }
  JoinReport Run();

 private:
  JoinResult Check();
  JoinResult Open();
  JoinResult Lines();
  void ComposeLine(int32_t y, uint8_t* out, int32_t& seamStored);
  bool Close();
  JoinResult Fail(int msg, const std::string& arg) {
    Notify(msg, MessageIcon::Error, {MessageArg{arg}});
    return JoinResult::Failed;
  }

  JoinModel& model_;
  const JoinOptions& options_;
  IJoinProgress* progress_;
  Rect extent_;
  std::vector<ItemStream> streams_;
  ImageState output_;
  std::string tempPath_;
  std::unique_ptr<LineWriter> writer_;
  bool writerOpen_ = false;
  int readFailed_ = -1;  // the item whose line could not be read
};

JoinResult JoinRun::Check() {
  for (const JoinItem& item : model_.items) {
    if (SameFile(item.image->sourcePath, options_.outputPath)) {
      Notify(kMsgJoinOutputIsItem, MessageIcon::Error, {MessageArg{options_.outputPath}});
      return JoinResult::OutputIsItem;
    }
  }
  extent_ = model_.OutputExtent(options_.cropToItems);
  if (IsEmpty(extent_)) return Fail(kMsgJoinWriteFailed, options_.outputPath);
  const uint64_t needed = static_cast<uint64_t>(extent_.Height()) * 3u * static_cast<uint64_t>(extent_.Width());
  if (!HasFreeDiskSpace(FolderOf(options_.outputPath), needed)) {
    Notify(kMsgJoinNoRoom, MessageIcon::Error);
    CancelFlag = 1;
    return JoinResult::NoRoom;
  }
  return JoinResult::Written;
}

JoinResult JoinRun::Open() {
  streams_.resize(model_.items.size());
  for (size_t i = 0; i < streams_.size(); ++i) {
    ItemStream& s = streams_[i];
    s.image = model_.items[i].Newest();
    s.savedRegion = s.image->region;
    s.image->region = PixelRect{0, 0, s.image->width - 1, s.image->height - 1};
    s.reader = std::make_unique<LineReader>(s.image);
    if (OpenReadStream(s.reader.get(), kReadByNumber) != kReadOpenOk) {
      s.image->region = s.savedRegion;
      return Fail(kMsgJoinReadFailed, s.image->sourcePath);
    }
    s.open = true;
    s.line.assign(static_cast<size_t>(std::max(s.image->storedLineWidth, 3 * s.image->width)), 255);
  }
  // Beside the target, so that the finished file is renamed over it and a failure never
  // leaves a half-written image under the user's name.
  if (!MakeTempTiffName(FolderOf(options_.outputPath), tempPath_)) return Fail(kMsgJoinWriteFailed, options_.outputPath);
  output_.kind = IK_RGB;
  output_.state = VS_OPENED;
  output_.width = extent_.Width();
  output_.height = extent_.Height();
  output_.storedLineWidth = 3 * output_.width;
  output_.bitsPerSample = 8;
  output_.samplesPerPixel = 3;
  output_.bitsPerPixel = 24;
  output_.xDpi = model_.canvas.xDpi;
  output_.yDpi = model_.canvas.yDpi;
  output_.outputFormat = OF_RAW_RGB_LE;
  output_.sourcePath = tempPath_;
  output_.region = PixelRect{0, 0, output_.width - 1, output_.height - 1};
  output_.fileHandle = OpenSharedFile(tempPath_, O_RDWR | O_CREAT | O_EXCL);
  if (output_.fileHandle < 0) return Fail(kMsgJoinWriteFailed, options_.outputPath);
  writer_ = std::make_unique<LineWriter>(&output_);
  if (StartImageOutput(writer_.get()) != 0 || OpenWriteStream(writer_.get()) != 0) {
    return Fail(kMsgJoinWriteFailed, options_.outputPath);
  }
  writerOpen_ = true;
  return JoinResult::Written;
}

void JoinRun::ComposeLine(int32_t y, uint8_t* out, int32_t& seamStored) {
  const bool seam = model_.Mode() == kModeSeam;
  const int32_t expected = std::abs(model_.points[kA0].x - model_.points[kB0].x);
  for (size_t i = 0; i < streams_.size(); ++i) {
    const JoinItem& item = model_.items[i];
    const Rect t = item.Trimmed();
    if (y < t.top || y >= t.bottom) continue;
    ItemStream& s = streams_[i];
    const int32_t row = y - item.rect.top;
    if (row < 0 || row >= s.image->height) continue;
    if (ReadLines(s.reader.get(), s.line.data(), kReadByNumber, row) != 1) {
      readFailed_ = static_cast<int>(i);
      return;
    }
    // The item's own pixels, one to one, within its rectangle.
    const int32_t width = std::min(s.image->width, item.rect.Width());
    const int32_t from = item.trim.left;
    const int32_t to = width - item.trim.right;
    const int32_t outX = item.rect.left + item.trim.left - extent_.left;
    if (seam) {
      const int32_t seamX = model_.points[kA1].x - item.rect.left;
      const int32_t gap = FindSeamWidth(s.line.data(), width, seamX, expected, seamStored);
      CopySeamLine(s.line.data(), from, to, seamX, gap, out, outX, extent_.Width());
    } else {
      CopySeamLine(s.line.data(), from, to, to, 0, out, outX, extent_.Width());
    }
  }
}

JoinResult JoinRun::Lines() {
  std::vector<uint8_t> out(static_cast<size_t>(extent_.Width()) * 3);
  // Each join finds its seam afresh.
  int32_t seamStored = 0;
  for (int32_t y = extent_.top; y < extent_.bottom; ++y) {
    PumpMessages();
    if (IsCancelled()) return JoinResult::Cancelled;
    std::fill(out.begin(), out.end(), uint8_t{255});
    ComposeLine(y, out.data(), seamStored);
    if (readFailed_ >= 0) return Fail(kMsgJoinReadFailed, streams_[static_cast<size_t>(readFailed_)].image->sourcePath);
    if (WriteLines(writer_.get(), out.data(), static_cast<int64_t>(out.size())) != 0) {
      return Fail(kMsgJoinWriteFailed, options_.outputPath);
    }
    if (progress_) progress_->Step();
  }
  return JoinResult::Written;
}

bool JoinRun::Close() {
  bool ok = true;
  if (writerOpen_) {
    ok = CloseWriteStream(writer_.get()) == 0;
    writerOpen_ = false;
  }
  writer_.reset();
  if (output_.fileHandle >= 0) {
    if (ok && ::fsync(output_.fileHandle) != 0) ok = false;
    if (::close(output_.fileHandle) != 0) ok = false;
    output_.fileHandle = kNoFile;
  }
  for (ItemStream& s : streams_) {
    if (!s.open) continue;
    CloseReadStream(s.reader.get());
    s.image->region = s.savedRegion;
    s.open = false;
  }
  streams_.clear();
  return ok;
}

JoinReport JoinRun::Run() {
  JoinReport report;
  CancelFlag = 0;
  report.result = Check();
  if (report.result != JoinResult::Written) return report;
  if (model_.Mode() == kModeAlign && model_.items.size() == 2 && !model_.RotateItems()) {
    report.result = IsCancelled() ? JoinResult::Cancelled : Fail(kMsgJoinWriteFailed, options_.outputPath);
    return report;
  }
  extent_ = model_.OutputExtent(options_.cropToItems);
  try {
    report.result = IsEmpty(extent_) ? Fail(kMsgJoinWriteFailed, options_.outputPath) : Open();
    if (report.result == JoinResult::Written) report.result = Lines();
  } catch (const std::bad_alloc&) {
    report.result = Fail(kMsgJoinWriteFailed, options_.outputPath);
  }
  const bool closed = Close();
  if (report.result == JoinResult::Written && !closed) report.result = Fail(kMsgJoinWriteFailed, options_.outputPath);
  if (report.result == JoinResult::Written && !ReplaceWithFlushedFile(tempPath_, options_.outputPath)) {
    report.result = Fail(kMsgJoinWriteFailed, options_.outputPath);
  }
  if (report.result != JoinResult::Written) {
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    return report;
  }
  report.width = extent_.Width();
  report.height = extent_.Height();
  // Only now, with the output complete under its name, do the sources go.
  for (JoinItem& item : model_.items) {
    if (options_.deleteSources && !SameFile(item.image->sourcePath, options_.outputPath)) {
      ::unlink(item.image->sourcePath.c_str());
    }
  }
  model_.Clear();
  return report;
}

}  // namespace

int32_t FindSeamWidth(const uint8_t* line, int32_t width, int32_t seam, int32_t expected, int32_t& stored) {
  // The windows stay inside the line: near an end they shrink to what lies there.
  const int32_t n = std::min({kSeamWindow, seam, width - seam});
  int32_t g = expected;
  if (n >= 2) {
    int32_t left[kSeamWindow];
    int32_t right[kSeamWindow];
    for (int32_t i = 0; i < n; ++i) {
      left[i] = PixelSum(line, seam - n + i);
      right[i] = PixelSum(line, seam + i);
    }
    double best = 9999999.0;
    int32_t bestK = 0;
    for (int32_t k = 0; k < n; ++k) {
      int64_t sum = 0;
      for (int32_t c = k; c < n; ++c) sum += std::abs(left[c] - right[c - k]);
      const double cost = static_cast<double>(sum) / (n - k);
      if (cost < best) {
        best = cost;
        bestK = k;
      }
    }
    g = n - bestK;
  }
  if (g < expected - kSeamSlack || g > expected + kSeamSlack) g = expected;
  if (stored == 0) {
    if (expected < kSeamSlack) g = expected;
  } else if (std::abs(g - stored) > 1) {
    g = stored;
  }
  stored = g;
  return g;
}

void CopySeamLine(const uint8_t* line, int32_t from, int32_t to, int32_t seam, int32_t gap, uint8_t* out,
                  int32_t outX, int32_t outWidth) {
  from = std::max(from, 0);
  if (to <= from) return;
  auto put = [&](int32_t a, int32_t b) {
    // Item pixels [a, b) to the output from outX on, inside the output line.
    int32_t skip = std::max(0, -outX);
    const int32_t n = std::min(b - a - skip, outWidth - std::max(outX, 0));
    if (b > a && n > 0) {
      std::copy_n(line + static_cast<size_t>(a + skip) * 3, static_cast<size_t>(n) * 3,
                  out + static_cast<size_t>(std::max(outX, 0)) * 3);
    }
    outX += std::max(0, b - a);
  };
  const int32_t leftEnd = std::clamp(seam - std::max(gap, 0), from, to);
  put(from, leftEnd);
  put(std::clamp(seam, from, to), to);
}

JoinReport WriteJoinedImage(JoinModel& model, const JoinOptions& options, IJoinProgress* progress) {
  if (model.items.empty() || !model.canvas.exists) return JoinReport{};
  JoinRun run(model, options, progress);
  return run.Run();
}

}  // namespace orb::join
