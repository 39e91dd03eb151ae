// The block that carries one SCSI command through the still-image escape call
// (escape code kEscapeScsiPassThrough). The block is passed as the escape's input; the
// command's data travels in the escape's output buffer in both directions. The device
// fills the status byte and the sense buffer through the two pointers.
#pragma once

#include <cstdint>

namespace orb::sti {

constexpr uint32_t kPassThroughDataIn = 0x40;
constexpr uint32_t kPassThroughDataOut = 0x80;
constexpr uint32_t kPassThroughNoData = 0;
constexpr uint8_t kPassThroughSenseLength = 16;

struct StiPassThroughBlock {
  uint32_t reserved = 0;
  uint32_t length = sizeof(StiPassThroughBlock);
  uint32_t dataDirection = kPassThroughNoData;
  uint8_t cdbLength = 0;
  uint8_t senseLength = kPassThroughSenseLength;
  uint16_t reserved2 = 0;
  uint32_t dataLength = 0;
  uint8_t cdb[16] = {};
  uint8_t* srbStatus = nullptr;  // filled by the device
  uint8_t* sense = nullptr;      // senseLength bytes, filled by the device
  // How long the device may take before it gives the command up (0: no limit). The escape
  // call is synchronous, so the limit has to travel with the command.
  uint32_t timeLimitMs = 0;
};

}  // namespace orb::sti
