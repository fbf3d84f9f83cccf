#pragma once
// The SDI inputs of the four video FPGAs (k = 0 ME1, 1 ME2, 2 SDI1, 3 SDI2) as the input driver
// polls them. The receivers' error counter ports (base + 0xD00) answer a read of + 64 + 4c with
// the word that a test set for the selector last written to + 0. The format nibbles, the status
// bits, payload and timing words, + 0xC54 and the TICO status words (+ 0x4004) are plain registers
// that tests set with regPoke; sdiSetDetectedFormat writes the ones that decode to a format.
// Host only.
#include "Lib/Include/types.h"

namespace platform {

constexpr int SDI_SELECTORS = 32, SDI_COUNTER_WORDS = 16;

struct SdiReceiver {
  u32 words[SDI_SELECTORS][SDI_COUNTER_WORDS] = {};  // [selector][(offset - 64) / 4]
  u32 selector = 0;
};
SdiReceiver& sdiReceiver(int k);

// Makes input 1..32 (as numbered in the normal mode: 1-10 ME1, 11-24 ME2, 25-28 SDI1, 29-32 SDI2)
// report a detected format: -2 (bad link: all three status bits), -1 (no signal: nibble 15),
// 0..14 (the nibble, no status bits) or 15..22 (status bit S1 with nibble format - 8).
void sdiSetDetectedFormat(int input, int format);

// The board device model (Platform/i2c_devices.cpp), which answers the SDI register range of each
// FPGA, hands the receiver ports' accesses here; a read that returns false keeps the stored value.
bool sdiReceiverRead(u32 adr, u32& value);
void sdiReceiverWrite(u32 adr, u32 value);
// Clears every receiver (resetBoardDevices).
void sdiInputsReset();

}  // namespace platform
