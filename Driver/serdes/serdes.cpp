// Serdes link training: delay scan with window centring, bitslip, sync check.
#include "Driver/serdes/serdes.h"

#include <initializer_list>

#include "Driver/i2c/i2c.h"
#include "Driver/serdes/regs.h"
#include "Common/reg.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

namespace {

constexpr int MAX_CHANNELS = 63;
constexpr int TAPS = 32;
constexpr int MAX_DELAY = 32;
constexpr int SCAN_ROUNDS = 10;
constexpr int BITSLIP_TRIES = 8;
constexpr u32 SYNC_TIMEOUT_US = 10000;
constexpr double TAP_PS = 78.0;

// The board's links run at 1000 Mb/s and carry the training word 0x255 on ten bits; a link table
// row with further parameters gives its own word, delay offset and mask (ME1->CPU: 0x255, 5, 15).
constexpr int LINK_RATE = 1000;
constexpr u32 TRAINING_WORD = 0x255, TRAINING_MASK = 0x3FF;

MxSerdesLink describe(const SerdesLink& l) {
  const u32 word = l.extra[0] != 0 ? l.extra[0] : TRAINING_WORD;
  const u32 mask = l.extra[2] != 0 ? l.extra[2] : TRAINING_MASK;
  return MxSerdesLink{l.name, l.bits, l.source, l.destination, static_cast<int>(l.extra[1]), LINK_RATE, word & mask, mask};
}

int delaySum[MAX_CHANNELS];
int delayOf[MAX_CHANNELS];
int halfWidth[MAX_CHANNELS];

void command(const MxSerdesLink& l, u32 value) {
  mxWriteReg(l.port + SERDES_COMMAND, value);
  mxWaitUs(1);
}

u32 status(const MxSerdesLink& l) { return mxReadReg(l.port + SERDES_COMMAND); }

void select(const MxSerdesLink& l, int channel) {
  mxWriteReg(l.port + SERDES_SELECT, static_cast<u32>(channel));
  mxWaitUs(1);
}

void control(const MxSerdesLink& l, u32 value) {
  mxWriteReg(l.control, value);
  mxWaitUs(1);
}

void stepUp(const MxSerdesLink& l) {
  command(l, SERDES_UP);
  command(l, SERDES_UP | SERDES_STROBE);
  mxWaitUs(10);
}

void stepDown(const MxSerdesLink& l) {
  command(l, 0);
  command(l, SERDES_STROBE);
  mxWaitUs(10);
}

void bitslip(const MxSerdesLink& l) {
  for (u32 v : {SERDES_SLIP, SERDES_SLIP | SERDES_STROBE, SERDES_UP, SERDES_UP | SERDES_STROBE, 0u}) command(l, v);
}

void resetDelays(const MxSerdesLink& l) {
  for (int c = 0; c < l.nchannel; ++c) {
    select(l, c);
    command(l, SERDES_DELAY_RESET);
    command(l, 0);
  }
}

void trainerError(const MxSerdesLink& l, const char* reason) {
  MX_LOG(libmx::ERR, "ERROR: Serdes(%s) trainer: %s", l.name, reason);
}

// Finds the window of one channel: the first tap showing the training word (F) and, from there, the
// first showing its complement (E). The sampling point goes half a bit period beyond E.
bool scanChannel(const MxSerdesLink& l, int c) {
  select(l, c);
  mxWaitUs(10);
  const u32 alternate = l.mask & ~l.pattern;
  int first = -1, edge = -1;
  for (int tap = 0; tap < TAPS; ++tap) {
    const u32 s = status(l) & l.mask;
    if (first < 0) {
      if (s == l.pattern) first = tap;
    } else if (edge < 0 && s == alternate) {
      edge = tap;
    }
    stepUp(l);
  }
  if (first < 0 || edge < 0) return false;
  halfWidth[c] = (edge - first) / 2;
  const int delay = edge + mxSerdesHalfBitTaps(l.rate) + l.offset;
  if (delay > MAX_DELAY) return false;
  delaySum[c] += delay;
  return true;
}

bool delayScan(const MxSerdesLink& l) {
  control(l, SERDES_CONTROL_SCAN);
  for (int c = 0; c < l.nchannel; ++c) delaySum[c] = 0;
  for (int round = 0; round < SCAN_ROUNDS; ++round) {
    resetDelays(l);
    for (int c = 0; c < l.nchannel; ++c) {
      if (!scanChannel(l, c)) {
        trainerError(l, "delay margin");
        return false;
      }
    }
  }
  resetDelays(l);
  for (int c = 0; c < l.nchannel; ++c) {
    delayOf[c] = delaySum[c] / SCAN_ROUNDS;
    select(l, c);
    for (int i = 0; i < delayOf[c]; ++i) stepUp(l);
  }
  return true;
}

bool alignWords(const MxSerdesLink& l) {
  control(l, SERDES_CONTROL_BITSLIP);
  for (int c = 0; c < l.nchannel; ++c) {
    select(l, c);
    for (int i = 0; i < BITSLIP_TRIES; ++i) {
      if ((status(l) & 0xFF) == 1) break;
      bitslip(l);
    }
  }
  u32 locked[MAX_CHANNELS];
  bool ok = true;
  for (int c = 0; c < l.nchannel; ++c) {
    select(l, c);
    mxWaitUs(10);
    locked[c] = status(l) & 15;
    ok = ok && locked[c] == 1;
  }
  if (ok) return true;
  trainerError(l, "Bitslip cannot lock");
  for (int c = 0; c < l.nchannel; ++c) MX_LOG(libmx::ERR, "Bitslip %d:%d\n", c, static_cast<int>(locked[c]));
  return false;
}

// Waits until the status bits under mask change; false after 10 ms.
bool waitChange(const MxSerdesLink& l, u32 mask, const char* error) {
  const u32 before = status(l) & mask;
  const u32 start = mxGetTicks();
  while ((status(l) & mask) == before) {
    if (mxElapsedUs(start, mxGetTicks()) >= SYNC_TIMEOUT_US) {
      MX_LOG(libmx::ERR, "%s", error);
      return false;
    }
  }
  return true;
}

bool syncCheck(const MxSerdesLink& l) {
  control(l, SERDES_CONTROL_SYNC);
  command(l, SERDES_SYNC_ARM);
  select(l, 0);
  command(l, SERDES_SYNC_ARM | SERDES_SYNC_INPUT);
  if (!waitChange(l, SERDES_SYNC_INTERNAL, "ERROR: internal HSYNC")) return false;
  if (!waitChange(l, SERDES_SYNC_SEEN, "ERROR: input HSYNC")) return false;
  command(l, SERDES_SYNC_ARM);
  if (!waitChange(l, SERDES_SYNC_TRAINED, "ERROR: sync training")) return false;
  command(l, 0);
  return true;
}

}  // namespace

int mxSerdesHalfBitTaps(int rate) {
  MX_CHECK(rate > 0);
  return static_cast<int>(1000000.0 / rate / TAP_PS / 2.0);
}

int mxSerdesTrain(const MxSerdesLink& link) {
  const int nchannel = link.nchannel;
  MX_CHECK(nchannel < 64);
  MX_CHECK(nchannel > 0);
  control(link, SERDES_CONTROL_RESET);
  control(link, SERDES_CONTROL_IDLE);
  if (!delayScan(link) || !alignWords(link) || !syncCheck(link)) return -1;
  control(link, SERDES_CONTROL_IDLE);
  return 0;
}

int mxSerdesTrainRetry(const MxSerdesLink& link) {
  int result = -1;
  for (int run = 0; run < 3 && result != 0; ++run) result = mxSerdesTrain(link);
  return result;
}

void mxSerdesShiftDelay(const MxSerdesLink& link, int steps, int channel) {
  MX_CHECK(-1 <= channel && channel < link.nchannel);
  const int first = channel < 0 ? 0 : channel;
  const int last = channel < 0 ? link.nchannel : channel + 1;
  for (int c = first; c < last; ++c) {
    select(link, c);
    for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
      if (steps < 0) {
        stepDown(link);
      } else {
        stepUp(link);
      }
    }
  }
}

void mxSerdesReset() {
  for (int c = 0; c < MAX_CHANNELS; ++c) delaySum[c] = delayOf[c] = halfWidth[c] = 0;
}

int mxSerdesDelay(int channel) {
  MX_CHECK(0 <= channel && channel < MAX_CHANNELS);
  return delayOf[channel];
}

int mxSerdesHalfWidth(int channel) {
  MX_CHECK(0 <= channel && channel < MAX_CHANNELS);
  return halfWidth[channel];
}

int mxSerdesTrainRetry(const SerdesLink& link) { return mxSerdesTrainRetry(describe(link)); }

void mxSerdesShiftDelay(const SerdesLink& link, int steps, int channel) { mxSerdesShiftDelay(describe(link), steps, channel); }
