#pragma once
// The glue FPGA's DMA engine as the board has it: four channels, each with a control block at
// 0x40000300 + 32 x channel. Starting a channel runs the command list at the given address against
// the register file and mapped memory and fills the read buffer; the busy bits stay set until the
// list has run to its end. Tests can delay a channel or make it hang.
//
// Control block: +0x00 list address (bit 31 starts, 0 stops), +0x04 command status (bit 31 busy),
// +0x08 list length in bytes minus 1, +0x10 read buffer address (bit 31 starts the read side),
// +0x14 read status (bit 31 busy), +0x1C control word.
// Commands: adr|0 value (write); adr|1, 0x80000000|(n-1), n/4 words (burst write); adr|2,
// flag<<31 | period, mask (poll: flag set waits for any bit of mask set, clear for all of them
// clear); adr|3, advancing<<31 | (n-1) (read n/4 words from adr upwards or from adr alone). A zero
// word ends the list.
#include "Platform/board.h"

namespace platform {

class DmaEngine : public RegisterDevice {
 public:
  static constexpr u32 REGS = 0x40000300;
  static constexpr u32 STRIDE = 32;
  static constexpr int CHANNELS = 4;
  static constexpr u32 READ_BUFFER_BYTES = 0x100000;

  // Forgets every run and test setting (a new board).
  void reset();
  // Takes the engine off the register file (and resets it); dmaEngine() attaches it again.
  void detach();
  // A started list runs only once this many microseconds of board time have passed.
  void setLatencyUs(int ch, u32 us);
  // A stuck channel never ends a started list; stopping it clears the busy bits.
  void setStuck(int ch, bool stuck);
  // Lists run to their end, and lists abandoned for a bad command.
  int completedRuns(int ch) const;
  int failedRuns(int ch) const;
  bool busy(int ch) const;

  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;
  // Lets running lists progress (called as board time passes).
  void service();

 private:
  struct Channel {
    bool running = false;
    bool cmdBusy = false;
    bool readBusy = false;
    u32 listAdr = 0;
    u32 listWords = 0;
    u32 pos = 0;       // next command word
    u32 readAdr = 0;
    u32 readWords = 0;  // words stored into the read buffer so far
    u64 startTick = 0;
    u32 latencyUs = 0;
    bool stuck = false;
    int completed = 0;
    int failed = 0;
  };
  void start(Channel& c, u32 listAdr, u32 lengthReg);
  void progress(Channel& c);
  void finish(Channel& c, bool ok);
  void store(Channel& c, u32 value);
  static int channelOf(u32 adr);

  Channel channels_[CHANNELS];
  bool inProgress_ = false;
  bool attached_ = false;
  friend DmaEngine& dmaEngine();
};

// The board's engine, attached to the register file when it is not.
DmaEngine& dmaEngine();

}  // namespace platform
