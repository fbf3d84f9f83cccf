// Serdes link model: delay lines, bitslip and sync counters.
#include "Platform/serdes_model.h"

#include <algorithm>
#include <array>

#include "Platform/board.h"
#include "Platform/bringup_models.h"

namespace platform {
namespace {

constexpr int MAX_CHANNELS = 63;

struct Channel {
  int tap = 0;
  int slips = 0;
  int first = 0, end = 0;
  int lockShift = 0;
  bool noLock = false;
};

struct Link {
  u32 control = 0;
  int selected = 0;
  u32 lastCommand = 0;
  int skip = 0;         // writes of a bitslip sequence still to come
  bool armed = false;   // sync detectors armed
  int armCount = 0;
  u32 counter = 0;
  int deadSync = -1;
  u32 pattern = SERDES_DEFAULT_PATTERN;
  std::array<Channel, MAX_CHANNELS> ch{};

  Channel& cur() { return ch[static_cast<size_t>(std::clamp(selected, 0, MAX_CHANNELS - 1))]; }

  u32 status() {
    Channel& c = cur();
    switch (control) {
      case 1:
        return (c.first >= 0 && c.tap >= c.first && c.tap < c.end) ? pattern : ~pattern;
      case 2:
        return c.noLock ? 2u : 1u << ((c.slips + c.lockShift) & 7);
      case 3: {
        if (!armed) return 0;
        // Each read sees the next sync edge; a dead counter keeps its bits.
        ++counter;
        u32 internal = deadSync == 0 ? 0 : counter & 0xF;
        u32 input = deadSync == 1 && armCount < 2 ? 0 : counter & 0xF;
        if (deadSync == 2 && armCount >= 2) input = 0;
        return (internal << 8) | (input << 12);
      }
      default:
        return 0;
    }
  }

  void command(u32 v) {
    Channel& c = cur();
    if (skip > 0) {
      --skip;
    } else if (lastCommand == 4 && v == 0) {
      c.tap = 0;
    } else if (lastCommand == 2 && v == 3) {
      c.tap = std::min(c.tap + 1, 31);
    } else if (lastCommand == 0 && v == 1) {
      c.tap = std::max(c.tap - 1, 0);
    } else if (lastCommand == 8 && v == 9) {
      ++c.slips;
      skip = 3;  // the 2, 3, 0 that finish the bitslip
    } else if (v == 32800) {
      armed = true;
      ++armCount;
    } else if (v == 32 && armed) {
      ++armCount;
    } else if (v == 0 && lastCommand == 32 && armCount >= 2) {
      armed = false;
    }
    lastCommand = v;
  }
};

std::array<Link, SERDES_LINKS> links;

int linkOfPort(u32 adr) {
  for (int i = 0; i < SERDES_LINKS; ++i) {
    if (adr == SERDES_LINK[i].port || adr == SERDES_LINK[i].port + 4) return i;
  }
  return -1;
}

// One attachment per FPGA page, covering its ports and control registers.
struct SerdesDevice : RegisterDevice {
  bool read(u32 adr, u32& value) override {
    int i = linkOfPort(adr);
    if (i < 0 || adr != SERDES_LINK[i].port + 4) return false;
    value = links[i].status();
    return true;
  }
  void write(u32 adr, u32 value) override {
    for (int i = 0; i < SERDES_LINKS; ++i) {
      Link& l = links[i];
      if (adr == SERDES_LINK[i].control) {
        l.control = value;
        if (value != 3) l.armed = false, l.armCount = 0;
      } else if (adr == SERDES_LINK[i].port) {
        l.selected = static_cast<int>(value);
      } else if (adr == SERDES_LINK[i].port + 4) {
        l.command(value);
      }
    }
  }
};
SerdesDevice device;

}  // namespace

void serdesReset() {
  for (int i = 0; i < SERDES_LINKS; ++i) {
    links[i] = Link{};
    for (int c = 0; c < MAX_CHANNELS; ++c) {
      Channel& ch = links[i].ch[c];
      ch.first = 2 + c % 3;
      ch.end = 10 + c % 3;
      ch.lockShift = (8 - c % 8) % 8;
    }
  }
}

void serdesAttach() {
  serdesReset();
  const u32 pages[] = {0x82000000, 0x83000000, 0x84000000, 0x85000000};
  for (u32 base : pages) attachDevice(base + 0x600, 0x200, &device);
  attachDevice(0x40004600, 8, &device);
}

void serdesDetach() { detachDevice(&device); }

void serdesSetPattern(int link, u32 pattern) { links.at(link).pattern = pattern; }
void serdesSetWindow(int link, int channel, int first, int end) {
  Channel& c = links.at(link).ch.at(channel);
  c.first = first;
  c.end = end;
}
void serdesSetNoLock(int link, int channel, bool on) { links.at(link).ch.at(channel).noLock = on; }
void serdesSetDeadSync(int link, int which) { links.at(link).deadSync = which; }
int serdesTap(int link, int channel) { return links.at(link).ch.at(channel).tap; }
int serdesSlips(int link, int channel) { return links.at(link).ch.at(channel).slips; }

}  // namespace platform
