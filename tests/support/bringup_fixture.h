#pragma once
// Test ground for the cold power-on path: the board models of NAND flash, configuration ports,
// DDR3 controllers and serdes links in their healthy state, factory NAND contents, and a board
// restart (through the watchdog) that ends the code under test with BoardRestart.
#include <stdexcept>

#include "Driver/dma.h"
#include "Driver/nandflash.h"
#include "board_fixture.h"
#include "bringup_models.h"
#include "config_port.h"
#include "ddr3_model.h"
#include "dma_engine.h"
#include "nand_device.h"
#include "serdes_model.h"
#include "watchdog.h"

namespace testing_support {

struct BoardRestart : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class BringUpTest : public BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    platform::dmaEngine().reset();
    mxDmaSync(mxDmaChannel(MX_DMA_NAND));
    mxNandForgetTable();
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
