#pragma once
// Registers of the SDI input blocks of the four video FPGAs (ME1, ME2, SDI1, SDI2): control words
// with one bit per receiver channel, the detected-format and status words, the receivers' error
// counter ports, the input processing port, the TICO decoders of SDI1 and SDI2, and the
// up-converters of inputs 27, 28, 31 and 32. Offsets are from an FPGA's base (sdi_regs::FPGA).
#include "Lib/Include/memory_map.h"

namespace sdi_regs {

constexpr int N_FPGA = 4;
constexpr int ME1 = 0, ME2 = 1, SDI1 = 2, SDI2 = 3;
constexpr u32 FPGA[N_FPGA] = {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE};

// ---- Control words (a bit per channel, or per 4K group in quad-link mode) ----
constexpr u32 LINK1 = 0xC00;
constexpr u32 SELECT = 0xC04;     // normal and dual-link: link 2 | colour conversion; quad-link: the select word
constexpr u32 ENABLE = 0xC08;
constexpr u32 COMPANION = 0xC0C;
constexpr u32 LINK2 = 0xC18;      // quad-link: | (non-level-A & link 3) << 8
constexpr u32 LINK3 = 0xB30;      // quad-link: a nibble mask per group
constexpr u32 UP_CONVERT = 0x30;
constexpr u32 INPUT_MASK = 0xC14;        // written once per format
constexpr u32 CHANNEL_OPTION = 0xC1C;    // a nibble per channel (SDI1, SDI2)
constexpr u32 DELAY = 0xC48;             // 4K mode
constexpr u32 ALIGNED = 0xC54;           // read: groups whose links the hardware aligned
// Select word bits (quad-link): 13571 bits | bad groups << 16 | (13569 | aligned 13570) << 8.
constexpr u32 SELECT_BAD_SHIFT = 16, SELECT_SECOND_SHIFT = 8;
// The 4K output group's source select flag (ME2).
constexpr u32 FOUR_K_SELECT = MX_ME2_BASE + 0x3030;

// Quad-link constants written at format initialisation.
constexpr u32 QUAD_RESET = 0xC10;
constexpr u32 QUAD_ROUTE_0 = 0xC20, QUAD_ROUTE_1 = 0xC24;
constexpr u32 QUAD_WINDOW = 0xC30;  // four words
constexpr u32 QUAD_TIMING_0 = 0xC40, QUAD_TIMING_1 = 0xC44;

// ---- Status (read) ----
// Upper halves: bit 16 + channel.
constexpr u32 STATUS_S3 = 0xB10, STATUS_S1 = 0xB14, STATUS_S2 = 0xB18;
constexpr u32 STATUS_BIT_SHIFT = 16;
// Detected format nibbles: channels 0-7, then 8-13.
constexpr u32 FORMAT_LOW = 0xB20, FORMAT_HIGH = 0xB24;
constexpr u32 NO_SIGNAL = 15;
// A payload word and a timing word per channel (ME2's from + 8, its timing 32 units late).
constexpr u32 PAYLOAD = 0xB80, PAYLOAD_ME2 = 0xB88;
constexpr u32 TIMING = 0xC80, TIMING_ME2 = 0xC88;
constexpr u32 TIMING_ME2_LATE = 32;
constexpr u32 TIMING_NONE = 0xFFFFFF;

// ---- Receiver error counters: port at RECEIVER ----
constexpr u32 RECEIVER = 0xD00;
constexpr u32 RX_SELECT = 0;       // counter selector 0..31 (i, and i + 16 for its base value)
constexpr u32 RX_CONTROL = 4;      // 0 read, 2 re-arm, then 0, 1
constexpr u32 RX_COUNTERS = 64;    // a word per channel
constexpr u32 RX_CONTROL_READ = 0, RX_CONTROL_REARM = 2, RX_CONTROL_RUN = 1;
constexpr u32 RX_COUNT_MASK = 0xFFFFFF, RX_BORROW = 1u << 23, RX_FLAG = 1u << 24, RX_WRAP = 0x1000000;

// ---- Input processing port at PROCESS (select the channel, then its words) ----
constexpr u32 PROCESS = 0xF00;
constexpr u32 P_CHANNEL = 0, P_CONVERT = 16, P_GAIN = 20, P_OFFSET = 24;
constexpr u32 P_IDENTITY = 32, P_CONVERSION = 48;  // four coefficients each

// ---- TICO decoders (SDI1, SDI2) ----
constexpr u32 TICO_CONTROL = 0x4000, TICO_STATUS = 0x4004;
constexpr u32 TICO_STALLED = 1u << 4, TICO_RUNNING = 6;
// The restart after the control word's 7, 1: address, value pairs, then control 0.
constexpr u32 TICO_RESTART[][2] = {{0x422C, 2}, {0x4290, 2962}, {0x423C, 5}, {0x424C, 1}, {0x4100, 1}, {0x4238, 1}};

// ---- Up-converters ----
constexpr u32 UPCONV[4] = {0x84001400, 0x84001480, 0x85001400, 0x85001480};  // inputs 27, 28, 31, 32
constexpr u32 UC_TABLE_ADDRESS = 0, UC_TABLE_DATA = 4;
constexpr u32 UC_PROGRESSIVE = 8;
constexpr u32 UC_H_START = 12, UC_H_STEP = 16, UC_V_STEP = 20;
constexpr u32 UC_V_FIRST = 24, UC_V_LINES = 28, UC_H_PHASE = 32, UC_V_PHASE = 36, UC_V_START = 40;
constexpr u32 UC_WINDOW = 48;  // four words: at the start 1, -, 2; at the end 99, 18, 2 W + 99, H + 18
constexpr u32 UC_H_END = 68;
constexpr u32 UC_ENH_RESET = 64, UC_ENH_MODE = 72, UC_ENH_GAIN = 76, UC_ENH_LIMIT = 80, UC_ENH_OFF = 84;
constexpr u32 UC_ENH_CORE = 88, UC_ENH_CLIP = 92;
// Coefficient table addresses.
constexpr u32 UC_TABLE_H = 0, UC_TABLE_V = 4096, UC_TABLE_P = 6144;

}  // namespace sdi_regs
