// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// one stage of the driver update, or a frame with the clip players and the JPEG display at work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "Driver/clip/clip.h"
#include "Driver/core/core.h"
#include "Driver/display/display.h"
#include "Common/reg.h"
#include "Common/shared.h"
#include "Lib/Include/shared.h"
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

// Four players play clips of 16 units (with argument 1 players 3 and 4 record instead, their
// encoder reporting complete units) while the display encodes JPEG pictures.
void BM_ClipFrame(benchmark::State& state) {
  const bool recording = state.range(0) != 0;
  for (int c = 0; c < N_CLIPS; ++c) {
    ClipHeader h;
    h.magic = ClipHeader::MAGIC | 1;
    h.count = h.capacity = 16;
    h.flags = ClipHeader::FLAG_ALWAYS;
    std::memcpy(platform::memory(SharedMemory::SMEM_BASE + smemClipHeader(c), sizeof h), &h, sizeof h);
    for (int i = 0; i < 16; ++i) {
      const ClipFrame unit{0x20000000 + 0x100000 * static_cast<u32>(i), 800, 200000, 0.5f};
      std::memcpy(platform::memory(SharedMemory::SMEM_BASE + smemClipFrame(c, i), sizeof unit), &unit, sizeof unit);
    }
    const int target = MX_CLIP_1 + 2 * c;
    if (recording && c >= 2) mxClipRecord(target, -1, 0);
    else mxClipSetMode(target, 0, 2);
  }
  platform::regPoke(0x82001404, 0x20);  // clip encoder: unit complete, 150000 bytes
  platform::regPoke(0x82001408, 150000);
  platform::regPoke(0x40005104, 0x20);  // display encoder: picture done, 4000 bytes
  platform::regPoke(0x40005108, 4000);
  mxDisplaySetMode(MX_DISPLAY_JPEG, 1, 0);
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  for (int c = 0; c < N_CLIPS; ++c) mxClipRecord(MX_CLIP_1 + 2 * c, 0, 0);
  mxDisplaySetMode(MX_DISPLAY_NONE, 1, 0);
  state.SetLabel(recording ? "two playing, two recording" : "four playing");
}
BENCHMARK(BM_ClipFrame)->Arg(0)->Arg(1);

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
