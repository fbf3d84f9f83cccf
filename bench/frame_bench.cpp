// Cost of frames on the simulated board: the system boots once, then each benchmark runs an idle
// frame (VSYNC interrupt with the driver update and the registry's frame work), the early update,
// the driver update, or its stages 1..N in a row, a frame with wipes and DVE transforms on both
// hardware MEs, a frame of the transition engine wiping every layer of every ME, a frame of its
// DVE geometry (spinning backgrounds, 3-D key moves), a frame of its DVE effects (paused pushes,
// shaped zooms), the wipe pattern load of frame 12, a frame with the clip players and the JPEG
// display at work, or a keyed frame (both interrupts, with the keyer settings applied every frame
// as the keyer categories apply them), or a frame with the settings of all sixteen keys written by
// the key category, or one with every key and downstream key transitioning, or one with the four
// up-stream keys keyed over every source of their list, or one with the four tally groups resolved
// while everything transitions, or one with image effects on both hardware
// MEs and a key preset lamp window running, or one with every lever sweeping over its ME's layers,
// or one with the panel lamps at their busiest (every key-fader button on, every panel present),
// or a frame that applies a format change, or the routing steps of the system settings update
// alone, or one with the chroma tables loaded and keys stored and recalled by the key source memory,
// or one with the mainframe configuration applied to every ME and DSK, or the heaviest frame (DVE
// effects, every key transitioning, blinking lamps, tally and 100 requests answered, with its driver
// update stages); each figure is printed beside its budget.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Driver/blocks.h"
#include "Driver/clip/clip.h"
#include "Driver/core/core.h"
#include "Driver/display/display.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Driver/genlock/genlock.h"
#include "Driver/multiview/multiview.h"
#include "Driver/transition/transition.h"
#include "Common/reg.h"
#include "Common/shared.h"
#include "Lib/Include/shared.h"
#include "Lib/Include/storage.h"
#include "Main/bkgd/bkgd.h"
#include "Main/bus/bus.h"
#include "Main/bus/busstatus.h"
#include "Main/bkgd/cbgd.h"
#include "Main/fader/faderevent.h"
#include "Main/key/chrkey.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/key/usk.h"
#include "Driver/key/key.h"
#include "Driver/key/regs.h"
#include "Driver/xpt/dskmix.h"
#include "Main/framework/startup.h"
#include "Main/key/colorcorrect.h"
#include "Main/key/image.h"
#include "Main/key/keypreset.h"
#include "Main/memory/shotmem.h"
#include "Main/system/mfconfig.h"
#include "Main/system/system.h"
#include "Main/system/testpattern.h"
#include "Main/framework/vsync.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/panel/peripheral.h"
#include "Main/panel/panelconfig.h"
#include "Main/transition/keydve.h"
#include "Main/transition/updater.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/sdi_inputs.h"
#include "Platform/vsync.h"
#include "Tools/lib/link/link.h"
#include "bench/budget_report.h"

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
  state.SetLabel(budget(platform::EARLY_LEAD_US, " (its lead on the VSYNC)"));
}
BENCHMARK(BM_EarlyUpdate)->Unit(benchmark::kMicrosecond);

void BM_DriverUpdate(benchmark::State& state) {
  for (auto _ : state) mxUpdate();
  state.SetLabel(budget(MX_STAGE_LIMIT_US[MX_UPDATE_STAGES - 1], " (after its last stage)"));
}
BENCHMARK(BM_DriverUpdate)->Unit(benchmark::kMicrosecond);

// Stages 1..last of the driver update.
void runStages(int last) {
  const u32 start = mxGetTicks();
  for (int stage = 1; stage <= last; ++stage) mxUpdateStage(stage, start);
}
// Numbered as the console's "update time(k)" warning: k = 0 for stage 1 of the trace.
std::string stagesLabel(int last) {
  return "update time(" + std::to_string(last - 1) + "), trace stages 1-" + std::to_string(last) + ", " +
         budget(MX_STAGE_LIMIT_US[last - 1], "");
}

// Stages 1..N of the driver update, against the limit on the time from its start to the end of N.
void BM_UpdateStages(benchmark::State& state) {
  const int last = static_cast<int>(state.range(0));
  for (auto _ : state) runStages(last);
  state.SetLabel(stagesLabel(last));
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
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_FilterAndCbgdFrame)->Unit(benchmark::kMicrosecond);

// Calls f(store, code) for every lamp of both lamp stores (the ME store of every ME).
template <class F>
void eachLamp(F&& f) {
  auto each = [](const auto& ranges, auto&& put) {
    for (const LampRange& r : ranges) {
      for (int code = r.first; code <= r.last; ++code) put(code);
    }
  };
  each(LED_BUTTON_RANGES, [&](int code) { f(category::CategoryLed::instance(), code); });
  for (int me = 0; me < category::N_ME; ++me) {
    each(BUS_BUTTON_RANGES, [&](int code) { f(category::CategoryMeLed::instance()[me], code); });
  }
}

// Puts state on every lamp of both lamp stores, on every panel.
void requestEveryLamp(int state) {
  eachLamp([&](auto& store, int code) { store.setLedOnAllPanels(code, state); });
}

// An idle frame while every lamp of both stores blinks.
void BM_BlinkingLampsFrame(benchmark::State& state) {
  requestEveryLamp(11);
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  requestEveryLamp(0);
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_BlinkingLampsFrame)->Unit(benchmark::kMicrosecond);

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
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_WipeAndDveFrame)->Unit(benchmark::kMicrosecond);

// The transition engine on every ME: the background and the four keys each load a running wipe
// (patterns by layer, modulation in both directions, the background's pattern turning) and apply
// it, then the frame's driver updates write the two hardware MEs.
void BM_TransitionEngineFrame(benchmark::State& state) {
  static BkgdTransition bkgd[category::N_ME];
  static KeyTransition keys[category::N_ME][4];
  MxifSystem sys;
  MxifBkgd rec;
  rec.modulationX = {0xF, 0, 4000, 300, 20};
  rec.modulationY = {0xF, 1, 2000, 500, -10};
  rec.option150 = 2;
  rec.spin.value3 = 40;
  rec.borderOn = 1, rec.borderWidth = 50, rec.softness = 100;
  MxifKey key;
  key.transIn.mode = 1;
  key.modulationX = rec.modulationX;
  key.spin[2] = 100;
  const u8 patterns[] = {0, 4, 8, 11, 13, 16, 10, 23};
  float p = 0.05f;
  for (auto _ : state) {
    for (int me = 0; me < category::N_ME; ++me) {
      mxSetContext(MX_CONTEXT_ME1 + me);
      rec.setPattern(patterns[me], 0);
      bkgd[me].load(rec, sys, p, 1, 0, 0, 0);
      bkgd[me].apply(me, p, -1.0f);
      for (int k = 0; k < 4; ++k) {
        key.channel = static_cast<u16>(k);
        key.effectA[0] = patterns[4 + k];
        keys[me][k].load(key, sys, p);
        keys[me][k].apply(me, p, -1.0f);
      }
    }
    p = p > 0.9f ? 0.05f : p + 0.01f;
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_TransitionEngineFrame)->Unit(benchmark::kMicrosecond);

// The DVE geometry on every ME: the background spins in (kind 3, effects 8..11 by ME) and keys 1
// and 2 move, grow and turn in 3-D through the key DVE, then the frame's driver updates run.
void BM_DveGeometryFrame(benchmark::State& state) {
  static BkgdTransition bkgd[category::N_ME];
  static KeyDveSetting keys[category::N_ME][2];
  MxifSystem sys;
  MxifBkgd rec;
  rec.modify = {0xF, 1, 600, 200, 10};
  rec.borderOn = 1, rec.borderWidth = 50, rec.softness = 100;
  MxifKey key;
  key.dveTransOn = 1, key.travelOn = 1, key.transIn.mode = 1;
  key.dvePosition[0] = 2000, key.dvePosition[1] = 1000, key.travel12[0] = -5000;
  key.dveSize = 7000, key.adjust.density = 1000;
  key.dveRotation[0] = 150, key.dveRotation[1] = 300, key.dveRotation[2] = 450;
  float p = 0.05f;
  for (auto _ : state) {
    for (int me = 0; me < category::N_ME; ++me) {
      mxSetContext(MX_CONTEXT_ME1 + me);
      rec.setPattern(static_cast<u8>(8 + me), 3);
      bkgd[me].load(rec, sys, p, 1, 0, 0, 0);
      bkgd[me].apply(me, p, -1.0f);
      for (int k = 0; k < 2; ++k) {
        key.channel = static_cast<u16>(k);
        loadKeyDveSettings(keys[me][k], key, sys, 0, p);
        applyKeyDve(keys[me][k], p);
      }
    }
    p = p > 0.9f ? 0.05f : p + 0.01f;
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_DveGeometryFrame)->Unit(benchmark::kMicrosecond);

// A background's DVE effect: a bordered push with a pause half way in the 4:3 centre area (kind 2,
// effects 12..15 by ME, area mode 3).
void setDveEffect(MxifBkgd& rec, int me) {
  rec.option146 = 3;
  rec.borderOn = 1, rec.borderWidth = 50, rec.softness = 100;
  rec.setPattern(static_cast<u8>(12 + me), 2);
}

// The DVE effects on every ME: the background pushes (setDveEffect) and keys 1 and 2 zoom in inside
// a shaped pattern (kind 1, effects 11..14), then the frame's driver updates run.
void BM_DveEffectsFrame(benchmark::State& state) {
  static BkgdTransition bkgd[category::N_ME];
  static KeyTransition keys[category::N_ME][2];
  MxifSystem sys;
  MxifBkgd rec;
  MxifKey key;
  key.transIn.mode = 1, key.effectA[1] = 1;
  key.travel12[0] = 2000, key.travel12[1] = -1000;
  key.spin[2] = 100;
  float p = 0.05f;
  for (auto _ : state) {
    for (int me = 0; me < category::N_ME; ++me) {
      mxSetContext(MX_CONTEXT_ME1 + me);
      setDveEffect(rec, me);
      bkgd[me].load(rec, sys, p, 1, 0, 0, 0);
      bkgd[me].apply(me, p, -1.0f);
      for (int k = 0; k < 2; ++k) {
        key.channel = static_cast<u16>(k);
        key.effectA[0] = static_cast<u8>(11 + 2 * k + me % 2);
        keys[me][k].load(key, sys, p);
        keys[me][k].apply(me, p, -1.0f);
      }
    }
    p = p > 0.9f ? 0.05f : p + 0.01f;
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_DveEffectsFrame)->Unit(benchmark::kMicrosecond);

void BM_PatternTableLoad(benchmark::State& state) {
  for (auto _ : state) mxTransLoadPatternTables();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period; part of frame 12)"));
}
BENCHMARK(BM_PatternTableLoad)->Unit(benchmark::kMicrosecond);

// Four players play clips of 16 units (with argument 1 players 3 and 4 record instead, their
// encoder reporting complete units) while the display encodes JPEG pictures.
void BM_ClipFrame(benchmark::State& state) {
  const bool recording = state.range(0) != 0;
  for (int c = 0; c < N_CLIPS; ++c) {
    ClipHeader h;
    h.magic = ClipHeader::MAGIC | 1;
    h.count = h.capacity = 16;
    h.flags = ClipHeader::FLAG_ALWAYS;
    std::memcpy(platform::memory(SHARED_WINDOW_BASE + smemClipHeader(c), sizeof h), &h, sizeof h);
    for (int i = 0; i < 16; ++i) {
      const ClipFrame unit{0x20000000 + 0x100000 * static_cast<u32>(i), 800, 200000, 0.5f};
      std::memcpy(platform::memory(SHARED_WINDOW_BASE + smemClipFrame(c, i), sizeof unit), &unit, sizeof unit);
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
  state.SetLabel(std::string(recording ? "two playing, two recording, " : "four playing, ") +
                 budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_ClipFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

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
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_KeyedFrame)->Unit(benchmark::kMicrosecond);

// The settings of all sixteen keys written by the key category: box masks, soft windows, edges and
// colours on every key, keys 1 and 2 of every ME with the DVE transition on, key 1's position
// changing every frame and handed on to keys 2, 3 and 4.
void BM_KeySettingsFrame(benchmark::State& state) {
  auto* keys = category::CategoryKey::instance();
  for (int me = 0; me < category::N_ME; ++me) {
    for (int k = 0; k < 4; ++k) {
      MxifKey& r = keys[me].record(k);
      r.maskSet = {0, 2, 1, 1};
      r.maskBox[0] = -3000, r.maskBox[1] = 2000, r.maskBox[2] = -2000, r.maskBox[3] = 3000;
      r.window[2] = r.window[3] = 8000, r.softOn = 1, r.softness = 300;
      r.edge = {0x1F, 2, 3, 5, 2, 1};
      r.matteColor[0] = r.edgeColor[0] = r.thirdColor[0] = static_cast<s16>(600 * k);
      r.matteColor[1] = r.edgeColor[1] = r.thirdColor[1] = 800;
      r.matteColor[2] = r.edgeColor[2] = r.thirdColor[2] = 900;
      r.adjust = {0xF, 500, 1500, 800, 1};
      r.priority = static_cast<u8>(3 - k);
      r.dveTransOn = k < 2 ? 1 : 0;
      r.follower = static_cast<u8>(k < 3 ? k + 2 : 0);
      r.mirrorMode = static_cast<u8>(k);
    }
  }
  MxifKey move;
  move.mask = 1u << MxifKey::W0_DVE_POSITION;
  for (auto _ : state) {
    move.dvePosition[0] = static_cast<s16>((move.dvePosition[0] + 10) % 5000);
    for (int me = 0; me < category::N_ME; ++me) keys[me].assign(move, 0);
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  for (int me = 0; me < category::N_ME; ++me) keys[me].initialize();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_KeySettingsFrame)->Unit(benchmark::kMicrosecond);

// Calls f with the auto transition of every key and downstream key, and with backgrounds of every
// background too; restartTransitions starts those that have ended (at rate 50).
template <class F>
void forEachTransition(bool backgrounds, F&& f) {
  for (int me = 0; me < category::N_ME; ++me) {
    if (backgrounds) f(category::CategoryFaderEvent::instance().transition(AutoTransition::bkgdSlot(me)));
    for (int k = 0; k < 4; ++k) f(category::CategoryFaderEvent::instance().transition(AutoTransition::keySlot(me, k)));
  }
  for (int d = 0; d < 4; ++d) f(category::CategoryFaderEvent::instance().transition(AutoTransition::dskSlot(d)));
}
void restartTransitions(bool backgrounds) {
  forEachTransition(backgrounds, [](AutoTransition& t) {
    if (t.state == AutoTransition::IDLE) t.start(50, 0);
  });
}

// Key records whose transitions are mixes and wipes by key (restartTransitions runs them); the keys
// and the auto transitions go back to their defaults at the end.
struct KeyTransitionScene {
  KeyTransitionScene() {
    for (int me = 0; me < category::N_ME; ++me) {
      for (int k = 0; k < 4; ++k) {
        MxifKey& r = category::CategoryKey::instance()[me].record(k);
        r.transIn.mode = static_cast<u8>(k % 2);
        r.effectA[0] = static_cast<u8>(4 * k);
      }
    }
  }
  ~KeyTransitionScene() {
    for (int me = 0; me < category::N_ME; ++me) category::CategoryKey::instance()[me].initialize();
    category::CategoryFaderEvent::instance().initInternal();
  }
};

// All sixteen keys (mixes and wipes by key) and the four downstream keys transitioning through their
// auto transitions, restarted when they end, with the transition status reporting every change.
void BM_KeysAndDsksTransitioningFrame(benchmark::State& state) {
  KeyTransitionScene keys;
  for (auto _ : state) {
    restartTransitions(false);
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_KeysAndDsksTransitioningFrame)->Unit(benchmark::kMicrosecond);

// The four tally groups watching the program, preview and clean outputs of ME 1 and ME 2, the DSK
// outputs and bus outputs; ME 0's buses carry ME 2's program and AUX buses carry ME outputs. Mode 1:
// the hardware-status mode with every flag bit set; 0: the transition mode. The groups, the buses of
// ME 0 and 1 and the auto transitions go back to their defaults at the end.
class TallyScene {
 public:
  explicit TallyScene(u8 mode) {
    MxifPeripheral& groups = category::CategoryPeripheral::instance().record(0);
    const u16 codes[4][8] = {{1, 3, 4, 6, 13, 14, 17, 18}, {2, 5, 15, 16, 1, 4, 19, 20},
                             {1, 2, 3, 4, 5, 6, 13, 15},   {21, 22, 23, 24, 14, 16, 17, 20}};
    for (int g = 0; g < 4; ++g) std::memcpy(groups.groups[g].entries, codes[g], sizeof codes[g]);
    groups.tallyMode = mode;
    auto* buses = category::CategoryBus::instance();
    for (int e = 0; e < 12; ++e) buses[0].record(0).entries[e] = static_cast<u16>(category::CategoryBus::DIRECT + 10 + e);
    buses[0].record(0).entries[1] = category::CategoryBus::DIRECT + 154;
    for (int e = 0; e < 24; ++e) {
      buses[1].record(0).entries[e] = static_cast<u16>(category::CategoryBus::DIRECT + 20 + e);
      buses[0].record(0).entries[24 + e] = static_cast<u16>(category::CategoryBus::DIRECT + (e % 2 ? 150 : 156));
    }
    const u32 status[] = {0x7F7F7F7F, 0x7F7F7F7F, 0x1F1F1F1F, 0x1F1F1F1F};
    for (int i = 0; i < 4; ++i) platform::regPoke(STATUS_REGS[i], status[i]);
  }
  ~TallyScene() {
    for (u32 reg : STATUS_REGS) platform::regPoke(reg, 0);
    category::CategoryPeripheral::instance().record(0) = MxifPeripheral{};
    for (int me = 0; me < 2; ++me) category::CategoryBus::instance()[me].initialize();
    category::CategoryFaderEvent::instance().initInternal();
  }

 private:
  static constexpr u32 STATUS_REGS[] = {MX_ME1_BASE + keyreg::MIXER_A + keyreg::TALLY_STATUS,
                                        MX_ME2_BASE + keyreg::MIXER_A + keyreg::TALLY_STATUS,
                                        keyreg::DSK_TALLY_PGM1, keyreg::DSK_TALLY_CLN1};
};

// The tally groups of TallyScene while every background, key and downstream key transitions,
// restarted when they end. Argument: the tally mode.
void BM_TallyFrame(benchmark::State& state) {
  TallyScene tally(static_cast<u8>(state.range(0)));
  for (auto _ : state) {
    restartTransitions(true);
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  state.SetLabel(budget(mxFramePeriodUs(), state.range(0) != 0 ? " (hardware-status tally)" : " (transition tally)"));
}
BENCHMARK(BM_TallyFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The heaviest frame: every ME's background running its DVE effect (setDveEffect), every key and
// downstream key transitioning (KeyTransitionScene, restartTransitions), every lamp blinking, tally
// in the transition mode (TallyScene), and 100 requests a frame (key, background and bus records of
// every ME, in two sets of values taken in turn) written into the request ring before the frame and
// answered in it; the front end drains the acknowledgement ring after each frame.
class HeavyScene {
 public:
  static constexpr int N_REQUESTS = 100;

  HeavyScene() : tally_(0) {
    for (int me = 0; me < category::N_ME; ++me) {
      MxifBkgd& r = category::CategoryBkgd::instance()[me].record(0);
      r.type = 1;
      setDveEffect(r, me);
    }
    requestEveryLamp(LED_BLINK);
    for (int set = 0; set < 2; ++set) {
      for (int i = 0; i < N_REQUESTS; ++i) {
        const std::string me = "me=" + std::to_string(i % 4);
        std::vector<std::string> words;
        if (i < 64) {
          words = {"MxifKey", me, "channel=" + std::to_string(i / 4 % 4), "adjust.clip=" + std::to_string(100 + i + set)};
        } else if (i < 80) {
          words = {"MxifBkgd", me, "borderWidth=" + std::to_string(40 + i + set)};
        } else {
          words = {"MxifBus", me, "entries[" + std::to_string(48 + i % 8) + "]=" + std::to_string(1034 + (i + set) % 32)};
        }
        linkpeer::Bytes packet;
        std::string error;
        if (!frontend::sendPacket(words, packet, error)) std::fprintf(stderr, "heavy frame: %s\n", error.c_str());
        requests_[set].insert(requests_[set].end(), packet.begin(), packet.end());
      }
    }
  }
  ~HeavyScene() {
    requestEveryLamp(0);
    for (int me = 0; me < category::N_ME; ++me) category::CategoryBkgd::instance()[me].initialize();
  }

  void frame() {
    run();
    linkpeer::ringConsume(ackRing(), linkpeer::ringUsed(ackRing()));
  }

  // One frame; what it left undone of the above, or "" when it did it all.
  std::string checkedFrame() {
    run();
    std::string missing;
    if (written_ != requests_[0].size()) missing += " requests did not fit in the ring;";
    if (linkpeer::ringUsed(requestRing()) + RequestReceiver::instance().stream().count() != 0) {
      missing += " requests left for a later frame;";
    }
    std::vector<linkpeer::Packet> answers;
    size_t garbage = 0;
    linkpeer::parsePackets(linkpeer::ringPeek(ackRing()), answers, garbage);
    for (auto [type, count] : {std::pair{category::TYPE_KEY, 16}, {category::TYPE_BKGD, 4}, {category::TYPE_BUS, 4}}) {
      if (std::count_if(answers.begin(), answers.end(), [&](const auto& a) { return a.type == type; }) < count) {
        missing.append(" too few answers of ").append(category::typeNameOf(type)).append(";");
      }
    }
    int idle = 0;
    forEachTransition(true, [&](const AutoTransition& t) { idle += t.state == AutoTransition::RUNNING ? 0 : 1; });
    if (idle != 0) missing.append(" transitions not running: ").append(std::to_string(idle)).append(";");
    int lamps = 0, blinking = 0;
    eachLamp([&](auto& store, int code) {
      for (int panel = 0; panel < 3; ++panel) {
        ++lamps;
        blinking += store.ledRequest(panel, code) == LED_BLINK ? 1 : 0;
      }
    });
    // The categories light the rest each frame (crosspoint rows, transition and key lamps).
    if (2 * blinking < lamps) missing += " fewer than half the lamps blink;";
    linkpeer::ringConsume(ackRing(), linkpeer::ringUsed(ackRing()));
    return missing;
  }

 private:
  static constexpr int LED_BLINK = 11;
  static u8* requestRing() { return platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA); }
  static u8* ackRing() { return platform::memory(LINK_ACK_RING, 8 + LINK_RING_DATA); }

  void run() {
    const linkpeer::Bytes& requests = requests_[frames_++ % 2];
    written_ = linkpeer::ringWrite(requestRing(), requests.data(), requests.size());
    restartTransitions(true);
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }

  TallyScene tally_;
  KeyTransitionScene keys_;
  linkpeer::Bytes requests_[2];
  size_t written_ = 0;
  int frames_ = 0;
};

void BM_HeavyFrame(benchmark::State& state) {
  HeavyScene scene;
  if (const std::string missing = scene.checkedFrame(); !missing.empty()) {
    state.SkipWithError(("the frame fell short:" + missing).c_str());
    return;
  }
  for (auto _ : state) scene.frame();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_HeavyFrame)->Unit(benchmark::kMicrosecond);

// The heavy scene for a given number of frames, outside the benchmarks: bench/heavy-frame-cost counts
// the instructions of two such runs, so that the figure does not depend on how many frames a
// benchmark chose to run. Not inlined: the count starts at its entry.
[[gnu::noinline]] int runHeavyFrames(int frames) {
  HeavyScene scene;
  if (const std::string missing = scene.checkedFrame(); !missing.empty()) {
    std::fprintf(stderr, "the heavy frame fell short:%s\n", missing.c_str());
    return 1;
  }
  for (int f = 1; f < frames; ++f) scene.frame();
  return 0;
}

// Stages 1..N of the driver update over the settings a heavy frame left (the frame itself untimed).
void BM_HeavyFrameStages(benchmark::State& state) {
  const int last = static_cast<int>(state.range(0));
  HeavyScene scene;
  for (auto _ : state) {
    state.PauseTiming();
    scene.frame();
    state.ResumeTiming();
    runStages(last);
  }
  state.SetLabel("heavy frame, " + stagesLabel(last));
}
BENCHMARK(BM_HeavyFrameStages)->DenseRange(1, MX_UPDATE_STAGES)->Iterations(200)->Unit(benchmark::kMicrosecond);

// The four up-stream keys keyed (processing, preset and box masks, matte colours, key sources of
// their own) and all 150 entries of the source list attached, every key switched on: both
// up-stream key categories write them every frame.
void BM_UpStreamKeysFrame(benchmark::State& state) {
  auto& keys = category::CategoryUpStreamKey::instance();
  for (int k = 0; k < 4; ++k) {
    MxifUpStreamKey& r = keys.record(k);
    r.style = {0, static_cast<u8>(k), 1, 1, 1, 1};
    r.adjust = {0, 500, 1500, 800, 1};
    r.matteColor[0] = static_cast<s16>(900 * k), r.matteColor[1] = 800, r.matteColor[2] = 900;
    r.maskSet = {0, static_cast<u8>(1 + k % 2), 0, 1};
    r.maskBox[0] = -3000, r.maskBox[1] = 2000, r.maskBox[2] = -2000, r.maskBox[3] = 3000;
  }
  MxifUpStreamKeyAssign& a = category::CategoryUpStreamKeyAssign::instance().record(0);
  const u8 stills[MxifUpStreamKeyAssign::N_SLOTS] = {181, 182, 184, 185, 187, 188, 190, 191};
  std::memcpy(a.source, stills, sizeof stills);
  for (int e = 0; e < MxifUpStreamKeyAssign::N_ENTRIES; ++e) a.entries[e].value = static_cast<u8>(1 + e % 8);
  for (u8& on : a.onOff) on = 1;
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  keys.initialize();
  a = MxifUpStreamKeyAssign{};
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_UpStreamKeysFrame)->Unit(benchmark::kMicrosecond);
// Image effects (defocus or mosaic, posterize, colourise) on the A and B buses and keys 1 and 2 of
// both hardware MEs, with a key preset recalled every frame so that its lamp window runs.
void BM_ImageAndKeyPresetFrame(benchmark::State& state) {
  auto* images = category::CategoryImage::instance();
  for (int me = 0; me < 2; ++me) {
    MxifImage& r = images[me].record(0);
    for (MxifImage::Target* t : {&r.imageA, &r.imageB, &r.imageKey[0], &r.imageKey[1]}) {
      t->enable = 1, t->effectType = static_cast<u8>(1 + me), t->level = 400;
      t->posterize = 1, t->posterizeY = 3, t->posterizeC = 4, t->colorize = 1, t->hue = 1200, t->saturation = 600;
    }
  }
  auto& presets = category::CategoryKeyPreset::instance();
  category::CategoryShotMemoryStatus::instance().setStored(118, 1);
  for (auto _ : state) {
    category::CategoryShotMemory::instance().keyPresetRecalled(118);
    postVsync(platform::IRQ_VSYNC);
  }
  for (int me = 0; me < 2; ++me) images[me].initialize();
  presets.clearAll();
  category::CategoryShotMemoryStatus::instance().setStored(118, 0);
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_ImageAndKeyPresetFrame)->Unit(benchmark::kMicrosecond);
// All twelve levers of the three panels sweeping over the selected background and four keys of
// every ME: the fader events step and average every lever, offer each to its ME's five layers and
// report the layers' status each frame.
void BM_LeversSweepingFrame(benchmark::State& state) {
  auto& faders = category::CategoryFaderEvent::instance();
  auto* bkgd = category::CategoryBkgd::instance();
  for (int me = 0; me < category::N_ME; ++me) {
    MxifBkgd& r = bkgd[me].record(0);
    r.nextBkgd = 1;
    for (u8& k : r.nextKey) k = 1;
  }
  auto input = [&](int raw) {
    for (int i = 0; i < category::CategoryFaderEvent::N_LEVERS; ++i) {
      faders.inputLever(faders.lever(i), raw, 100, category::CategoryFaderEvent::LEVER_LOWEST,
                        category::CategoryFaderEvent::LEVER_CEILING_MARGIN);
    }
  };
  for (int i = 0; i < FaderLever::START_INPUTS; ++i) input(1833);
  int raw = 1833, step = 7;
  for (auto _ : state) {
    raw += step;
    if (raw <= 1833 || raw >= 2255) step = -step;
    input(raw);
    postVsync(platform::IRQ_VSYNC);
  }
  for (int me = 0; me < category::N_ME; ++me) bkgd[me].initialize();
  faders.initInternal();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_LeversSweepingFrame)->Unit(benchmark::kMicrosecond);
// The panel lamps at their busiest: the sub panels present, every key-fader button of every panel
// on and assigned (keys of every ME and downstream keys), the crosspoint lamps matching sources over
// assigned buttons, and the rows of every ME and panel showing the A/B, an AUX and a key bus.
void BM_PanelLampsFrame(benchmark::State& state) {
  auto& config = category::CategoryControlPanelConfig::instance();
  MxifControlPanelConfig& c = config.record(0);
  c.subControlPanel1.request = c.subControlPanel2.request = 1;
  c.options.lampFlag = 1;
  for (int f = 0; f < MxifKeyFader::N_FADERS; ++f) {
    for (int b = 0; b < MxifKeyFader::KEY_FADER_BUTTON_NUM; ++b) {
      const int n = f * MxifKeyFader::KEY_FADER_BUTTON_NUM + b;
      c.keyFaders[f][b] = {3, static_cast<u8>(1 + n % 5), static_cast<u8>(n % 4)};
      for (auto& panel : c.keyFaderStates) panel[f].state[b] = 1;
    }
  }
  auto& xpt = category::CategoryXpt::instance();
  for (int p = 0; p < MxifXptAssign::N_CHANNELS; ++p) {
    for (int b = 0; b < category::CategoryXpt::N_COLUMN_BUTTONS; ++b) xpt.record(p).source[b] = static_cast<s16>(10 + b % 32);
  }
  auto* status = category::CategoryBusStatus::instance();
  const u8 rows[] = {0, 1, 24, 2};
  for (int me = 0; me < category::N_ME; ++me) {
    for (int p = 0; p < MxifBusStatus::N_CHANNELS; ++p) std::memcpy(status[me].record(p).rows, rows, sizeof rows);
  }
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  config.initialize();
  xpt.initialize();
  for (int me = 0; me < category::N_ME; ++me) {
    status[me].initialize();
    category::CategoryBus::instance()[me].initInternal();
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_PanelLampsFrame)->Unit(benchmark::kMicrosecond);
// The chroma keys of ME 0 and ME 1 loading all eight tables every frame, with the eight keys of ME 0
// and ME 1 on chroma and the key source memory on: in turn all eight change a parameter (each stored
// into its source's unit) and all eight change source (each recalled from the new source's unit).
void BM_ChromaAndKeyMemoryFrame(benchmark::State& state) {
  auto* keys = category::CategoryKey::instance();
  auto* chroma = category::CategoryChromaKey::instance();
  auto* buses = category::CategoryBus::instance();
  auto& operate = category::CategoryOperate::instance();
  operate.record(0).keyMemory.enable = 1;
  operate.keyMemory().clearAll();
  for (int c = 1; c < 4; ++c) SharedMemory::instance().writeWord(SMEM_CHROMA_READY + 4 * (c - 1), CHROMA_READY_MAGIC);
  ChromaKeyBlock block{};
  for (int i = 0; i < N_CHROMA_TABLE_ENTRIES; ++i) block.table[i] = static_cast<u16>(i);
  for (int me = 0; me < 2; ++me) {
    for (int k = 0; k < 4; ++k) keys[me].record(k).style.keyType = 2;
  }
  int turn = 0;
  for (auto _ : state) {
    ++turn;
    for (int me = 0; me < 2; ++me) {
      for (int k = 0; k < 4; ++k) {
        if (turn % 2 != 0) {
          MxifKey change;
          change.adjust.mask = 1, change.adjust.clip = static_cast<u16>(turn % 1000);
          keys[me].assign(change, k);
        } else {
          buses[me].record(0).entries[2 * (k + 1)] = static_cast<u16>(category::CategoryBus::DIRECT + 12 + turn % 4);
        }
        chroma[me].loadChannelData(k, block);
      }
    }
    postVsync(platform::IRQ_EARLY);
    postVsync(platform::IRQ_VSYNC);
  }
  operate.record(0).keyMemory.enable = 0;
  for (int me = 0; me < 2; ++me) {
    keys[me].initialize();
    chroma[me].initialize();
    buses[me].initialize();
  }
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_ChromaAndKeyMemoryFrame)->Unit(benchmark::kMicrosecond);

// The mainframe configuration applied to all four MEs (clean feed at a layer point, both output
// points listing keys, the next transition selecting keys) and every DSK wired: split over the two
// program outputs by their ordering, flagged, clean outputs on the alternative feeds, the key fader
// on a key of ME 1.
void BM_MainframeConfigFrame(benchmark::State& state) {
  auto& config = category::CategoryMainframeConfig::instance();
  MxifMainframeConfig& r = config.record(0);
  for (int m = 0; m < 4; ++m) {
    MainframeMeConfig& c = r.meConfig[m];
    c.cleanTapMode = 1, c.cleanKey = static_cast<u8>(m);
    for (int n = 0; n < 4; ++n) c.tapAKeys[n] = c.tapBKeys[n] = 1;
    category::CategoryBkgd::instance()[m].record(0).nextKey[m] = 1;
    r.faderKeys[m].entries[1] = 1;
  }
  MainframeDskConfig& d = r.dskConfig;
  d.dskBackground1 = 3, d.dskBackground2 = 12, d.dskBackground2Own = 1, d.dskOption = 1, d.dskOutput2Source = 5;
  for (int n = 0; n < 4; ++n) {
    d.dskProgram[n] = static_cast<u8>(n % 2), d.dskFlag[n] = 1, d.dskCleanAlt[n] = static_cast<u8>(n / 2);
    category::CategoryDsk::instance().record(n).priority = static_cast<u8>(n);
  }
  r.faderSelect = 5;
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  for (int m = 0; m < 4; ++m) category::CategoryBkgd::instance()[m].initialize();
  category::CategoryDsk::instance().initialize();
  config.initialize();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_MainframeConfigFrame)->Unit(benchmark::kMicrosecond);

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
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_QuadLinkSdiFrame)->Unit(benchmark::kMicrosecond);

// A frame with the multi-pattern test mode on all four MEs: pattern sizes, dust, bus gains, key
// soft masks and bus filter modes set on every ME context, then written by the driver update.
void BM_TestPatternFrame(benchmark::State& state) {
  MxifTest& r = category::CategoryTest::instance()[1].record(0);
  const s16 values[] = {MxifTest::MULTI_PATTERN, 2, 50, 7, 25, 10, 10, 80, 80, 20, 3, 2};
  for (int n = 0; n < 12; ++n) r.values[n] = values[n];
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  r.values[0] = 0;
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_TestPatternFrame)->Unit(benchmark::kMicrosecond);

// A frame with every row of the four multiview outputs and of the extended display's composition
// laid out (five windows, the GUI's eight) and the genlock in fine lock on black burst, on the field
// where the genlock runs.
void BM_MultiviewAndGenlockFrame(benchmark::State& state) {
  static const int xs[8] = {0, 384, 768, 1152, 1536, 0, 0, 0};
  static const int sources[8] = {MX_IN_1, MX_IN_2, MX_ME2_PGM, MX_DSK_PGM1, MX_AUX1, MX_IN_3, MX_IN_4, MX_BLACK};
  for (int target : {MX_MULTI1, MX_MULTI2, MX_MULTI3, MX_MULTI4}) {
    for (int row = 0; row < N_ROW; ++row) mxMvSetRow(target, row, MX_MV_SIZE_1_2 + 3, 136 * row, 5, xs, sources);
  }
  for (int row = 0; row < N_ROW; ++row) {
    for (int call = 0; call <= 8; ++call) mxMvSetRow(MX_MULTI_GUI, row, MX_MV_SIZE_1_2, 0, 8, xs, sources);
  }
  for (int step = 0; step < 1000 && mxGenlockIsLocked() == 0; ++step) mxGenlockUpdate(1);
  platform::regPoke(0x40004510, 1);  // the glue field bit on which the genlock runs
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  platform::regPoke(0x40004510, 0);
  state.SetLabel(std::string(mxGenlockIsLocked() != 0 ? "genlock locked, " : "genlock NOT locked, ") +
                 budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_MultiviewAndGenlockFrame)->Unit(benchmark::kMicrosecond);

// A frame with all twelve colour correction units enabled: matrix mode, enable, level, twelve
// sector matrices and six coefficients written to each.
void BM_ColorCorrectFrame(benchmark::State& state) {
  auto& cc = category::CategoryColorCorrect::instance();
  for (int ch = 0; ch < MxifColorCorrect::N_CHANNELS; ++ch) {
    MxifColorCorrect& r = cc.record(ch);
    r.enable = 1, r.lumaGain = 1100, r.pedestal = 20, r.chromaGain = 900, r.hue = 450;
    for (s16& v : r.matrix6.value) v = 30;
  }
  for (auto _ : state) postVsync(platform::IRQ_VSYNC);
  for (int ch = 0; ch < MxifColorCorrect::N_CHANNELS; ++ch) cc.record(ch).enable = 0;
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_ColorCorrectFrame)->Unit(benchmark::kMicrosecond);

// One main-loop refresh that builds and uploads the tone curves of all twelve channels.
void BM_ColorCorrectCurves(benchmark::State& state) {
  auto& cc = category::CategoryColorCorrect::instance();
  for (auto _ : state) {
    state.PauseTiming();
    for (int ch = 0; ch < MxifColorCorrect::N_CHANNELS; ++ch) cc.record(ch).curvePoint[0].mask = 1;
    cc.update();  // flags every channel's curves
    state.ResumeTiming();
    cc.refresh();
  }
  state.SetLabel(budget(30000, " (the main loop's period)"));
}
BENCHMARK(BM_ColorCorrectCurves)->Unit(benchmark::kMicrosecond);

// A frame that applies a format change, formats 0 and 1 in turn: every block initialised for the
// format, the clips reset, and every format-dependent setting applied again.
void BM_FormatChangeFrame(benchmark::State& state) {
  auto present = [](int format) {
    MxifSystem r{};
    r.videoMask = MxifSystem::FORMAT;
    r.format = static_cast<u8>(format);
    category::CategorySystem::instance().assign(r, 0);
  };
  int format = 0;
  for (auto _ : state) {
    present(format ^= 1);
    postVsync(platform::IRQ_VSYNC);
  }
  present(0);
  postVsync(platform::IRQ_VSYNC);
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period)"));
}
BENCHMARK(BM_FormatChangeFrame)->Unit(benchmark::kMicrosecond);

// The routing steps of the system settings update alone (AUX 1, two outputs of each ME, four
// multiview inputs, four DSK stages), which every frame runs.
void BM_SystemRouting(benchmark::State& state) {
  for (auto _ : state) category::CategorySystem::instance().routeOutputs();
  state.SetLabel(budget(mxFramePeriodUs(), " (the frame period; part of every frame)"));
}
BENCHMARK(BM_SystemRouting)->Unit(benchmark::kMicrosecond);

}  // namespace

// --no-budget: the budget lines do not set the exit status (a run under callgrind, many times slower).
// --heavy-frames N: no benchmark, N frames of the heavy scene.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const bool budgets = !(argc == 2 && std::strcmp(argv[1], "--no-budget") == 0);
  const int heavyFrames = argc == 3 && std::strcmp(argv[1], "--heavy-frames") == 0 ? std::atoi(argv[2]) : 0;
  if (heavyFrames <= 0 && argc > (budgets ? 1 : 2)) {
    std::fprintf(stderr, "usage: %s [benchmark options] [--no-budget] | --heavy-frames N\n", argv[0]);
    return 2;
  }
  platform::BoardOptions options;
  options.clock = platform::ClockMode::Fast;
  platform::boardOpen(options);
  platform::setDebugEcho(false);
  platform::attachBoardModels();
  bpStart();
  // From here on the benchmarks raise the interrupts themselves.
  platform::vsyncSetAuto(false);
  if (heavyFrames > 0) return runHeavyFrames(heavyFrames);
  std::printf("Time and CPU are microseconds per run on this host; each must stay below the budget beside it.\n");
  bench::BudgetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const bool within = reporter.summarise();
  return reporter.failed() || (budgets && !within) ? 1 : 0;
}
