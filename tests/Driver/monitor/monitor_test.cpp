// Board monitoring: FPGA temperatures and the DDR3 calibration check after power-on.
#include "Driver/monitor/monitor.h"

#include "Driver/ddr3/ddr3.h"
#include "tests/Driver/driver_test.h"
#include "tests/support/bringup_fixture.h"

using namespace driver_test;
using testing_support::BoardRestart;

namespace {

// The check runs on a board whose DDR3 came up at power-on.
class MonitorTest : public testing_support::BringUpTest {
 protected:
  void SetUp() override {
    BringUpTest::SetUp();
    mxInitDdr3();
    testing_support::consoleClear();
  }
};

TEST_F(MonitorTest, TemperaturesFromTheSensorCodeAtFrame12Once) {
  // Code 2220 for 0.05 degrees, 3032 for 100; a sensor that stays busy is read as it stands.
  struct Case { double celsius, read; bool stuck; } cases[] = {
      {0.05, 2220 * 503.975 / 4096 - 273.15, true}, {100, 3032 * 503.975 / 4096 - 273.15, false}};
  for (auto c : cases) {
    xadcSetStuck(0x84000080, c.stuck);
    setFpgaTemperature(0x84000080, c.celsius);
    EXPECT_NEAR(mxFpgaTemperature(0x84000000), c.read, 1e-4) << c.celsius;
  }
  EXPECT_NEAR(mxFpgaTemperature(0x84000000), 99.9, 0.1);
  setFpgaTemperature(0x84000080, 0.05);
  mxCoreReset();
  mxBoardInit();
  for (int frame = 0; frame < 12; ++frame) mxUpdate();
  EXPECT_EQ(consoleCount("] FPGA("), 0);
  mxUpdate();
  EXPECT_EQ(consoleCount("[INFO] FPGA(84000000) 0.000"), 1) << consoleText();
  EXPECT_EQ(consoleCount("[INFO] FPGA(85000000) 39.9"), 1);
  mxInitialize(1, 1.0f);  // frame 12 of a new format does not log them again
  for (int frame = 0; frame < 13; ++frame) mxUpdate();
  EXPECT_EQ(consoleCount("] FPGA("), 4);
}

TEST_F(MonitorTest, ACompareErrorFailsTheAttemptAndFailuresThatLastRestartTheBoard) {
  struct Case { void (*fault)(); const char* line; int count; bool restart; } cases[] = {
      {[] { ddr3CompareErrors(0, 0, 3, 1); }, "[ERR] DDR3(82000000:0) error : 3 count : abcc1234 must be abcd1234", 1, false},
      {[] { ddr3CompareErrors(0, 1, 1, 100); }, "[ERR] DDR3(82000000:1) error : 1 count", 5, true},
      {[] { ddr3StuckTestEngine(0, true); }, "[ERR] DDR3(82000000:0) test write timeout", 1, true}};
  for (const auto& c : cases) {
    SetUp();
    c.fault();
    if (c.restart) EXPECT_THROW(mxDdr3CalibrationCheck(), BoardRestart) << c.line;
    else mxDdr3CalibrationCheck();
    EXPECT_EQ(consoleCount(c.line), c.count) << consoleText();
    EXPECT_EQ(consoleCount("DDR3 initialize"), c.restart ? 0 : 1);
  }
}

}  // namespace
