// The main frame's connection to a scanner of the Kelvane family: chooses and opens a
// transport (network, image-acquisition list, still-image list, in that order), creates the
// command set of the scanner's generation, reads its model code, checks scan parameters,
// forwards every operation with a numbered last error (KelvaneErrors.h) and, for a network
// scanner, runs the status-poll thread that turns the scan button into the command
// ID_SCANNER_BUTTON posted to the frame.
//
// Threads: the GUI thread, the scan's read thread and the poll thread call this object.
// Every command goes out under one lock, so two threads never interleave their escapes
// (a generation-2 status is two escapes). The poll thread is stopped by joining it; its
// wait is an event, and its one command is bounded by the transport's time-outs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/Messages.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/net/EscapeComponent.h"
#include "scanning/kelvane/KelvaneErrors.h"
#include "scanning/kelvane/KelvaneFunctions.h"
#include "scanning/kelvane/ScannerCommand.h"

namespace orb::kelvane {

// The message the poll thread posts: a command with the command id in wParam.
inline constexpr uint32_t kWmCommand = 0x0111;
inline constexpr int kPollIntervalMs = 500;
inline constexpr int kMaxResolution = 9600;

enum class ConnectionKind : int32_t { None = 0, Local = 1, Network = 2 };

}  // namespace orb::kelvane

class CKelvaneScanner {
 public:
  CKelvaneScanner();
  ~CKelvaneScanner();
  CKelvaneScanner(const CKelvaneScanner&) = delete;
  CKelvaneScanner& operator=(const CKelvaneScanner&) = delete;

  // Network (when the program settings ask for it), then the image-acquisition list, then
  // the still-image list.
  bool Connect();
  bool ConnectTcpIp();
  bool ConnectWia();
  bool ConnectSti();
  bool CreateFunctionSet();
  // Drops the connection (poll thread, command set, transport).
  void Disconnect();

  bool StartStatusWatch(orb::WindowHandle window);
  void StopStatusWatch();
  // Keeps copies of a well-formed address and ports for ConnectTcpIp; false, with nothing
  // kept, for a null or malformed one.
  bool SetNetworkAddress(const char* address, const char* port1, const char* port2);

  bool IsConnected() const { return m_connected; }
  orb::kelvane::ConnectionKind GetConnectionKind() const { return m_kind; }
  int32_t GetModelCode() const { return m_modelCode; }
  int32_t GetGeneration() const;
  std::string GetModelName() const;
  std::shared_ptr<orb::wia::DeviceManager> GetDeviceHandle() const;
  // Returns the last error number and clears it.
  int32_t GetLastError() { return m_lastError.exchange(0); }
  int32_t GetLineBytes() const { return m_lineBytes; }
  bool WatchEnabled() const { return m_watchEnabled; }
  bool WatchRunning() const { return m_pollThread.joinable(); }

  bool SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode);
  // The six values are laid out as generation 2 sends them: width, length, two values,
  // resolution, one value.
  bool SetWindowEx(const std::array<int32_t, 6>& values, int32_t modeCode);
  bool GetMediaFlags(uint8_t* first, uint8_t* second);
  bool StartScan();
  bool EndScan();
  bool ReadData(uint8_t* buffer, uint32_t requested, uint32_t* returned);
  bool SetSpeed(uint8_t value);
  bool SetPaperHandling(int32_t value);
  bool SetThreshold(int32_t adaptive, int32_t threshold, int32_t windowSize, int32_t dynamic);
  bool SetLeftOffsetMode(bool on);
  bool GetAreaSize(int32_t flag, int32_t* width, int32_t* length);
  bool GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3);
  bool GetInfo(KelvaneInfoType& record);
  bool SetGamma(int32_t offset, int32_t low, int32_t high, float gamma);
  bool WaitReady();

  int GetMaxResolution();
  int GetMinResolution();
  int GetOpticalResolution();
  double GetScanWidthInches();

  // For tests and the scan run: the clock generation 1's WaitReady sleeps on, the poll
  // interval, the network time-outs.
  void SetClock(orb::Clock* clock) { m_clock = clock; }
  void SetPollIntervalMs(int ms) { m_pollIntervalMs = ms; }
  void SetNetworkTimeouts(orb::net::EscapeTimeouts t) { m_netTimeouts = t; }
  // One pass of the poll thread: reads the status and posts the button's command.
  void PollOnce();

 private:
  bool Fail(int32_t error);
  bool CheckConnected();
  bool AfterOpen(std::unique_ptr<IScannerCommand> transport, orb::kelvane::ConnectionKind kind);
  void DropTransport();
  bool StartWatchThread();
  void PollLoop();
  void RestartWatchIfEnabled();
  bool CheckWindow(int32_t width, int32_t length, int32_t dpi);

  std::atomic<bool> m_connected{false};
  std::atomic<int32_t> m_modelCode{0};
  std::atomic<int32_t> m_lastError{0};
  std::atomic<int32_t> m_lineBytes{0};
  std::string m_address, m_port1, m_port2;
  std::array<std::atomic<int32_t>, 4> m_cachedStatus{};
  std::atomic<bool> m_watchEnabled{false};
  std::atomic<bool> m_watchRunning{false};
  std::atomic<orb::WindowHandle> m_notifyWindow{nullptr};
  uint32_t m_notifyMessage = orb::kelvane::kWmCommand;
  std::array<int32_t, 3> m_commandPerBit = {ID_SCANNER_BUTTON, ID_SCANNER_BUTTON,
                                            ID_SCANNER_BUTTON};
  std::unique_ptr<orb::Event> m_stopEvent;
  std::thread m_pollThread;
  std::mutex m_watchMutex;    // starting and stopping the poll thread
  std::mutex m_commandMutex;  // one command at a time on the transport
  std::unique_ptr<IScannerCommand> m_transport;
  std::unique_ptr<IKelvaneFunctions> m_functions;
  std::atomic<orb::kelvane::ConnectionKind> m_kind{orb::kelvane::ConnectionKind::None};
  orb::Clock* m_clock = nullptr;
  std::atomic<int> m_pollIntervalMs{orb::kelvane::kPollIntervalMs};
  orb::net::EscapeTimeouts m_netTimeouts;
};
