// Clip players: state, format set-up, headers, cueing, the output selectors (stage 2) and playback
// with audio (stage 5).
#include "Driver/clip/clip.h"

#include <algorithm>
#include <initializer_list>

#include "Common/reg.h"
#include "Common/shared.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/clip/player.h"
#include "Driver/clip/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

constexpr int N_PLAYERS = N_CLIPS;
constexpr u32 RESET_CAPACITY = 16;
constexpr u32 PAIRED_FORMAT = 8;  // added to the stored format in paired-FPGA mode
constexpr u32 MIN_TRANSFER_US = 6000;
constexpr u32 TRANSFER_BYTES_PER_US = 75;
constexpr u32 DECODER_MARGIN_US = 999;

// Audio format words by format code (row 0 also serves any other code).
constexpr u32 AUDIO_FORMAT_WORDS[8][6] = {
    {0x452, 5, 0x32955F0, 0x6095465, 0xF0A, 0x8023A}, {0x452, 1, 0x13A55F0, 0x60AE000, 0xF0A, 0x8023A},
    {0x2D6, 5, 0x23355F0, 0x6095465, 0xA0A, 0x803FF}, {0x2D6, 1, 0x4B5C350, 0x60AE000, 0xA0A, 0x803FF},
    {0x1FB, 5, 0, 0, 0x59E, 0xB0112},                 {0x25C, 1, 0, 0, 0x59E, 0x70140},
    {0x452, 5, 0x1AAA410, 0x6095465, 0xF0A, 0x8023A}, {0x452, 1, 0x1AA2EE0, 0x60AE000, 0xF0A, 0x8023A},
};
// Bytes of the audio frame port.
constexpr u32 AUDIO_FRAME_BYTES = 24;
constexpr u32 AUDIO_FRAME_FIRST = 133, AUDIO_FRAME_SECOND = 8, AUDIO_FRAME_LAST = 24;

struct ClipDriver {
  bool built = false;
  ClipPlayer players[N_PLAYERS];
  int levelTurn = 0;
  double samplesPerVsync = 800.8;
};

ClipDriver& driver() {
  static ClipDriver d;
  return d;
}

bool is720() { return mxVideoFormat() == 2 || mxVideoFormat() == 3; }

// Register addresses, playback control base, clip memory and output selector of a player for the
// current format and board mode.
void placePlayer(ClipPlayer& p, int index) {
  const bool paired = mxPairedFpga();
  const u32 odd = static_cast<u32>(index & 1);
  p.index = index;
  p.exists = !paired || index < 2;
  p.encoder = CLIP_ENCODER;
  p.stats = CLIP_STATS;
  p.audio = CLIP_AUDIO_PLAYER + CLIP_AUDIO_PLAYER_STRIDE * static_cast<u32>(index);
  if (paired) {
    p.decoder = index == 0 ? CLIP_DECODER_1 : CLIP_DECODER_2;
    p.controlBase = odd * 512 + 0x1408;
    p.memoryBase = index == 0 ? 0x20000000 : 0xA0000000;
    p.output = index == 0 ? CLIP_OUTPUT_1 : index == 1 ? CLIP_OUTPUT_3 : 0;
  } else {
    p.decoder = (index < 2 ? CLIP_DECODER_1 : CLIP_DECODER_2) + odd * CLIP_DECODER_ODD;
    p.controlBase = static_cast<u32>(index + 20) * 256 + (is720() ? 8 : 20);
    p.memoryBase = 3u * static_cast<u32>(index) * 0x10000000u + (index < 2 ? 0x20000000u : 0x40000000u);
    p.output = index < 2 ? CLIP_OUTPUT_1 + 4 * static_cast<u32>(index) : CLIP_OUTPUT_3 + 4 * static_cast<u32>(index - 2);
  }
  if (!p.exists) p.decoder = p.output = 0;
}

ClipDriver& built() {
  ClipDriver& d = driver();
  if (!d.built) {
    for (int i = 0; i < N_PLAYERS; ++i) placePlayer(d.players[i], i);
    d.built = true;
  }
  return d;
}

ClipPlayer& playerOf(int target) {
  MX_CHECK(MX_CLIP_1 <= target && target <= MX_CLIP_4);
  return mxClipState((target - MX_CLIP_1) / 2);
}

u32 storedFormat() { return static_cast<u32>(mxVideoFormat()) + (mxPairedFpga() ? PAIRED_FORMAT : 0); }

int playLength(const ClipHeader& h) { return static_cast<int>(h.length != 0 ? h.length : h.count); }

// An in point inside a clip of count units: from 0, and before the last frame.
int clampIn(int in, int count) {
  if (in < 0) in = 0;
  if (in >= count) in = count - (is720() ? 1 : 2);
  return std::max(in, 0);
}

// The play range of the header's clip: an in point inside it and a length that ends inside it;
// none without a length or without units.
void setRange(ClipHeader& h, int in, int length) {
  const int count = static_cast<int>(h.count);
  if (length > 0 && count > 0) {
    in = clampIn(in, count);
    length = std::min(length, count - in);
  } else {
    in = length = 0;
  }
  h.in = static_cast<u32>(in);
  h.length = static_cast<u32>(length);
}

void writeDct(u32 port, const u32* dct) {
  for (u32 k = 0; k < 4; ++k) mxWriteRegFifo(port + 4 * k, dct + 8 * k, 8);
}

void initDecoders(u32 pixels, u32 lines, const u32* dct) {
  for (u32 block : {CLIP_DECODER_1, CLIP_DECODER_2}) {
    const u32 b = block + CLIP_DEC_SETUP;
    writeDct(b + CLIP_SETUP_DCT, dct);
    mxWriteReg(b + CLIP_SETUP_MODE, 0);
    mxWriteReg(b + CLIP_SETUP_BLOCKS, (lines / 16) * (pixels / 16) - 1);
    mxWriteReg(b + CLIP_SETUP_LAST_PIXEL, pixels - 1);
    mxWriteReg(b + CLIP_SETUP_LAST_LINE, lines - 1);
    mxWriteReg(b + CLIP_SETUP_ZERO_1, 0);
    mxWriteReg(b + CLIP_SETUP_ZERO_2, 0);
    mxWriteReg(b + CLIP_SETUP_LENGTH, CLIP_SETUP_LENGTH_VALUE);
  }
}

void initStatistics(u32 lines) {
  const bool paired = mxPairedFpga();
  mxWriteReg(CLIP_STATS + CLIP_STATS_MODE, CLIP_STATS_MODE_VALUE);
  mxWriteReg(CLIP_STATS + CLIP_STATS_LINES, (paired ? lines / 2 : lines) + 2);
  mxWriteReg(CLIP_STATS + CLIP_STATS_ADDRESS, 0);
  const u32 port = CLIP_STATS + CLIP_STATS_PORT;
  mxWriteReg(port, 0);
  for (int k = 1; k < 64; ++k) mxWriteReg(port, static_cast<u32>((255 + MX_CLIP_INTRA_MATRIX[k] / 2) / MX_CLIP_INTRA_MATRIX[k]));
  for (u32 k = 1; k <= 16; ++k) mxWriteReg(port, k);
  for (u32 k = 0; k < 8; ++k) mxWriteReg(port, (paired ? 4 : 3) + k);
}

void initAudio(ClipDriver& d) {
  const int format = mxVideoFormat();
  d.samplesPerVsync = mxClipSamplesPerVsync(format);
  const u32* words = AUDIO_FORMAT_WORDS[(format >= 0 && format < 8) ? format : 0];
  for (u32 k = 0; k < 6; ++k) mxWriteReg(CLIP_AUDIO_FORMAT + 4 * k, words[k]);
  mxWriteReg(CLIP_AUDIO_ZERO_1, 0);
  mxWriteReg(CLIP_AUDIO_ZERO_2, 0);
  u32 cadence[MX_CLIP_CADENCE_MAX];
  const int n = mxClipCadenceTable(format, cadence);
  mxWriteRegFifo(CLIP_AUDIO_CADENCE, cadence, static_cast<u32>(n));
  for (const ClipPlayer& p : d.players) {
    if (!p.exists) continue;
    mxWriteReg(p.audio + CLIP_AUDIO_ADDRESS, CLIP_AUDIO_ADDRESS_BASE + static_cast<u32>(p.index) * CLIP_AUDIO_ADDRESS_STEP);
    mxWriteReg(p.audio + CLIP_AUDIO_CONTROL, CLIP_AUDIO_STOP);
    mxWriteReg(p.audio + CLIP_AUDIO_LEVEL_A, CLIP_AUDIO_LEVEL_INIT);
  }
  mxWriteReg(CLIP_AUDIO_CAPTURE, CLIP_AUDIO_ADDRESS_BASE);
  mxWriteReg(CLIP_AUDIO_FORMAT_COPY, words[0]);
  mxWriteReg(CLIP_AUDIO_MODE, 0);
  mxWriteReg(CLIP_AUDIO_FRAME_RESET, 0);
  for (u32 k = 0; k < AUDIO_FRAME_BYTES; ++k) {
    const u32 v = k == 0 ? AUDIO_FRAME_FIRST : k == 1 ? AUDIO_FRAME_SECOND : k == AUDIO_FRAME_BYTES - 1 ? AUDIO_FRAME_LAST : 0;
    mxWriteReg(CLIP_AUDIO_FRAME_PORT, v);
  }
}

// Shows frame of the player's clip (header freshly read): mode 0 a field pair, 1 one frame held,
// 2 playing on. A running recording ends first. A frame outside the clip is still taken, and the
// playback wraps it, but it cues nothing.
void cue(ClipPlayer& p, int frame, int mode) {
  if (p.recording != 0) mxClipFinishRecording(p);
  p.playFrame = frame;
  if (mode == 2) {
    p.cue = -1;
    p.frameMode = false;
    return;
  }
  const int length = mxClipHeaderValid(p.header) ? playLength(p.header) : 0;
  if (frame < 0 || frame >= length) return;
  if (is720()) {
    p.frameMode = true;
    p.cue = 2;
  } else {
    p.frameMode = mode == 1;
    p.cue = (mode == 0 && (frame & 1) != 0) ? 1 : 2;
  }
}

void logDecoderErrors(const ClipPlayer& p) {
  const u32 word = mxReadReg(p.decoder + CLIP_DEC_LENGTH);
  const int uncorrectable = static_cast<int>(word >> CLIP_DEC_UNCORRECTABLE_SHIFT);
  const int corrected = static_cast<int>((word >> CLIP_DEC_CORRECTED_SHIFT) & 0xFF);
  if (uncorrectable != 0) {
    MX_LOG(libmx::ERR, "Clip%d: uncorrectable error %d times : corrected %d times\n", p.index + 1, uncorrectable, corrected);
  } else if (corrected != 0) {
    MX_LOG(libmx::ERR, "Clip%d: error corrected %d times\n", p.index + 1, corrected);
  }
}

// Playback steps of a player with a valid, non-empty clip; returns the unit issued or -1.
int issue(ClipPlayer& p, int field) {
  const ClipHeader& h = p.header;
  const int sequence = static_cast<int>(h.magic & 0xFF);
  const bool interlaced = mxClipInterlaced();
  if (p.cue == 0 && sequence != p.lastSequence) {
    // A new clip shows its first frame: a field pair where units are fields, else one frame.
    const bool fieldPair = interlaced && !mxPairedFpga();
    if (fieldPair ? h.count > 1 : h.count >= 1) cue(p, 0, fieldPair ? 0 : 1);
    p.lastSequence = sequence;
  }
  if (p.cue == 0) return -1;
  if (p.playFrame < 0 || p.playFrame >= playLength(h)) p.playFrame = 0;
  if (interlaced && !p.frameMode && (p.playFrame & 1) == field) return -1;  // shown on the next field
  logDecoderErrors(p);
  const bool paired = mxPairedFpga();
  mxWriteReg(p.decoder + CLIP_DEC_SOURCE, p.controlBase + (field != 0 ? 0 : paired ? 256 : 128));
  mxWriteReg(p.decoder + CLIP_DEC_FLAGS, h.flags & ClipHeader::FLAG_BANK_C);
  const u32 index = (static_cast<u32>(p.playFrame) + h.in + h.first) % h.capacity;
  ClipFrame unit;
  SharedMemory::instance().read(smemClipFrame(p.index, static_cast<int>(index)), &unit, sizeof unit);
  const u32 extra = (h.flags & ClipHeader::FLAG_ALWAYS) != 0 ? CLIP_DEC_LENGTH_FLAG : 0;
  mxWriteReg(p.decoder + CLIP_DEC_LENGTH, (unit.blocks - 1) * 256 + extra);
  mxWriteReg(p.decoder + CLIP_DEC_ADDRESS, unit.address | CLIP_DEC_GO);
  const int shown = p.playFrame;
  p.issued = true;
  p.shown = std::min(p.shown + 1, 2);
  if (!p.frameMode) ++p.playFrame;
  if (p.cue > 0) --p.cue;
  p.transferUs = std::max(unit.bytes / TRANSFER_BYTES_PER_US, MIN_TRANSFER_US);
  return shown;
}

// Audio playback follows the units shown (frame, or -1 when none was issued); capture watches the
// ring pointer.
void audioStep(ClipPlayer& p, int frame, int field) {
  const ClipHeader& h = p.header;
  const bool interlaced = mxClipInterlaced();
  if (p.capture) {
    const u32 v = mxReadReg(CLIP_AUDIO_POINTER);
    if (((v >> CLIP_AUDIO_STATE_SHIFT) & 3) < CLIP_AUDIO_STATE_RUNNING) p.capture = false;
    if ((v & CLIP_AUDIO_POINTER_MASK) >= CLIP_AUDIO_WRAP_MARK) p.wrapped = true;
  }
  if (!p.playArmed) {
    mxWriteReg(p.audio + CLIP_AUDIO_CONTROL, (p.capture || p.passThrough != 0) ? CLIP_AUDIO_THROUGH : CLIP_AUDIO_STOP);
    return;
  }
  if (interlaced && field == 0) return;
  const int f = interlaced ? (frame & ~1) : frame;
  if (p.playRunning && f == p.lastAudioFrame + (interlaced ? 2 : 1)) {
    p.lastAudioFrame = f;
    return;
  }
  mxWriteReg(p.audio + CLIP_AUDIO_CONTROL, CLIP_AUDIO_STOP);
  p.playRunning = false;
  if (f < 0 || f == p.lastAudioFrame) return;
  const s64 sample = static_cast<s64>((f + static_cast<s64>(h.in)) * driver().samplesPerVsync);
  if (sample < 0 || sample >= static_cast<s64>(h.audioSamples)) return;
  const u32 at = static_cast<u32>((sample + h.audioStart) & CLIP_AUDIO_SAMPLE_MASK);
  mxWriteReg(p.audio + CLIP_AUDIO_ADDRESS, at * 4 + (static_cast<u32>(p.index + 28) << 24));
  mxWriteReg(p.audio + CLIP_AUDIO_CONTROL, CLIP_AUDIO_PLAY);
  p.lastAudioFrame = f;
  p.playRunning = true;
}

void updatePlayer(ClipPlayer& p, int field) {
  if (!p.overrun) {
    mxWriteReg(p.decoder + CLIP_DEC_CONTROL, 0);
    mxWriteReg(p.decoder + CLIP_DEC_ADDRESS, 0);
  }
  p.issued = false;
  mxClipReadHeader(p);
  const bool valid = mxClipHeaderValid(p.header);
  int frame = -1;
  if (valid && p.header.count > 0 && p.recording == 0) {
    // After an overrun the decoders are still busy with the last units: nothing is issued.
    if (p.overrun) p.transferUs = 0;
    else frame = issue(p, field);
  }
  p.overrun = false;
  if (valid && p.recording != 0) mxClipRecordFrame(p.index);
  audioStep(p, frame, field);
}

// Starts the decoder of a pair (or of one player alone) and flags an overrun when the issued
// transfers would not end within the frame.
void startDecoders(ClipPlayer& even, ClipPlayer* odd) {
  const bool oddIssued = odd != nullptr && odd->issued;
  if (even.issued) {
    mxWriteReg(even.decoder + CLIP_DEC_CONTROL, CLIP_DEC_ARM_EVEN);
    mxWriteReg(even.decoder + CLIP_DEC_CONTROL, CLIP_DEC_GO_EVEN);
  } else if (oddIssued) {
    mxWriteReg(odd->decoder + CLIP_DEC_CONTROL, CLIP_DEC_ARM_ODD);
    mxWriteReg(odd->decoder + CLIP_DEC_CONTROL, CLIP_DEC_GO_ODD);
  }
  const u32 sum = (even.issued ? even.transferUs : 0) + (oddIssued ? odd->transferUs : 0);
  if (sum + DECODER_MARGIN_US >= mxFramePeriodUs()) {
    MX_LOG(libmx::WARN, "Clip play %f ms", sum / 1000.0);
    even.overrun = true;
    if (odd != nullptr) odd->overrun = true;
  }
}

void refreshLevels(ClipDriver& d) {
  ClipPlayer& p = d.players[d.levelTurn];
  d.levelTurn = (d.levelTurn + 1) % N_PLAYERS;
  if (!p.exists) return;
  const u32 a = mxReadReg(p.audio + CLIP_AUDIO_LEVEL_A), b = ~mxReadReg(p.audio + CLIP_AUDIO_LEVEL_B);
  p.level[0] = (a & 0xFFFF) + (b & 0xFFFF);
  p.level[1] = (a >> 16) + (b >> 16);
}

}  // namespace

// ---- shared with the recording ----------------------------------------------------------------------
ClipPlayer& mxClipState(int player) {
  MX_CHECK(0 <= player && player < N_PLAYERS);
  return built().players[player];
}

void mxClipReadHeader(ClipPlayer& p) { SharedMemory::instance().read(smemClipHeader(p.index), &p.header, sizeof p.header); }

void mxClipWriteHeader(const ClipPlayer& p) {
  SharedMemory::instance().write(smemClipHeader(p.index), &p.header, sizeof p.header);
}

// The front end may rewrite a header: one whose words would index outside the ring is no clip.
bool mxClipHeaderValid(const ClipHeader& h) {
  if ((h.magic & ClipHeader::MAGIC_MASK) != ClipHeader::MAGIC) return false;
  if (h.capacity < 1 || h.capacity > static_cast<u32>(CLIP_FRAMES)) return false;
  if (h.first >= h.capacity || h.count > h.capacity) return false;
  if (h.in > h.count || h.length > h.count - h.in) return false;
  return h.count == 0 || h.in < h.count;
}

bool mxClipInterlaced() { return !is720(); }

void mxClipAudioFinish(ClipPlayer& p) {
  if (p.capture) {
    mxWriteReg(CLIP_AUDIO_CAPTURE, static_cast<u32>(p.index + 28) << 24);
    const s64 address = (mxReadReg(CLIP_AUDIO_POINTER) >> 2) & 0x3FFFFF;
    const u32 count = mxClipHeaderValid(p.header) ? p.header.count : 0;
    const s64 needed = static_cast<s64>(count * driver().samplesPerVsync) + 16;
    s64 start = address - needed;
    bool stored = true;
    if (start < 0 && !p.wrapped) {
      MX_LOG(libmx::WARN, "invalid audio samples %d != %d", static_cast<int>(address), static_cast<int>(needed));
      stored = false;
    } else if (start < 0) {
      start += CLIP_AUDIO_RING_SAMPLES;
      MX_CHECK(start >= 0);
    }
    if (stored) {
      p.header.audioStart = static_cast<u32>(start);
      p.header.audioSamples = static_cast<u32>(needed);
      mxClipWriteHeader(p);
    }
    p.capture = false;
  }
  if (p.playArmed) {
    mxWriteReg(p.audio + CLIP_AUDIO_CONTROL, CLIP_AUDIO_STOP);
    p.playArmed = false;
    p.playRunning = false;
    p.lastAudioFrame = CLIP_NO_AUDIO_FRAME;
  }
}

// ---- entries of the core -------------------------------------------------------------------------------
void mxClipInit() {
  ClipDriver& d = built();
  const u32 pixels = (mxFrameWidth() + 15) / 16 * 16;
  const u32 lines = (mxFrameHeight() + 15) / 16 * (mxPairedFpga() ? 32 : 16);
  u32 dct[32];
  mxDctCoefficients(dct);
  initDecoders(pixels, lines, dct);
  writeDct(CLIP_ENCODER + CLIP_ENC_DCT, dct);
  mxWriteReg(CLIP_ENCODER + CLIP_ENC_MODE, 0);
  mxWriteReg(CLIP_ENCODER + CLIP_ENC_LAST_PIXEL, pixels - 1);
  mxWriteReg(CLIP_ENCODER + CLIP_ENC_LAST_LINE, lines - 1);
  initStatistics(lines);
  for (int i = 0; i < N_PLAYERS; ++i) placePlayer(d.players[i], i);
  initAudio(d);
}

void mxClipResetHeader(int target) {
  if (target != -1) MX_CHECK(MX_CLIP_1 <= target && target <= MX_CLIP_4);
  for (int i = 0; i < N_PLAYERS; ++i) {
    if (target != -1 && i != (target - MX_CLIP_1) / 2) continue;
    ClipPlayer& p = mxClipState(i);
    p.shown = 0;
    mxClipReadHeader(p);
    ClipHeader& h = p.header;
    h.magic = ClipHeader::MAGIC | ((h.magic + 1) & 0xFF);
    h.count = h.first = h.in = h.length = h.audioStart = h.audioSamples = 0;
    h.format = storedFormat();
    h.capacity = RESET_CAPACITY;
    h.flags = ClipHeader::FLAG_ALWAYS;
    mxClipWriteHeader(p);
  }
}

void mxClipUpdateOutputs() {
  const bool paired = mxPairedFpga();
  for (ClipPlayer& p : built().players) {
    if (p.output == 0) continue;
    u32 value;
    if (p.recording != 0 || p.passThrough != 0) {
      value = paired ? CLIP_OUTPUT_LIVE_PAIRED : is720() ? CLIP_OUTPUT_LIVE_720 : CLIP_OUTPUT_LIVE_OTHER;
    } else {
      const bool showing = mxClipHeaderValid(p.header) && p.header.count >= 1 && p.shown >= 1;
      value = p.controlBase + (showing ? CLIP_OUTPUT_PLAY : 0);
    }
    mxWriteReg(p.output, value);
    if (paired) mxWriteReg(p.output + 4, value);
    p.passThroughPrevious = p.passThrough;
  }
}

void mxClipUpdate() {
  ClipDriver& d = built();
  const int field = mxMeFieldBit();
  for (ClipPlayer& p : d.players) {
    if (p.exists) updatePlayer(p, field);
  }
  refreshLevels(d);
  if (mxPairedFpga()) {
    startDecoders(d.players[0], nullptr);
    startDecoders(d.players[1], nullptr);
  } else {
    startDecoders(d.players[0], &d.players[1]);
    startDecoders(d.players[2], &d.players[3]);
  }
}

// ---- setters and queries ---------------------------------------------------------------------------------
void mxClipGetInfo(int target, int* length, int* width, int* height, int* flag, int* audio) {
  ClipPlayer& p = playerOf(target);
  mxClipReadHeader(p);
  const ClipHeader& h = p.header;
  const int units = mxClipHeaderValid(h) ? playLength(h) : 0;
  *length = *width = *height = *flag = *audio = 0;
  if (units <= 0) return;
  *length = units;
  switch (h.format) {
    case 2:
    case 3: *width = 1920, *height = 720; break;
    case 4: *width = 720, *height = 256; break;
    case 5: *width = 720, *height = 288; break;
    default: *width = 1920, *height = 544; break;
  }
  *flag = static_cast<int>(h.flags & ClipHeader::FLAG_BANK_C);
  *audio = h.audioSamples > 0 ? 1 : 0;
}

int mxClipGetLength(int target) {
  ClipPlayer& p = playerOf(target);
  mxClipReadHeader(p);
  return mxClipHeaderValid(p.header) ? static_cast<int>(p.header.count) : 0;
}

int mxClipGetStatus(int target) { return playerOf(target).recording != 0 ? 1 : 0; }

void mxClipSetMode(int target, int frame, int mode) {
  ClipPlayer& p = playerOf(target);
  MX_CHECK(0 <= mode && mode <= 2);
  if (!p.exists) return;
  mxClipReadHeader(p);
  cue(p, frame, mode);
}

void mxClipArmAudioPlayback(int target) { playerOf(target).playArmed = true; }

void mxClipStop(int target) {
  MX_NOTE_CALL(target);
  ClipPlayer& p = playerOf(target);
  if (!p.exists) return;
  mxClipReadHeader(p);
  mxClipAudioFinish(p);
}

void mxClipSetPlayRange(int target, int in, int length) {
  ClipPlayer& p = playerOf(target);
  mxClipReadHeader(p);
  ClipHeader& h = p.header;
  if (!mxClipHeaderValid(h)) return;
  setRange(h, in, length);
  mxClipWriteHeader(p);
}

void mxClipTrim(int target, int start, int length) {
  ClipPlayer& p = playerOf(target);
  mxClipReadHeader(p);
  ClipHeader& h = p.header;
  if (!mxClipHeaderValid(h)) return;
  const int count = static_cast<int>(h.count);
  if (length >= 1 && count > 0) {
    start = clampIn(start, count);
    const int kept = std::min(length, count - start);
    h.first = (static_cast<u32>(start) + h.first) % h.capacity;
    if (h.audioSamples > 0) {
      const double perUnit = driver().samplesPerVsync;
      h.audioStart += static_cast<u32>(perUnit * start);
      h.audioSamples = static_cast<u32>(perUnit * kept);
    }
    h.count = static_cast<u32>(kept);
  } else {
    h.count = 0;
  }
  // The play range stays where it still fits the units kept.
  setRange(h, static_cast<int>(h.in), static_cast<int>(h.length));
  mxClipWriteHeader(p);
}

void mxClipSetEnable(int target, int enable) {
  ClipPlayer& p = playerOf(target);
  MX_CHECK(enable == 0 || enable == 1);
  p.passThrough = enable;
}

void mxClipGetAudioLevel(int target, u32* left, u32* right) {
  const ClipPlayer& p = playerOf(target);
  *left = p.level[0] << 8;
  *right = p.level[1] << 8;
}

void mxClipReset() { driver() = ClipDriver{}; }
