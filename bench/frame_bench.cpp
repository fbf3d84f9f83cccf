// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// one stage of the driver update, a frame with wipes and DVE transforms on both hardware MEs, or the
// wipe pattern load of frame 12.
#include <benchmark/benchmark.h>

#include <string>

#include "Driver/blocks.h"
#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/transition/transition.h"
#include "Common/reg.h"
#include "Main/framework/startup.h"
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

// Both hardware MEs: wipes on the background and the four keys, DVE transforms on the background and
// keys 1 and 2.
void setWipesAndTransforms() {
  const int types[] = {5380, 5387, 5390, 5391, 5396};
  const float tilt[] = {0.9f, 0.1f, 0, -0.1f, 0.9f, 0, 0.0001f, 0.0002f, 1};
  for (int me : {MX_CONTEXT_ME1, MX_CONTEXT_ME2}) {
    mxSetContext(me);
    for (int key = 0; key < 5; ++key) {
      const int target = mxKeyTarget(key);
      mxTransSetType(target, types[key], 0.02f, 0.01f);
      mxTransSetPatternPosition(target, 0.4f, 0.6f);
      mxTransSetModulation(target, MX_TRANS_MOD_X, 0.1f, 4, 0.5f);
      if (key == 0) {
        mxTransSetBkgdPosition(0.4f, 0, -1);
      } else {
        mxTransSetKeyPosition(target, 0.4f, 0);
      }
      if (key > 2) continue;
      mxDveSetEnable(target, 1, 1);
      mxDveSetWindow(target, 100, 50, 1600, 900, 0.8f, 2);
      mxDveSetMatrixFloat(target, tilt);
    }
  }
}

void BM_WipeAndDveFrame(benchmark::State& state) {
  setWipesAndTransforms();
  for (auto _ : state) {
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
}
BENCHMARK(BM_WipeAndDveFrame);

void BM_PatternTableLoad(benchmark::State& state) {
  for (auto _ : state) mxTransLoadPatternTables();
}
BENCHMARK(BM_PatternTableLoad);

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
