// Feeds arbitrary bytes through the request ring into the whole system: every category that start-up
// creates, with its own reader, runs its frames as the VSYNC callback does (driver update, then the
// registry's frame work, inside the callback's catch-all). Then a warm restart takes up the backup
// image those frames left: no check may fail and every record must come back, else the run aborts.
// The input form is fuzz_input.h's.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Driver/core/core.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/link_ring.h"
#include "fuzz/fuzz_input.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"

namespace {

// The categories entered, bound and initialised as at start-up, on the board as it stands.
void startCategories(category::CategoryRegistry& reg) {
  reg.reset();
  createCategories();
  reg.initialize();
}

category::CategoryRegistry& setUp() {
  static bool ready = [] {
    platform::BoardOptions options;
    options.clock = platform::ClockMode::Stepped;
    // A register trace of the whole run, for comparing two builds' behaviour input by input.
    if (const char* trace = std::getenv("MX_FUZZ_TRACE")) options.traceFile = trace;
    platform::boardOpen(options);
    platform::setDebugEcho(false);
    platform::attachBoardModels();
    platform::vsyncSetAuto(false);  // frames run here, not from the board's interrupt
    mxBoardInit();
    startCategories(category::CategoryRegistry::instance());
    return true;
  }();
  (void)ready;
  return category::CategoryRegistry::instance();
}

// The image as the last frame's copy left it in the non-volatile window, taken up by a new start of
// the categories; a failed check, a category reported broken or a record that differs aborts.
void checkRestart(category::CategoryRegistry& reg) {
  const auto before = frontend::backedUpRecords();
  constexpr u32 IMAGE_BYTES = BUF_SIZE * 4;
  std::memcpy(platform::memory(NON_VOLATILE_BASE, IMAGE_BYTES), platform::memory(BACKUP_BUFFER_ADR, IMAGE_BYTES),
              IMAGE_BYTES);
  u8* console = platform::memory(LINK_CONSOLE_RING, LINK_RING_HEAD + LINK_CONSOLE_DATA);
  linkpeer::storeIndex(console + 4, linkpeer::loadIndex(console));  // earlier lines are not the restart's
  startCategories(reg);
  const std::string lines = linkpeer::consoleTake(console);
  const std::string changes = frontend::restartChanges(before, frontend::backedUpRecords());
  const bool failed = lines.find("Assertion failed") != std::string::npos || lines.find("is broken") != std::string::npos;
  if (!failed && changes.empty()) return;
  std::fprintf(stderr, "restart lost settings:\n%s%s", lines.c_str(), changes.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  category::CategoryRegistry& reg = setUp();
  fuzzing::runInput(reg, data, size, [](int field) { onVsync(field); });
  checkRestart(reg);
  return 0;
}
