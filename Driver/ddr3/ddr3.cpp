// DDR3 bring-up: reset, port initialisation, calibration, built-in test and clear.
#include "Driver/ddr3/ddr3.h"

#include "Driver/core/core.h"
#include "Driver/ddr3/regs.h"
#include "Common/reg.h"
#include "Lib/Include/log.h"

namespace {

struct Memory {
  const char* name;
  u32 base;
  int ports;
  int param[2];
  u32 resetBits;
};
constexpr int N_MEMORIES = 4;
const Memory MEMORIES[N_MEMORIES] = {
    {"ME1", MX_ME1_BASE, 2, {40, 60}, DDR3_RESET_ME},
    {"ME2", MX_ME2_BASE, 2, {40, 60}, DDR3_RESET_ME},
    {"SDI1", MX_SDI1_BASE, 1, {40, 0}, DDR3_RESET_SDI},
    {"SDI2", MX_SDI2_BASE, 1, {40, 0}, DDR3_RESET_SDI},
};

constexpr u32 PATTERN = 0xABCD1234;

constexpr int ATTEMPTS = 5;
constexpr int INIT_ROUNDS = 30;
constexpr int INIT_POLLS = 20;
constexpr int CAL_PASSES = 4;
constexpr int CAL_RETRIES = 30;
constexpr u32 CAL_TIMEOUT_US = 1500000;
constexpr int TEST_POLLS = 10001;
constexpr u32 CLEAR_TIMEOUT_US = 2000000;

struct PortState {
  u32 start;  // time stamp of the last calibration start
  bool calibrated;
  int retries;
};
PortState portState[N_MEMORIES][2];

u32 portRegs(const Memory& m, int port) { return m.base + DDR3_PORT_0 + DDR3_PORT_STRIDE * static_cast<u32>(port); }
u32 testRegs(const Memory& m) { return m.base + DDR3_TEST; }
u32 portSelect(int port) { return port == 1 ? DDR3_TEST_PORT_1 : 0u; }
float msSince(u32 start) { return static_cast<float>(mxElapsedUs(start, mxGetTicks())) / 1000.0f; }

void startCalibration(u32 regs, PortState& s) {
  mxWriteReg(regs + DDR3_PORT_COMMAND, DDR3_CMD_CAL_RESET);
  mxWaitUs(1);
  mxWriteReg(regs + DDR3_PORT_COMMAND, DDR3_CMD_CAL_START);
  mxGetTicks(&s.start);
}

void initPort(int m, int port) {
  const u32 regs = portRegs(MEMORIES[m], port);
  PortState& s = portState[m][port];
  mxWriteReg(regs + DDR3_PORT_MODE, MEMORIES[m].param[port] == 40 ? DDR3_MODE_40 : DDR3_MODE_OTHER);
  mxWriteReg(regs + DDR3_PORT_MODE_2, 0);
  for (int round = 0; round < INIT_ROUNDS; ++round) {
    mxWriteReg(regs + DDR3_PORT_COMMAND, DDR3_CMD_RESET);
    mxWriteReg(regs + DDR3_PORT_COMMAND, DDR3_CMD_START);
    for (int poll = 0; poll < INIT_POLLS; ++poll) {
      if ((mxReadReg(regs + DDR3_PORT_STATUS) & 3) == 3) {
        mxWaitUs(1000);
        s.calibrated = false;
        startCalibration(regs, s);
        return;
      }
      mxWaitUs(10);
    }
    MX_LOG(libmx::WARN, "Retry DDR3(%08x) Initialize", regs);
  }
  MX_LOG(libmx::ERR, "DDR3(%08x) Initialize", regs);
  mxRestart();
}

void calibratePort(int m, int port) {
  const u32 regs = portRegs(MEMORIES[m], port);
  PortState& s = portState[m][port];
  if (s.calibrated) return;
  for (;;) {
    if ((mxReadReg(regs + DDR3_PORT_STATUS) & 7) > 6) {
      MX_LOG(libmx::INFO, "DDR3(%08x) Calibration complete: waiting %f ms", regs, static_cast<double>(msSince(s.start)));
      for (u32 off = 0; off < 0x40; off += 0x10) {
        const u32 r = regs + DDR3_PORT_CAL_RESULT + off;
        MX_LOG(libmx::INFO, "%02x: %08x %08x %08x %08x", DDR3_PORT_CAL_RESULT + off, mxReadReg(r), mxReadReg(r + 4),
               mxReadReg(r + 8), mxReadReg(r + 12));
      }
      mxWriteReg(regs + DDR3_PORT_COMMAND, DDR3_CMD_IDLE);
      s.calibrated = true;
      return;
    }
    if (mxElapsedUs(s.start, mxGetTicks()) >= CAL_TIMEOUT_US) break;
    mxWaitUs(100);
  }
  ++s.retries;
  MX_LOG(libmx::WARN, "DDR3(%08x) Calibration error: %08x", regs, mxReadReg(regs + DDR3_PORT_CAL_ERROR));
  MX_LOG(libmx::WARN, "Retry(%d) DDR3(%08x) Calibration", s.retries, regs);
  if (s.retries >= CAL_RETRIES) {
    MX_LOG(libmx::ERR, "DDR3(%08x) can not calibrate", regs);
    mxRestart();
  }
  startCalibration(regs, s);
}

// Polls the test engine every 100 us until its busy bits clear; false after `polls` polls.
bool waitTestEngine(const Memory& m, int polls) {
  for (int i = 0; i < polls; ++i) {
    if ((mxReadReg(testRegs(m) + DDR3_TEST_STATUS) & 3) == 0) return true;
    mxWaitUs(100);
  }
  return false;
}

bool testPort(int port) {
  u32 start[N_MEMORIES] = {};
  for (int m = 0; m < N_MEMORIES; ++m) {
    if (MEMORIES[m].ports <= port) continue;
    const u32 t = testRegs(MEMORIES[m]);
    mxGetTicks(&start[m]);
    mxWriteReg(t + DDR3_TEST_SELECT, portSelect(port));
    mxWriteReg(t + DDR3_TEST_PATTERN, PATTERN);
    mxWriteReg(t + DDR3_TEST_COMMAND, DDR3_TEST_WRITE);
  }
  for (int m = 0; m < N_MEMORIES; ++m) {
    if (MEMORIES[m].ports <= port) continue;
    if (!waitTestEngine(MEMORIES[m], TEST_POLLS)) {
      MX_LOG(libmx::ERR, "DDR3(%x) test write timeout", testRegs(MEMORIES[m]));
      mxRestart();
    }
    mxWriteReg(testRegs(MEMORIES[m]) + DDR3_TEST_COMMAND, DDR3_TEST_READ);
  }
  bool passed = true;
  for (int m = 0; m < N_MEMORIES; ++m) {
    if (MEMORIES[m].ports <= port) continue;
    const u32 t = testRegs(MEMORIES[m]);
    if (!waitTestEngine(MEMORIES[m], TEST_POLLS)) {
      MX_LOG(libmx::ERR, "DDR3(%x) test read timeout", t);
      mxRestart();
    }
    const u32 errors = mxReadReg(t + DDR3_TEST_STATUS) >> 16;
    if (errors > 0) {
      MX_LOG(libmx::ERR, "DDR3(%x) error : %d count : %08x must be %08x", t, static_cast<int>(errors),
             mxReadReg(t + DDR3_TEST_FOUND), mxReadReg(t + DDR3_TEST_EXPECTED));
      passed = false;
    } else {
      MX_LOG(libmx::INFO, "DDR3(%x) Test complete %fms", t, static_cast<double>(msSince(start[m])));
    }
  }
  return passed;
}

bool bringUpAndTest() {
  for (const Memory& m : MEMORIES) mxWriteReg(m.base + DDR3_CONTROL, mxReadReg(m.base + DDR3_CONTROL) | m.resetBits);
  for (int m = 0; m < N_MEMORIES; ++m) {
    const Memory& mem = MEMORIES[m];
    const u32 control = mxReadReg(mem.base + DDR3_CONTROL);
    MX_LOG(libmx::INFO, "%s: %08x", mem.name, control);
    mxWriteReg(mem.base + DDR3_CONTROL, control & ~mem.resetBits);
    for (int port = 0; port < mem.ports; ++port) initPort(m, port);
    if (mem.ports == 2) mxWriteReg(mem.base + DDR3_CONTROL, mxReadReg(mem.base + DDR3_CONTROL) & ~DDR3_ME_HOLD);
  }
  for (int pass = 0; pass < CAL_PASSES; ++pass) {
    for (int m = 0; m < N_MEMORIES; ++m) {
      for (int port = 0; port < MEMORIES[m].ports; ++port) calibratePort(m, port);
    }
  }
  for (const Memory& m : MEMORIES) mxWriteReg(m.base + DDR3_CALIBRATED, 1);
  for (int port = 0; port < 2; ++port) {
    if (!testPort(port)) return false;
  }
  return true;
}

void clearMemories() {
  for (int port = 0; port < 2; ++port) {
    for (const Memory& m : MEMORIES) {
      if (m.ports <= port) continue;
      mxWriteReg(testRegs(m) + DDR3_TEST_SELECT, portSelect(port));
      mxWriteReg(testRegs(m) + DDR3_TEST_PATTERN, 0);
      mxWriteReg(testRegs(m) + DDR3_TEST_COMMAND, DDR3_TEST_CLEAR);
    }
    for (const Memory& m : MEMORIES) {
      if (m.ports <= port) continue;
      if (!waitTestEngine(m, static_cast<int>(CLEAR_TIMEOUT_US / 100))) {
        MX_LOG(libmx::ERR, "DDR3(%x) clear timeout", testRegs(m));
        mxRestart();
      }
    }
  }
}

}  // namespace

void mxInitDdr3() {
  MX_LOG(libmx::INFO, "MAIN: %08x", mxReadReg(GLUE_VERSION));
  MX_LOG(libmx::INFO, "GLUE: %08x", mxReadReg(BOARD_VERSION));
  for (auto& memory : portState) {
    for (auto& s : memory) s = PortState{0, false, 0};
  }
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    if (bringUpAndTest()) {
      clearMemories();
      return;
    }
  }
  mxRestart();
}
