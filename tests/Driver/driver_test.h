#pragma once
// Ground shared by the driver tests: the headers most of them use, the board started in a board mode
// and a format, and readers of the register file.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/core/core.h"
#include "Driver/core/format.h"
#include "Driver/core/regs.h"
#include "Driver/dma/dma.h"
#include "Driver/resets.h"
#include "Driver/sdi/sdi.h"
#include "Driver/transition/transition.h"
#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/shared.h"
#include "Lib/Include/storage.h"
#include "Platform/i2c_devices.h"
#include "tests/support/board_fixture.h"

namespace driver_test {

using namespace platform;
using Words = std::vector<u32>;
using testing_support::consoleCount;
using testing_support::consoleText;
using testing_support::writesTo;

// Starts the board in a stored board mode (0 normal, 1 paired FPGAs, 2 4K); the marker is cleared
// again, as the non-volatile window outlives a test.
inline void startBoard(int mode) {
  const u32 marker = NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER;
  platform::writeMem32(marker, mode != 0 ? BOARD_MODE_MARKER : 0);
  platform::writeMem32(NON_VOLATILE_BASE + STORAGE_BOARD_MODE, static_cast<u32>(mode));
  mxBoardInit();
  platform::writeMem32(marker, 0);
}

// Every block reset, the board started in a board mode other than normal and the format code set; the
// device models, the trace and the console start afresh.
inline void useFormat(int code, int boardMode) {
  mxResetAllBlocks();
  if (boardMode != 0) startBoard(boardMode);
  mxInitialize(code, 1.0f);
  platform::resetBoardDevices();
  platform::traceClear();
  testing_support::consoleClear();
}

// A test on the board that can start it afresh in a board mode, in the ME1 context.
class DriverTest : public testing_support::BoardTest {
 protected:
  void boardMode(int mode) {
    BoardTest::SetUp();
    startBoard(mode);
    mxSetContext(MX_CONTEXT_ME1);
  }
};

// A test on a board started afresh in format 0.
class FreshBoardTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    useFormat(0, 0);
  }
};

// A negative value as a register holds it.
inline u32 w(int v) { return static_cast<u32>(v); }

// The registers at base + each offset.
inline Words peek(u32 base, std::initializer_list<u32> offsets) {
  Words out;
  for (u32 offset : offsets) out.push_back(platform::regPeek(base + offset));
  return out;
}

// The registers at word index k of base (base + 4 k) for each k.
inline Words peekWords(u32 base, std::initializer_list<u32> words) {
  Words out;
  for (u32 k : words) out.push_back(platform::regPeek(base + 4 * k));
  return out;
}

// How often each text stands on the console.
inline std::vector<int> consoleCounts(std::initializer_list<const char*> texts) {
  std::vector<int> out;
  for (const char* text : texts) out.push_back(consoleCount(text));
  return out;
}

// Each register holds its value.
inline void expectRegs(std::initializer_list<std::pair<u32, u32>> regs) {
  for (auto [adr, value] : regs) EXPECT_EQ(platform::regPeek(adr), value) << std::hex << adr;
}

}  // namespace driver_test
