// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// or one stage of the driver update.
#include <benchmark/benchmark.h>

#include <string>

#include "Driver/core/core.h"
#include "Driver/filter/filter.h"
#include "Common/reg.h"
#include "Main/bus/cbgd.h"
#include "Main/framework/startup.h"
#include "Main/system/testpattern.h"
#include "Main/framework/vsync.h"
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

// A frame with the multi-pattern test mode on all four MEs: pattern sizes, dust, bus gains, key
// soft masks and bus filter modes set on every ME context, then written by the driver update.
void BM_TestPatternFrame(benchmark::State& state) {
  MxifTest& r = category::CategoryTest::instance()[1].record(0);
  const s16 values[] = {MxifTest::MULTI_PATTERN, 2, 50, 7, 25, 10, 10, 80, 80, 20, 3, 2};
  for (int n = 0; n < 12; ++n) r.values[n] = values[n];
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  r.values[0] = 0;
}
BENCHMARK(BM_TestPatternFrame);

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
