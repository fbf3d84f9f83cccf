// Multiview driver: row records of the five compositions, their per-format set-up and default
// layout, and the per-frame row writer with the enable sequencing.
#include "Driver/multiview/multiview.h"

#include "Common/reg.h"
#include "Driver/multiview/regs.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"

namespace {

constexpr int N_OUTPUT = 5;  // MX_MULTI1 .. MX_MULTI4, then MX_MULTI_GUI
constexpr int GUI = 4;
constexpr int N_WINDOW = 5, N_GUI_WINDOW = 8;
constexpr int GUI_WAIT = 8;   // calls of an eight-window row ignored after a reset
constexpr u32 BLANK_FRAMES = 4;
constexpr u32 GUI_WINDOW_SIZE = 135;
constexpr int AUTO_KEY_PVW = 4556;
constexpr int ME_FIRST = 4512, MV_LAST = MX_MULTI4, AUX_LAST = 4670;
constexpr int CODE_OFFSET = 4364;  // ME, DSK and multiview outputs: id - CODE_OFFSET
constexpr u32 AUTO_KEY_PVW_CODE = 192, AUX_CODE = 193;

struct Row {
  bool paired = false;
  int output = 0, row = 0;
  u32 windows = 0;       // R
  u32 control = 0;       // K
  u32 controlValue = 0;
  u32 limit = 0;         // L; 0 for output 4, which has none
  bool controlPending = false;
  int waitCount = 0;
  bool set = false;
  int count = 0;
  u32 size = 0, code = 0, start = 0;
  u32 x[N_GUI_WINDOW] = {}, source[N_GUI_WINDOW] = {};
  u32 blank = 0;
};

struct Driver {
  Row rows[N_OUTPUT][N_ROW];
  u32 unitWidth = 240, unitHeight = 136;  // of the eight-window row
};

Driver fresh() {
  Driver d;
  for (int o = 0; o < N_OUTPUT; ++o) {
    for (int r = 0; r < N_ROW; ++r) {
      Row& row = d.rows[o][r];
      const u32 uo = static_cast<u32>(o), ur = static_cast<u32>(r);
      row.output = o;
      row.row = r;
      if (o == GUI) {
        row.windows = MV_GUI_WINDOWS + MV_WINDOWS_ROW_STRIDE * ur;
        row.control = MV_GUI_CONTROL + MV_CONTROL_ROW_STRIDE * ur;
        row.controlValue = MV_GUI_CONTROL_VALUE;
      } else {
        row.windows = MV_WINDOWS + MV_WINDOWS_OUTPUT_STRIDE * uo + MV_WINDOWS_ROW_STRIDE * ur;
        row.control = MV_CONTROL + MV_CONTROL_OUTPUT_STRIDE * uo + MV_CONTROL_ROW_STRIDE * ur;
        row.controlValue = MV_CONTROL_VALUE + MV_CONTROL_OUTPUT_STEP * uo;
        row.limit = MV_LIMITS + 4 * uo;
      }
    }
  }
  return d;
}

Driver& driver() {
  static Driver d = fresh();
  return d;
}

Row& rowOf(int ch, int row) {
  MX_CHECK((MX_MULTI1 <= ch && ch <= MX_MULTI4) || ch == MX_MULTI_GUI);
  MX_CHECK(0 <= row && row < N_ROW);
  return driver().rows[ch == MX_MULTI_GUI ? GUI : ch - MX_MULTI1][row];
}

bool is720(int format) { return format == 2 || format == 3; }

// The window source code of a source id. In the paired-FPGA mode the sources the second FPGA lacks
// show black.
u32 sourceCode(int id, bool paired) {
  const bool isInput = MX_IN_1 <= id && id <= MX_BLACK;
  const bool isMe = ME_FIRST <= id && id < MX_DSK_PGM1;
  const bool isDsk = MX_DSK_PGM1 <= id && id < MX_MULTI1;
  const bool isMv = MX_MULTI1 <= id && id <= MV_LAST;
  const bool isAutoKeypvw = id == AUTO_KEY_PVW;
  const bool isAux = MX_AUX1 <= id && id <= AUX_LAST;
  MX_CHECK(isInput || isMe || isDsk || isMv || isAutoKeypvw || isAux);
  if (paired) {
    id = mxMapSource(id);
    if (id == MX_MULTI3 || id == MX_MULTI4) id = MX_BLACK;
  }
  if (id <= MX_BLACK) return static_cast<u32>(id - MX_IN_1);
  if (id <= MV_LAST) return static_cast<u32>(id - CODE_OFFSET);
  if (id == AUTO_KEY_PVW) return AUTO_KEY_PVW_CODE;
  return AUX_CODE + static_cast<u32>(id - MX_AUX1) / 2;
}

// A write to the row's control block. In the paired-FPGA mode outputs 0 and 1 also drive the mirror
// block of the second FPGA, and outputs 2 and 3 (which it takes) are not written.
void writeControl(const Row& r, u32 offset, u32 value) {
  if (!r.paired) {
    mxWriteReg(r.control + offset, value);
    return;
  }
  if (r.output > 1) return;
  mxWriteReg(r.control + offset, value);
  mxWriteReg(r.control + MV_MIRROR + offset, offset == MV_CTRL_WORD ? value + MV_MIRROR_FLAG : value);
}

u32 windowWord(const Row& r, int i) { return r.x[i] | r.source[i] << MV_SOURCE_SHIFT; }

// Start line, window size, layout, windows and window limits of a row.
void writeWindows(const Row& r) {
  writeControl(r, MV_CTRL_START, r.start - 1);
  writeControl(r, MV_CTRL_SIZE, r.size << MV_SIZE_SHIFT);
  u32 layout = 0;
  if (r.count > 0) {
    const u32 shape = r.code == 6 && r.count == 5 ? MV_LAYOUT_FIVE_SIXTHS : r.code * 2 + 1;
    layout = shape + (static_cast<u32>(r.count - 1) << MV_COUNT_SHIFT);
  }
  mxWriteReg(r.windows + MV_LAYOUT, layout);
  for (int i = 0; i < 4; ++i) mxWriteReg(r.windows + MV_WINDOW_0 + 4 * static_cast<u32>(i), windowWord(r, i));
  if (r.output != GUI && r.count == N_WINDOW) mxWriteReg(r.windows - MV_FIFTH_WINDOW_BELOW, windowWord(r, 4));
  if (r.limit != 0) {
    const u32 top = r.count == 0 ? MV_LIMIT_NONE : r.start + MV_LIMIT_TOP;
    const u32 bottom = r.count == 0 ? MV_LIMIT_NONE : top + r.size;
    const u32 row = static_cast<u32>(r.row) << MV_LIMIT_ROW_SHIFT;
    mxWriteReg(r.limit, top + row);
    mxWriteReg(r.limit, bottom + row + MV_LIMIT_LAST);
  }
  if (r.output == GUI && r.count == N_GUI_WINDOW) {
    const u32 upper = r.windows - MV_GUI_UPPER_BELOW - MV_GUI_UPPER_ROW_STRIDE * static_cast<u32>(r.row);
    for (int i = 0; i < 4; ++i) mxWriteReg(upper + 4 * static_cast<u32>(i), windowWord(r, 4 + i));
  }
}

void writeRow(Row& r) {
  bool controlWritten = false;
  if (r.controlPending && r.set) {
    // The new layout goes out once with the output off; the enable follows a frame later.
    writeControl(r, MV_CTRL_WORD, r.controlValue);
    r.controlPending = false;
    controlWritten = true;
  }
  writeWindows(r);
  if (r.blank > 0) {
    --r.blank;
  } else if (r.set && !controlWritten) {
    writeControl(r, MV_CTRL_WORD, r.controlValue | MV_ENABLE);
  }
}

template <class F>
void eachRow(F&& f) {
  for (auto& output : driver().rows) {
    for (Row& r : output) f(r);
  }
}

}  // namespace

void mxMvSetRow(int target, int row, int size, int start, int count, const int* xs, const int* sources) {
  MX_CHECK(0 <= row && row <= 3);
  MX_CHECK(MX_MV_SIZE_1_2 <= size && size <= MX_MV_SIZE_1_6);
  Row& r = rowOf(target, row);
  const bool eight = target == MX_MULTI_GUI && count == N_GUI_WINDOW;
  MX_CHECK(0 <= start && start < 2048);
  MX_CHECK((0 <= count && count <= 5) || eight);
  MX_CHECK(count == 0 || (sources != nullptr && (eight || xs != nullptr)));
  if (eight) {
    if (r.waitCount >= 1) {
      --r.waitCount;
      return;
    }
    u32 codes[N_GUI_WINDOW];
    for (int i = 0; i < N_GUI_WINDOW; ++i) codes[i] = sourceCode(sources[i], r.paired);
    const Driver& d = driver();
    r.size = GUI_WINDOW_SIZE;
    r.start = d.unitHeight * static_cast<u32>(row);
    r.code = is720(mxVideoFormat()) ? 9 : 8;
    r.count = N_GUI_WINDOW;
    for (int i = 0; i < N_GUI_WINDOW; ++i) {
      r.x[i] = d.unitWidth / 2 * static_cast<u32>(i);
      r.source[i] = codes[i];
    }
  } else {
    u32 codes[N_WINDOW] = {};
    for (int i = 0; i < count; ++i) {
      MX_CHECK(0 <= xs[i] && xs[i] < 4096);
      codes[i] = sourceCode(sources[i], r.paired);
    }
    const u32 h = mxFrameHeight();
    const int c = size - MX_MV_SIZE_1_2;
    r.size = c <= 3 ? h / static_cast<u32>(c + 2) : c == 4 ? 4 * h / 9 : c == 5 ? 2 * h / 7 : c == 6 ? h / 5 : h / 6;
    r.start = static_cast<u32>(start);
    r.code = static_cast<u32>(c);
    r.count = count;
    for (int i = 0; i < N_WINDOW; ++i) {
      r.x[i] = i < count ? static_cast<u32>(xs[i]) / 2 : 0;
      r.source[i] = codes[i];
    }
  }
  r.set = true;
}

void mxMvReset(int target) {
  for (int row = 0; row < N_ROW; ++row) {
    Row& r = rowOf(target, row);
    const u32 black = sourceCode(MX_BLACK, r.paired);
    r.size = mxFrameHeight() / 2 + 2;
    if (row < 2) {
      r.count = 2;
      r.code = 0;
      r.start = row == 0 ? 0 : mxFrameHeight() / 2;
      r.x[0] = 0;
      r.x[1] = mxFrameWidth() / 4;
      r.source[0] = r.source[1] = black;
    } else {
      r.count = 0;
      r.start = 0;
    }
    for (int i = 2; i < 4; ++i) r.x[i] = r.source[i] = 0;
    // The output stays off until its next layout.
    writeWindows(r);
    writeControl(r, MV_CTRL_WORD, r.controlValue);
    r.controlPending = true;
    r.set = false;
    r.waitCount = GUI_WAIT;
  }
}

void mxMvInitFormat() {
  Driver& d = driver();
  const int format = mxVideoFormat();
  d.unitWidth = is720(format) ? 160 : format == 4 || format == 5 ? 90 : 240;
  d.unitHeight = format == 4 ? 61 : format == 5 ? 72 : 136;
  const u32 units = (mxFrameWidth() + 127) / 128;
  eachRow([&](Row& r) {
    r.paired = r.output != GUI && mxPairedFpga();
    if (r.row == 0) {
      const u32 words[4] = {1, mxFrameHeight() + 4, 0, MV_FORMAT_LAST_LINE};
      for (u32 k = 0; k < 4; ++k) mxWriteReg(r.windows - MV_FORMAT_BELOW + 4 * k, words[k]);
    }
    writeControl(r, MV_CTRL_WORD, r.controlValue);
    writeControl(r, MV_CTRL_WIDTH, units << MV_WIDTH_SHIFT | MV_WIDTH_FLAGS);
  });
}

void mxMvUpdate() { eachRow(writeRow); }

void mxMvBlank() {
  eachRow([](Row& r) {
    r.blank = BLANK_FRAMES;
    writeControl(r, MV_CTRL_WORD, r.controlValue);
  });
}

void mxMvResetDriver() { driver() = fresh(); }
