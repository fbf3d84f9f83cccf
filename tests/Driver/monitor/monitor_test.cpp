// Board monitoring: the DDR3 calibration check after power-on.
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

TEST_F(MonitorTest, AFailedPortFailsTheAttemptAndFailuresThatLastRestartTheBoard) {
  struct Case { void (*fault)(); const char* line; int count; bool restart; } cases[] = {
      {[] { ddr3CompareErrors(0, 0, 3, 1); }, "[ERR] DDR3(82000000:0) error : 3 count : abcc1234 must be abcd1234", 1, false},
      {[] { ddr3CompareErrors(0, 1, 1, 100); }, "[ERR] DDR3(82000000:1) error : 1 count", 5, true},
      {[] { ddr3StuckTestEngine(0, true); }, "[ERR] DDR3(82000000:0) test write timeout", 1, true},
      // Port 0 fails the first pass: port 1 still calibrates in it, and again in the second.
      {[] { ddr3FailCalibration(0, 0, 5); }, "[INFO] DDR3(82000000:1) calibration", 2, false}};
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
