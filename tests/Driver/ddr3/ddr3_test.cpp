// DDR3 bring-up at power-on: calibration, the memory test and its retries, against the board models.
#include "Driver/ddr3/ddr3.h"

#include "Driver/ddr3/regs.h"
#include "tests/Driver/driver_test.h"
#include "tests/support/bringup_fixture.h"

using namespace driver_test;
using testing_support::BoardRestart;
using testing_support::BringUpTest;

namespace {

constexpr int PORTS[DDR3_FPGAS] = {2, 2, 1, 1};

class Ddr3Test : public BringUpTest {};

TEST_F(Ddr3Test, HealthyBoardCalibratesTestsAndClearsEveryPort) {
  mxInitDdr3();
  for (int f = 0; f < DDR3_FPGAS; ++f) {
    for (int port = 0; port < 2; ++port) {
      SCOPED_TRACE(f * 10 + port);
      const u32 n = port < PORTS[f] ? 1 : 0;  // SDI FPGAs have no port 1: no test, no clear
      EXPECT_EQ((Words{ddr3CalibrationStarts(f, port), ddr3TestPasses(f, port, DDR3_TEST_WRITE),
                       ddr3TestPasses(f, port, DDR3_TEST_READ), ddr3TestPasses(f, port, DDR3_TEST_CLEAR)}),
                Words(4, n));
    }
    EXPECT_EQ(regPeek(DDR3_BASE[f] + DDR3_CALIBRATED), 1u);
  }
  EXPECT_EQ(consoleCounts({"Calibration complete: waiting", "DDR3(82000300) Test complete", "DDR3(84000300) Test complete",
                           "[INFO] 80: ", "[INFO] ME1: ", "[INFO] MAIN: ", "[ERR]", "[WARN]"}),
            (std::vector<int>{6, 2, 1, 6, 1, 1, 0, 0}))
      << consoleText();
  // Mode 3 for the 40 parameter, 1 otherwise; reset bits and ME bit 3 cleared.
  EXPECT_EQ(peek(MX_ME1_BASE, {DDR3_PORT_0 + DDR3_PORT_MODE, DDR3_PORT_1 + DDR3_PORT_MODE}), (Words{3, 1}));
  EXPECT_EQ(regPeek(MX_ME1_BASE + DDR3_CONTROL) & 0xF, 0u);

  // A port calibrated in the second pass is left alone after it.
  ddr3Reset(), testing_support::consoleClear(), ddr3FailCalibration(0, 1, 1);
  mxInitDdr3();
  EXPECT_EQ(ddr3CalibrationStarts(0, 1), 2u);
  EXPECT_EQ(consoleCounts({"[WARN] DDR3(82000200) Calibration error: 00000f01", "[WARN] Retry(1) DDR3(82000200) Calibration",
                           "DDR3(82000200) Calibration complete", "DDR3(82000100) Calibration complete"}),
            (std::vector<int>{1, 1, 1, 1}))
      << consoleText();
}

TEST_F(Ddr3Test, FailuresThatLastRestartTheBoard) {
  // line: the last line; more: a line that comes `count` times; passed: the port tests that passed
  // (a port that fails its test leaves the other memories' tests of that attempt to be checked);
  // calibrated: the ports calibrated, anew in each attempt (one that never is leaves the others to be).
  struct Case { void (*fault)(); const char* line; const char* more; int count, passed, calibrated; } cases[] = {
      {[] { ddr3FailInit(3, 0, true); }, "[ERR] DDR3(85000100) Initialize", "Retry DDR3(85000100) Initialize", 30, 0, 0},
      {[] { ddr3StuckTestEngine(0, true); }, "[ERR] DDR3(82000300) test write timeout", "[ERR]", 1, 0, 6},
      // Four passes per attempt, five attempts; the uncalibrated port fails its test each time.
      {[] { ddr3FailCalibration(1, 0, -1); }, "Retry(20) DDR3(83000100) Calibration", "DDR3(83000300) error : ", 5, 15, 25},
      // Five attempts (the last case); the port that never passes its test is never cleared.
      {[] { ddr3CompareErrors(2, 0, 1, 100); }, "", "DDR3(84000300) error : 1 count", 5, 15, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ddr3Reset();
    watchdogAttach();  // a new run after the previous restart
    testing_support::consoleClear();
    c.fault();
    EXPECT_THROW(mxInitDdr3(), BoardRestart);
    EXPECT_TRUE(*c.line == 0 || consoleCount(c.line) == 1) << consoleText();
    EXPECT_EQ(std::tuple(consoleCount(c.more), consoleCount("Test complete"), consoleCount("Calibration complete")),
              std::tuple(c.count, c.passed, c.calibrated));
  }
  EXPECT_EQ(ddr3CalibrationStarts(2, 0), 5u);
  EXPECT_EQ(ddr3TestPasses(2, 0, DDR3_TEST_CLEAR), 0u);
}

}  // namespace
