#include "platform/sim/SimScanner.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace orb::sim {

namespace pt = orb::passthru;

namespace {

uint32_t BE16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
uint32_t BE24(const uint8_t* p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }
uint32_t BE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
void PutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kInvalidCdbField{0x05, 0x24, 0x00};
constexpr Sense kInvalidParamField{0x05, 0x26, 0x00};
constexpr Sense kSequenceError{0x05, 0x2C, 0x00};
constexpr Sense kNoMedium{0x02, 0x3A, 0x00};

// Model data as the simulated firmware knows it.
const std::vector<SimModel> kSimModels = {
    {"TESTZK", 400, 21600, 3, 0}, {"TK2231", 600, 14400, 2, 1}, {"TR8835", 508, 21336, 3, 1},
    {"TK3362", 800, 22404, 3, 1}, {"TK5804", 800, 21600, 3, 0}, {"TR9014", 508, 21336, 3, 0},
    {"TR9166", 800, 33600, 5, 0}, {"TR5578", 508, 31496, 5, 0}, {"TR6729", 400, 21600, 3, 1},
    {"TR9020", 508, 21336, 3, 0}, {"TR6641", 300, 14400, 2, 1}, {"TR8857", 400, 16800, 3, 1},
    {"TR8846", 300, 12600, 2, 1}, {"TK7402", 400, 14400, 2, 1}, {"WQ331Z", 400, 14400, 2, 0},
    {"TK7403", 400, 14400, 2, 0}, {"HALD21", 400, 14400, 2, 1}, {"HALD22", 400, 14400, 3, 0},
    {"HALD23", 600, 14400, 2, 0}, {"HALD24", 600, 21600, 3, 0}, {"HALD26", 400, 9600, 2, 0},
    {"TK7190", 200, 7200, 1, 0},  {"TK7191", 200, 7200, 1, 0},  {"VM538+", 400, 15750, 3, 0},
    {"VM447+", 400, 15750, 3, 0}, {"VM538", 300, 10500, 2, 0},  {"VM512", 300, 10500, 2, 0},
    {"VM629", 400, 15750, 3, 0},  {"VM615", 400, 15750, 3, 0},
};

}  // namespace

const std::vector<SimModel>& SimModels() { return kSimModels; }

const SimModel* FindSimModel(std::string_view product) {
  for (const auto& m : kSimModels) {
    std::string_view key = m.product;
    if (key.size() != product.size()) continue;
    bool same = true;
    for (size_t i = 0; i < key.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(key[i])) ==
             std::toupper(static_cast<unsigned char>(product[i]));
    if (same) return &m;
  }
  return nullptr;
}

SimScannerConfig ConfigForModel(const SimModel& model) {
  SimScannerConfig c;
  c.product = model.product;
  c.byte36 = model.byte36;
  c.opticalDpi = model.opticalDpi;
  c.pixelsAtOptical = model.pixelsAtOptical;
  c.cameras = model.cameras;
  // A model's service steps take as long as a real scanner's take, give or take:
  // dark and light normalisation, front/back and left/right alignment.
  c.diagnosticMs = {{0x85, 6000}, {0x84, 12000}, {0x91, 15000}, {0xA2, 20000}};
  return c;
}

SimScanner::SimScanner(SimScannerConfig config) : config_(std::move(config)) {
  for (const auto& [page, ms] : config_.diagnosticMs) diagDurations_[page] = {ms, false};
  // Tone tables start as the plain 12-bit to 8-bit cut.
  for (auto& t : tone_)
    for (int i = 0; i < 4096; ++i) t[i] = static_cast<uint8_t>(i >> 4);
}

SimScanner::~SimScanner() {
  std::lock_guard lock(mutex_);
  scanning_ = false;
  stallReads_ = false;
  readCv_.notify_all();
}

SimScanner::Result SimScanner::Check(Sense s, uint32_t residue, bool ili, bool eom,
                                     bool residueValid) const {
  Result r;
  r.status = pt::kStatusError;
  // Valid: the residue in bytes 3-6 means something.
  r.sense[0] = static_cast<uint8_t>(0x70 | (residue || residueValid ? 0x80 : 0));
  r.sense[2] = static_cast<uint8_t>((s.key & 0x0F) | (ili ? 0x20 : 0) | (eom ? 0x40 : 0));
  PutBE32(r.sense + 3, residue);
  r.sense[7] = 10;
  r.sense[12] = s.asc;
  r.sense[13] = s.ascq;
  return r;
}

SimScanner::Result SimScanner::Execute(const uint8_t* cdb, int cdbLength,
                                       pt::Direction direction, uint8_t* data,
                                       uint32_t dataLength, uint32_t timeLimitMs) {
  std::unique_lock lock(mutex_);
  CommandRecord rec;
  rec.cdb.assign(cdb, cdb + std::max(cdbLength, 0));
  rec.direction = direction;
  rec.dataLength = dataLength;
  if (direction == pt::Direction::Out && data) rec.dataOut.assign(data, data + dataLength);

  Result r;
  bool faulted = false;
  const uint8_t opcode = cdbLength > 0 ? cdb[0] : 0xFF;
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->opcode != -1 && it->opcode != opcode) continue;
    if (--it->remaining == 0) {
      // Nothing moves: a command with data reports all of it as residue.
      r = Check(it->sense, direction == pt::Direction::None ? 0 : dataLength);
      faults_.erase(it);
      faulted = true;
      break;
    }
  }
  if (!faulted) r = Dispatch(cdb, cdbLength, direction, data, dataLength, timeLimitMs, lock);

  rec.transferred = r.transferred;
  rec.status = r.status;
  rec.sense = Sense{static_cast<uint8_t>(r.sense[2] & 0x0F), r.sense[12], r.sense[13]};
  log_.push_back(std::move(rec));
  return r;
}

SimScanner::Result SimScanner::Dispatch(const uint8_t* cdb, int cdbLength, pt::Direction,
                                        uint8_t* data, uint32_t dataLength,
                                        uint32_t timeLimitMs, std::unique_lock<std::mutex>& lock) {
  if (cdbLength < 6) return Check(kInvalidCdbField);
  const uint8_t op = cdb[0];
  const int expected = op < 0x20 ? 6 : 10;
  if (cdbLength != expected) return Check(kInvalidCdbField);
  switch (op) {
    case 0x00:
      if (turSenseCount_ > 0) {
        --turSenseCount_;
        return Check(turSense_);
      }
      return Result{};
    case 0x12: return Inquiry(cdb, data, dataLength);
    case 0x24: return SetWindow(cdb, data, dataLength);
    case 0x2A: return Send(cdb, data, dataLength);
    case 0x1B: {
      if (BE24(cdb + 2) > 0 && (!data || dataLength < 1)) return Check(kInvalidCdbField);
      return StartScan();
    }
    case 0x28: {
      Result r = Read(cdb, data, dataLength, timeLimitMs, lock);
      PaceLocked(r.transferred, lock);
      return r;
    }
    case 0x31: return ObjectPosition(cdb);
    case 0x1D: return SendDiagnostic(cdb, data, dataLength);
    case 0x1C: return ReceiveDiagnostic(cdb, data, dataLength);
    case 0x3C: return ReadBuffer(cdb, data, dataLength);
    case 0x3B: return WriteBuffer(cdb, data, dataLength);
    default: return Check(kInvalidOpcode);
  }
}

SimScanner::Result SimScanner::Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t dataLength) {
  uint8_t inq[96] = {};
  inq[0] = config_.peripheralType;
  inq[2] = 2;
  inq[3] = 2;
  inq[4] = sizeof inq - 5;
  auto put = [&](int at, const std::string& s, size_t n) {
    for (size_t i = 0; i < n; ++i) inq[at + i] = i < s.size() ? static_cast<uint8_t>(s[i]) : ' ';
  };
  put(8, config_.vendor, 8);
  put(16, config_.product, 16);
  put(32, config_.revision, 4);
  inq[36] = config_.byte36;
  inq[37] = config_.byte37;
  uint32_t n = std::min<uint32_t>({cdb[4], dataLength, sizeof inq});
  if (n && data) std::memcpy(data, inq, n);
  Result r;
  r.transferred = n;
  return r;
}

SimScanner::Result SimScanner::SetWindow(const uint8_t* cdb, const uint8_t* d,
                                         uint32_t dataLength) {
  const uint32_t len = BE24(cdb + 6);
  if (len < 56 || !d || dataLength < len) return Check(kInvalidCdbField);
  if (BE16(d + 6) != 0x30) return Check(kInvalidParamField);
  if (scanning_) return Check(kSequenceError);
  SimWindow w;
  w.valid = true;
  w.raw.assign(d, d + 56);
  w.xRes = static_cast<int>(BE16(d + 10));
  w.yRes = static_cast<int>(BE16(d + 12));
  w.upperLeftX = static_cast<int>(BE32(d + 14));
  w.upperLeftY = static_cast<int>(BE32(d + 18));
  w.width = static_cast<int>(BE32(d + 22));
  w.length = static_cast<int>(BE32(d + 26));
  w.brightness = d[30];
  w.threshold = d[31];
  w.composition = d[33];
  w.bitsPerPixel = d[34];
  w.flags = d[37];
  w.option = d[40];
  std::memcpy(w.stitchAlign, d + 42, 4);
  w.cameraStitch = d[46];
  w.libraryStitches = d[47];
  std::memcpy(w.vendor, d + 48, 6);
  w.vendorLast = d[55];
  if (w.xRes <= 0 || w.yRes <= 0 || w.width <= 0 || w.length <= 0)
    return Check(kInvalidParamField);
  if (w.bitsPerPixel != 1 && w.bitsPerPixel != 4 && w.bitsPerPixel != 8 && w.bitsPerPixel != 24)
    return Check(kInvalidParamField);
  window_ = std::move(w);
  Result r;
  r.transferred = len;
  return r;
}

SimScanner::Result SimScanner::Send(const uint8_t* cdb, const uint8_t* d, uint32_t dataLength) {
  const uint32_t len = BE24(cdb + 6);
  const int param = static_cast<int>(BE16(cdb + 4));
  if (cdb[2] != 1) return Check(kInvalidCdbField);
  if (len > 0 && (!d || dataLength < len)) return Check(kInvalidCdbField);
  auto need = [&](uint32_t n) { return len == n; };
  switch (param) {
    case 0:
      if (!need(1)) return Check(kInvalidCdbField);
      StopScanLocked();
      break;
    case 1:
      if (!need(1)) return Check(kInvalidCdbField);
      fractionalSpeed_ = d[0];
      break;
    case 7:
      // Starts a calibration from raw data; the stored calibration stays in use until a new
      // one completes.
      normalisedDark_ = normalisedLight_ = false;
      freshDark_ = false;
      break;
    case 8:
      if (!need(1)) return Check(kInvalidCdbField);
      illumination_ = d[0];
      break;
    case 22:
      if (!need(2)) return Check(kInvalidCdbField);
      staging_ = static_cast<int16_t>(BE16(d));
      break;
    case 23:
      if (!need(2)) return Check(kInvalidCdbField);
      runOnParam_ = static_cast<int16_t>(BE16(d));
      break;
    case 26:
    case 27: {
      if (!need(3) && !need(5)) return Check(kInvalidCdbField);
      auto& target = param == 26 ? fbAlign_ : lrStitch_;
      std::copy_n(d, std::min<size_t>(len, target.size()), target.begin());
      break;
    }
    case 35:
      if (!need(65536)) return Check(kInvalidCdbField);
      colorTable_.assign(d, d + len);
      break;
    case 39: {
      if (!need(4097) || d[0] > 3) return Check(kInvalidParamField);
      for (int c = 0; c < 3; ++c)
        if (d[0] == 0 || d[0] == c + 1) std::memcpy(tone_[c].data(), d + 1, 4096);
      break;
    }
    case 116:
      if (!need(33)) return Check(kInvalidCdbField);
      for (int i = 0; i < 8; ++i) counters_[i] = BE32(d + 4 * i);
      break;
    case 113:
    case 114:
      if (!need(4)) return Check(kInvalidCdbField);
      for (int i = 0; i < 4; ++i)
        if (d[i]) counters_[(param == 113 ? 0 : 4) + i] = 0;
      break;
    case 115:
      if (!need(8)) return Check(kInvalidCdbField);
      for (int i = 0; i < 4; ++i) counters_[4 + i] += BE16(d + 2 * i);
      break;
    case 3: case 53: case 54:
      if (!need(5)) return Check(kInvalidCdbField);
      break;
    case 56:
      if (!need(9)) return Check(kInvalidCdbField);
      break;
    case 80:
      if (!need(6)) return Check(kInvalidCdbField);
      break;
    case 51:
      if (!need(1536)) return Check(kInvalidCdbField);
      break;
    case 112:
      if (!need(8)) return Check(kInvalidCdbField);
      break;
    case 6: case 17: case 18: case 30: case 48: case 50: case 55:
      if (!need(1)) return Check(kInvalidCdbField);
      break;
    default:
      if ((param & 0xFF) == 0x31 && (param >> 8) < 16 && len > 0 && len <= 65536) {
        const size_t at = static_cast<size_t>(param >> 8) * 65536;
        if (rgbTable_.size() < at + len) rgbTable_.resize(at + len);
        std::memcpy(rgbTable_.data() + at, d, len);
        break;
      }
      return Check(kInvalidParamField);
  }
  params_[param].assign(d, d + len);
  Result r;
  r.transferred = len;
  return r;
}

SimScanner::Result SimScanner::ObjectPosition(const uint8_t* cdb) {
  const int type = cdb[1];
  switch (type) {
    case 1:
    case 5:
      if (paper_ == PaperState::None || paper_ == PaperState::Ejected) return Check(kNoMedium);
      paper_ = PaperState::Loaded;
      break;
    case 0:
      if (paper_ != PaperState::None) paper_ = PaperState::AtEntry;
      break;
    case 4:
      paper_ = PaperState::None;
      break;
    default:
      break;  // relative moves and the like leave the sheet where it is
  }
  return Result{};
}

uint8_t SimScanner::PaperBits() const {
  uint8_t bits = 0;
  if (paper_ == PaperState::AtEntry) bits |= 0x01;
  if (paper_ == PaperState::Loaded || paper_ == PaperState::Scanning) bits |= 0x02;
  if (paper_ != PaperState::None && paper_ != PaperState::Ejected) bits |= 0x04;
  return bits;
}

SimScanner::Result SimScanner::SendDiagnostic(const uint8_t* cdb, const uint8_t* d,
                                              uint32_t dataLength) {
  const uint32_t len = BE16(cdb + 3);
  if (cdb[1] == 0x14) {  // standard self-test
    if (len != 0) return Check(kInvalidCdbField);
    return Result{};
  }
  if (cdb[1] != 0x10 || len < 4 || !d || dataLength < len) return Check(kInvalidCdbField);
  const uint8_t page = d[0];
  const uint32_t plen = d[3];
  if (plen + 4 != len) return Check(kInvalidParamField);
  if (page == 0x80) {
    if (job_.active && job_.pollsLeft > 0) job_.stopped = true;
    job_.pollsLeft = 0;
    Result r;
    r.transferred = len;
    return r;
  }
  if (page == 0x8E) {
    sensorMode_ = plen ? d[4] : 0;
    job_ = Job{};
    Result r;
    r.transferred = len;
    return r;
  }
  static const uint8_t kPages[] = {0x81, 0x83, 0x84, 0x85, 0x8B, 0x8C, 0x91, 0xA2, 0xA6,
                                   0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8,
                                   0xB9, 0xBA};
  if (std::find(std::begin(kPages), std::end(kPages), page) == std::end(kPages))
    return Check(kInvalidParamField);
  job_ = Job{};
  job_.page = page;
  job_.active = true;
  auto it = diagOutcomes_.find(page);
  job_.pollsLeft = it != diagOutcomes_.end() ? it->second.first : 2;
  job_.fail = it != diagOutcomes_.end() && it->second.second;
  if (auto d = diagDurations_.find(page); d != diagDurations_.end()) {
    job_.startMs = ServiceNowLocked();
    job_.durationMs = std::max<int64_t>(d->second.first, 0);
    job_.endless = d->second.first < 0;
    job_.fail = d->second.second;
  }
  Result r;
  r.transferred = len;
  return r;
}

SimScanner::Result SimScanner::ReceiveDiagnostic(const uint8_t* cdb, uint8_t* data,
                                                 uint32_t dataLength) {
  const uint32_t alloc = BE16(cdb + 3);
  if (alloc > 0 && (!data || dataLength < alloc)) return Check(kInvalidCdbField);
  std::vector<uint8_t> page(std::max<uint32_t>(alloc, 128), 0);
  uint8_t status = 0;
  if (job_.active) {
    if (job_.stopped) {
      status = 0x80;
    } else if (job_.durationMs >= 0 ? (job_.endless || ServiceNowLocked() - job_.startMs < job_.durationMs)
                                     : job_.pollsLeft > 0) {
      if (job_.durationMs < 0) --job_.pollsLeft;
      status = 0x06;  // busy
    } else if (auto end = diagEndStatus_.find(job_.page); end != diagEndStatus_.end()) {
      status = end->second;
    } else if (job_.fail) {
      status = 0x80;
    } else {
      status = 0x01;
      FinishJobLocked();
    }
  }
  if (job_.active && job_.page == 0xA6) {
    page[0] = 0xA6;
    page[4] = status;
    page[5] = lrStitch_[0];
    page[6] = lrStitch_[1];
    page[7] = lrStitch_[2];
    page[10] = lrStitch_[3];
    page[11] = lrStitch_[4];
    page[37] = fbAlign_[0];
    page[38] = fbAlign_[1];
    page[39] = fbAlign_[2];
    page[13] = fbAlign_[3];
    page[14] = fbAlign_[4];
  } else {
    // The results page: byte 4 the running step's status (bit 7 failed, bit 0 completed,
    // bits 1-2 busy), byte 5 the paper sensors (bit 2: paper present).
    page[0] = job_.page;
    page[2] = 0;
    page[3] = 124;
    page[4] = status;
    page[5] = PaperBits();
    page[6] = static_cast<uint8_t>(sensorMode_);
  }
  if (alloc) std::memcpy(data, page.data(), alloc);
  Result r;
  r.transferred = alloc;
  return r;
}

SimScanner::Result SimScanner::ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t dataLength) {
  const uint32_t len = BE24(cdb + 6);
  if (cdb[1] != 1 || len > dataLength || (len && !data)) return Check(kInvalidCdbField);
  uint8_t buf[32];
  for (int i = 0; i < 8; ++i) PutBE32(buf + 4 * i, counters_[i]);
  const uint32_t n = std::min<uint32_t>(len, 32);
  if (n) std::memcpy(data, buf, n);
  if (len > n) std::memset(data + n, 0, len - n);
  Result r;
  r.transferred = len;
  return r;
}

SimScanner::Result SimScanner::WriteBuffer(const uint8_t* cdb, const uint8_t* d,
                                           uint32_t dataLength) {
  const uint32_t offset = BE24(cdb + 3);
  const uint32_t len = BE24(cdb + 6);
  if (cdb[1] != 5 || len > dataLength || (len && !d)) return Check(kInvalidCdbField);
  firmware_[offset].assign(d, d + len);
  Result r;
  r.transferred = len;
  return r;
}

void SimScanner::StopScanLocked() {
  // The scan ends here: a READ that is pending or comes later reports the end of the
  // medium.
  if (scanning_) {
    scanning_ = false;
    stopRequested_ = true;
    if (paper_ == PaperState::Scanning) EjectSheet();
  }
  readCv_.notify_all();
}

// ---- faults, paper, diagnostics, state -------------------------------------------------

std::vector<CommandRecord> SimScanner::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<CommandRecord> SimScanner::LogOf(uint8_t opcode) const {
  std::lock_guard lock(mutex_);
  std::vector<CommandRecord> out;
  for (const auto& r : log_)
    if (!r.cdb.empty() && r.cdb[0] == opcode) out.push_back(r);
  return out;
}

void SimScanner::ClearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

size_t SimScanner::CommandCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

void SimScanner::FailCommand(int nth, Sense sense, int opcode) {
  std::lock_guard lock(mutex_);
  if (nth >= 1) faults_.push_back({nth, opcode, sense});
}

void SimScanner::SetUnitReadySense(Sense sense, int count) {
  std::lock_guard lock(mutex_);
  turSense_ = sense;
  turSenseCount_ = count;
}

void SimScanner::FailReadAtLine(int line) {
  std::lock_guard lock(mutex_);
  failReadAtLine_ = line;
}

void SimScanner::NoDataFromLine(int line) {
  std::lock_guard lock(mutex_);
  noDataFromLine_ = line;
}

void SimScanner::EmptyReads(int count) {
  std::lock_guard lock(mutex_);
  emptyReads_ = count;
}

void SimScanner::ShortReads(uint32_t bytes) {
  std::lock_guard lock(mutex_);
  shortReads_ = bytes;
}

void SimScanner::StallReads(bool stall) {
  std::lock_guard lock(mutex_);
  stallReads_ = stall;
  if (!stall) readCv_.notify_all();
}

void SimScanner::ReleaseReads() {
  std::lock_guard lock(mutex_);
  ++stallGeneration_;
  readCv_.notify_all();
}

int SimScanner::StalledReads() const {
  std::lock_guard lock(mutex_);
  return stalled_;
}

void SimScanner::InsertPaper() {
  std::lock_guard lock(mutex_);
  if (paper_ == PaperState::None || paper_ == PaperState::Ejected) paper_ = PaperState::AtEntry;
}

void SimScanner::RemovePaper() {
  std::lock_guard lock(mutex_);
  paper_ = PaperState::None;
}

void SimScanner::EjectSheet() {
  paper_ = config_.feedsNextSheet ? PaperState::AtEntry : PaperState::Ejected;
}

PaperState SimScanner::Paper() const {
  std::lock_guard lock(mutex_);
  return paper_;
}

bool SimScanner::PaperPresent() const {
  std::lock_guard lock(mutex_);
  return (PaperBits() & 0x04) != 0;
}

void SimScanner::SetDiagnosticOutcome(uint8_t page, int polls, bool fail) {
  std::lock_guard lock(mutex_);
  diagOutcomes_[page] = {std::max(polls, 0), fail};
}

void SimScanner::SetDiagnosticDuration(uint8_t page, int64_t ms, bool fail) {
  std::lock_guard lock(mutex_);
  diagDurations_[page] = {ms, fail};
}

void SimScanner::SetDiagnosticEndStatus(uint8_t page, uint8_t status) {
  std::lock_guard lock(mutex_);
  diagEndStatus_[page] = status;
}

void SimScanner::SetServiceClock(orb::Clock* clock) {
  std::lock_guard lock(mutex_);
  serviceClock_ = clock;
}

int64_t SimScanner::ServiceNowLocked() const {
  return (serviceClock_ ? *serviceClock_ : orb::DefaultClock()).NowMs();
}

// What a finished step leaves behind (once: later polls read the same status).
void SimScanner::FinishJobLocked() {
  if (job_.finished) return;
  job_.finished = true;
  if (job_.page == 0x85) {
    normalisedDark_ = true;
    freshDark_ = true;
  }
  if (job_.page == 0x84) {
    normalisedLight_ = true;
    ++calibrationGeneration_;
    lastCalibrationDark_ = freshDark_;
  }
  if (job_.page == 0x91) fbAlign_ = alignFB_;
  if (job_.page == 0xA2) lrStitch_ = alignLR_;
}

int SimScanner::CalibrationGeneration() const {
  std::lock_guard lock(mutex_);
  return calibrationGeneration_;
}

bool SimScanner::LastCalibrationHadDark() const {
  std::lock_guard lock(mutex_);
  return lastCalibrationDark_;
}

void SimScanner::SetAlignmentResults(std::array<uint8_t, 5> lr, std::array<uint8_t, 5> fb) {
  std::lock_guard lock(mutex_);
  alignLR_ = lr;
  alignFB_ = fb;
}

SimWindow SimScanner::Window() const {
  std::lock_guard lock(mutex_);
  return window_;
}

std::optional<std::vector<uint8_t>> SimScanner::Parameter(int number) const {
  std::lock_guard lock(mutex_);
  auto it = params_.find(number);
  if (it == params_.end()) return std::nullopt;
  return it->second;
}

std::array<uint8_t, 4096> SimScanner::ToneTable(int channel) const {
  std::lock_guard lock(mutex_);
  return tone_[static_cast<size_t>(std::clamp(channel, 0, 2))];
}

std::vector<uint8_t> SimScanner::ColorTable() const {
  std::lock_guard lock(mutex_);
  return colorTable_;
}

std::vector<uint8_t> SimScanner::RgbTable() const {
  std::lock_guard lock(mutex_);
  return rgbTable_;
}

int SimScanner::FractionalSpeed() const {
  std::lock_guard lock(mutex_);
  return fractionalSpeed_;
}

int SimScanner::StagingPosition() const {
  std::lock_guard lock(mutex_);
  return staging_;
}

int SimScanner::RunOnParameter() const {
  std::lock_guard lock(mutex_);
  return runOnParam_;
}

bool SimScanner::Scanning() const {
  std::lock_guard lock(mutex_);
  return scanning_;
}

bool SimScanner::Normalised() const {
  std::lock_guard lock(mutex_);
  return normalisedDark_ && normalisedLight_;
}

int SimScanner::Illumination() const {
  std::lock_guard lock(mutex_);
  return illumination_;
}

std::array<uint32_t, 8> SimScanner::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

void SimScanner::SetCounters(std::array<uint32_t, 8> counters) {
  std::lock_guard lock(mutex_);
  counters_ = counters;
}

std::map<uint32_t, std::vector<uint8_t>> SimScanner::Firmware() const {
  std::lock_guard lock(mutex_);
  return firmware_;
}

std::array<uint8_t, 5> SimScanner::LeftRightStitch() const {
  std::lock_guard lock(mutex_);
  return lrStitch_;
}

std::array<uint8_t, 5> SimScanner::FrontBackAlign() const {
  std::lock_guard lock(mutex_);
  return fbAlign_;
}

// ---- the scan ------------------------------------------------------------------------

SimScanner::Result SimScanner::StartScan() {
  if (!window_.valid) return Check(kSequenceError);
  PrepareScanLocked();
  if (config_.repeatLines > 0) {
    // The rendered lines stay while everything that shapes them is the same.
    std::vector<uint8_t> key;
    auto add = [&key](const void* p, size_t n) {
      key.insert(key.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    };
    const int fields[] = {window_.xRes, window_.yRes, window_.upperLeftX, window_.upperLeftY, window_.width,
                          window_.threshold, window_.composition, window_.bitsPerPixel,
                          window_.libraryStitches ? 1 : 0};
    add(fields, sizeof fields);
    for (const auto& t : tone_) add(t.data(), t.size());
    add(colorTable_.data(), colorTable_.size());
    if (key != repeatedFor_ || repeated_.size() != static_cast<size_t>(config_.repeatLines)) {
      repeatedFor_ = std::move(key);
      repeated_.assign(static_cast<size_t>(config_.repeatLines), {});
    }
  }
  paceOwedMs_ = 0;
  scanning_ = true;
  stopRequested_ = false;
  readPos_ = 0;
  cachedLine_ = -1;
  if (paper_ == PaperState::Loaded || paper_ == PaperState::AtEntry) paper_ = PaperState::Scanning;
  ++counters_[0];
  Result r;
  r.transferred = 1;
  return r;
}

bool SimScanner::WaitWhileStalledLocked(uint32_t timeLimitMs, std::unique_lock<std::mutex>& lock) {
  const uint64_t gen = stallGeneration_;
  auto released = [&] { return !stallReads_ || !scanning_ || gen != stallGeneration_; };
  if (timeLimitMs == 0) {
    readCv_.wait(lock, released);
    return true;
  }
  orb::Clock& clock = orb::DefaultClock();
  if (dynamic_cast<orb::SystemClock*>(&clock))
    return readCv_.wait_for(lock, std::chrono::milliseconds(timeLimitMs), released);
  // Another clock moves only when told: look at it between short waits for a release.
  const int64_t start = clock.NowMs();
  while (!released()) {
    if (clock.NowMs() - start >= timeLimitMs) return false;
    readCv_.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

SimScanner::Result SimScanner::Read(const uint8_t* cdb, uint8_t* data, uint32_t dataLength,
                                    uint32_t timeLimitMs, std::unique_lock<std::mutex>& lock) {
  const uint32_t want = BE24(cdb + 6);
  if (want > dataLength || (want && !data)) return Check(kInvalidCdbField);
  if (!scanning_ && !stopRequested_) return Check(kSequenceError);
  if (scanning_ && stallReads_) {
    ++stalled_;
    const bool answered = WaitWhileStalledLocked(timeLimitMs, lock);
    --stalled_;
    if (!answered) {
      Result r;
      r.status = pt::kStatusAborted;
      return r;
    }
  }
  auto endOfMedium = [&](uint32_t delivered) {
    // The scan is over: a new window is accepted, and a further READ finds the end again.
    scanning_ = false;
    stopRequested_ = true;
    if (paper_ == PaperState::Scanning) EjectSheet();
    Result r = Check(Sense{0x00, 0x3B, 0x09}, want - delivered, want != delivered, true, true);
    r.transferred = delivered;
    return r;
  };
  if (!scanning_) return endOfMedium(0);
  if (emptyReads_ > 0) {
    --emptyReads_;
    return Check(Sense{}, want, true);
  }
  const int64_t total = static_cast<int64_t>(lineCount_) * lineBytes_;
  int64_t limit = total;
  bool readError = false;
  if (failReadAtLine_ >= 0 && failReadAtLine_ < lineCount_) {
    const int64_t at = static_cast<int64_t>(failReadAtLine_) * lineBytes_;
    if (readPos_ + want > at) {
      limit = at;
      readError = true;
    }
  }
  if (noDataFromLine_ >= 0) {
    const int64_t at = static_cast<int64_t>(noDataFromLine_) * lineBytes_;
    if (readPos_ >= at) return Check(Sense{}, want, true);
    limit = std::min(limit, at);
  }
  uint32_t n = static_cast<uint32_t>(std::clamp<int64_t>(limit - readPos_, 0, want));
  if (shortReads_ && n > shortReads_) n = shortReads_;
  for (uint32_t done = 0; done < n;) {
    const int line = static_cast<int>(readPos_ / lineBytes_);
    const uint32_t off = static_cast<uint32_t>(readPos_ % lineBytes_);
    const uint8_t* from;
    if (config_.repeatLines > 0) {
      auto& kept = repeated_[static_cast<size_t>(line % config_.repeatLines)];
      if (kept.empty()) kept = RenderLineLocked(line % config_.repeatLines);
      from = kept.data();
    } else {
      if (cachedLine_ != line) {
        lineCache_ = RenderLineLocked(line);
        cachedLine_ = line;
      }
      from = lineCache_.data();
    }
    const uint32_t k = std::min(n - done, lineBytes_ - off);
    std::memcpy(data + done, from + off, k);
    done += k;
    readPos_ += k;
  }
  if (readError && n < want) {
    failReadAtLine_ = -1;
    Result r = Check(Sense{0x03, 0x11, 0x00}, want - n);
    r.transferred = n;
    return r;
  }
  if (n < want && readPos_ >= total) return endOfMedium(n);
  if (readPos_ >= total && total > 0 && config_.endOfMediumWithLastData) return endOfMedium(n);
  if (readPos_ >= total) {
    // The read that takes the window's last line ends the scan, as a real scanner does when
    // its window is exhausted: a new window is accepted at once, and a further READ finds
    // the end of the medium with nothing in it.
    scanning_ = false;
    stopRequested_ = true;
    if (paper_ == PaperState::Scanning) EjectSheet();
  }
  if (n < want) {
    Result r = Check(Sense{}, want - n, true);
    r.transferred = n;
    return r;
  }
  Result r;
  r.transferred = n;
  return r;
}

void SimScanner::SetReadPace(double linesPerSecond, orb::Clock* clock) {
  std::lock_guard lock(mutex_);
  paceLinesPerSecond_ = std::isfinite(linesPerSecond) && linesPerSecond > 0 ? linesPerSecond : 0;
  paceClock_ = clock;
  paceOwedMs_ = 0;
}

double SimScanner::ReadPace() const {
  std::lock_guard lock(mutex_);
  return paceLinesPerSecond_;
}

void SimScanner::PaceLocked(uint32_t bytes, std::unique_lock<std::mutex>& lock) {
  if (paceLinesPerSecond_ <= 0 || bytes == 0 || lineBytes_ == 0) return;
  // Whole milliseconds are waited; the rest is carried to the next READ so that a long
  // scan read in small pieces still takes lines / pace seconds in all.
  paceOwedMs_ += static_cast<double>(bytes) / lineBytes_ * 1000.0 / paceLinesPerSecond_;
  const double whole = std::floor(paceOwedMs_ + 1e-6);
  if (whole < 1) return;
  paceOwedMs_ = std::max(0.0, paceOwedMs_ - whole);
  orb::Clock& clock = paceClock_ ? *paceClock_ : orb::DefaultClock();
  lock.unlock();
  clock.Sleep(orb::Clock::Ms(static_cast<int64_t>(whole)));
  lock.lock();
}

std::vector<uint8_t> SimScanner::RenderDeliveredLine(int line) const {
  std::lock_guard lock(mutex_);
  return RenderLineLocked(line);
}

uint32_t SimScanner::DeliveredLineBytes() const {
  std::lock_guard lock(mutex_);
  return LineBytesLocked();
}

int SimScanner::DeliveredLineCount() const {
  std::lock_guard lock(mutex_);
  return LineCountLocked();
}

}  // namespace orb::sim
