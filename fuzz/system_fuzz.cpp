// Feeds arbitrary bytes through the request ring into the whole system: every category that start-up
// creates, with its own reader, runs its frames as the VSYNC callback does (driver update, then the
// registry's frame work, inside the callback's catch-all).
// The input form is fuzz_input.h's.
#include <cstdint>
#include <cstdlib>

#include "Driver/core/core.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "fuzz/fuzz_input.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"

namespace {

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
    category::CategoryRegistry::instance().reset();
    createCategories();
    category::CategoryRegistry::instance().initialize();
    return true;
  }();
  (void)ready;
  return category::CategoryRegistry::instance();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::runInput(setUp(), data, size, [](int field) { onVsync(field); });
  return 0;
}
