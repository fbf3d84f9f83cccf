#include "tests/support/board_fixture.h"

#include "Platform/bringup_models.h"
#include "Platform/clip_model.h"
#include "Platform/genlock_model.h"
#include "Platform/osd_engine.h"

#include <cstring>

#include "Driver/resets.h"
#include "Tools/lib/link/ring.h"
#include "Lib/Include/log.h"
#include "Main/framework/bp.h"
#include "Platform/hw_semaphore.h"
#include "Platform/i2c_devices.h"

namespace testing_support {

std::string consoleText() {
  return linkpeer::consoleSince(platform::memory(LINK_CONSOLE_RING, LINK_CONSOLE_BYTES), 0);
}

void consoleClear() { consoleReset(); }

int consoleCount(const std::string& text) {
  std::string all = consoleText();
  int n = 0;
  for (size_t pos = all.find(text); pos != std::string::npos; pos = all.find(text, pos + text.size())) ++n;
  return n;
}

std::vector<u32> writesTo(u32 adr) {
  std::vector<u32> out;
  for (const platform::TraceEntry& e : platform::traceRecent()) {
    if (e.adr == adr) out.push_back(e.value);
  }
  return out;
}

void BoardTest::SetUp() {
  mxResetAllBlocks();
  platform::regReset();
  platform::resetBoardDevices();
  platform::bringUpReset();
  platform::memoryPorts().clear();  // attached on first use: the pattern load of frame 12 needs it
  platform::clipModelReset();
  platform::osdEngine().reset();
  platform::genlockReference().reset();
  platform::boardClearVolatile();
  platform::memoryLogStop();
  consoleClear();
}

void BoardTest::TearDown() {
  // Categories that the test registered go with it; the next test starts with an empty registry.
  category::CategoryRegistry::instance().reset();
}

}  // namespace testing_support
