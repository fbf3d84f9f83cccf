// FPGA temperature and DDR3 calibration monitor.
#include "Driver/monitor/monitor.h"

#include <initializer_list>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/core/core.h"
#include "Driver/monitor/regs.h"
#include "Lib/Include/log.h"

namespace {

constexpr u32 FPGAS[] = {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE};

// The ports the check calibrates and tests, with the region their test covers.
struct Ddr3Port {
  u32 base;
  int port;
  u32 region, size;
};
constexpr Ddr3Port PORTS[] = {{MX_ME1_BASE, 0, 0x40000000, 0x4000000}, {MX_ME1_BASE, 1, 0xC0000000, 0x4000000}};
constexpr u32 PATTERN = 0xABCD1234;

constexpr int ATTEMPTS = 5, CALIBRATION_TRIES = 5, CALIBRATION_POLLS = 1501, TEST_POLLS = 1000;
constexpr int SENSOR_POLLS = 100;
constexpr u32 POLL_US = 1000, SENSOR_POLL_US = 10;

double msSince(u32 start) { return static_cast<double>(mxGetTicks() - start) / 333000.0; }

// Calibrates a port again, up to five tries.
bool calibrate(const Ddr3Port& p) {
  const u32 command = p.base + MONITOR_PORT_0 + MONITOR_PORT_STRIDE * static_cast<u32>(p.port);
  for (int attempt = 0; attempt < CALIBRATION_TRIES; ++attempt) {
    const u32 start = mxGetTicks();
    for (u32 word : {MONITOR_CAL_RESET, MONITOR_CAL_START, MONITOR_CAL_RESET}) mxWriteReg(command, word);
    for (int poll = 0; poll < CALIBRATION_POLLS; ++poll) {
      if ((mxReadReg(command + MONITOR_PORT_STATUS) & MONITOR_CALIBRATED) != 0) {
        mxWriteReg(command, MONITOR_CAL_IDLE);
        MX_LOG(libmx::INFO, "DDR3(%x:%d) calibration %fms at %f degree", p.base, p.port, msSince(start),
               static_cast<double>(mxFpgaTemperature(p.base)));
        return true;
      }
      mxWaitUs(POLL_US);
    }
    MX_LOG(libmx::WARN, "DDR3(%x:%d) can not calibrate", p.base, p.port);
  }
  return false;
}

// One pass of the test engine over the port's region; a pass that never ends restarts the board.
void testPass(const Ddr3Port& p, u32 less, const char* timeoutLine) {
  mxWriteReg(p.base + MONITOR_TEST_REGION, p.region);
  mxWriteReg(p.base + MONITOR_TEST_PATTERN, PATTERN);
  mxWriteReg(p.base + MONITOR_TEST_COMMAND, p.size - less);
  for (int poll = 0; poll < TEST_POLLS; ++poll) {
    if ((mxReadReg(p.base + MONITOR_TEST_STATUS) & MONITOR_TEST_BUSY) == 0) return;
    mxWaitUs(POLL_US);
  }
  MX_LOG(libmx::ERR, timeoutLine, p.base, p.port);
  mxRestart();
}

bool test(const Ddr3Port& p) {
  const u32 start = mxGetTicks();
  testPass(p, MONITOR_TEST_WRITE, "DDR3(%x:%d) test write timeout");
  testPass(p, MONITOR_TEST_READ, "DDR3(%x:%d) test read timeout");
  const int errors = static_cast<int>(mxReadReg(p.base + MONITOR_TEST_STATUS) >> MONITOR_TEST_ERROR_SHIFT);
  if (errors != 0) {
    MX_LOG(libmx::ERR, "DDR3(%x:%d) error : %d count : %08x must be %08x", p.base, p.port, errors,
           mxReadReg(p.base + MONITOR_TEST_FOUND), mxReadReg(p.base + MONITOR_TEST_EXPECTED));
    return false;
  }
  MX_LOG(libmx::INFO, "DDR3(%x:%d) Test complete %fms", p.base, p.port, msSince(start));
  return true;
}

}  // namespace

float mxFpgaTemperature(u32 base) {
  mxWriteReg(base + MONITOR_TEMP_CONTROL, 0);
  mxReadReg(base + MONITOR_TEMP_DATA);
  // A sensor that stays busy is read as it stands rather than waited for without end.
  for (int poll = 0; poll < SENSOR_POLLS && (mxReadReg(base + MONITOR_TEMP_CONTROL) & MONITOR_TEMP_BUSY) != 0; ++poll) {
    mxWaitUs(SENSOR_POLL_US);
  }
  const u32 code = (mxReadReg(base + MONITOR_TEMP_CODE) >> 4) & 0xFFF;
  return static_cast<float>(code * 503.975 / 4096 - 273.15);
}

void mxTemperatureMonitorStart() {
  for (u32 base : FPGAS) MX_LOG(libmx::INFO, "FPGA(%x) %f degree", base, static_cast<double>(mxFpgaTemperature(base)));
}

void mxDdr3CalibrationCheck() {
  const u32 start = mxGetTicks();
  mxTemperatureMonitorStart();
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    bool passed = true;
    for (const Ddr3Port& p : PORTS) passed = calibrate(p) && passed;
    if (!passed) continue;
    for (const Ddr3Port& p : PORTS) passed = test(p) && passed;
    if (passed) {
      MX_LOG(libmx::INFO, "DDR3 initialize %fms", msSince(start));
      return;
    }
  }
  mxRestart();
}
