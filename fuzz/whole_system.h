#pragma once
// The whole system as the fuzz targets that run it start it: a board in stepped time with its models,
// the driver blocks initialised, and every category that start-up creates, entered, bound and
// initialised on the board as it stands; frames run from the target (onVsync), not from the board's
// interrupt.
#include <cstdlib>

#include "Driver/core/core.h"
#include "Main/framework/bp.h"
#include "Main/framework/startup.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"

namespace fuzzing {

// The categories entered, bound and initialised as at start-up.
inline void startCategories(category::CategoryRegistry& reg) {
  reg.reset();
  createCategories();
  reg.initialize();
}

inline category::CategoryRegistry& wholeSystem() {
  static bool ready = [] {
    platform::BoardOptions options;
    options.clock = platform::ClockMode::Stepped;
    // A register trace of the whole run, for comparing two builds' behaviour input by input.
    if (const char* trace = std::getenv("MX_FUZZ_TRACE")) options.traceFile = trace;
    platform::boardOpen(options);
    platform::setDebugEcho(false);
    platform::attachBoardModels();
    platform::vsyncSetAuto(false);
    mxBoardInit();
    startCategories(category::CategoryRegistry::instance());
    return true;
  }();
  (void)ready;
  return category::CategoryRegistry::instance();
}

}  // namespace fuzzing
