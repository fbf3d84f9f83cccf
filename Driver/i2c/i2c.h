#pragma once
// The I2C channels of the board and the board device bring-up that the video format initialisation
// runs: GS4915 clock generator, inter-FPGA sync timing, SDI receivers and transmitters with the
// ispClock PLL, and the serdes delay entry.
#include "Driver/blocks.h"
#include "Driver/serdes/serdes.h"  // trains the rows of the link table below
#include "Lib/Include/types.h"

// ---- I2C channels ----------------------------------------------------------------------------------
constexpr int I2C_ID_MAX = 9;

struct I2cChannel {
  int channel;
  u32 command;  // command register
  u8 address;   // 7-bit device address
};

// Opens channel 0..8: writes 125 to its controller register.
I2cChannel i2cOpen(int channel);
// The device register's byte, or -1 when the controller did not finish a transfer.
int i2cRead(const I2cChannel& ch, u8 reg);
// Returns false when the controller did not finish a transfer.
bool i2cWrite(const I2cChannel& ch, u8 reg, u8 value);
// Writes, and with a non-zero mask reads back in up to five rounds, writing again after a round
// whose two reads both differ under the mask. Returns whether the value was confirmed (always true
// for mask 0).
bool i2cWriteVerify(const I2cChannel& ch, u8 reg, u8 value, u8 mask);

// A controller busy bit that stays set this long ends the transfer as failed.
constexpr u32 I2C_TIMEOUT_US = 10000;

// ---- Board devices -----------------------------------------------------------------------------------
// All read the driver core's format state (Driver/core/core.h). Mode flag A of these routines is the core's
// paired-FPGA flag (mxPairedFpga: stored board mode not 0), mode flag B its 4K flag (mx4kMode: stored
// board mode 2); the line offset D is mxGetLineOffset.
// Format code and mode flags to the FPGAs, clock PLLs, GS4915. Returns 1000 when the GS4915 locked,
// else -1.
int initDevices();
void initSyncTiming();
void initSyncTiming2();
// ispClock, SDI receivers and transmitters (until sdiStatus() gives SDI_STATUS_OK), the output
// down-converters (mxOutConvStart), SDI delays. Stops after the ispClock when that does not lock.
void initSdiTransceivers();
constexpr int SDI_STATUS_OK = 0x77FFFF7;
// Status word of the SDI receivers and transmitters from the four FPGAs' registers (0x77FFFF7 when
// every receiver and transmitter locked).
u32 sdiStatus();

// ---- Serdes links between the FPGAs -----------------------------------------------------------------
constexpr int N_SERDES_LINKS = 7;

struct SerdesLink {
  const char* name;
  u32 source;       // register block on the sending side
  u32 destination;  // register block on the receiving side
  int bits;         // channels
  u32 extra[3];     // further parameters of the ME1->CPU link
};
// Link 0..6 (asserted).
const SerdesLink& serdesLink(int link);

// Delay 0: trains the link; otherwise shifts every channel of the link by delay taps. Returns -1 for
// a link outside 0..6, else the training result (0 for a shift).
int adjustSerdesDelay(int link, int delay);
// Trains links 0..6.
void adjustAllSerdesDelays();
