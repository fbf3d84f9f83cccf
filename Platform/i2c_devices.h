#pragma once
// Models of the board devices that the FPGAs reach for the system: the I2C controllers with the
// devices on their buses, the GS4915 clock generator and the ispClock PLL, the SDI receivers and
// transmitters, the clock PLLs behind their dynamic reconfiguration ports, the XADC temperature
// alarms and the board status registers. Host only: tests and the host programs install them.
#include "Lib/Include/types.h"

namespace platform {

// Attaches every model below to the register file (idempotent) and resets them to a healthy board.
void installBoardDevices();
void removeBoardDevices();
// Back to a healthy board: every fault cleared, every device register 0, temperatures 40 C, the
// board status registers as below.
void resetBoardDevices();

// ---- I2C ----------------------------------------------------------------------------------------
// One device at a 7-bit address behind a command register: 256 byte registers and the faults a
// test can inject.
struct I2cDevice {
  u8 regs[256] = {};
  bool noAck = false;      // never acknowledges its address: writes are lost, reads give 0xFF
  int wrongReads = 0;      // this many following reads return the register inverted
  u32 writes = 0;          // bytes stored since the last reset
};
// The device at address adr (7 bit) on the bus of a command register (for example 0x84001024).
I2cDevice& i2cDevice(u32 commandRegister, u8 adr);
// A controller that never finishes a transfer: its busy bit (9) reads 1 for ever.
void i2cSetHung(u32 commandRegister, bool hung);

// ---- Clock parts: GS4915 (control 0x84000010, status 0x84000014) and ispClock (0x85000010,
// 0x85000014) --------------------------------------------------------------------------------------
// Writing 1 then 3 to the control register starts the part (2 then 3 resets the DVI receivers and
// leaves the part alone); the status reads bits 0 and 1 set once lockDelayUs have passed, unless the
// start is one of the first failStarts.
struct ClockPart {
  u32 lockDelayUs = 1000;
  int failStarts = 0;  // negative: never locks
  int starts = 0;      // starts seen since the last reset
};
ClockPart& gs4915();
ClockPart& ispClock();

// ---- SDI receivers and transmitters of the four video FPGAs (k = 0 ME1, 1 ME2, 2 SDI1, 3 SDI2) --
// Reads of base + 0xB00 carry lockB00 in bits 16 and up; base + 0xB50 reads lockB50. A write of 15
// to base + 0xB00 of ME1 begins a bring-up try; the first failTries tries report no lock at all.
struct SdiTransceiver {
  u32 lockB00 = 0;
  u32 lockB50 = 0;
};
SdiTransceiver& sdiTransceiver(int k);
void sdiSetFailTries(int tries);
int sdiTries();

// ---- Clock PLLs behind their reconfiguration ports (bases 0x82000400, 0x83000400, 0x84000400,
// 0x85000400, 0x40004400) ------------------------------------------------------------------------
// Ports 0..3 per base, each with 128 registers. Releasing a port's reset bit locks it (bit
// port + 16 of the base) unless the PLL is made to fail.
struct Pll {
  u16 drp[128] = {};
  int failLocks = 0;  // releases that do not lock; negative: never locks
  int releases = 0;
};
Pll& pll(u32 base, int port);
// A reconfiguration port whose ready bit never clears.
void pllSetStuck(u32 base, bool stuck);

// ---- XADC temperature alarms (ports 0x40000080, 0x82000080, 0x83000080, 0x84000080, 0x85000080) --
// The over-temperature bit (bit 0 of port + 0x0C) follows the programmed thresholds: set at or above
// the upper one, cleared below the lower one. Before an upper threshold is programmed the register
// reads as stored. Port + 0x08 reads the sensor's code of the temperature (bits 4..15).
void setFpgaTemperature(u32 port, double celsius);
u32 xadcRegister(u32 port, u32 adr);  // a threshold the system programmed (0x50 upper, 0x54 lower)
void xadcSetStuck(u32 port, bool stuck);

// Board status registers are plain registers that tests set with regPoke; resetBoardDevices gives
// them a healthy board: 0x81000024 (power and fan status) = BOARD_STATUS_OK, 0x81000020 (board word)
// = BOARD_WORD_NO_UNITS (bits 5 and 6 set: neither optional unit fitted).
constexpr u32 BOARD_STATUS_REG = 0x81000024, BOARD_WORD_REG = 0x81000020;
constexpr u32 BOARD_STATUS_OK = 0x67, BOARD_WORD_NO_UNITS = 0x60;

}  // namespace platform
