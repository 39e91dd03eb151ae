#include "platform/sim/SimKelvane.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "platform/Bytes.h"
#include "platform/net/EscapeWire.h"

namespace orb::sim {

namespace {

// CRC-32/BZIP2, written here bit by bit so the device checks uploads independently of the
// program's table-driven one.
uint32_t DeviceCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint32_t>(p[i]) << 24;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return ~crc;
}

bool Known(int generation, int32_t code) {
  static const int32_t g1[] = {100, 101, 103, 104, 125, 130, 131, 132, 133, 136, 137, 144, 150};
  static const int32_t g2[] = {100, 101, 103, 104, 113, 120, 126, 132, 136, 137, 150, 190, 191, 192};
  if (generation == 1) return std::find(std::begin(g1), std::end(g1), code) != std::end(g1);
  return std::find(std::begin(g2), std::end(g2), code) != std::end(g2);
}

int64_t LineBytesFor(int generation, int32_t mode, int64_t width) {
  // Generation 2 is told the wire colour code (0..5), generation 1 the mode code.
  if (generation == 2) {
    switch (mode) {
      case 0: case 3: case 4: return 3 * width;
      case 1: case 5: return width;
      case 2: return (width + 7) / 8;
      default: return -1;
    }
  }
  switch (mode) {
    case 0: case 6: case 7: return 3 * width;
    case 1: case 5: return width;
    case 2: return (width + 7) / 8;
    default: return -1;
  }
}

constexpr int32_t kMinDpi = 50, kMaxDpi = 9600, kMaxWidthInches = 56;

}  // namespace

SimKelvaneConfig KelvaneConfigFor(int generation, const std::string& deviceName, int32_t modelCode) {
  SimKelvaneConfig c;
  c.generation = generation;
  c.deviceName = deviceName;
  c.modelCode = modelCode;
  c.firmware = generation == 1 ? 10203 : 0x0102;
  static const std::pair<const char*, int32_t> bases[] = {
      {"Kelvane Scanner", 0},       {"Kelvane Bn Scanner", 200}, {"Kelvane Pv Scanner", 400},
      {"Drommel Pv Scanner", 400},  {"KelvanePVk Scanner", 600}, {"KelvaneRu Scanner", 800}};
  c.escapeBase = 0;
  for (const auto& [name, base] : bases)
    if (deviceName.rfind(name, 0) == 0) c.escapeBase = base;
  c.opticalDpi = (generation == 1 && modelCode <= 2) ? 400 : 600;
  c.paperWidthPixels = c.opticalDpi * 36;
  c.paperLengthPixels = c.opticalDpi * 48;
  return c;
}

SimKelvane::SimKelvane(SimKelvaneConfig config) : config_(std::move(config)) {}

void SimKelvane::InjectFault(int32_t code, KelvaneFault fault, int times) {
  std::lock_guard lock(mutex_);
  faults_[code].push_back({fault, times});
}

void SimKelvane::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void SimKelvane::PressButton() {
  std::lock_guard lock(mutex_);
  button_ = true;
}

void SimKelvane::SetPaper(bool present) {
  std::lock_guard lock(mutex_);
  paper_ = present;
}

void SimKelvane::SetStatusBits(int32_t bits) {
  std::lock_guard lock(mutex_);
  statusBits_ = bits;
}

void SimKelvane::SetNotReadyAnswers(int count) {
  std::lock_guard lock(mutex_);
  notReady_ = count;
}

std::vector<SimKelvane::Logged> SimKelvane::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

int SimKelvane::EscapeCount(int32_t code) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(log_.begin(), log_.end(),
                                        [&](const Logged& l) { return l.code == code; }));
}

int SimKelvane::LutUploads() const {
  std::lock_guard lock(mutex_);
  return lutUploads_;
}

bool SimKelvane::TakeFault(int32_t code, KelvaneFault* fault) {
  for (int32_t key : {code, kAnyEscape}) {
    auto it = faults_.find(key);
    if (it == faults_.end() || it->second.empty()) continue;
    Pending& p = it->second.front();
    *fault = p.fault;
    if (--p.times <= 0) it->second.erase(it->second.begin());
    return true;
  }
  return false;
}

SimKelvane::Result SimKelvane::Escape(int32_t code, const uint8_t* in, uint32_t inLength,
                                      uint8_t* out, uint32_t outLength) {
  int32_t own = 0;
  Result r = Answer(code, in, inLength, out, outLength, &own);
  // The pace is waited out of the device's lock: a status query during a read still answers.
  if (own == 150 && r.status == 0 && r.actual > 0 && config_.linesPerSecond > 0) {
    int64_t lineBytes = 0;
    {
      std::lock_guard lock(mutex_);
      lineBytes = lineBytes_;
    }
    if (lineBytes > 0) {
      const double lines = static_cast<double>(r.actual) / static_cast<double>(lineBytes);
      std::this_thread::sleep_for(std::chrono::duration<double>(lines / config_.linesPerSecond));
    }
  }
  if (config_.afterEscape) config_.afterEscape(own);
  return r;
}

SimKelvane::Result SimKelvane::Answer(int32_t code, const uint8_t* in, uint32_t inLength,
                                      uint8_t* out, uint32_t outLength, int32_t* ownCode) {
  std::lock_guard lock(mutex_);
  const int32_t own = code == orb::net::kEscapeOpen ? code : code - config_.escapeBase;
  *ownCode = own;
  log_.push_back({own, code, std::vector<uint8_t>(in, in + (in ? inLength : 0))});
  KelvaneFault fault{};
  const bool faulty = TakeFault(own, &fault);
  Result r;
  if (faulty) {
    switch (fault) {
      case KelvaneFault::Fail: r.status = -1; return r;
      case KelvaneFault::NoAnswer: r.status = -1, r.noAnswer = true; return r;
      case KelvaneFault::Drop: r.status = -1, r.drop = true; return r;
      case KelvaneFault::Busy: r.status = 1; return r;
      case KelvaneFault::BadCrc:
        if (own == 190 || own == 191) {
          r.status = -1;
          return r;
        }
        break;
      case KelvaneFault::ShortAnswer: break;
    }
  }
  r = Handle(own, in, inLength, out, outLength);
  if (faulty && fault == KelvaneFault::ShortAnswer) r.actual /= 2;
  return r;
}

SimKelvane::Result SimKelvane::Reply(uint8_t* out, uint32_t outLength,
                                     const std::vector<int32_t>& values) {
  Result r;
  const uint32_t need = static_cast<uint32_t>(values.size() * 4);
  if (!out || outLength < need) {
    r.status = -1;
    return r;
  }
  for (size_t i = 0; i < values.size(); ++i) PutI32LE(out + 4 * i, values[i]);
  r.actual = need;
  return r;
}

int64_t SimKelvane::LinesOnPaper() const {
  // The sheet ends where the paper does: a window longer than the paper gets the paper's
  // lines at the window's resolution.
  const int64_t paper = int64_t{config_.paperLengthPixels} * dpi_ / std::max(config_.opticalDpi, 1);
  return std::min<int64_t>(length_, paper);
}

int64_t SimKelvane::RemainingBytes() const {
  return std::max<int64_t>(0, lineBytes_ * LinesOnPaper() - delivered_);
}

SimKelvane::Result SimKelvane::Handle(int32_t code, const uint8_t* in, uint32_t inLength,
                                      uint8_t* out, uint32_t outLength) {
  Result fail;
  fail.status = -1;
  const auto ack = [&]() {
    Result r;
    if (out && outLength >= 1) {
      out[0] = 1;
      r.actual = 1;
    }
    return r;
  };
  if (code == orb::net::kEscapeOpen) {
    if (!out || outLength < 1 || inLength < orb::net::kOpenRecordSize) return fail;
    out[0] = static_cast<uint8_t>(config_.modelCode);
    Result r;
    r.actual = 1;
    return r;
  }
  if (!Known(config_.generation, code)) return fail;
  const bool g1 = config_.generation == 1;
  switch (code) {
    case 100: return Window(in, inLength);
    case 104:
      if (!windowSet_ || !paper_ || inLength < 1) return fail;
      scanning_ = true;
      delivered_ = 0;
      return ack();
    case 101: scanning_ = false; return ack();
    case 150: return Read(in, inLength, out, outLength);
    case 103: case 136: case 132: case 144: case 192: case 131:
      return inLength >= 1 ? ack() : fail;
    case 133: {
      const int32_t ended = scanning_ && RemainingBytes() == 0 ? 1 : 0;
      Result r = Reply(out, outLength, {0, statusBits_ | (button_ ? 1 : 0), ended, paper_ ? 3 : 0});
      if (r.status == 0) button_ = false;
      return r;
    }
    case 126: {
      Result r = Reply(out, outLength, {paper_ ? 1 : 0, statusBits_ | (button_ ? 0x10 : 0), paper_ ? 3 : 0});
      if (r.status == 0) button_ = false;
      return r;
    }
    case 113: {
      const int64_t remaining = scanning_ ? RemainingBytes() : 0;
      const int32_t state = (scanning_ && remaining > 0) ? 2 : 1;
      return Reply(out, outLength,
                   {static_cast<int32_t>(std::min<int64_t>(remaining, INT32_MAX)), state});
    }
    case 137: {
      const int32_t w = paper_ ? config_.paperWidthPixels : 0;
      const int32_t l = paper_ ? config_.paperLengthPixels : 0;
      if (g1) return Reply(out, outLength, {inLength >= 4 ? GetI32LE(in) : 0, w, l});
      return Reply(out, outLength, {0, l, paper_ ? w - 60 : -60});
    }
    case 130: return Reply(out, outLength, {config_.modelCode, config_.firmware, config_.third});
    case 120: {
      std::vector<int32_t> block(12, 0);
      block[0] = config_.third;
      block[1] = config_.modelCode;
      block[3] = config_.firmware;
      return inLength >= 48 ? Reply(out, outLength, block) : fail;
    }
    case 125: {
      const int32_t ready = notReady_ > 0 ? 0 : 1;
      if (notReady_ > 0) --notReady_;
      return Reply(out, outLength, {ready});
    }
    case 190: case 191: return Lut(code, in, inLength);
    default: return fail;
  }
}

SimKelvane::Result SimKelvane::Window(const uint8_t* in, uint32_t inLength) {
  Result fail;
  fail.status = -1;
  const bool g1 = config_.generation == 1;
  if (!in || inLength < (g1 ? 20u : 28u)) return fail;
  const int32_t width = GetI32LE(in), length = GetI32LE(in + 4);
  const int32_t dpi = GetI32LE(in + (g1 ? 12 : 16));
  const int32_t mode = GetI32LE(in + (g1 ? 16 : 24));
  const int64_t lineBytes = LineBytesFor(config_.generation, mode, width);
  if (width < 1 || length < 1 || dpi < kMinDpi || dpi > kMaxDpi || lineBytes < 1 ||
      int64_t{width} > int64_t{kMaxWidthInches} * dpi)
    return fail;
  windowSet_ = true;
  scanning_ = false;
  width_ = width;
  length_ = length;
  dpi_ = dpi;
  mode_ = mode;
  lineBytes_ = lineBytes;
  Result r;
  r.actual = 0;
  return r;
}

SimKelvane::Result SimKelvane::Read(const uint8_t* in, uint32_t inLength, uint8_t* out,
                                    uint32_t outLength) {
  Result r;
  if (!scanning_ || !in || inLength < 8) {
    r.status = -1;
    return r;
  }
  const int64_t requested = std::max<int32_t>(0, GetI32LE(in));
  int64_t n = std::min({requested, int64_t{outLength}, RemainingBytes()});
  if (config_.maxBytesPerRead) n = std::min<int64_t>(n, config_.maxBytesPerRead);
  if (n > 0 && !out) {
    r.status = -1;
    return r;
  }
  // Line by line, so that the rendering costs a scan benchmark little next to the program's
  // own work (a division per byte made the simulator the slowest part of a loopback scan).
  for (int64_t done = 0; done < n;) {
    const int64_t at = delivered_ + done;
    const int64_t line = at / lineBytes_;
    const int64_t first = at % lineBytes_;
    const int64_t count = std::min(n - done, lineBytes_ - first);
    uint8_t* o = out + done;
    if (config_.sheet) {
      for (int64_t k = 0; k < count; ++k) o[k] = config_.sheet(line, first + k);
    } else {
      const uint32_t base = static_cast<uint32_t>(first * 7 + line * 3);
      for (int64_t k = 0; k < count; ++k) o[k] = static_cast<uint8_t>(base + 7 * static_cast<uint32_t>(k));
    }
    done += count;
  }
  delivered_ += n;
  r.actual = static_cast<uint32_t>(n);
  return r;
}

SimKelvane::Result SimKelvane::Lut(int32_t code, const uint8_t* in, uint32_t inLength) {
  Result fail;
  fail.status = -1;
  const uint32_t expected = code == 190 ? 3 * 4096 + 4 : 4096 + 4;
  if (!in || inLength != expected) return fail;
  const uint32_t sent = GetU32BE(in + inLength - 4);
  if (DeviceCrc(in, inLength - 4) != sent) return fail;
  ++lutUploads_;
  return Result{};
}

// ---- ScopedKelvaneWia ----------------------------------------------------------------

}  // namespace orb::sim
