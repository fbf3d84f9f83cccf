// Clip recording: the start of a recording, the per-frame step that stores the encoder's unit and
// starts the next one with a rate-controlled quantiser, and the end of a recording.
#include <algorithm>

#include "Common/reg.h"
#include "Common/shared.h"
#include "Driver/clip/clip.h"
#include "Driver/clip/player.h"
#include "Driver/clip/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

constexpr int MAX_BLOCKS = 4399;
constexpr u32 BLOCK_BYTES = 256;
constexpr u32 BLOCK_OVERHEAD = 535, BLOCK_PAYLOAD = 248;  // blocks = (size + 535) / 248
constexpr u32 PLACEHOLDER_BLOCKS = 3, PLACEHOLDER_BYTES = 256;
constexpr float NO_SCALE = -1.0f;
constexpr float SCALE_MIN = 0.0625f, SCALE_MAX = 15.5f;
constexpr double BYTES_PER_TARGET = 1984.127;
constexpr double FIRST_SCALE = 0.125, TOP_SCALE = 12.0;
constexpr int ACTIVITY_STEPS = 8;

bool is720() { return !mxClipInterlaced(); }

// Activity bases of the format: without and with the larger bank, and the step per threshold.
void activityConstants(ClipPlayer& p, bool bankC) {
  struct Row {
    u32 base, baseC, step;
  };
  Row r;
  if (mxPairedFpga()) {
    r = {104196, 136836, 3300};
  } else {
    switch (mxVideoFormat()) {
      case 2:
      case 3: r = {46056, 60456, 1500}; break;
      case 4: r = {9336, 12216, 600}; break;
      case 5: r = {10484, 13724, 350}; break;
      default: r = {52176, 68496, 2400}; break;
    }
  }
  p.activityBase = bankC ? r.baseC : r.base;
  p.activityStep = r.step;
}

// Stores a unit at the write offset in the ring (the oldest unit makes room in a continuous
// recording; a counted one stops storing at the capacity).
void storeUnit(ClipPlayer& p, ClipFrame unit, u32 advance) {
  ClipHeader& h = p.header;
  unit.address = p.memoryBase + p.writeOffset;
  p.writeOffset = (p.writeOffset + advance) % CLIP_MEMORY_SIZE;
  u32 index;
  if (p.continuous) {
    if (h.count >= h.capacity) {
      index = h.first;
      h.first = (h.first + 1) % h.capacity;
    } else {
      index = h.count++;
    }
  } else {
    --p.toRecord;
    if (h.count >= h.capacity) return;
    index = h.count++;
  }
  SharedMemory::instance().write(smemClipFrame(p.index, static_cast<int>(index)), &unit, sizeof unit);
  p.lastIndex = static_cast<int>(index);
  p.lastField = p.encoderField;
  mxClipWriteHeader(p);
}

// Takes the unit the encoder finished since the last frame.
void takeUnit(ClipPlayer& p) {
  const u32 size = mxReadReg(p.encoder + CLIP_ENC_SIZE) & ~3u;
  if ((mxReadReg(p.encoder + CLIP_ENC_STATUS) & CLIP_ENC_DONE) == 0) {
    MX_LOG(libmx::ERR, "Clip record not complete %d byte", static_cast<int>(size));
    storeUnit(p, {0, PLACEHOLDER_BLOCKS, PLACEHOLDER_BYTES, NO_SCALE}, PLACEHOLDER_BLOCKS * BLOCK_BYTES);
    return;
  }
  const u32 blocks = (size + BLOCK_OVERHEAD) / BLOCK_PAYLOAD;
  if (blocks > MAX_BLOCKS) {
    MX_LOG(libmx::ERR, "Clip record too large %d byte", static_cast<int>(size));
    p.scale = NO_SCALE;
    return;
  }
  storeUnit(p, {0, blocks, size, p.scale}, blocks * BLOCK_BYTES);
  const double r = std::max(size * 480.0 * 1.05e-6 / p.target, 0.8);
  p.scale = std::clamp(static_cast<float>(r * p.scale), SCALE_MIN, SCALE_MAX);
}

// A new quantiser scale from the encoder's activity statistics, unless the scale is in use and the
// activity has not risen by more than 9 %.
void estimateScale(ClipPlayer& p) {
  s64 t[ACTIVITY_STEPS];
  const bool bankC = (p.header.flags & ClipHeader::FLAG_BANK_C) != 0;
  for (u32 k = 0; k < ACTIVITY_STEPS; ++k) {
    const s64 a = mxReadReg(p.stats + CLIP_STATS_BANK_A + 4 * k);
    const s64 b = mxReadReg(p.stats + CLIP_STATS_BANK_B + 4 * k);
    const s64 c = bankC ? mxReadReg(p.stats + CLIP_STATS_BANK_C + 4 * k) : 0;
    t[k] = p.activityBase + static_cast<s64>(p.activityStep) * k + (a + 3 * b / 4 + c) / 2;
  }
  const s64 previous = p.lastActivity;
  p.lastActivity = t[1];
  if (p.scale > 0 && previous >= 1 && 100.0 * static_cast<double>(t[1] - previous) / static_cast<double>(previous) <= 9) {
    return;
  }
  const double bytes = p.target * BYTES_PER_TARGET;
  double s = FIRST_SCALE;
  for (int k = 0; k < ACTIVITY_STEPS - 1; ++k) {
    if (bytes > static_cast<double>(t[k])) {
      if (k > 0) {
        const double part = (bytes - static_cast<double>(t[k])) / static_cast<double>(t[k - 1] - t[k]);
        s -= s / 2 * std::clamp(part, 0.0, 1.0);
      }
      p.scale = static_cast<float>(s);
      return;
    }
    s *= 2;
  }
  p.scale = static_cast<float>(TOP_SCALE);
}

// Starts the encoder on the next unit at the write offset with the scale's tables.
void startUnit(ClipPlayer& p) {
  const bool paired = mxPairedFpga();
  const int field = mxMeFieldBit();
  const u32 enc = p.encoder;
  mxWriteReg(enc + CLIP_ENC_CONTROL, 0);
  const bool sel = paired ? (p.index & 1) != 0 : p.index > 1;
  u32 source = paired ? CLIP_SOURCE_PAIRED : is720() ? CLIP_SOURCE_720 : CLIP_SOURCE_OTHER;
  if (field == 0) source += paired ? CLIP_FIELD_PAIRED : CLIP_FIELD_OTHER;
  mxWriteReg(enc + (sel ? CLIP_ENC_SOURCE_B : CLIP_ENC_SOURCE_A), source);
  mxWriteReg(enc + (sel ? CLIP_ENC_FLAGS_B : CLIP_ENC_FLAGS_A), p.header.flags & ClipHeader::FLAG_BANK_C);
  const u32 address = p.memoryBase + p.writeOffset;
  const u32 addressWord = enc + (sel ? CLIP_ENC_ADDRESS_B : CLIP_ENC_ADDRESS_A);
  mxWriteReg(addressWord, address & 0x7FFFFFFF);
  mxWriteReg(addressWord, address | CLIP_ADDRESS_GO);
  estimateScale(p);
  u32 table[64];
  mxClipLoadQuantTable(table, p.scale);
  mxWriteRegFifo(enc + CLIP_ENC_QUANT, table, 64);
  mxWriteReg(enc + CLIP_ENC_LIMIT_RESET, 0);
  for (int k = 0; k < 64; ++k) {
    const double v = static_cast<double>(p.scale) * MX_CLIP_INTRA_MATRIX[63 - k] * 65536.0;
    table[k] = static_cast<u32>(std::min(v, static_cast<double>(0xFFFFFF)));
  }
  mxWriteRegFifo(enc + CLIP_ENC_LIMIT, table, 64);
  mxWriteReg(enc + CLIP_ENC_CONTROL, sel ? CLIP_ENC_START_B : CLIP_ENC_START_A);
  p.encoderRunning = true;
  p.encoderField = field;
}

}  // namespace

void mxClipRecord(int target, int count, int flags) {
  MX_CHECK(MX_CLIP_1 <= target && target <= MX_CLIP_4);
  MX_CHECK(count >= -1);
  ClipPlayer& p = mxClipState((target - MX_CLIP_1) / 2);
  if (!p.exists) return;
  if (count == 0) {
    if (p.recording != 0) mxClipFinishRecording(p);
    return;
  }
  mxClipReadHeader(p);
  ClipHeader& h = p.header;
  const bool paired = mxPairedFpga();
  const bool half = (flags & 3) == 1;
  const bool bankC = (flags & 4) != 0;
  p.recording = 1;
  p.continuous = count == -1;
  p.toRecord = count;
  p.encoderRunning = false;
  p.lastField = -1;
  p.lastIndex = -1;
  p.target = (half ? 200.0f : 100.0f) * (paired ? 2 : 1);
  p.scale = half ? 0.25f : 0.5f;
  activityConstants(p, bankC);
  u32 capacity = half ? 1802 : 3602;
  if (paired) capacity = capacity / 2 + 1;
  if ((flags & 16) != 0 && mxClipHeaderValid(h) && h.count > 0) {
    // Append: the next unit goes behind the last stored one; the header stays as it is.
    const u32 last = (h.count - 1 + h.in + h.first) % h.capacity;
    ClipFrame unit;
    SharedMemory::instance().read(smemClipFrame(p.index, static_cast<int>(last)), &unit, sizeof unit);
    p.writeOffset = (unit.address - p.memoryBase + unit.blocks * BLOCK_BYTES) % CLIP_MEMORY_SIZE;
    p.playFrame = static_cast<int>(last);
    p.recordCapacity = h.capacity;
  } else {
    p.writeOffset = 0;
    p.playFrame = 0;
    p.recordCapacity = capacity;
    h.magic = ClipHeader::MAGIC | ((h.magic + 1) & 0xFF);
    h.count = h.first = h.in = h.length = h.audioStart = h.audioSamples = 0;
    h.format = static_cast<u32>(mxVideoFormat()) + (paired ? 8 : 0);
    h.capacity = capacity;
    h.flags = ClipHeader::FLAG_ALWAYS | (bankC ? ClipHeader::FLAG_BANK_C : 0);
  }
  if ((flags & 8) != 0) {
    const u32 select = static_cast<u32>(p.index + 28) << 24;
    mxWriteReg(CLIP_AUDIO_CAPTURE, select);
    mxWriteReg(CLIP_AUDIO_CAPTURE, select + CLIP_AUDIO_GO);
    p.capture = true;
    p.wrapped = false;
    p.playArmed = false;
    p.lastAudioFrame = CLIP_NO_AUDIO_FRAME;
  }
  mxClipWriteHeader(p);
}

void mxClipRecordFrame(int player) {
  ClipPlayer& p = mxClipState(player);
  ClipHeader& h = p.header;
  if (!p.continuous && p.toRecord <= 0) {
    mxClipFinishRecording(p);
    return;
  }
  if (p.encoderRunning) {
    if (mxClipInterlaced() && p.lastIndex < 0 && p.encoderField == 1) {
      // Units pair into frames from field 0 on: the first one starts again.
      MX_LOG(libmx::WARN, "Clip record start field %d", p.encoderField);
    } else if (mxClipInterlaced() && p.lastField == p.encoderField) {
      MX_LOG(libmx::ERR, "Clip record field %d %d", p.lastField, p.encoderField);
    } else {
      takeUnit(p);
    }
  }
  if (!p.continuous && (p.toRecord <= 0 || h.count >= p.recordCapacity)) {
    mxClipFinishRecording(p);
    return;
  }
  startUnit(p);
}

void mxClipFinishRecording(ClipPlayer& p) {
  ClipHeader& h = p.header;
  p.recording = 0;
  p.encoderRunning = false;
  if (mxClipInterlaced()) {
    // Whole frames only.
    h.count &= ~1u;
    h.first &= ~1u;
  }
  mxClipWriteHeader(p);
  mxClipAudioFinish(p);
}
