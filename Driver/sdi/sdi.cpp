// SDI input driver: the control shadow and its writer, the status writer with the 4K alignment
// check, the error counter poll and the restart of a stalled TICO decoder.
//
// Channels are numbered 0..31 as the inputs of the normal mode: 0-9 on ME1, 10-23 on ME2, 24-27 on
// SDI1, 28-31 on SDI2. A dual-link input k uses channels 2k and 2k + 1, a quad-link input k (k
// divisible by 4) channels k .. k + 3. Formats, flags, timing and receiver records are kept per
// channel.
#include "Driver/sdi/sdi.h"

#include <cstring>
#include <initializer_list>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/sdi/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

using namespace sdi_regs;

constexpr int N_INPUTS = 32;
constexpr int N_DUAL_INPUTS = 16;
constexpr int N_QUAD_GROUPS = 8;
constexpr int N_COUNTERS = 16;
constexpr int FIRST_CHANNEL[N_FPGA] = {0, 10, 24, 28};
constexpr int N_CHANNELS[N_FPGA] = {10, 14, 4, 4};

// Control bits of the quad-link inputs 1, 5, ..., 29 per FPGA: input 9 spans ME1 and ME2.
constexpr u32 QUAD_BITS[N_QUAD_GROUPS][N_FPGA] = {{1, 0, 0, 0}, {2, 0, 0, 0}, {4, 1, 0, 0}, {0, 2, 0, 0},
                                                  {0, 4, 0, 0}, {0, 8, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
constexpr int SPLIT_GROUP = 2;  // input 9

// Timing units of a frame: 1080-line 50 Hz in the paired mode, else the 59.94 Hz count.
constexpr int FORMAT_1080I50_PAIRED = 9;
constexpr u32 FRAME_UNITS_50 = 8000000, FRAME_UNITS_5994 = 6673333;
constexpr u32 WRAP_MARGIN = 1000;
constexpr int ALIGN_TOLERANCE = 160;
constexpr u32 WRAP_START = 159;

constexpr int LEVEL_A_FIRST_FORMAT = 8;
constexpr int FORMAT_NONE = -1, FORMAT_BAD = -2;
// Payload types whose top bits carry link flags.
constexpr u32 PAYLOAD_TYPE_A = 151, PAYLOAD_TYPE_B = 152;
constexpr int FLAG_ASYNC = 32;

constexpr u32 GAIN = 1024, OFFSET = 0;
// Identity and the conversion set 1.01953125, 0.0751953125, 0.115234375, 1.025390625, x 1024.
constexpr u32 IDENTITY[4] = {1024, 0, 0, 1024};
constexpr u32 CONVERSION[4] = {1044, 77, 118, 1050};

constexpr int TICO_COUNT_MAX = 60, TICO_COUNT_RESTART = 6;

enum class Mode { Normal, Dual, Quad };

// Control shadow: one word per FPGA for each function.
enum Word {
  LINK_1, ENABLED, WITH_COMPANION, CONVERT, UP_CONVERTER, LINK_2, LINK_3,
  SELECTED_1, SELECTED_2, SELECTED_OTHER, NON_LEVEL_A, N_WORDS
};
using Words = u32[N_FPGA];

struct Receiver {
  u32 counters[N_COUNTERS] = {};
  u8 flags[N_COUNTERS] = {};
};

struct SdiState {
  Words words[N_WORDS] = {};
  Words bad = {};  // quad-link groups found misaligned, at their first input's bits
  int format[RX_CHANNELS];
  int flags[RX_CHANNELS] = {};
  bool async[RX_CHANNELS] = {};
  u32 timing[RX_CHANNELS] = {};
  u8 convert[RX_CHANNELS] = {};  // colour conversion flag of the processing port
  Receiver rx[RX_CHANNELS];
  u32 channelOption = 0;  // a nibble per channel of SDI1 (low half) and SDI2 (high half)
  int pollGroup = 0;
  int ticoCount[2] = {};
  int delay = 0;  // the input delay of all four FPGAs
};

SdiState fresh() {
  SdiState s;
  for (int& f : s.format) f = FORMAT_NONE;
  return s;
}

SdiState& state() {
  static SdiState s = fresh();
  return s;
}

Mode boardMode() {
  if (mx4kMode()) return Mode::Quad;
  return mxPairedFpga() ? Mode::Dual : Mode::Normal;
}

int fpgaOf(int channel) {
  int f = N_FPGA - 1;
  while (channel < FIRST_CHANNEL[f]) --f;
  return f;
}

bool exists(int k) {
  switch (boardMode()) {
    case Mode::Dual: return k < N_DUAL_INPUTS;
    case Mode::Quad: return k % 4 == 0;
    default: return true;
  }
}

// Sets or clears the control bits of input k in a word of each FPGA by the board mode.
void mxSdiSetBit(Words& words, int k, bool on) {
  if (!exists(k)) return;
  u32 bits[N_FPGA] = {};
  if (boardMode() == Mode::Quad) {
    std::memcpy(bits, QUAD_BITS[k / 4], sizeof bits);
  } else {
    const int channel = boardMode() == Mode::Dual ? 2 * k : k;
    const int f = fpgaOf(channel);
    bits[f] = (boardMode() == Mode::Dual ? 3u : 1u) << (channel - FIRST_CHANNEL[f]);
  }
  for (int f = 0; f < N_FPGA; ++f) words[f] = on ? words[f] | bits[f] : words[f] & ~bits[f];
}

// The channels that carry input k.
struct Channels {
  int first = 0, count = 0;
};
Channels channelsOf(int k) {
  if (!exists(k)) return {};
  switch (boardMode()) {
    case Mode::Dual: return {2 * k, 2};
    case Mode::Quad: return {k, 4};
    default: return {k, 1};
  }
}

int setterInput(int ch) {
  MX_CHECK(MX_IN_1 <= ch && ch <= MX_IN_32);
  return ch - MX_IN_1;
}

// The channel whose status an input reports, -1 for inputs 17-32 in the dual-link mode.
int readerChannel(int channel) {
  MX_CHECK(MX_IN_1 <= channel && channel <= MX_IN_32);
  const int k = channel - MX_IN_1;
  if (boardMode() != Mode::Dual) return k;
  return k < N_DUAL_INPUTS ? 2 * k : -1;
}

const Receiver* receiverOf(int channel) {
  const int idx = readerChannel(channel);
  if (idx < 0) return nullptr;
  MX_CHECK(0 <= idx && idx < RX_CHANNELS);
  return &state().rx[idx];
}

bool bit(u32 word, int n) { return ((word >> n) & 1u) != 0; }

// ---- status writer -----------------------------------------------------------------------------

void writeProcessing(const SdiState& s) {
  for (int c = 0; c < RX_CHANNELS; ++c) {
    const int f = fpgaOf(c);
    const u32 P = FPGA[f] + PROCESS;
    mxWriteReg(P + P_CHANNEL, static_cast<u32>(c - FIRST_CHANNEL[f]));
    mxWriteReg(P + P_CONVERT, s.convert[c]);
    mxWriteReg(P + P_GAIN, GAIN);
    mxWriteReg(P + P_OFFSET, OFFSET);
    for (u32 i = 0; i < 4; ++i) mxWriteReg(P + P_IDENTITY + 4 * i, IDENTITY[i]);
    for (u32 i = 0; i < 4; ++i) mxWriteReg(P + P_CONVERSION + 4 * i, CONVERSION[i]);
  }
}

// Format, flags and timing of every channel.
void readChannels(SdiState& s, bool quad) {
  for (int f = 0; f < N_FPGA; ++f) {
    const u32 B = FPGA[f];
    const u32 nibbles[2] = {mxReadReg(B + FORMAT_LOW), N_CHANNELS[f] > 8 ? mxReadReg(B + FORMAT_HIGH) : 0};
    const u32 s1 = mxReadReg(B + STATUS_S1), s2 = mxReadReg(B + STATUS_S2), s3 = mxReadReg(B + STATUS_S3);
    const u32 payload = B + (f == ME2 ? PAYLOAD_ME2 : PAYLOAD);
    const u32 timing = B + (f == ME2 ? TIMING_ME2 : TIMING);
    for (int c = 0; c < N_CHANNELS[f]; ++c) {
      const int n = FIRST_CHANNEL[f] + c;
      const int at = static_cast<int>(STATUS_BIT_SHIFT) + c;
      const bool S1 = bit(s1, at), S2 = bit(s2, at), S3 = bit(s3, at);
      const int nibble = static_cast<int>((nibbles[c / 8] >> (4 * (c % 8))) & 15u);
      int format = nibble;
      if (nibble == static_cast<int>(NO_SIGNAL)) format = FORMAT_NONE;
      else if (S1) format = S2 && S3 ? FORMAT_BAD : nibble + 8;
      s.format[n] = format;

      const u32 S = mxReadReg(payload + 4 * static_cast<u32>(c));
      int flags = 0;
      if (S1) {
        flags = S2 ? 2 : 1;
        if ((S & 0xFF) == PAYLOAD_TYPE_A || (S & 0xFF) == PAYLOAD_TYPE_B) flags += 16 + static_cast<int>((S >> 28) & ~3u);
      } else if (quad) {
        flags = S2 ? 0 : 1;
      }
      s.flags[n] = flags;
      s.timing[n] = mxReadReg(timing + 4 * static_cast<u32>(c)) + (f == ME2 ? TIMING_ME2_LATE : 0);
    }
  }
}

// Whether two links of a group are out of step: more than the tolerance apart, unless one has just
// wrapped to the start of the frame while the other is still at its end.
bool outOfStep(u32 t0, u32 t, u32 limit) {
  if (t0 == TIMING_NONE || t == TIMING_NONE) return false;
  const long long d = static_cast<long long>(t0) - static_cast<long long>(t);
  if (d >= -ALIGN_TOLERANCE && d <= ALIGN_TOLERANCE) return false;
  const bool wrapped = (t0 <= WRAP_START && t >= limit) || (t <= WRAP_START && t0 >= limit);
  return !wrapped;
}

// The four links of every quad-link group: same format and link flags, and in step.
void checkGroups(SdiState& s) {
  const int code = mxVideoFormat() + (mxPairedFpga() ? 8 : 0);
  const u32 limit = (code == FORMAT_1080I50_PAIRED ? FRAME_UNITS_50 : FRAME_UNITS_5994) - WRAP_MARGIN;
  std::memset(s.bad, 0, sizeof s.bad);
  std::memset(s.words[NON_LEVEL_A], 0, sizeof s.words[NON_LEVEL_A]);
  for (int g = 0; g < N_QUAD_GROUPS; ++g) {
    bool bad = false, nonLevelA = false, flagged[4] = {};
    int ref = -1;
    for (int j = 0; j < 4; ++j) {
      const int n = 4 * g + j;
      const int format = s.format[n];
      if (format < 0) {
        if (format == FORMAT_BAD || (g == SPLIT_GROUP && bit(s.words[LINK_1][ME2], 0))) bad = true;
        continue;
      }
      if (format < LEVEL_A_FIRST_FORMAT) nonLevelA = true;
      if (ref < 0) {
        ref = n;
        continue;
      }
      if (format != s.format[ref] || (s.flags[n] & 3) != (s.flags[ref] & 3)) {
        bad = true;
        continue;
      }
      flagged[j] = outOfStep(s.timing[ref], s.timing[n], limit);
      bad = bad || flagged[j];
    }
    const u32* t = &s.timing[4 * g];
    for (int j = 0; j < 4; ++j) {
      const int n = 4 * g + j;
      if (flagged[j] && !s.async[n]) {
        MX_LOG(libmx::WARN, "ASYNC 4K SDI Input#%d [%d %d %d %d]", n, static_cast<int>(t[0]), static_cast<int>(t[1]),
               static_cast<int>(t[2]), static_cast<int>(t[3]));
      }
      s.async[n] = flagged[j];
    }
    mxSdiSetBit(s.bad, 4 * g, bad);
    mxSdiSetBit(s.words[NON_LEVEL_A], 4 * g, nonLevelA);
  }
}

// The select words, with input 9's aligned bits kept only when both halves report them.
void writeSelect(const SdiState& s) {
  u32 aligned[N_FPGA];
  for (int f = 0; f < N_FPGA; ++f) aligned[f] = mxReadReg(FPGA[f] + ALIGNED);
  const u32 splitMe1 = QUAD_BITS[SPLIT_GROUP][ME1], splitMe2 = QUAD_BITS[SPLIT_GROUP][ME2];
  if ((aligned[ME1] & splitMe1) == 0 || (aligned[ME2] & splitMe2) == 0) {
    aligned[ME1] &= ~splitMe1;
    aligned[ME2] &= ~splitMe2;
  }
  u32 me2Word = 0;
  for (int f = 0; f < N_FPGA; ++f) {
    const u32 second = s.words[SELECTED_1][f] | (aligned[f] & s.words[SELECTED_OTHER][f]);
    const u32 word = s.words[SELECTED_2][f] | s.bad[f] << SELECT_BAD_SHIFT | second << SELECT_SECOND_SHIFT;
    mxWriteReg(FPGA[f] + SELECT, word);
    if (f == ME2) me2Word = word;
  }
  mxWriteReg(FOUR_K_SELECT, (me2Word & 1u << SELECT_SECOND_SHIFT) != 0 ? 1 : (s.words[SELECTED_2][ME2] & 1));
}

// ---- poll -----------------------------------------------------------------------------------------

// Counter port offset of a channel: in the quad-link mode by its group.
u32 counterOffset(int n, bool quad) {
  const int c = n - FIRST_CHANNEL[fpgaOf(n)];
  if (quad && n < 12) return RX_COUNTERS + 4 * static_cast<u32>(n / 4);
  if (quad && n < 24) return RX_COUNTERS + static_cast<u32>((n - 12) & ~3);
  return RX_COUNTERS + 4 * static_cast<u32>(c);
}

void readCounters(Receiver& r, u32 R, u32 offset) {
  mxWriteReg(R + RX_CONTROL, RX_CONTROL_READ);
  for (u32 i = 0; i < N_COUNTERS; ++i) {
    mxWriteReg(R + RX_SELECT, i);
    const u32 a = mxReadReg(R + offset);
    mxWriteReg(R + RX_SELECT, i + N_COUNTERS);
    const u32 b = mxReadReg(R + offset);
    r.flags[i] = ((a | b) & RX_FLAG) != 0 ? 1 : 0;
    r.counters[i] = (a & RX_COUNT_MASK) - (b & RX_COUNT_MASK) + ((b & RX_BORROW) != 0 ? RX_WRAP : 0);
  }
}

void rearm(u32 R) {
  mxWriteReg(R + RX_CONTROL, RX_CONTROL_REARM);
  for (u32 i = 0; i < N_COUNTERS; ++i) {
    mxWriteReg(R + RX_SELECT, i);
    mxWriteReg(R + RX_SELECT, i + N_COUNTERS);
  }
  mxWriteReg(R + RX_CONTROL, RX_CONTROL_READ);
  mxWriteReg(R + RX_CONTROL, RX_CONTROL_RUN);
}

// Restarts the TICO decoder of SDI1 or SDI2 when it stalls with a signal present.
void checkTico(SdiState& s) {
  for (int t = 0; t < 2; ++t) {
    const u32 B = FPGA[SDI1 + t];
    int& count = s.ticoCount[t];
    if (count < TICO_COUNT_MAX) ++count;
    const u32 status = mxReadReg(B + TICO_STATUS);
    if ((status & TICO_STALLED) == 0 || count < TICO_COUNT_RESTART || (status & TICO_RUNNING) == TICO_RUNNING) continue;
    if ((mxReadReg(B + FORMAT_LOW) & 15u) == NO_SIGNAL) continue;
    count = 0;
    mxWriteReg(B + TICO_CONTROL, 7);
    mxWriteReg(B + TICO_CONTROL, 1);
    for (const auto& w : TICO_RESTART) mxWriteReg(B + w[0], w[1]);
    mxWriteReg(B + TICO_CONTROL, 0);
    consolePrintf("reset TICO %d\n", t);
  }
}

}  // namespace

// ---- setters ------------------------------------------------------------------------------------

void mxSdiSetLinkMode(int ch, int mode) {
  const int k = setterInput(ch);
  SdiState& s = state();
  const bool other = mode < 0 || mode > 2;
  mxSdiSetBit(s.words[LINK_1], k, mode != 0);
  mxSdiSetBit(s.words[LINK_2], k, mode == 2 || (other && mx4kMode()));
  mxSdiSetBit(s.words[LINK_3], k, other);
}

void mxSdiSetEnable(int ch, int on, int companion) {
  const int k = setterInput(ch);
  MX_CHECK(on == 0 || on == 1);
  MX_CHECK(companion == 0 || companion == 1);
  SdiState& s = state();
  mxSdiSetBit(s.words[ENABLED], k, on == 1);
  mxSdiSetBit(s.words[WITH_COMPANION], k, on == 1 && (mxPairedFpga() || companion == 1));
}

void mxSdiSetMode(int ch, int mode) {
  const int k = setterInput(ch);
  MX_CHECK(MX_SDI_NORMAL <= mode && mode <= MX_SDI_UC);
  if (mode == MX_SDI_UC) MX_CHECK(ch==MX_IN_27 || ch==MX_IN_28 || ch==MX_IN_31 || ch==MX_IN_32);
  SdiState& s = state();
  mxSdiSetBit(s.words[CONVERT], k, mode != MX_SDI_NORMAL);
  mxSdiSetBit(s.words[UP_CONVERTER], k, mode == MX_SDI_UC);
  const Channels c = channelsOf(k);
  for (int n = c.first; n < c.first + c.count; ++n) s.convert[n] = mode != MX_SDI_NORMAL ? 1 : 0;
}

void mxSdiSetInputSelect(int ch, int option) {
  const int k = setterInput(ch);
  SdiState& s = state();
  mxSdiSetBit(s.words[SELECTED_1], k, option == MX_SDI_SELECT_1);
  mxSdiSetBit(s.words[SELECTED_OTHER], k, option == MX_SDI_SELECT_OTHER);
  mxSdiSetBit(s.words[SELECTED_2], k, option == MX_SDI_SELECT_2);
}

void mxSdiSetDelay(int delay) {
  MX_NOTE_CALL(0, static_cast<float>(delay));
  MX_CHECK(0 <= delay && delay <= 2);
  if (!mx4kMode()) return;
  state().delay = delay;
  for (u32 base : FPGA) mxWriteReg(base + DELAY, static_cast<u32>(delay));
}

int mxSdiGetDelay() { return state().delay; }

void mxSdiSetChannelOption(int ch, int value, int kind) {
  const int k = setterInput(ch);
  MX_CHECK(kind == 0 || kind == 1);
  if (kind == 0) {
    MX_CHECK(ch==MX_IN_27 || ch==MX_IN_28 || ch==MX_IN_31 || ch==MX_IN_32);
  } else {
    MX_CHECK(ch==MX_IN_14 || ch==MX_IN_16);
    MX_CHECK(0 <= value && value <= 15);
  }
  if (!exists(k)) return;
  u32& option = state().channelOption;
  if (kind == 0) {
    const int shift = 4 * (k - FIRST_CHANNEL[SDI1]);
    option = (option & ~(15u << shift)) | (static_cast<u32>(value) & 15u) << shift;
    if (k < FIRST_CHANNEL[SDI2]) mxWriteReg(FPGA[SDI1] + CHANNEL_OPTION, option & 0xFFFF);
    else mxWriteReg(FPGA[SDI2] + CHANNEL_OPTION, option >> 16);
    return;
  }
  // Both links of the input, channels 2 and 3 of SDI1 (input 14) or SDI2 (input 16): the whole word.
  option = static_cast<u32>(value) * 0x1100;
  mxWriteReg(FPGA[ch == MX_IN_14 ? SDI1 : SDI2] + CHANNEL_OPTION, option);
}

// ---- readers -------------------------------------------------------------------------------------

int mxSdiGetFormat(int channel) {
  const int idx = readerChannel(channel);
  if (idx < 0) return FORMAT_NONE;
  MX_CHECK(0 <= idx && idx < RX_CHANNELS);
  return state().format[idx];
}

int mxSdiGetFormatFlags(int channel) {
  if (channel < MX_IN_1 || channel > MX_IN_32) return 0;
  const int idx = readerChannel(channel);
  if (idx < 0) return 0;
  const SdiState& s = state();
  return s.flags[idx] + (s.async[idx] ? FLAG_ASYNC : 0);
}

void mxSdiGetInfoBytes(int channel, u8* bytes) {
  const Receiver* r = receiverOf(channel);
  for (int i = 0; i < N_COUNTERS; ++i) bytes[i] = r != nullptr ? r->flags[i] : 0;
}

void mxSdiGetStatusWords(int channel, u32* words) {
  const Receiver* r = receiverOf(channel);
  for (int i = 0; i < N_COUNTERS; ++i) words[i] = r != nullptr ? r->counters[i] : 0;
}

int mxSdiGetStatusBit(int n) {
  const Words& w = state().words[SELECTED_2];
  if (n == 0 || n == 1) return bit(w[ME1], n) ? 1 : 0;
  if (n >= 2 && n <= 5) return bit(w[ME2], n - 2) ? 1 : 0;
  if (n == 6) return w[SDI1] != 0 ? 1 : 0;
  if (n == 7) return w[SDI2] != 0 ? 1 : 0;
  return 0;
}

// ---- format initialisation and writers -----------------------------------------------------------

void mxSdiInit() {
  mxSdiUpConverterInit();
  SdiState& s = state();
  for (Word w : {LINK_1, LINK_2, LINK_3, ENABLED, WITH_COMPANION}) std::memset(s.words[w], 0, sizeof s.words[w]);
  for (int k = 0; k < N_INPUTS; ++k) mxSdiSetLinkMode(MX_IN_1 + k, 1);
  mxWriteReg(FPGA[ME1] + INPUT_MASK, 0xFFFFFFFF);
  mxWriteReg(FPGA[ME2] + INPUT_MASK, 0xFFFFFFFF);
  mxWriteReg(FPGA[SDI1] + INPUT_MASK, 0xFFFF);
  mxWriteReg(FPGA[SDI2] + INPUT_MASK, 0xFFFF);
  if (!mx4kMode()) return;
  // The link routing of the 4K groups.
  struct Quad {
    u32 window[4], route0, route1;
  };
  constexpr Quad ME_QUAD[2] = {{{33280, 34816, 3584, 3584}, 33792, 0}, {{35840, 36352, 1024, 1536}, 33792, 34816}};
  for (int f = ME1; f <= ME2; ++f) {
    const u32 B = FPGA[f];
    mxWriteReg(B + QUAD_RESET, 0);
    for (u32 i = 0; i < 4; ++i) mxWriteReg(B + QUAD_WINDOW + 4 * i, ME_QUAD[f].window[i]);
    mxWriteReg(B + QUAD_ROUTE_0, ME_QUAD[f].route0);
    mxWriteReg(B + QUAD_ROUTE_1, ME_QUAD[f].route1);
  }
  for (u32 B : FPGA) {
    mxWriteReg(B + QUAD_TIMING_0, 110);
    mxWriteReg(B + QUAD_TIMING_1, 8);
  }
  for (int f = SDI1; f <= SDI2; ++f) {
    mxWriteReg(FPGA[f] + QUAD_ROUTE_0, 0);
    mxWriteReg(FPGA[f] + QUAD_WINDOW, 1024);
  }
}

void mxSdiUpdateControl() {
  const SdiState& s = state();
  const bool quad = boardMode() == Mode::Quad;
  for (int f = 0; f < N_FPGA; ++f) {
    const u32 B = FPGA[f];
    mxWriteReg(B + LINK1, s.words[LINK_1][f]);
    mxWriteReg(B + ENABLE, s.words[ENABLED][f]);
    const u32 X = s.words[LINK_2][f] & ~s.words[UP_CONVERTER][f];
    const u32 L3 = s.words[LINK_3][f];
    if (!quad) {
      mxWriteReg(B + LINK2, X);
      mxWriteReg(B + LINK3, L3);
      mxWriteReg(B + SELECT, X | s.words[CONVERT][f]);
      mxWriteReg(B + UP_CONVERT, s.words[UP_CONVERTER][f]);
      mxWriteReg(B + COMPANION, s.words[WITH_COMPANION][f]);
      continue;
    }
    mxWriteReg(B + LINK2, X | (s.words[NON_LEVEL_A][f] & L3) << 8);
    // A nibble of channels per group; ME2's first group is input 9's share, two channels.
    u32 mask = 0;
    for (int b = 0; b < 4; ++b) mask |= bit(L3, b) ? 0xFu << (4 * b) : 0;
    if (f == ME2) mask = (mask & ~0xFu) | ((s.words[LINK_3][ME1] & QUAD_BITS[SPLIT_GROUP][ME1]) != 0 ? 3u : 0u);
    mxWriteReg(B + LINK3, mask);
  }
}

void mxSdiUpdateStatus() {
  SdiState& s = state();
  const bool quad = boardMode() == Mode::Quad;
  writeProcessing(s);
  readChannels(s, quad);
  if (quad) {
    checkGroups(s);
  } else {  // only quad-link groups are compared
    std::memset(s.bad, 0, sizeof s.bad);
    std::memset(s.async, 0, sizeof s.async);
  }
  writeSelect(s);
}

void mxSdiPollInputs() {
  SdiState& s = state();
  const int f = s.pollGroup;
  s.pollGroup = (s.pollGroup + 1) % N_FPGA;
  const bool quad = boardMode() == Mode::Quad;
  const u32 R = FPGA[f] + RECEIVER;
  for (int n = FIRST_CHANNEL[f]; n < FIRST_CHANNEL[f] + N_CHANNELS[f]; ++n) {
    if (quad && n % 4 != 0) {
      s.rx[n] = Receiver{};
      continue;
    }
    readCounters(s.rx[n], R, counterOffset(n, quad));
  }
  rearm(R);
  checkTico(s);
}

void mxSdiReset() {
  state() = fresh();
  mxSdiUpConverterReset();
}
