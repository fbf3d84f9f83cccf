#pragma once
// Test ground for the cold power-on path: the board models of NAND flash, configuration ports,
// DDR3 controllers and serdes links in their healthy state, factory NAND contents, and a board
// restart (through the watchdog) that ends the code under test with BoardRestart.
#include <stdexcept>

#include "tests/support/board_fixture.h"
#include "Platform/bringup_models.h"
#include "Platform/config_port.h"
#include "Platform/ddr3_model.h"
#include "Platform/dma_engine.h"
#include "Platform/nand_device.h"
#include "Platform/serdes_model.h"
#include "Platform/watchdog.h"

namespace testing_support {

struct BoardRestart : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class BringUpTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    platform::dmaEngine().reset();
    platform::watchdogAttach();
    platform::setEndHandler([](platform::EndReason reason, u32) {
      if (reason == platform::EndReason::Restart) throw BoardRestart("restart");
      throw BoardRestart("halt");
    });
  }
  void TearDown() override {
    platform::dmaEngine().detach();
    platform::watchdogDetach();
    platform::setEndHandler(nullptr);
    BoardTest::TearDown();
  }
};

}  // namespace testing_support
