// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// or one stage of the driver update; and a keyed frame: both interrupts of a frame with the keyer
// settings applied as the keyer categories apply them, every frame.
#include <benchmark/benchmark.h>

#include <string>

#include "Driver/core/core.h"
#include "Common/reg.h"
#include "Driver/key/key.h"
#include "Driver/xpt/dskmix.h"
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

// All four keys of both hardware MEs masked, edged and chroma keyed, the four DSKs on air and key
// layer channel 1 set.
void applyKeyScene() {
  for (int me : {MX_CONTEXT_ME1, MX_CONTEXT_ME2}) {
    mxSetContext(me);
    mxKeySetPriority(MX_KEY4, MX_KEY3, MX_KEY2);
    mxKeySetOutputTapA(MX_ME_OUT_2, 15);
    mxKeySetCleanTap(MX_CLEAN_POINT);
    for (int key = MX_KEY1; key <= MX_KEY4; key += 2) {
      mxKeySetLevel(key, 1.0f);
      mxKeySetPreview(key, 0);
      mxKeySetClipGain(key, 5, 512.0f, 1.5f, 1.0f, 1.0f);
      mxKeySetMask(key, 0.1f, 0.1f, 0.8f, 0.8f, 1, 0);
      mxKeySetSoftMask(key, 0.2f, 0.2f, 0.6f, 0.6f, 0.5f);
      mxKeySetEdge(key, MX_KEY_EDGE_1 + 1, 2, 135, 1.0f);
      mxKeySetEdgeFill(key, MX_UTIL1);
      mxChromaKeySetMode(key, 1, 1, MX_CHROMA_MODE_A1, MX_CHROMA_MODE_B2);
      mxChromaKeySetRange(key, 10, 20);
      mxChromaKeySetColorA(key, 500, 3500, 600);
      mxChromaKeySetColorB(key, 400, 3000, 500);
    }
  }
  for (int dsk = MX_DSK1; dsk <= MX_DSK4; dsk += 2) {
    mxKeySetLevel(dsk, 1.0f);
    mxDskSetOutput(dsk, dsk < MX_DSK3 ? MX_DSK_PGM1 : MX_DSK_PGM2);
    mxKeySetClipGain(dsk, 1, 256.0f, 1.0f, 1.0f, 1.0f);
    mxKeySetMask(dsk, 0.0f, 0.0f, 0.5f, 1.0f, 1, 0);
    mxKeySetEdge(dsk, MX_KEY_EDGE_1, 1, 0, 0.5f);
  }
  mxDskSetFlags(15);
  mxKeySetClipGain(MX_USK1_S, 1, 128.0f, 1.0f, 1.0f, 1.0f);
  mxKeySetMask(MX_USK1_S, 0.25f, 0.25f, 0.5f, 0.5f, 1, 0);
  mxKeySetLayerSource(MX_CONTEXT_ME1, MX_KEY2, 1);
}

void BM_KeyedFrame(benchmark::State& state) {
  static u16 table[N_CHROMA_TABLE] = {};
  for (int me : {MX_CONTEXT_ME1, MX_CONTEXT_ME2}) {
    mxSetContext(me);
    for (int key = MX_KEY1; key <= MX_KEY4; key += 2) mxChromaKeyWriteTable(key, table);
  }
  const u64 lead = static_cast<u64>(platform::EARLY_LEAD_US) * platform::TICKS_PER_US;
  for (auto _ : state) {
    platform::clockAdvance(static_cast<u64>(mxFramePeriodUs()) * platform::TICKS_PER_US - lead);
    platform::vsyncPost(platform::IRQ_EARLY);
    platform::clockAdvance(lead);
    platform::vsyncPost(platform::IRQ_VSYNC);
    applyKeyScene();
  }
}
BENCHMARK(BM_KeyedFrame);

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
