#pragma once
// Training of the parallel serdes links between two FPGAs: per channel the input delay is centred
// on the usable window, the word boundary is shifted until the training word arrives, and the
// passing of horizontal sync is checked.
#include "Lib/Include/types.h"

struct MxSerdesLink {
  const char* name;  // for messages
  int nchannel;      // channels, below 64
  u32 control;       // control register
  u32 port;          // channel port: +0 channel select, +4 command (write) and status (read)
  int offset;        // taps added to the computed delay
  int rate;          // bit rate in Mb/s
  u32 pattern;       // expected training word
  u32 mask;          // bits of the status that carry the training word
};

// control = 4, 0; delay scan; bitslip; sync check; control = 0. Returns 0, or -1 at the first
// failing phase (logged at ERR).
int mxSerdesTrain(const MxSerdesLink& link);
// Up to three runs of mxSerdesTrain; returns the last result.
int mxSerdesTrainRetry(const MxSerdesLink& link);
// |steps| tap steps of one channel, or of every channel when channel is -1: down for negative
// steps, up otherwise.
void mxSerdesShiftDelay(const MxSerdesLink& link, int steps, int channel);

// The same for a row of the board's link table (Driver/i2c/i2c.h): source block as control register,
// destination block as channel port, bits as channels.
struct SerdesLink;
int mxSerdesTrainRetry(const SerdesLink& link);
void mxSerdesShiftDelay(const SerdesLink& link, int steps, int channel);

// Half a bit period in delay taps of 78 ps at rate Mb/s (truncated).
int mxSerdesHalfBitTaps(int rate);
// Delay and half window width that the last training found for a channel.
int mxSerdesDelay(int channel);
int mxSerdesHalfWidth(int channel);
// Forgets what the trainings found.
void mxSerdesReset();
