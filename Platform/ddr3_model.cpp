// DDR3 controller and test engine model.
#include "Platform/ddr3_model.h"

#include <array>

#include "Platform/board.h"
#include "Platform/bringup_models.h"

namespace platform {
namespace {

constexpr u32 CMD_CLEAR = 0x1FFFFF00;

// A test command: clear, or a length whose low byte is 0 (write the pattern) or 1 (read and
// compare); -1 for anything else.
int commandKind(u32 command) {
  if (command == CMD_CLEAR) return 2;
  const u32 low = command & 0xFF;
  return low == 0 ? 0 : low == 1 ? 1 : -1;
}

struct Port {
  u32 lastCommand = 0;
  bool initialised = false;
  bool calibrating = false;
  u64 calibratedAt = 0;
  bool calibrationFails = false;
  int failStarts = 0;
  bool failInit = false;
  u32 starts = 0;
  int compareErrors = 0;
  int errorPasses = 0;
  u32 passes[3] = {0, 0, 0};
};

struct Fpga : RegisterDevice {
  u32 base = 0;
  std::array<Port, 2> ports{};
  u64 busyUntil = 0;
  bool stuck = false;
  u32 errors = 0;

  Port& selected() { return ports[(regPeek(base + 0x310) >> 31) & 1]; }

  bool read(u32 adr, u32& value) override {
    u32 off = adr - base;
    if (off >= 0x100 && off < 0x300) {
      Port& p = ports[(off >> 8) - 1];
      u32 reg = off & 0xFF;
      if (reg == 0x04) {
        bool calibrated = p.calibrating && !p.calibrationFails && clockNow() >= p.calibratedAt;
        value = calibrated ? 7u : p.initialised ? 3u : 0u;
        return true;
      }
      if (reg == 0x50) {
        value = p.calibrationFails ? 0x00000F01u : 0u;
        return true;
      }
      if (reg >= 0x80 && reg < 0xC0) {
        value = 0x10101010u + reg;
        return true;
      }
      return false;
    }
    if (off == 0x318) {
      bool busy = stuck || clockNow() < busyUntil;
      value = (busy ? 3u : 0u) | (errors << 16);
      return true;
    }
    if (off == 0x320 || off == 0x324) {
      u32 pattern = regPeek(base + 0x31C);
      value = (off == 0x320 && errors != 0) ? pattern ^ 0x00010000u : pattern;
      return true;
    }
    return false;
  }

  void write(u32 adr, u32 value) override {
    u32 off = adr - base;
    if (off >= 0x100 && off < 0x300 && (off & 0xFF) == 0) {
      Port& p = ports[(off >> 8) - 1];
      if (value == 255) p.initialised = p.calibrating = false;
      if (p.lastCommand == 255 && value == 252) p.initialised = !p.failInit;
      // 60, 48 at bring-up; 0x40, 0x44, 0x40 when the monitor re-runs the calibration.
      if (((p.lastCommand == 60 && value == 48) || (p.lastCommand == 0x40 && value == 0x44)) && p.initialised) {
        ++p.starts;
        p.calibrating = true;
        p.calibratedAt = clockNow() + static_cast<u64>(DDR3_CALIBRATION_US) * TICKS_PER_US;
        p.calibrationFails = p.failStarts != 0;
        if (p.failStarts > 0) --p.failStarts;
      }
      p.lastCommand = value;
    } else if (off == 0x314) {
      Port& p = selected();
      const int kind = commandKind(value);
      if (kind < 0) return;
      ++p.passes[kind];
      errors = 0;
      if (kind == 1 && p.errorPasses > 0) {
        errors = static_cast<u32>(p.compareErrors);
        --p.errorPasses;
      } else if (kind == 1 && !(p.calibrating && !p.calibrationFails)) {
        errors = 0x40;  // an uncalibrated port reads garbage
      }
      busyUntil = clockNow() + static_cast<u64>(kind == 2 ? DDR3_TEST_US / 2 : DDR3_TEST_US) * TICKS_PER_US;
    }
  }
};

std::array<Fpga, DDR3_FPGAS> fpgas;

}  // namespace

void ddr3Reset() {
  for (int i = 0; i < DDR3_FPGAS; ++i) {
    fpgas[i].ports = {};
    fpgas[i].base = DDR3_BASE[i];
    fpgas[i].busyUntil = 0;
    fpgas[i].stuck = false;
    fpgas[i].errors = 0;
  }
}

void ddr3Attach() {
  ddr3Reset();
  // The controller ports, and the test engine from its port select on (the FPGA memory port
  // below it at +0x300 is another model's).
  for (auto& f : fpgas) {
    attachDevice(f.base + 0x100, 0x200, &f);
    attachDevice(f.base + 0x310, 0x18, &f);
  }
}

void ddr3Detach() {
  for (auto& f : fpgas) detachDevice(&f);
}

void ddr3FailCalibration(int fpga, int port, int starts) { fpgas.at(fpga).ports.at(port).failStarts = starts; }
void ddr3FailInit(int fpga, int port, bool on) { fpgas.at(fpga).ports.at(port).failInit = on; }
void ddr3CompareErrors(int fpga, int port, int errors, int passes) {
  Port& p = fpgas.at(fpga).ports.at(port);
  p.compareErrors = errors;
  p.errorPasses = passes;
}
void ddr3StuckTestEngine(int fpga, bool on) { fpgas.at(fpga).stuck = on; }
u32 ddr3CalibrationStarts(int fpga, int port) { return fpgas.at(fpga).ports.at(port).starts; }
u32 ddr3TestPasses(int fpga, int port, u32 command) {
  const int kind = commandKind(command);
  return kind < 0 ? 0 : fpgas.at(fpga).ports.at(port).passes[kind];
}

}  // namespace platform
