// Crosspoint routing setters: each stores the code of one destination in the crosspoint image.
#include "Driver/xpt/xpt.h"

#include <cmath>

#include "Driver/calllog.h"
#include "Driver/xpt/xptimage.h"
#include "Lib/Include/check.h"

namespace {

constexpr int ME_OUT_FIRST = 4512, ME_OUT_LAST = 4543;
constexpr int AUX_SRC_FIRST = 4544, AUX_SRC_LAST = 4556;
constexpr int AUX_ASSIGN_LAST = 4686;
constexpr int VMEM_LAST = 4494;
constexpr int ME_SOURCE_BASE = 4364;              // ME outputs and AUX sources: 148..192 on AUX buses
constexpr int AUX_ASSIGN_CODE = 224;
constexpr int DSK_INPUT_MARK = 32;
constexpr int ME_MARK = 16;
constexpr int OUTPUT_PAIRED_MULTI = 77;
constexpr int OUTPUT_AUX_BASE = 45;
constexpr int MV_BLACK = 18, MV_DSK_PGM1 = 16, MV_DSK_PGM2 = 17;

bool inRange(int v, int first, int last) { return first <= v && v <= last; }
bool isInputId(int src) { return inRange(src, MX_IN_1, MX_BLACK); }
bool isMeId(int src) { return inRange(src, ME_OUT_FIRST, ME_OUT_LAST); }
bool isAuxSrcId(int src) { return inRange(src, AUX_SRC_FIRST, AUX_SRC_LAST); }
bool isAuxBusId(int id) { return inRange(id, MX_AUX1, MX_AUX_LAST); }

u8 inputCode(int src) { return static_cast<u8>(mxMapSource(src) - MX_IN_1); }

// Outputs that exist in 4K mode, in output order.
constexpr int OUTPUTS_4K[] = {MX_OUT_1, MX_OUT_5, MX_OUT_9, MX_OUT_13, MX_OUT_15};

}  // namespace

int mxMapSource(int src) {
  if (!mxPairedFpga()) return src;
  if (inRange(src, MX_IN_1, MX_IN_32)) {
    int n = src - MX_IN_1 + 1;
    if (mx4kMode()) return (n - 1) % 4 == 0 ? MX_IN_1 + (n - 1) / 4 : MX_BLACK;
    return n > 16 ? MX_BLACK : src;
  }
  if (inRange(src, MX_STILL_3, MX_STILL_4 + 1) || inRange(src, MX_CLIP_3, MX_CLIP_4 + 1)) return MX_BLACK;
  return src;
}

void mxSetBusSource(int dst, int src) {
  MX_CHECK(MX_ABUS <= dst && dst <= MX_KEY4_S);
  bool isInput = isInputId(src);
  bool isMe = isMeId(src);
  MX_CHECK(isInput || isMe);
  int c = mxContextIndex();
  int d = dst - MX_ABUS + 16 * (c % 4);
  bool second = c >= 4;
  if (isMe && c == 0) MX_CHECK(MX_ME2_PGM <= src && src <= MX_ME2_KEYPVW);
  XptImage& x = xptImage();
  if (isMe) {
    // ME outputs always mark the first half.
    x.bytes[xpt::BUS_ME + d] = static_cast<u8>(ME_MARK + (src - (c == 0 ? MX_ME2_PGM : ME_OUT_FIRST)));
  } else {
    x.bytes[(second ? xpt::BUS_B : xpt::BUS) + d] = inputCode(src);
    x.bytes[(second ? xpt::BUS_ME_B : xpt::BUS_ME) + d] = 0;
  }
  if (c % 4 == 0 && (isMe || !second)) {  // the marker of ME1's bus d changed
    const u16 bit = static_cast<u16>(1u << d);
    x.me1TakesMe2 = static_cast<u16>(c == 0 && isMe ? x.me1TakesMe2 | bit : x.me1TakesMe2 & ~bit);
    x.setWord(xpt::ME2_FLAG, x.me1TakesMe2 != 0 ? 1 : 0);
  }
}

void mxSetDskSource(int dst, int src) {
  MX_NOTE_CALL(dst, static_cast<float>(src));
  MX_CHECK(MX_DSK1_F <= dst && dst <= MX_DSK_BKGD_PGM2);
  bool isInput = isInputId(src);
  bool isMe = isMeId(src);
  MX_CHECK(isInput || isMe);
  int d = dst - MX_DSK1_F;
  XptImage& x = xptImage();
  if (isInput) {
    MX_CHECK(MX_DSK1_F <= dst && dst <= MX_DSK4_S);
    x.bytes[xpt::DSK + d] = inputCode(src);
    x.bytes[xpt::DSK_ME + d] = DSK_INPUT_MARK;
  } else {
    int code = src - ME_OUT_FIRST;
    x.bytes[xpt::DSK_ME + d] = static_cast<u8>(dst <= MX_DSK4_S ? code : code / 2);
  }
}

void mxSetUskSource(int dst, int src) {
  MX_NOTE_CALL(dst, static_cast<float>(src));
  MX_CHECK(MX_USK1_F <= dst && dst <= MX_USK4_S);
  MX_CHECK(MX_IN_1 <= src && src <= MX_BLACK);
  xptImage().bytes[xpt::USK + (dst - MX_USK1_F)] = inputCode(src);
}

void mxSetInputKeyAssign(int target, int on, int usk) {
  MX_NOTE_CALL(target, static_cast<float>(on), static_cast<float>(usk));
  MX_CHECK(MX_IN_1 <= target && target <= MX_BLACK);
  MX_CHECK(MX_USK1_F <= usk && usk <= MX_USK4_S);
  xptImage().bytes[xpt::INPUT_KEY + (target - MX_IN_1)] = static_cast<u8>(on != 0 ? (usk - MX_USK1_F) / 2 : 4);
}

void mxSetDskFillSource(int dst, int src) {
  MX_CHECK(MX_DSK1 <= dst && dst <= MX_DSK4);
  bool isVmem = inRange(src, MX_STILL_1, VMEM_LAST);
  bool isCbgd = src == MX_CBGD_1 || src == MX_CBGD_2;
  MX_CHECK(isVmem || isCbgd);
  int code = isVmem ? (src - MX_STILL_1) / 2 : 8 + (src - MX_CBGD_1);
  xptImage().bytes[xpt::DSK_FILL + (dst - MX_DSK1) / 2] = static_cast<u8>(code);
}

void mxSetAuxSource(int dst, int src) {
  bool isAux = isAuxBusId(dst);
  bool isExt = inRange(dst, MX_EXT_OUT_1, MX_EXT_OUT_3);
  MX_CHECK(isAux || isExt);
  if (mxPairedFpga() && (src == MX_MULTI3 || src == MX_MULTI4)) src = MX_BLACK;
  bool isInput = isInputId(src);
  bool isMe = isMeId(src);
  bool isAuxSrc = isAuxSrcId(src);
  bool isAuxAssign = dst == MX_EXT_OUT_3 && inRange(src, MX_AUX1, AUX_ASSIGN_LAST);
  MX_CHECK(isInput || isMe || isAuxSrc || isAuxAssign);
  XptImage& x = xptImage();
  u8 code;
  if (isInput) {
    code = inputCode(src);
  } else if (isMe || isAuxSrc) {
    code = static_cast<u8>(src - ME_SOURCE_BASE);
  } else {
    int aux = (src - MX_AUX1) / 2;
    MX_CHECK(0 <= aux && aux < 24);
    code = aux < 4 ? static_cast<u8>(AUX_ASSIGN_CODE + aux) : x.bytes[xpt::AUX + 2 * aux];
  }
  x.bytes[isAux ? xpt::AUX + (dst - MX_AUX1) : xpt::EXT + (dst - MX_EXT_OUT_1)] = code;
}

void mxSetOutputSource(int dst, int src) {
  MX_CHECK(MX_OUT_1 <= dst && dst <= MX_OUT_MAX);
  bool isMe = isMeId(src);
  bool isAuxSrc = isAuxSrcId(src);
  bool isAux = isAuxBusId(src);
  MX_CHECK(isMe || isAuxSrc || isAux);
  int index = dst - MX_OUT_1;
  if (mx4kMode()) {
    index = -1;
    for (int k = 0; k < static_cast<int>(sizeof OUTPUTS_4K / sizeof OUTPUTS_4K[0]); ++k) {
      if (OUTPUTS_4K[k] == dst) index = k;
    }
    if (index < 0) return;  // no such output in 4K mode
  }
  int code;
  if (isAux) {
    code = OUTPUT_AUX_BASE + (src - MX_AUX1) / 2;
  } else if (mxPairedFpga() && (src == MX_MULTI3 || src == MX_MULTI4)) {
    code = OUTPUT_PAIRED_MULTI;
  } else {
    code = src - ME_OUT_FIRST;
  }
  xptImage().bytes[xpt::OUTPUT + index] = static_cast<u8>(code);
}

void mxSetAuxTransition(int ch, float position, int anc) {
  MX_CHECK(MX_AUX1 <= ch && ch <= MX_AUX4);
  int idx = (ch - MX_AUX1) / 2;
  MX_CHECK(0 <= idx && idx < N_AUX_TRANS);
  MX_CHECK(anc == 0 || anc == 1);
  float level = std::round((1.0f - position) * 1023.0f);
  u32 word = level >= 1023.0f ? 1023u : level > 0.0f ? static_cast<u32>(level) : 0u;  // NaN: 0
  if (anc == 1) word |= 0x10000;
  xptImage().setWord(xpt::AUX_TRANS + 4 * idx, word);
}

int mxSelectMemorySource(int src) {
  int index;
  bool even = (src - MX_STILL_1) % 2 == 0;
  if (inRange(src, MX_STILL_1, MX_STILL_4) && even) {
    index = (src - MX_STILL_1) / 2;
  } else if (inRange(src, MX_CLIP_1, MX_CLIP_4) && even) {
    index = 4 + (src - MX_CLIP_1) / 2;
  } else if (inRange(src, MX_CBGD_1, MX_MEM_BLACK_FADE)) {
    index = 8 + (src - MX_CBGD_1);
  } else {
    xptImage().bytes[xpt::MEMORY] = 0;
    MX_FAIL("NeverReachHere");
    return 0;
  }
  xptImage().bytes[xpt::MEMORY] = static_cast<u8>(index);
  return index;
}

void mxSetMeOutputSource(int dst, int src) {
  MX_NOTE_CALL(dst, static_cast<float>(src));
  bool isAux = dst == MX_AUX;
  bool isMe = dst == MX_ME_OUT_1 || dst == MX_ME_OUT_2;
  MX_CHECK(isAux || isMe);
  XptImage& x = xptImage();
  if (isAux) {
    MX_CHECK(src == MX_AUX || src == MX_BLACK);
    x.setWord(xpt::AUX_FLAG, src == MX_AUX ? 1 : 0);
    return;
  }
  MX_CHECK(src == MX_ABUS || src == MX_BBUS || src == MX_BLACK || (MX_KEY1_F <= src && src <= MX_KEY4_S));
  u32 code = src == MX_ABUS ? 2 : src == MX_BBUS ? 3 : src == MX_BLACK ? 0 : 18 + 4 * ((src - MX_KEY1_F) / 2);
  x.setWord(xpt::ME_OUTPUT + 4 * (2 * mxContextIndex() + (dst - MX_ME_OUT_1)), code);
}

void mxSetDskOutputSource(int dst, int src) {
  MX_NOTE_CALL(dst, static_cast<float>(src));
  u32 code;
  if (src == MX_BLACK) {
    code = 8;
  } else if (src == MX_BKGD) {
    code = 0;
  } else {
    MX_CHECK(MX_DSK1 <= src && src <= MX_DSK4);
    code = 4 + static_cast<u32>(src - MX_DSK1) / 2;
  }
  // A destination outside the four stages changes nothing: it must not overwrite the first one.
  if (!inRange(dst, MX_DSK_PGM1, MX_DSK_PGM2 + 1)) MX_FAIL("NeverReachHere");
  xptImage().setWord(xpt::DSK_STAGE + 4 * (dst - MX_DSK_PGM1), code);
}

void mxSetMultiviewSource(int dst, int src) {
  MX_NOTE_CALL(dst, static_cast<float>(src));
  MX_CHECK(MX_MULTI1 <= dst && dst <= MX_MULTI4);
  u8& slot = xptImage().bytes[xpt::MULTIVIEW + (dst - MX_MULTI1)];
  int offset = src - ME_OUT_FIRST;
  if (src == MX_BLACK) {
    slot = MV_BLACK;
  } else if (isMeId(src) && offset % 4 < 2) {
    slot = static_cast<u8>(offset / 4 * 2 + offset % 4);
  } else if (src == MX_DSK_PGM1) {
    slot = MV_DSK_PGM1;
  } else if (src == MX_DSK_PGM2) {
    slot = MV_DSK_PGM2;
  } else {
    slot = 0;
    MX_FAIL("NeverReachHere");
  }
}

void mxSetLayerContext(int context) {
  MX_CHECK(context == 0 || (MX_CONTEXT_ME1 <= context && context <= MX_CONTEXT_ME4B));
  xptImage().bytes[xpt::LAYER_CONTEXT] = static_cast<u8>(context == 0 ? 4 : context - MX_CONTEXT_ME1);
}

void mxSetDsk1First(int dsk) { xptImage().bytes[xpt::DSK1_FIRST] = dsk == MX_DSK1 ? 1 : 0; }

const u8* mxXptImage() { return xptImage().bytes; }
u32 mxXptWord(int offset) { return xptImage().word(offset); }
