// Still players and the capture path: shadow state and the per-frame writer.
#include "Driver/still/still.h"

#include "Common/reg.h"
#include "Common/shared.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/core/format.h"
#include "Driver/display/display.h"
#include "Driver/still/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/shared.h"

namespace {

using namespace still_regs;

struct StillState {
  int countdown = 0;  // frames left of the running capture, 0 idle
  int captureStill = 0;
  u32 storeWord = 0;
  u32 captureMode = 0;
  u32 mode[N_STILL] = {};  // 0 frame, 1 field
  u8 enable[N_STILL] = {};
};

StillState& state() {
  static StillState s;
  return s;
}

u32 storeWord(int still) { return STORE_BASE + STORE_STRIDE * static_cast<u32>(still); }

int stillIndex(int channel) {
  MX_CHECK(MX_STILL_1 <= channel && channel <= MX_STILL_4);
  return (channel - MX_STILL_1) / 2;
}

// A still index where it is used as one.
void checkStill(int channel) { MX_CHECK(0 <= channel && channel < N_STILL); }

int validOffset(int still) {
  MX_CHECK(0 <= still && still < 4);
  return static_cast<int>(SMEM_STILL_VALID) + 4 * still;
}

// 720-line formats and the paired-FPGA mode share the player and store words of a 720-line picture.
bool smallWords() { return mxIs720Line(mxVideoFormat()) || mxPairedFpga(); }

u32 playerWord(const StillState& s, int still) {
  if (s.enable[still] != 0) return smallWords() ? SHOW_720 : SHOW;
  if (s.countdown > 0 && s.captureStill == still) return storeWord(still);
  u32 v = SharedMemory::instance().readWord(validOffset(still));
  u32 word = storeWord(still);
  if (v != 0) word += (v + 127) << VALID_SHIFT;
  if (s.mode[still] == 1 && !mxIs720Line(mxVideoFormat())) word &= ~FIELD_CLEAR;
  return word;
}

}  // namespace

void mxFrameCapture(int dst, int mode) {
  MX_CHECK(dst == 0 || (MX_STILL_1 <= dst && dst <= MX_STILL_4));
  if (dst == 0) return;
  StillState& s = state();
  // In the paired-FPGA mode a running capture is not restarted; the request is dropped whole, so the
  // capture that runs still marks its own still valid.
  if (mxPairedFpga() && s.countdown > 1) return;
  s.captureStill = (dst - MX_STILL_1) / 2;
  s.countdown = (mxIs720Line(mxVideoFormat()) || mxDisplayState() != 0) ? 3 : 4;
  s.captureMode = mode != 0 ? 1 : 0;
  s.storeWord = storeWord(s.captureStill);
}

void mxFrameSetMode(int channel, int mode) {
  int still = stillIndex(channel);
  MX_CHECK(mode == 0 || mode == 1);
  checkStill(still);
  state().mode[still] = static_cast<u32>(mode);
}

void mxFrameSetEnable(int channel, int enable) {
  int still = stillIndex(channel);
  MX_CHECK(enable == 0 || enable == 1);
  state().enable[still] = static_cast<u8>(enable);
}

void mxFrameClearStills() {
  MX_NOTE_CALL(0);
  for (int still = 0; still < N_STILL; ++still) SharedMemory::instance().writeWord(validOffset(still), 0);
}

void mxFrameUpdate() {
  StillState& s = state();
  const bool paired = mxPairedFpga();
  for (int still = 0; still < (paired ? 2 : N_STILL); ++still) {
    const u32 word = playerWord(s, still);
    if (paired) {
      mxWriteReg(PLAYER[2 * still], word);
      mxWriteReg(PLAYER[2 * still] + 4, word);
    } else {
      mxWriteReg(PLAYER[still], word);
    }
  }
  const u32 pairedBit = paired ? WRITING : 0;
  if (s.countdown < 1) {
    mxWriteReg(CAPTURE_CONTROL, CAPTURE_IDLE);
    mxWriteReg(CAPTURE_STORE, smallWords() ? SHOW_720 : SHOW);
    mxWriteReg(CAPTURE_STORE_2, (smallWords() ? IDLE_STORE_2_720 : IDLE_STORE_2) + pairedBit);
    return;
  }
  mxWriteReg(CAPTURE_CONTROL, s.captureMode);
  if (--s.countdown == 0) {
    mxWriteReg(CAPTURE_STORE, s.storeWord);
    mxWriteReg(CAPTURE_STORE_2, s.storeWord);
    checkStill(s.captureStill);
    SharedMemory::instance().writeWord(validOffset(s.captureStill), 1);
  } else {
    mxWriteReg(CAPTURE_STORE, s.storeWord | WRITING);
    mxWriteReg(CAPTURE_STORE_2, s.storeWord | pairedBit);
  }
}

void mxStillReset() { state() = StillState{}; }
