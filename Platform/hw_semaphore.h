#pragma once
// Board models of the glue FPGA's hardware semaphores and of the memory ports of the ME and SDI
// FPGAs.
//
// Semaphore n (0 to 6) is the register 0x40001900 + 4 x n, shared by the two processors: writing 1
// requests it, a read answers 1 while this processor holds it, writing 0 releases it. A test plays
// the other processor, which can hold a semaphore.
//
// Memory port of an FPGA at base B: B + 0x300 address, B + 0x304 control/status (bit 0 ready for a
// block, bit 2 busy), B + 0x308 data. The model is always ready; the data words land in the trace
// and in the FPGA's memory, from the address last set on, a word at a time.
#include <array>
#include <unordered_map>

#include "Platform/board.h"

namespace platform {

class HardwareSemaphores : public RegisterDevice {
 public:
  static constexpr u32 BASE = 0x40001900;
  static constexpr int COUNT = 7;

  // Frees every semaphore and forgets the counts (a new board).
  void reset();
  // The other processor takes semaphore n, refusing this processor's next `refusals` requests (-1:
  // until otherRelease). Returns false when this processor holds it.
  bool otherHold(int n, int refusals = -1);
  void otherRelease(int n);
  bool heldHere(int n) const;
  // Requests (writes of 1) this processor made of semaphore n.
  int requests(int n) const;

  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;

 private:
  enum Owner { NONE, HERE, OTHER };
  struct Semaphore {
    Owner owner = NONE;
    int refusals = 0;  // requests still to refuse; -1 forever
    int requests = 0;
  };
  Semaphore sems_[COUNT];
};

// The board's semaphores, attached to the register file on first use.
HardwareSemaphores& hardwareSemaphores();

class MemoryPorts : public RegisterDevice {
 public:
  static constexpr u32 FPGAS[] = {0x82000000, 0x83000000, 0x84000000, 0x85000000};
  // The word last written to the memory of the FPGA at base fpga, at a byte address (0 where
  // nothing was written).
  u32 word(u32 fpga, u32 address) const;
  // Forgets the memory contents and port addresses (a new board).
  void clear();

  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;

 private:
  static constexpr u32 PAGE_WORDS = 1024;
  using Page = std::array<u32, PAGE_WORDS>;
  struct Port {
    u32 address = 0;
    std::unordered_map<u32, Page> pages;  // by address / (4 x PAGE_WORDS)
  };
  static int portIndex(u32 fpga);
  Port ports_[std::size(FPGAS)];
};

// The memory ports of the four video FPGAs, attached on first use.
MemoryPorts& memoryPorts();

}  // namespace platform
