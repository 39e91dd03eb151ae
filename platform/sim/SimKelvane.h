// A simulated scanner of the Kelvane family (generation 1 or 2). It answers the family's
// numbered escapes as the device would: window validation, start and end of a scan, reads
// of a synthetic sheet that may return less than asked, status words with a latched scan
// button, the paper's area size, the info record, wait-ready, and the tone-table upload with
// its CRC checked. Faults are injected per escape. It is reached through the image-
// acquisition and still-image device lists (ScopedKelvaneWia, ScopedKelvaneSti) and through
// a TCP server on an IPv4 address (SimKelvaneServer), never by the program directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"

namespace orb::sim {

struct SimKelvaneConfig {
  int generation = 2;
  int32_t modelCode = 20;  // the scanner code of GetInfo and of the network open
  // Generation 1: the firmware number itself. Generation 2: major in bits 8-15, minor in 0-7.
  int32_t firmware = 0x0102;
  int32_t third = 7;                         // the info record's third value
  std::string deviceName = "KelvaneRu Scanner";  // list name and description
  int32_t escapeBase = 800;                  // subtracted from every escape but the open
  int32_t opticalDpi = 600;
  int32_t paperWidthPixels = 600 * 36;       // at the optical resolution
  int32_t paperLengthPixels = 600 * 48;
  uint32_t maxBytesPerRead = 0;              // 0: a read returns all it may
  // Image lines a second a read delivers at, as a real scanner's carriage; 0: as fast as the
  // reads come (see ORB_SIM_SCAN_SPEED).
  double linesPerSecond = 0;
  // The sheet: the byte at `index` of image line `line` as the scanner sends it (packed bits
  // in a black-and-white window). Empty: SheetByte.
  std::function<uint8_t(int64_t line, int64_t index)> sheet;
  // Called after each escape is answered (outside the device's lock), with its code before
  // the base: tests act at a given point of a scan.
  std::function<void(int32_t code)> afterEscape;
};

// A generation-1 or generation-2 configuration for a device name of the family.
SimKelvaneConfig KelvaneConfigFor(int generation, const std::string& deviceName, int32_t modelCode);

enum class KelvaneFault {
  Fail,         // the device refuses the escape
  NoAnswer,     // nothing comes back (over TCP the request is left unanswered)
  Drop,         // the connection goes down in the middle of the exchange
  Busy,         // answered "not carried out" (over TCP the status 1)
  ShortAnswer,  // half of the answer's bytes
  BadCrc,       // a tone table's CRC is found wrong
};

inline constexpr int32_t kAnyEscape = -1;

class SimKelvane {
 public:
  explicit SimKelvane(SimKelvaneConfig config);
  const SimKelvaneConfig& Config() const { return config_; }

  struct Result {
    int32_t status = 0;  // 0 done, 1 busy, -1 refused
    uint32_t actual = 0;
    bool noAnswer = false;
    bool drop = false;
  };
  // One escape; `code` includes the base (escape 1, the network open, has none).
  Result Escape(int32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                uint32_t outLength);

  // The next `times` escapes of this code (before the base; kAnyEscape for every code)
  // meet the fault.
  void InjectFault(int32_t code, KelvaneFault fault, int times = 1);
  void ClearFaults();
  // The scan button: latched until a status read reports it.
  void PressButton();
  void SetPaper(bool present);
  // Bits reported besides the button, until changed: in the second status value
  // (generation 1) or the second device-flags value (generation 2).
  void SetStatusBits(int32_t bits);
  // WaitReady answers "not ready" this many times first (generation 1).
  void SetNotReadyAnswers(int count);

  struct Logged {
    int32_t code;  // before the base
    int32_t raw;   // as it arrived
    std::vector<uint8_t> in;
  };
  std::vector<Logged> Log() const;
  int EscapeCount(int32_t code) const;
  int LutUploads() const;
  // The byte at `index` of image line `line` of the synthetic sheet.
  static uint8_t SheetByte(int64_t line, int64_t index) {
    return static_cast<uint8_t>((index * 7 + line * 3) & 0xFF);
  }

 private:
  struct Pending {
    KelvaneFault fault;
    int times;
  };
  Result Answer(int32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                uint32_t outLength, int32_t* ownCode);
  Result Handle(int32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                uint32_t outLength);
  Result Window(const uint8_t* in, uint32_t inLength);
  Result Read(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength);
  Result Lut(int32_t code, const uint8_t* in, uint32_t inLength);
  Result Reply(uint8_t* out, uint32_t outLength, const std::vector<int32_t>& values);
  int64_t RemainingBytes() const;
  // Lines of the current window that lie on the paper.
  int64_t LinesOnPaper() const;
  bool TakeFault(int32_t code, KelvaneFault* fault);

  SimKelvaneConfig config_;
  mutable std::mutex mutex_;
  std::map<int32_t, std::vector<Pending>> faults_;
  std::vector<Logged> log_;
  bool paper_ = true;
  bool button_ = false;
  int32_t statusBits_ = 0;
  int notReady_ = 0;
  bool windowSet_ = false;
  bool scanning_ = false;
  int32_t width_ = 0, length_ = 0, dpi_ = 0, mode_ = 0;
  int64_t lineBytes_ = 0;
  int64_t delivered_ = 0;  // bytes of the current scan
  int lutUploads_ = 0;
};

// Puts a simulated scanner on the image-acquisition device list for the object's lifetime.
class ScopedKelvaneWia {
 public:
  struct Options {
    bool cannotCreate = false;  // the device cannot be created
    bool noEscape = false;      // its root item offers no escape interface
    bool nameIsText = true;
  };
  ScopedKelvaneWia(std::shared_ptr<SimKelvane> scanner, Options options);
  explicit ScopedKelvaneWia(std::shared_ptr<SimKelvane> scanner)
      : ScopedKelvaneWia(std::move(scanner), Options{}) {}
  ~ScopedKelvaneWia();
  ScopedKelvaneWia(const ScopedKelvaneWia&) = delete;
  ScopedKelvaneWia& operator=(const ScopedKelvaneWia&) = delete;
  const std::string& DeviceId() const { return id_; }
  // A press of the scan button, raised as the scan-image event on a thread of its own.
  void PressButton();
  // Raises another event of the device (not the scan button).
  void RaiseOtherEvent();

 private:
  std::shared_ptr<SimKelvane> scanner_;
  std::string id_;
  int handle_ = 0;
};

// Puts a simulated scanner on the still-image device list for the object's lifetime.
class ScopedKelvaneSti {
 public:
  explicit ScopedKelvaneSti(std::shared_ptr<SimKelvane> scanner,
                            std::string vendorDescription = "Tessivane Imaging (simulated)");
  ~ScopedKelvaneSti();
  ScopedKelvaneSti(const ScopedKelvaneSti&) = delete;
  ScopedKelvaneSti& operator=(const ScopedKelvaneSti&) = delete;

 private:
  int handle_ = 0;
};

// Serves a simulated scanner on a TCP port, one client at a time, until destroyed (or
// until its lifetime ends). Port 0 takes a free port.
class SimKelvaneServer {
 public:
  SimKelvaneServer(std::shared_ptr<SimKelvane> scanner, std::string address = "127.0.0.1",
                   uint16_t port = 0, int lifetimeMs = 10 * 60 * 1000);
  ~SimKelvaneServer();
  SimKelvaneServer(const SimKelvaneServer&) = delete;
  SimKelvaneServer& operator=(const SimKelvaneServer&) = delete;
  bool Running() const { return running_; }
  const std::string& Error() const { return error_; }
  uint16_t Port() const { return listener_.Port(); }
  std::string PortText() const { return std::to_string(Port()); }
  int Connections() const { return connections_; }
  void Stop();

 private:
  void Run(int lifetimeMs);
  void Serve(orb::net::TcpConnection& client, int64_t deadlineMs);
  std::shared_ptr<SimKelvane> scanner_;
  orb::net::TcpListener listener_;
  std::string error_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// Reads ORB_SIM_SCANNER once per process and puts the Kelvane scanners it names on the
// device lists: "kelvane1" (generation 1, "Kelvane Bn Scanner") and "kelvane2" (generation
// 2, "KelvaneRu Scanner") on the image-acquisition list, "kelvane1-sti" and "kelvane2-sti"
// on the still-image list. Names it does not know are left to others.
void AttachEnvironmentKelvaneScanners();
// The Kelvane scanners attached from the environment.
std::vector<std::shared_ptr<SimKelvane>> EnvironmentKelvaneScanners();

}  // namespace orb::sim
