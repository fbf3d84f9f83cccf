#pragma once
// Board model of the OSD engine of the ME2 FPGA: status and control at 0x83001504 (bit 2 FIFO full,
// bit 3 busy, bit 4 flush pending; 1 then 0 resets the engine, 2 flushes), command FIFO at
// 0x83001508. The engine draws at once: it is busy and its FIFO full only while a test holds it
// stuck, which no reset ends; rectangles written since the last flush keep the flush pending until
// the driver flushes. Host only.
#include <vector>

#include "Platform/board.h"

namespace platform {

class OsdEngine : public RegisterDevice {
 public:
  static constexpr u32 STATUS = 0x83001504, FIFO = 0x83001508;

  // An idle engine with empty records.
  void reset();
  void setStuck(bool on);
  // Every command word written since the reset, the FIFO length at each flush, the engine resets.
  const std::vector<u32>& commands() const { return commands_; }
  const std::vector<size_t>& flushes() const { return flushes_; }
  int resets() const { return resets_; }

  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;

 private:
  bool stuck_ = false;
  bool pending_ = false;
  std::vector<u32> commands_;
  std::vector<size_t> flushes_;
  int resets_ = 0;
};

// The engine, attached to the register file on first use.
OsdEngine& osdEngine();

}  // namespace platform
