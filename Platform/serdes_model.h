#pragma once
// Board model of the serdes links between the FPGAs: per link a control register (the sending
// side) and a channel port (the receiving side: +0 channel select, +4 command on write and status on
// read), per channel a 32-tap input delay line and a word boundary that bitslips move. The status
// shows the training word while the tap lies inside the channel's window, its complement outside,
// the lock state while bitslipping (control 2), and running sync counters (control 3). Host only.
#include "Platform/platform.h"

namespace platform {

struct SerdesLinkModel {
  const char* name;
  u32 control;  // control register
  u32 port;     // channel port
  int channels;
};
constexpr int SERDES_LINKS = 7;
constexpr SerdesLinkModel SERDES_LINK[SERDES_LINKS] = {
    {"ME1->ME2", 0x82000700, 0x83000620, 37}, {"ME2->ME1", 0x83000720, 0x82000600, 20},
    {"SDI1->ME2", 0x84000700, 0x83000600, 8}, {"ME2->SDI1", 0x83000700, 0x84000600, 3},
    {"SDI2->ME2", 0x85000700, 0x83000610, 8}, {"ME2->SDI2", 0x83000710, 0x85000600, 3},
    {"ME1->CPU", 0x82000710, 0x40004600, 3},
};
constexpr u32 SERDES_DEFAULT_PATTERN = 0x255;

// Every link idle with the default windows (channel c: taps 2 + c % 3 up to 10 + c % 3), the
// default training word, locks after c % 8 bitslips, running sync counters.
void serdesReset();
void serdesSetPattern(int link, u32 pattern);
// Window [first, end) of a channel (end: the first tap that shows the complement again; 32 or more:
// never). first < 0: the channel never shows the training word.
void serdesSetWindow(int link, int channel, int first, int end);
void serdesSetNoLock(int link, int channel, bool on);
// Sync counters that stand still: 0 internal HSYNC (bits 8-11), 1 input HSYNC (bits 12-15 before
// the second arming), 2 sync training (bits 13-15 after it); -1 none.
void serdesSetDeadSync(int link, int which);
// Current delay tap and bitslip count of a channel.
int serdesTap(int link, int channel);
int serdesSlips(int link, int channel);

}  // namespace platform
