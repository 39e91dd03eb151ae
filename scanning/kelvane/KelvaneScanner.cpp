#include "scanning/kelvane/KelvaneScanner.h"

#include <cstring>
#include <system_error>

#include "engine/Settings.h"

namespace kv = orb::kelvane;
using kv::ConnectionKind;

CKelvaneScanner::CKelvaneScanner() = default;

CKelvaneScanner::~CKelvaneScanner() { Disconnect(); }

bool CKelvaneScanner::Fail(int32_t error) {
  m_lastError = error;
  return false;
}

bool CKelvaneScanner::CheckConnected() { return m_connected ? true : Fail(kv::kErrNotConnected); }

int32_t CKelvaneScanner::GetGeneration() const {
  return m_transport ? m_transport->GetGeneration() : 0;
}

std::string CKelvaneScanner::GetModelName() const {
  return m_transport ? m_transport->GetModelName() : std::string();
}

std::shared_ptr<orb::wia::DeviceManager> CKelvaneScanner::GetDeviceHandle() const {
  return m_transport ? m_transport->GetDeviceHandle() : nullptr;
}

bool CKelvaneScanner::SetNetworkAddress(const char* address, const char* port1, const char* port2) {
  m_address.clear();
  m_port1.clear();
  m_port2.clear();
  if (!address || !port1 || !port2 || !orb::net::ParseIpv4(address) ||
      !orb::net::ParsePort(port1) || !orb::net::ParsePort(port2))
    return false;
  m_address = address;
  m_port1 = port1;
  m_port2 = port2;
  return true;
}

// ---- Connecting ----------------------------------------------------------------------

void CKelvaneScanner::DropTransport() {
  m_watchEnabled = false;
  StopStatusWatch();
  std::lock_guard lock(m_commandMutex);
  m_connected = false;
  m_kind = ConnectionKind::None;
  m_functions.reset();
  m_transport.reset();
}

void CKelvaneScanner::Disconnect() { DropTransport(); }

bool CKelvaneScanner::Connect() {
  DropTransport();
  if (ScanSettings.NetworkOption) {
    // The stored address is a fixed field: read it only up to its end.
    const char* field = ScanSettings.ScannerAddress;
    std::string address(field, strnlen(field, sizeof ScanSettings.ScannerAddress));
    const std::string p1 = std::to_string(ScanSettings.NetworkPort1);
    const std::string p2 = std::to_string(ScanSettings.NetworkPort2);
    if (SetNetworkAddress(address.c_str(), p1.c_str(), p2.c_str())) ConnectTcpIp();
  }
  if (!m_connected) ConnectWia();
  if (!m_connected) ConnectSti();
  return m_connected;
}

bool CKelvaneScanner::AfterOpen(std::unique_ptr<IScannerCommand> transport, ConnectionKind kind) {
  {
    std::lock_guard lock(m_commandMutex);
    m_transport = std::move(transport);
    m_connected = true;
    m_kind = kind;
  }
  if (CreateFunctionSet()) return true;
  std::lock_guard lock(m_commandMutex);
  m_connected = false;
  m_kind = ConnectionKind::None;
  m_transport.reset();
  return false;
}

bool CKelvaneScanner::ConnectTcpIp() {
  DropTransport();
  if (m_address.empty()) return Fail(kv::kErrNotConnected);
  auto transport = std::make_unique<CCommandTCIP>();
  transport->SetTimeouts(m_netTimeouts);
  if (!transport->SetAddress(m_address.c_str(), m_port1.c_str(), m_port2.c_str()) ||
      !transport->Open())
    return Fail(kv::kErrNotConnected);
  return AfterOpen(std::move(transport), ConnectionKind::Network);
}

bool CKelvaneScanner::ConnectWia() {
  DropTransport();
  auto transport = std::make_unique<CWIACommand>();
  if (!transport->Open()) {
    const int32_t e = transport->GetLastError();
    return Fail(e ? e : kv::kErrNotConnected);
  }
  return AfterOpen(std::move(transport), ConnectionKind::Local);
}

bool CKelvaneScanner::ConnectSti() {
  DropTransport();
  auto transport = std::make_unique<CCommandSTI>();
  if (!transport->Open()) return Fail(kv::kErrNotConnected);
  return AfterOpen(std::move(transport), ConnectionKind::Local);
}

bool CKelvaneScanner::CreateFunctionSet() {
  std::lock_guard lock(m_commandMutex);
  m_functions.reset();
  if (m_connected && m_transport) {
    if (m_transport->GetGeneration() == 1)
      m_functions = std::make_unique<CKelvaneFunctionsV1>(m_transport.get(), m_clock);
    else if (m_transport->GetGeneration() == 2)
      m_functions = std::make_unique<CKelvaneFunctionsV2>(m_transport.get());
  }
  if (!m_functions) return false;
  KelvaneInfoType info;
  if (m_functions->GetInfo(info)) m_modelCode = info.ModelCode;
  else m_lastError = kv::kErrGetInfo;
  return true;
}

// ---- The status-poll thread ----------------------------------------------------------

bool CKelvaneScanner::StartStatusWatch(orb::WindowHandle window) {
  StopStatusWatch();
  if (!m_connected || m_kind != ConnectionKind::Network) return false;
  m_notifyWindow = window;
  m_notifyMessage = kv::kWmCommand;
  m_commandPerBit = {ID_SCANNER_BUTTON, ID_SCANNER_BUTTON, ID_SCANNER_BUTTON};
  m_watchEnabled = true;
  return StartWatchThread();
}

bool CKelvaneScanner::StartWatchThread() {
  std::lock_guard lock(m_watchMutex);
  if (m_pollThread.joinable()) return true;
  m_stopEvent = std::make_unique<orb::Event>(orb::Event::Reset::Manual);
  m_watchRunning = true;
  try {
    m_pollThread = std::thread(&CKelvaneScanner::PollLoop, this);
  } catch (const std::system_error&) {
    m_watchRunning = false;
    return false;
  }
  return true;
}

void CKelvaneScanner::StopStatusWatch() {
  std::lock_guard lock(m_watchMutex);
  m_watchRunning = false;
  if (m_stopEvent) m_stopEvent->Set();
  // The thread's wait ends at once on the event, and its one command is bounded by the
  // transport's time-outs: joining cannot hang.
  if (m_pollThread.joinable()) m_pollThread.join();
  m_stopEvent.reset();
}

void CKelvaneScanner::RestartWatchIfEnabled() {
  if (m_watchEnabled && m_connected) StartWatchThread();
}

void CKelvaneScanner::PollLoop() {
  orb::Event* stop = m_stopEvent.get();
  while (m_watchRunning) {
    if (stop->WaitFor(std::chrono::milliseconds(m_pollIntervalMs)) != orb::WaitResult::TimedOut)
      break;
    PollOnce();
  }
}

void CKelvaneScanner::PollOnce() {
  int32_t s[4] = {};
  {
    std::lock_guard lock(m_commandMutex);
    if (!m_functions || !m_functions->GetStatus(&s[0], &s[1], &s[2], &s[3])) return;
  }
  for (int i = 0; i < 4; ++i) m_cachedStatus[i] = s[i];
  // One command per poll: bit 0 first, then bit 2, then bit 1.
  int32_t command = 0;
  if (s[1] & 1) command = m_commandPerBit[0];
  else if (s[1] & 4) command = m_commandPerBit[1];
  else if (s[1] & 2) command = m_commandPerBit[2];
  if (command) orb::PostAppMessage(m_notifyWindow.load(), m_notifyMessage, static_cast<uintptr_t>(command), 0);
}

// ---- Forwarders ----------------------------------------------------------------------

bool CKelvaneScanner::CheckWindow(int32_t width, int32_t length, int32_t dpi) {
  if (!CheckConnected()) return false;
  if (length < 600) return Fail(kv::kErrLengthTooSmall);
  if (width < 512) return Fail(kv::kErrWidthTooSmall);
  if (dpi > GetMaxResolution()) return Fail(kv::kErrResolutionTooHigh);
  if (dpi < GetMinResolution()) return Fail(kv::kErrResolutionTooLow);
  return true;
}

namespace {

int32_t LineBytesFor(int32_t modeCode, int32_t width, int32_t current) {
  switch (modeCode) {
    case 0: case 6: case 7: return 3 * width;
    case 1: case 5: return width;
    case 2: return (width + 7) / 8;
    default: return current;
  }
}

}  // namespace

bool CKelvaneScanner::SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) {
  StopStatusWatch();
  bool ok = CheckWindow(width, length, dpi);
  if (ok) {
    m_lineBytes = LineBytesFor(modeCode, width, m_lineBytes);
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->SetWindow(width, length, dpi, modeCode) || Fail(kv::kErrSetWindow);
  }
  // A refused window starts no scan, so no EndScan would restart the poll: restart it here.
  if (!ok) RestartWatchIfEnabled();
  return ok;
}

bool CKelvaneScanner::SetWindowEx(const std::array<int32_t, 6>& values, int32_t modeCode) {
  StopStatusWatch();
  bool ok = CheckWindow(values[0], values[1], values[4]);
  if (ok) {
    m_lineBytes = LineBytesFor(modeCode, values[0], m_lineBytes);
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->SetWindowEx(values, modeCode) || Fail(kv::kErrSetWindow);
  }
  if (!ok) RestartWatchIfEnabled();
  return ok;
}

bool CKelvaneScanner::GetMediaFlags(uint8_t* first, uint8_t* second) {
  *first = *second = 0;
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->GetMediaFlags(first, second);
}

bool CKelvaneScanner::StartScan() {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->StartScan() || Fail(kv::kErrStartScan);
}

bool CKelvaneScanner::EndScan() {
  if (!CheckConnected()) return false;
  bool ok;
  {
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->EndScan() || Fail(kv::kErrEndScan);
  }
  RestartWatchIfEnabled();
  return ok;
}

bool CKelvaneScanner::ReadData(uint8_t* buffer, uint32_t requested, uint32_t* returned) {
  *returned = 0;
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->ReadData(buffer, requested, m_lineBytes, returned) || Fail(kv::kErrReadData);
}

bool CKelvaneScanner::SetSpeed(uint8_t value) {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->SetSpeed(value) || Fail(kv::kErrSetSpeed);
}

bool CKelvaneScanner::SetPaperHandling(int32_t value) {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->SetPaperHandling(value) || Fail(kv::kErrPaperHandling);
}

bool CKelvaneScanner::SetThreshold(int32_t adaptive, int32_t threshold, int32_t windowSize,
                                   int32_t dynamic) {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->SetThreshold(adaptive, threshold, windowSize, dynamic) ||
         Fail(kv::kErrSetThreshold);
}

bool CKelvaneScanner::SetLeftOffsetMode(bool on) {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->SetLeftOffsetMode(on);
}

bool CKelvaneScanner::GetAreaSize(int32_t flag, int32_t* width, int32_t* length) {
  *width = *length = 0;
  StopStatusWatch();
  bool ok = CheckConnected();
  if (ok) {
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->GetAreaSize(flag, width, length);
  }
  if (ok) {
    const int optical = GetOpticalResolution();
    *width /= optical;
    *length /= optical;
  } else if (m_connected) {
    Fail(kv::kErrAreaSize);
  }
  RestartWatchIfEnabled();
  return ok;
}

bool CKelvaneScanner::GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) {
  *s0 = *s1 = *s2 = *s3 = 0;
  if (!CheckConnected()) return false;
  if (m_watchRunning) {
    // The poll thread keeps the status: answer from it without a command.
    *s0 = m_cachedStatus[0];
    *s1 = m_cachedStatus[1];
    *s2 = m_cachedStatus[2];
    *s3 = m_cachedStatus[3];
    return true;
  }
  std::lock_guard lock(m_commandMutex);
  return m_functions->GetStatus(s0, s1, s2, s3) || Fail(kv::kErrGetStatus);
}

bool CKelvaneScanner::GetInfo(KelvaneInfoType& record) {
  if (!CheckConnected()) return false;
  const bool watched = m_watchEnabled;
  if (watched) StopStatusWatch();
  bool ok;
  {
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->GetInfo(record) || Fail(kv::kErrGetInfo);
  }
  if (watched) RestartWatchIfEnabled();
  return ok;
}

bool CKelvaneScanner::SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) {
  if (!CheckConnected()) return false;
  std::lock_guard lock(m_commandMutex);
  return m_functions->SetGamma(offset, low, high, gamma) || Fail(kv::kErrSetGamma);
}

bool CKelvaneScanner::WaitReady() {
  if (!CheckConnected()) return false;
  const bool watched = m_watchEnabled;
  if (watched) StopStatusWatch();
  bool ok;
  {
    std::lock_guard lock(m_commandMutex);
    ok = m_functions->WaitReady() || Fail(kv::kErrGetStatus);
  }
  if (watched) RestartWatchIfEnabled();
  return ok;
}

// ---- Model figures -------------------------------------------------------------------

int CKelvaneScanner::GetMaxResolution() {
  CheckConnected();
  return kv::kMaxResolution;
}

int CKelvaneScanner::GetMinResolution() {
  if (!CheckConnected()) return 0;
  return m_modelCode > 2 ? 100 : 50;
}

int CKelvaneScanner::GetOpticalResolution() {
  if (!CheckConnected()) return 0;
  const int32_t c = m_modelCode;
  return ((c >= 3 && c <= 17) || (c >= 20 && c <= 37)) ? 600 : 400;
}

double CKelvaneScanner::GetScanWidthInches() {
  if (!CheckConnected()) return 0.0;
  const int32_t c = m_modelCode;
  const auto in = [c](int lo, int hi) { return c >= lo && c <= hi; };
  if (in(0, 5) || in(20, 22)) return 40.0;
  if (in(6, 8) || in(23, 25)) return 42.0;
  if (in(9, 11)) return 25.0;
  if (in(12, 14)) return 36.0;
  if (in(15, 17) || in(29, 31)) return 28.0;
  if (in(26, 28)) return 56.0;
  if (in(32, 34)) return 24.0;
  if (in(35, 37)) return 38.0;
  return 40.0;
}
