#include "scanning/ScanPipeline.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "common/Messages.h"
#include "engine/ImageState.h"
#include "scanner_library/trennic.h"
#include "scanning/AutoSize.h"

std::atomic<uint8_t> orb::DisplayDuringScanOff{0};
std::atomic<uint8_t> orb::DiskWritesDuringScanOff{0};

namespace orb {
namespace {

constexpr int kStrFillCaption = 33074;
constexpr int kStrReadError = 33089;

}  // namespace

ScanPipeline::ScanPipeline(ScanPipelineSetup setup) : s_(std::move(setup)) {
  // A block holds its lines as they arrive (three bytes a pixel before the palette mapping)
  // and as they are processed.
  const size_t lines = static_cast<size_t>(BlockLines());
  const size_t lineBytes = static_cast<size_t>(std::max(s_.lineBytes, ArrivingLineBytes()));
  a_.buffer.assign(lineBytes * lines, 0);
  b_.buffer.assign(lineBytes * lines, 0);
  if (s_.oneBitTransfer) unpack_.assign(static_cast<size_t>(s_.lineBytes / 8) * lines, 0);
  // Point filters and the mirror are most of a block's work: on a metre-wide colour scan one
  // core keeps up with well under half of what the scanner delivers. Four parts at most: the
  // read thread, the output's writer and the scanner's link need cores of their own, and a
  // pool as wide as the machine slowed the reading down more than it sped the filters up.
  if (LinesApart(s_.toneChain, s_.kind)) {
    try {
      pool_ = std::make_unique<WorkerPool>(std::min(4u, WorkerPool::DefaultThreads()));
    } catch (const std::exception&) {
      pool_.reset();  // no threads: the processing thread does it all
    }
  }
}

int32_t ScanPipeline::BlockLines() const {
  return s_.linesPerBlock > 0 ? s_.linesPerBlock : kLinesPerBlock;
}

int32_t ScanPipeline::ArrivingLineBytes() const {
  if (s_.oneBitTransfer) return s_.lineBytes / 8;
  if (!s_.paletteLookup.empty()) return 3 * s_.lineBytes;
  return s_.lineBytes;
}

void ScanPipeline::StopScanner(ScanEnd why) {
  if (s_.reader)
    s_.reader->Stop(why);
  else
    s_.scanner->StopScan();
}

// Colour pixels become palette indices in place: pixel i is written where its red byte was
// read or before it, so nothing is overwritten before it is read.
void ScanPipeline::MapToPalette(Block& blk) const {
  const uint8_t* table = s_.paletteLookup.data();
  uint8_t* p = blk.buffer.data();
  const int64_t pixels = blk.returned / 3;
  for (int64_t i = 0; i < pixels; ++i) {
    const uint8_t* rgb = p + 3 * i;
    p[i] = table[((rgb[0] & 0xF8u) << 8) | ((rgb[1] & 0xFCu) << 3) | (rgb[2] >> 3)];
  }
  blk.returned = static_cast<int32_t>(pixels);
}

ScanPipeline::~ScanPipeline() {
  RequestStop();
  Join();
}

void ScanPipeline::Start() {
  finished_.store(false);
  readingDone_.store(false);
  processor_ = std::thread([this] { ProcessThread(); });
  reader_ = std::thread([this] { ReadThread(); });
}

void ScanPipeline::Join() {
  if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) reader_.join();
  // The reader joins the processor; this only matters when the reader never ran.
  if (processor_.joinable() && processor_.get_id() != std::this_thread::get_id()) {
    dataReady_.Close();
    processor_.join();
  }
}

// Hands the record just filled to the processing thread and switches the reader to the other.
void ScanPipeline::HandOver(Block*& filled) {
  // The processor may still work on the record handed over before: wait until it is done, so
  // that the record the reader fills next is not in use.
  blockDone_.Wait();
  ++blockCount_;
  readyRecord_ = filled;
  readRecord_ = (filled == &a_) ? &b_ : &a_;
  Block& blk = *readyRecord_;
  if (s_.oneBitTransfer) {
    // The scanner sent 1 bit a pixel, most significant bit first, 0 black. Only the bits that
    // arrived are unpacked; the rest of the block stays white.
    const int32_t got = std::min<int32_t>(blk.returned, static_cast<int32_t>(unpack_.size()));
    std::memcpy(unpack_.data(), blk.buffer.data(), static_cast<size_t>(std::max(got, 0)));
    std::fill(blk.buffer.begin(), blk.buffer.end(), uint8_t{255});
    const int64_t pixels = int64_t{got} * 8;
    for (int64_t i = 0; i < pixels; ++i) {
      if ((unpack_[static_cast<size_t>(i >> 3)] & (0x80 >> (i & 7))) == 0) blk.buffer[static_cast<size_t>(i)] = 0;
    }
    blk.returned = got * 8;
  }
  if (!s_.paletteLookup.empty()) MapToPalette(blk);
  linesReceived_.fetch_add(blk.returned / s_.lineBytes);
  blockDone_.ResetEvent();
  dataReady_.Set();
  std::this_thread::yield();
}

// Hands over the whole lines of a read that ended early; a part line is dropped.
void ScanPipeline::HandOverWholeLines(Block* rec, int32_t lineSize) {
  if (lineSize <= 0 || rec->returned < lineSize) return;
  rec->returned -= rec->returned % lineSize;
  HandOver(rec);
}

void ScanPipeline::ProcessThread() {
  for (;;) {
    WaitResult r = dataReady_.WaitFor(std::chrono::milliseconds(500));
    if (r == WaitResult::Closed) break;
    if (r == WaitResult::TimedOut) continue;
    std::this_thread::yield();
    ProcessBlock(*readyRecord_);
    blockDone_.Set();
    std::this_thread::yield();
  }
}

void ScanPipeline::ProcessBlock(Block& block) {
  const int lines = block.returned / s_.lineBytes;
  if (lines <= 0) return;
  uint8_t* data = block.buffer.data();
  const int32_t bytes = lines * s_.lineBytes;

  // Software paper-end test: only once the first inch is in, so the leading edge of the sheet
  // is not taken for its end.
  if (s_.paperEndTest && s_.autoSize && linesReceived_.load() > s_.xDpi) {
    const uint8_t* table = s_.colourTable.empty() ? nullptr : s_.colourTable.data();
    if (s_.autoSize->DetectPaperEnd(data, bytes, s_.widthPx, s_.kind, table))
      StopScanner(ScanEnd::Stopped);
  }
  ProcessInParts(s_.toneChain, pool_.get(), data, static_cast<size_t>(lines), static_cast<size_t>(s_.lineBytes));
  if (s_.workingCopy) {
    if (s_.trace) s_.trace("copy");
    s_.workingCopy->Write(data, lines, s_.lineBytes);
  }
  s_.bilevelChain.Process(data, static_cast<size_t>(bytes));
  if (!DisplayDuringScanOff.load() && s_.host && s_.host->Display()) {
    if (s_.trace) s_.trace("draw");
    s_.host->Display()->DrawIncomingBand(IDisplaySink::kStepBand, data, lines);
  }
  if (s_.output && (s_.output->ByLibrary() || !DiskWritesDuringScanOff.load())) {
    if (s_.trace) s_.trace("output");
    s_.output->Write(data, lines, s_.lineBytes);
  }
}

std::optional<ScanEnd> ScanPipeline::AfterRead(ReadCompleteType result, Block* rec,
                                               ReadProgress& progress) {
  if (result != READ_COMPLETE && stopRequested_.load()) {
    // The stop reached the scanner while this read was pending, and the scanner ended the
    // read for it: a stopped scan, with the whole lines that came.
    HandOverWholeLines(rec, progress.lineSize);
    return ScanEnd::Stopped;
  }
  switch (result) {
    case READ_COMPLETE:
      if (rec->returned == 0) {
        // "Complete" with nothing in it: count it as an empty read, or it could go on for ever.
        if (++progress.noData < progress.noDataLimit) return std::nullopt;
        return progress.dataCame ? ScanEnd::EndOfMedium : ScanEnd::NoData;
      }
      progress.dataCame = true;
      progress.noData = 0;
      HandOver(rec);
      if (linesReceived_.load() >= s_.height) return ScanEnd::Complete;
      return std::nullopt;
    case READ_END_OF_MEDIUM:
      // The medium's last lines come with its end: they belong to the image.
      HandOverWholeLines(rec, progress.lineSize);
      StopScanner(ScanEnd::EndOfMedium);
      return ScanEnd::EndOfMedium;
    case READ_NO_DATA:
      if (progress.dataCame) {
        // Some scanners end a sheet by sending nothing more: the sheet is over, with every
        // line that came.
        HandOverWholeLines(rec, progress.lineSize);
        return ScanEnd::EndOfMedium;
      }
      if (++progress.noData >= progress.noDataLimit) return ScanEnd::NoData;
      s_.host->GetClock().Sleep(std::chrono::milliseconds(20));
      return std::nullopt;
    case READ_MEDIUM_ERROR:
      StopScanner(ScanEnd::ReadError);
      return ScanEnd::ReadError;
    case READ_FAILED:
    case READ_NOT_WHOLE_LINES:
      return ScanEnd::ScannerError;
  }
  // A result the library does not define: the scan cannot go on (retrying would never end).
  return ScanEnd::ScannerError;
}

void ScanPipeline::ReadThread() {
  blockCount_ = 0;
  linesReceived_.store(0);
  readRecord_ = readyRecord_ = &a_;
  ReadProgress progress;
  progress.lineSize = ArrivingLineBytes();
  progress.noDataLimit = s_.noDataLimit > 0 ? s_.noDataLimit : std::max(1, s_.yDpi / 100 * 40);
  std::optional<ScanEnd> end;

  while (!end && !stopRequested_.load()) {
    const int32_t remaining = s_.height - linesReceived_.load();
    if (remaining <= 0) {
      end = ScanEnd::Complete;
      break;
    }
    Block* rec = readRecord_;
    rec->requested = std::min(BlockLines(), remaining) * progress.lineSize;
    rec->returned = 0;
    ReadCompleteType result;
    int32_t returned = 0;
    if (s_.reader) {
      result = s_.reader->Read(rec->buffer.data(), rec->requested, &returned);
    } else {
      DataTransferType transfer{};
      transfer.RequestedBytes = rec->requested;
      transfer.Buffer = rec->buffer.data();
      transfer.ReturnedBytes = 0;
      result = s_.scanner->ReadData(&transfer);
      returned = transfer.ReturnedBytes;
    }
    rec->returned = std::clamp(returned, 0, rec->requested);
    end = AfterRead(result, rec, progress);
  }
  if (!end) end = ScanEnd::Stopped;  // the loop saw the stop request
  if (*end == ScanEnd::Stopped) StopScanner(ScanEnd::Stopped);
  readingDone_.store(true);

  // The last block must be processed before anything is closed: wait for it, then end the
  // processing thread and join it.
  blockDone_.Wait();
  dataReady_.Close();
  blockDone_.Close();
  if (processor_.joinable()) processor_.join();

  result_.end = *end;
  result_.linesReceived = linesReceived_.load();
  Finish();
  exited_.store(true);
}

void ScanPipeline::FillWithWhite(bool stopped) {
  std::vector<uint8_t> white(static_cast<size_t>(s_.lineBytes), s_.whiteIndex);
  IDisplaySink* display = s_.host->Display();
  const int32_t missing = s_.height - result_.linesReceived;
  if (stopped) s_.host->ProgressBegin(kStrFillCaption, missing);
  int32_t written = result_.linesReceived;
  for (; written < s_.height; ++written) {
    if (s_.workingCopy) s_.workingCopy->Write(white.data(), 1, s_.lineBytes);
    if (display) display->DrawIncomingBand(IDisplaySink::kStepBand, white.data(), 1);
    if (s_.output) s_.output->Write(white.data(), 1, s_.lineBytes);
    std::this_thread::yield();
    if (stopped) {
      s_.host->ProgressStep();
      s_.host->PumpMessages();
      if (CancelFlag.load()) {
        result_.fillCancelled = true;
        break;
      }
    }
  }
  if (stopped) s_.host->ProgressEnd();
  result_.whiteFilled = true;
  result_.finalHeight = result_.fillCancelled ? written + 1 : s_.height;
}

void ScanPipeline::Finish() {
  ScanHost& host = *s_.host;
  ImageState* image = s_.image;
  result_.finalHeight = s_.height;
  const int32_t received = result_.linesReceived;

  switch (result_.end) {
    case ScanEnd::Complete:
      break;
    case ScanEnd::Stopped:
    case ScanEnd::EndOfMedium:
      if (!s_.plainTiff && !s_.noPad) {
        FillWithWhite(result_.end == ScanEnd::Stopped);
        if (result_.fillCancelled) {
          if (s_.output && s_.output->ByLibrary()) s_.output->Release();
        }
      } else {
        CancelFlag.store(1);
        result_.cut = true;
        result_.finalHeight = received;
        if (s_.output && s_.output->ByLibrary()) s_.output->Release();
      }
      break;
    case ScanEnd::ReadError:
    case ScanEnd::ScannerError:
    case ScanEnd::NoData:
      // A failed scan keeps what arrived and says so; it is never passed off as a full page.
      CancelFlag.store(1);
      result_.cut = true;
      result_.finalHeight = received;
      if (s_.output && s_.output->ByLibrary()) s_.output->Release();
      if (result_.end == ScanEnd::ReadError)
        host.ShowMessage(kStrReadError, MessageIcon::None);
      else if (result_.end == ScanEnd::NoData)
        host.ShowText("The scanner sent no data. Lines scanned = " + std::to_string(received), "",
                      MessageIcon::Error);
      else
        host.ShowText("Scan ended by a scanner error. Lines scanned = " + std::to_string(received),
                      "", MessageIcon::Error);
      break;
  }
  // Output, then the working copy. Their writers' threads end here, so nothing but the host's
  // thread touches the record any more.
  std::vector<std::function<void(ImageState&)>> changes;
  if (s_.output) {
    result_.outputOk = s_.output->Close(result_.finalHeight);
    if (auto c = s_.output->RecordChange()) changes.push_back(std::move(c));
  }
  if (s_.workingCopy) {
    if (!s_.workingCopy->Close(result_.finalHeight)) result_.outputOk = false;
    if (auto c = s_.workingCopy->RecordChange()) changes.push_back(std::move(c));
  }
  if (image) {
    // Before the last band: the display ends with the record's final height.
    host.ChangeImageRecord([image, height = result_.finalHeight, changes = std::move(changes)] {
      image->height = height;
      for (const auto& c : changes) c(*image);
    });
  }

  const bool notWritten = !result_.outputOk && result_.finalHeight > 0;
  if (notWritten) {
    // The file could not be finished (a full disk, a failing drive): say so, and hand the frame
    // a page that is cut short rather than a finished one.
    CancelFlag.store(1);
    host.ShowText("The scanned image could not be written" +
                      (image ? ": " + image->sourcePath : std::string()),
                  "", MessageIcon::Error);
  }

  if (IDisplaySink* d = host.Display()) {
    d->DrawIncomingBand(IDisplaySink::kStepEnd, nullptr, 0);
    d->EndProgressiveDisplay();
  }

  // Free what the scan owns: buffers, writers and filters.
  a_.buffer = {};
  b_.buffer = {};
  unpack_ = {};
  s_.output.reset();
  s_.workingCopy.reset();
  s_.toneChain = {};
  s_.bilevelChain = {};
  pool_.reset();

  if (s_.onFinished) s_.onFinished(result_);
  // The scanner's last command goes out before the frame hears of the end: a scan started
  // from the frame's handler of that message is never ended by this one's.
  if (s_.reader) s_.reader->Finished();
  finished_.store(true);

  if (!CancelFlag.load()) {
    host.PostToFrame(WM_SCAN_COMPLETE);
  } else if (result_.fillCancelled) {
    host.PostToFrame(WM_SCAN_COMPLETE);
    host.PostToFrame(WM_SCAN_REJECT_PAGE);
  } else {
    if (image) {
      host.ChangeImageRecord([image, height = result_.finalHeight] {
        image->bitmaps[2].reset();
        image->region = PixelRect{0, 0, image->width - 1, height - 1};
      });
    }
    host.SendToFrame(WM_SCAN_COMPLETE, notWritten ? kScanCompleteNotWritten : 0);
    host.PostToThumbnails(WM_THUMB_REDRAW_VIEW);
    // Nothing at all arrived: there is no page to keep.
    if (result_.finalHeight == 0) host.PostToFrame(WM_SCAN_REJECT_PAGE);
  }
}

bool RetireFinishedPipeline(std::unique_ptr<ScanPipeline>& current,
                            std::vector<std::unique_ptr<ScanPipeline>>& retired) {
  if (current) {
    if (!current->Finished()) return false;  // one scan at a time
    retired.push_back(std::move(current));
  }
  std::erase_if(retired, [](const std::unique_ptr<ScanPipeline>& p) { return p->ThreadsDone(); });
  return true;
}

}  // namespace orb
