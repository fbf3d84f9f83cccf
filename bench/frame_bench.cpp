// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// or one stage of the driver update.
#include <benchmark/benchmark.h>

#include <string>

#include "Driver/core/core.h"
#include "Common/reg.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Main/panel/led.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"

namespace {

void postVsync(u32 bits) {
  platform::clockAdvance(static_cast<u64>(mxFramePeriodUs()) * platform::TICKS_PER_US);
  platform::vsyncPost(bits);
}

void BM_IdleFrame(benchmark::State& state) {
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
}
BENCHMARK(BM_IdleFrame);

void BM_EarlyUpdate(benchmark::State& state) {
  for (auto _ : state) postVsync(platform::IRQ_EARLY);
}
BENCHMARK(BM_EarlyUpdate);

void BM_DriverUpdate(benchmark::State& state) {
  for (auto _ : state) mxUpdate();
}
BENCHMARK(BM_DriverUpdate);

void BM_UpdateStage(benchmark::State& state) {
  int stage = static_cast<int>(state.range(0));
  for (auto _ : state) mxUpdateStage(stage, mxGetTicks());
  state.SetLabel(stage == MX_TRACE_TAIL ? "tail" : "stage " + std::to_string(stage));
}
BENCHMARK(BM_UpdateStage)->DenseRange(1, MX_UPDATE_STAGES)->Arg(MX_TRACE_TAIL);

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
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
