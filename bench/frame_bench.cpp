// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// the driver update, or its stages 1..N in a row; each figure is printed beside its budget.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "Driver/core/core.h"
#include "Driver/filter/filter.h"
#include "Common/reg.h"
#include "Lib/Include/storage.h"
#include "Main/bus/cbgd.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Main/panel/led.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/sdi_inputs.h"
#include "Platform/vsync.h"

namespace {

void postVsync(u32 bits) {
  platform::clockAdvance(static_cast<u64>(mxFramePeriodUs()) * platform::TICKS_PER_US);
  platform::vsyncPost(bits);
}

std::string budget(u32 us, const char* what) { return "budget " + std::to_string(us) + " us" + what; }

void BM_IdleFrame(benchmark::State& state) {
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_IdleFrame)->Unit(benchmark::kMicrosecond);

void BM_EarlyUpdate(benchmark::State& state) {
  for (auto _ : state) postVsync(platform::IRQ_EARLY);
}
BENCHMARK(BM_EarlyUpdate)->Unit(benchmark::kMicrosecond);

void BM_DriverUpdate(benchmark::State& state) {
  for (auto _ : state) mxUpdate();
  state.SetLabel(budget(MX_STAGE_LIMIT_US[MX_UPDATE_STAGES - 1], " (after its last stage)"));
}
BENCHMARK(BM_DriverUpdate)->Unit(benchmark::kMicrosecond);

// Stages 1..N of the driver update, against the limit on the time from its start to the end of N.
void BM_UpdateStages(benchmark::State& state) {
  const int last = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const u32 start = mxGetTicks();
    for (int stage = 1; stage <= last; ++stage) mxUpdateStage(stage, start);
  }
  state.SetLabel("stages 1-" + std::to_string(last) + ", " + budget(MX_STAGE_LIMIT_US[last - 1], ""));
}
BENCHMARK(BM_UpdateStages)->DenseRange(1, MX_UPDATE_STAGES)->Unit(benchmark::kMicrosecond);

void BM_UpdateTail(benchmark::State& state) {
  for (auto _ : state) mxUpdateStage(MX_TRACE_TAIL, mxGetTicks());
  state.SetLabel("the untimed tail of the driver update");
}
BENCHMARK(BM_UpdateTail)->Unit(benchmark::kMicrosecond);

// A busy frame for the filter and colour background writers: defocus on both background buses and
// dust on the background and key 1 of both hardware MEs, every key slot resized, both generators
// washing with motion.
void BM_FilterAndCbgdFrame(benchmark::State& state) {
  for (int context : {MX_CONTEXT_ME1, MX_CONTEXT_ME2}) {
    mxSetContext(context);
    mxFilterSetImageMode(MX_ABUS, MX_IMAGE_DEFOCUS, 1.0f);
    mxFilterSetImageMode(MX_BBUS, MX_IMAGE_DEFOCUS, 2.5f);
    mxFilterSetDust(MX_BKGD, 1, 0.5f, 7);
    mxFilterSetDust(MX_KEY1, 1, 0.25f, 3);
    for (int key : {MX_KEY1, MX_KEY2, MX_KEY3, MX_KEY4}) mxFilterSetParameters(key, 0.1f, 0.2f, 0.5f, 0.6f);
  }
  for (int g = 0; g < MxifCbgd::N_CHANNELS; ++g) {
    MxifCbgd& r = category::CategoryCbgd::instance().record(g);
    r.wash = 1, r.form = 1, r.rate = 100, r.direction = 450, r.motion = static_cast<u8>(1 + g), r.speed = 300;
  }
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
}
BENCHMARK(BM_FilterAndCbgdFrame);

// Puts state on every lamp of both lamp stores, on every panel.
void requestEveryLamp(int state) {
  auto each = [](const auto& ranges, auto&& put) {
    for (const LampRange& r : ranges) {
      for (int code = r.first; code <= r.last; ++code) put(code);
    }
  };
  each(LED_BUTTON_RANGES, [&](int code) { category::CategoryLed::instance().setLedOnAllPanels(code, state); });
  for (int me = 0; me < category::N_ME; ++me) {
    each(BUS_BUTTON_RANGES, [&](int code) { category::CategoryMeLed::instance()[me].setLedOnAllPanels(code, state); });
  }
}

// An idle frame while every lamp of both stores blinks.
void BM_BlinkingLampsFrame(benchmark::State& state) {
  requestEveryLamp(11);
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  requestEveryLamp(0);
}
BENCHMARK(BM_BlinkingLampsFrame);

// Restarts the drivers in a board mode (0 normal, 2 4K), as the board start reads it.
void restartInBoardMode(u32 mode) {
  platform::writeMem32(NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER, mode == 0 ? 0 : BOARD_MODE_MARKER);
  platform::writeMem32(NON_VOLATILE_BASE + STORAGE_BOARD_MODE, mode);
  mxBoardInit();
}

// A frame in 4K mode with signal on every link of the eight quad-link groups (the status writer
// reads and checks them all), and one main-loop poll of the SDI inputs' error counters.
void BM_QuadLinkSdiFrame(benchmark::State& state) {
  restartInBoardMode(2);
  for (int input = 1; input <= 32; ++input) platform::sdiSetDetectedFormat(input, 9);
  for (auto _ : state) {
    postVsync(platform::IRQ_VSYNC);
    mxPollInputs();
  }
  restartInBoardMode(0);
}
BENCHMARK(BM_QuadLinkSdiFrame);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  platform::BoardOptions options;
  options.clock = platform::ClockMode::Fast;
  platform::boardOpen(options);
  platform::setDebugEcho(false);
  platform::attachBoardModels();
  bpStart();
  // From here on the benchmarks raise the interrupts themselves.
  platform::vsyncSetAuto(false);
  std::printf("Time and CPU are microseconds per run on this host; each must stay below the budget beside it.\n");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
