#include "scanning/kelvane/KelvaneFunctions.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "platform/Bytes.h"
#include "scanning/kelvane/ScannerCommand.h"

namespace kv = orb::kelvane;

namespace {

std::vector<uint8_t> Int32s(std::initializer_list<int32_t> values) {
  std::vector<uint8_t> b(values.size() * 4);
  size_t i = 0;
  for (int32_t v : values) orb::PutI32LE(b.data() + 4 * i++, v);
  return b;
}

// The one byte the status escapes send; its value means nothing to the scanner.
const std::vector<uint8_t> kStatusByte = {0};

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

}  // namespace

namespace orb::kelvane {

int32_t WireColourCode(int32_t modeCode) {
  switch (modeCode) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 2;
    case 6: return 3;
    case 7: return 4;
    case 8: return 5;
    default: return -1;
  }
}

uint32_t Crc32Bzip2(const uint8_t* data, size_t size) {
  const auto& table = CrcTable();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
  return crc ^ 0xFFFFFFFFu;
}

bool BuildToneTable(int32_t offset, int32_t low, int32_t high, float gamma,
                    std::array<uint8_t, kToneTableSize>& table) {
  if (!std::isfinite(gamma) || low >= high || gamma < 1.0f || gamma > 3.0f) return false;
  double range = 16.0 * high - 16.0 * low;
  if (16 * static_cast<int64_t>(high) == 4080) range += 16;
  const double e = 1.0 / gamma;
  const double scale = 255.0 / std::pow(range, e);
  for (size_t i = 0; i < kToneTableSize; ++i) {
    const double x = static_cast<double>(i) - 16.0 * low;
    int64_t v = 0;
    if (x > 0) v = static_cast<int64_t>(std::pow(x, e) * scale + 0.5) + offset;
    table[i] = static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
  }
  return true;
}

}  // namespace orb::kelvane

// ---- IKelvaneFunctions ---------------------------------------------------------------

IKelvaneFunctions::~IKelvaneFunctions() = default;
bool IKelvaneFunctions::GetDeviceFlags(int32_t*, int32_t*, int32_t*) { return false; }
bool IKelvaneFunctions::GetReadState(int32_t*, int32_t*) { return false; }
bool IKelvaneFunctions::SetWindowEx(const std::array<int32_t, 6>&, int32_t) { return false; }
bool IKelvaneFunctions::Reserved() { return false; }

// ---- CKelvaneFunctionsBase -----------------------------------------------------------

bool CKelvaneFunctionsBase::Send(int32_t code, const std::vector<uint8_t>& in, void* out,
                                 uint32_t outLength, uint32_t* actual) {
  uint32_t got = 0;
  if (actual) *actual = 0;
  if (!m_transport) return false;
  const bool ok = m_transport->Escape(code, in.empty() ? nullptr : in.data(),
                                      static_cast<uint32_t>(in.size()), out, outLength, &got);
  if (actual) *actual = std::min(got, outLength);
  return ok;
}

bool CKelvaneFunctionsBase::SendFull(int32_t code, const std::vector<uint8_t>& in, void* out,
                                     uint32_t outLength) {
  uint32_t got = 0;
  return Send(code, in, out, outLength, &got) && got >= outLength;
}

bool CKelvaneFunctionsBase::SendAck(int32_t code, const std::vector<uint8_t>& in) {
  uint8_t ack = 0;
  return Send(code, in, &ack, 1);
}

bool CKelvaneFunctionsBase::SetPaperHandling(int32_t value) {
  return SendAck(kv::kEscPaperHandling, Int32s({value}));
}

bool CKelvaneFunctionsBase::SetThreshold(int32_t adaptive, int32_t threshold, int32_t windowSize,
                                         int32_t dynamic) {
  return SendAck(kv::kEscThreshold, Int32s({adaptive, threshold, windowSize, dynamic}));
}

bool CKelvaneFunctionsBase::AreaSize(int32_t flag, int32_t* r1, int32_t* r2) {
  uint8_t reply[12] = {};
  if (!SendFull(kv::kEscAreaSize, Int32s({flag, 0, 0}), reply, sizeof reply)) return false;
  *r1 = orb::GetI32LE(reply + 4);
  *r2 = orb::GetI32LE(reply + 8);
  return true;
}

// ---- Generation 1 --------------------------------------------------------------------

CKelvaneFunctionsV1::CKelvaneFunctionsV1(IScannerCommand* transport, orb::Clock* clock)
    : CKelvaneFunctionsBase(transport), m_clock(clock ? clock : &orb::DefaultClock()) {}

bool CKelvaneFunctionsV1::SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) {
  return SendAck(kv::kEscSetWindow, Int32s({width, length, 0, dpi, modeCode}));
}

bool CKelvaneFunctionsV1::GetMediaFlags(uint8_t* first, uint8_t* second) {
  *first = *second = 0;
  int32_t s0, s1, s2, s3;
  if (!GetStatus(&s0, &s1, &s2, &s3)) return false;
  *first = (s3 & 3) == 3 ? 1 : 0;
  *second = (*first && !(s3 & 4)) ? 1 : 0;
  return true;
}

bool CKelvaneFunctionsV1::StartScan() { return SendAck(kv::kEscStartScan, {1}); }
bool CKelvaneFunctionsV1::EndScan() { return SendAck(kv::kEscEndScan, {1}); }

bool CKelvaneFunctionsV1::ReadData(uint8_t* buffer, uint32_t requested, int32_t,
                                   uint32_t* returned) {
  *returned = 0;
  std::vector<uint8_t> in = Int32s({static_cast<int32_t>(requested), 0});
  in[4] = 1;  // the byte 1, then three bytes that carry nothing
  return Send(kv::kEscReadData, in, buffer, requested, returned);
}

bool CKelvaneFunctionsV1::SetSpeed(uint8_t value) {
  uint8_t code = value == 0 ? 1 : value;
  if (code >= 5 && code != 9) code = 4;
  return SendAck(kv::kEscSetSpeed, {code});
}

bool CKelvaneFunctionsV1::GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) {
  *s0 = *s1 = *s2 = *s3 = 0;
  uint8_t d[16] = {};
  if (!SendFull(kv::kEscStatusV1, kStatusByte, d, sizeof d)) return false;
  *s1 = orb::GetI32LE(d + 4);
  *s2 = orb::GetI32LE(d + 8);
  *s3 = orb::GetI32LE(d + 12);
  return true;
}

bool CKelvaneFunctionsV1::GetAreaSize(int32_t flag, int32_t* width, int32_t* length) {
  *width = *length = 0;
  int32_t r1 = 0, r2 = 0;
  if (!AreaSize(flag, &r1, &r2)) return false;
  *width = ClampToInt32(int64_t{r1} * 100);
  *length = ClampToInt32(int64_t{r2} * 100);
  return *width > 0;
}

bool CKelvaneFunctionsV1::SetLeftOffsetMode(bool on) {
  return SendAck(kv::kEscLeftOffsetV1, Int32s({on ? 1 : 0}));
}

bool CKelvaneFunctionsV1::GetInfo(KelvaneInfoType& record) {
  std::vector<uint8_t> in = Int32s({record.ModelCode, record.Firmware, record.Third});
  uint8_t reply[12] = {};
  if (!SendFull(kv::kEscInfoV1, in, reply, sizeof reply)) return false;
  record.ModelCode = orb::GetI32LE(reply);
  record.Firmware = orb::GetI32LE(reply + 4);
  record.Third = orb::GetI32LE(reply + 8);
  return true;
}

bool CKelvaneFunctionsV1::SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) {
  std::vector<uint8_t> in = Int32s({offset, low, high, 0});
  orb::PutF32LE(in.data() + 12, gamma);
  return SendAck(kv::kEscGammaV1, in);
}

bool CKelvaneFunctionsV1::WaitReady() {
  // The scanner is asked every 250 ms; a scanner that never becomes ready is given up on
  // after kWaitReadyLimitMs rather than waited for without end.
  std::vector<uint8_t> buffer(4, 0);
  const int64_t start = m_clock->NowMs();
  for (;;) {
    uint8_t reply[4] = {};
    if (!SendFull(kv::kEscWaitReady, buffer, reply, sizeof reply)) return false;
    if (orb::GetI32LE(reply) == 1) return true;
    std::copy(reply, reply + 4, buffer.begin());
    if (m_clock->NowMs() - start >= kv::kWaitReadyLimitMs) return false;
    m_clock->Sleep(std::chrono::milliseconds(kv::kWaitReadyPollMs));
  }
}

int CKelvaneFunctionsV1::GetMaxResolution() {
  KelvaneInfoType info;
  if (!GetInfo(info) || (info.ModelCode >= 0 && info.ModelCode <= 2)) return 400;
  return 600;
}

// ---- Generation 2 --------------------------------------------------------------------

bool CKelvaneFunctionsV2::SendWindow(const std::array<int32_t, 7>& fields, int32_t wire) {
  std::vector<uint8_t> in(28);
  for (size_t i = 0; i < fields.size(); ++i) orb::PutI32LE(in.data() + 4 * i, fields[i]);
  if (!SendAck(kv::kEscSetWindow, in)) return false;
  m_wireCode = wire;
  return true;
}

bool CKelvaneFunctionsV2::SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) {
  const int32_t wire = kv::WireColourCode(modeCode);
  if (wire < 0) return false;
  return SendWindow({width, length, 0, 0, dpi, 0, wire}, wire);
}

bool CKelvaneFunctionsV2::SetWindowEx(const std::array<int32_t, 6>& values, int32_t modeCode) {
  const int32_t wire = kv::WireColourCode(modeCode);
  if (wire < 0) return false;
  return SendWindow({values[0], values[1], values[2], values[3], values[4], values[5], wire}, wire);
}

bool CKelvaneFunctionsV2::GetMediaFlags(uint8_t* first, uint8_t* second) {
  *first = *second = 0;
  int32_t a = 0, flags = 0, c = 0;
  if (!GetDeviceFlags(&a, &flags, &c)) return false;
  *first = (a & 1) ? 1 : 0;
  *second = (!(a & 2) && c == 3) ? 1 : 0;
  return true;
}

bool CKelvaneFunctionsV2::StartScan() { return SendAck(kv::kEscStartScan, Int32s({1})); }
bool CKelvaneFunctionsV2::EndScan() { return SendAck(kv::kEscEndScan, Int32s({1})); }

bool CKelvaneFunctionsV2::ReadData(uint8_t* buffer, uint32_t requested, int32_t,
                                   uint32_t* returned) {
  *returned = 0;
  int32_t a = 0, b = 0;
  if (!GetReadState(&a, &b)) return false;
  if (a == 0 && b == 1) return false;  // the scanner says no data will come
  if (requested == 0) return true;
  return Send(kv::kEscReadData, Int32s({static_cast<int32_t>(requested), 1}), buffer, requested,
              returned);
}

bool CKelvaneFunctionsV2::SetSpeed(uint8_t value) {
  int32_t code = std::max(0, value - 1);
  if (code >= 5 && value != 9) code = 4;
  return SendAck(kv::kEscSetSpeed, Int32s({code}));
}

bool CKelvaneFunctionsV2::GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) {
  *s0 = *s1 = *s2 = *s3 = 0;
  int32_t a = 0, flags = 0, c = 0;
  if (!GetDeviceFlags(&a, &flags, &c)) return false;
  *s3 = (c & 2) ? (a | 4) : a;
  *s1 = flags;
  int32_t p = 0, q = 0;
  if (!GetReadState(&p, &q)) return false;
  *s2 = (q & 1) ? 1 : (q & 2) ? 2 : 0;
  *s0 = (q & 16) ? 16 : (q & 8) ? 8 : 0;
  return true;
}

bool CKelvaneFunctionsV2::GetAreaSize(int32_t flag, int32_t* width, int32_t* length) {
  *width = *length = 0;
  int32_t r1 = 0, r2 = 0;
  if (!AreaSize(flag, &r1, &r2)) return false;
  *width = ClampToInt32((int64_t{r2} + 60) * 100);
  *length = ClampToInt32(int64_t{r1} * 100);
  return *width > 0;
}

bool CKelvaneFunctionsV2::SetLeftOffsetMode(bool on) {
  return SendAck(kv::kEscLeftOffsetV2, Int32s({on ? 1 : 0}));
}

bool CKelvaneFunctionsV2::GetInfo(KelvaneInfoType& record) {
  std::vector<uint8_t> block(48, 0);
  uint8_t reply[48] = {};
  if (!SendFull(kv::kEscInfoV2, block, reply, sizeof reply)) return false;
  const int32_t r3 = orb::GetI32LE(reply + 12);
  record.ModelCode = orb::GetI32LE(reply + 4);
  record.Firmware = (((r3 >> 8) & 255) * 100 + (r3 & 255)) * 100;
  record.Third = orb::GetI32LE(reply);
  return true;
}

bool CKelvaneFunctionsV2::SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) {
  std::array<uint8_t, kv::kToneTableSize> table{};
  if (!kv::BuildToneTable(offset, low, high, gamma, table)) return false;
  return UploadLut(table);
}

bool CKelvaneFunctionsV2::UploadLut(const std::array<uint8_t, kv::kToneTableSize>& table) {
  int copies = 0;
  int32_t escape = 0;
  switch (m_wireCode) {
    case 0: copies = 3, escape = kv::kEscUploadColourLut; break;
    case 1:
    case 2: copies = 1, escape = kv::kEscUploadGreyLut; break;
    case 3:
    case 4:
    case 5: return true;  // these windows take no tone table
    default: return false;  // no window accepted yet
  }
  std::vector<uint8_t> payload;
  payload.reserve(copies * table.size() + 4);
  for (int i = 0; i < copies; ++i) payload.insert(payload.end(), table.begin(), table.end());
  const uint32_t crc = kv::Crc32Bzip2(payload.data(), payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(static_cast<uint8_t>(crc >> shift));
  return Send(escape, payload, nullptr, 0);
}

bool CKelvaneFunctionsV2::WaitReady() { return true; }

int CKelvaneFunctionsV2::GetMaxResolution() {
  KelvaneInfoType info;
  (void)GetInfo(info);
  return 600;
}

bool CKelvaneFunctionsV2::GetDeviceFlags(int32_t* a, int32_t* flags, int32_t* c) {
  *a = *flags = *c = 0;
  uint8_t r[12] = {};
  if (!SendFull(kv::kEscDeviceFlags, kStatusByte, r, sizeof r)) return false;
  const int32_t r1 = orb::GetI32LE(r + 4);
  *a = orb::GetI32LE(r);
  *flags = ((r1 & 0x10) ? 1 : 0) + ((r1 & 0x40) ? 4 : 0) + ((r1 & 0x04) ? 8 : 0);
  *c = orb::GetI32LE(r + 8);
  return true;
}

bool CKelvaneFunctionsV2::GetReadState(int32_t* a, int32_t* b) {
  *a = *b = 0;
  uint8_t r[8] = {};
  orb::PutI32LE(r + 4, 2);  // preset: a scanner that answers nothing reads as "not ended"
  if (!SendFull(kv::kEscReadState, kStatusByte, r, sizeof r)) return false;
  *a = orb::GetI32LE(r);
  *b = orb::GetI32LE(r + 4);
  return true;
}
