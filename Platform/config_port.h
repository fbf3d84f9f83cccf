#pragma once
// Board model of the FPGA configuration ports: mode word (+0x0), PROG (+0x4), status (+0x8: bit 0
// INIT_B, bit 1 DONE) and data (+0xC). After a PROG pulse INIT_B rises; the first data word is the
// image's length word and DONE rises once that many bytes have arrived. Host only.
#include "Platform/platform.h"

namespace platform {

// The seven ports: glue, lan1, lan2, me1, me2, sdi1, sdi2.
constexpr int CONFIG_PORTS = 7;
constexpr u32 CONFIG_PORT_ADR[CONFIG_PORTS] = {0x40000100, 0x81000800, 0x81000900, 0x81000400,
                                               0x81000500, 0x81000600, 0x81000700};
// INIT_B rises this long after the end of a PROG pulse.
constexpr u32 CONFIG_INIT_US = 40;

enum class ConfigFault {
  None,
  NoInitB,   // INIT_B never rises after PROG
  NoDone,    // the image is taken but DONE never rises
  CrcError,  // INIT_B falls at the end of the image
};

// Every port unconfigured (INIT_B high, DONE low) and without faults.
void configPortReset();
void configPortSetFault(int port, ConfigFault fault);
bool configPortDone(int port);
u32 configPortMode(int port);
// Data words of the image received since the last PROG pulse (the length word included, the
// clocking words after the image excluded), and a checksum over them in arrival order.
u32 configPortWords(int port);
u32 configPortChecksum(int port);
// Every data write since the last PROG pulse, image and clocking words alike.
u32 configPortReceived(int port);
// The checksum that configPortChecksum gives for n words received in order.
u32 configChecksum(const u32* words, u32 n);

}  // namespace platform
