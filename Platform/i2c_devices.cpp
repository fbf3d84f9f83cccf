// Board device models: I2C buses, clock parts, SDI transceivers, PLL reconfiguration ports, XADC
// temperature alarms. One register-file model answers for all of them and dispatches by address.
#include "Platform/i2c_devices.h"

#include <array>

#include "Platform/board.h"
#include "Platform/sdi_inputs.h"

namespace platform {
namespace {

// ---- I2C ----------------------------------------------------------------------------------------
struct I2cSlot {
  u32 commandRegister;
  u8 adr;
  I2cDevice device;
};
std::array<I2cSlot, 9> i2cSlots{{
    {0x84001024, 0x4C, {}},
    {0x84001024, 0x34, {}},
    {0x84001020, 0x50, {}},
    {0x85001024, 0x4C, {}},
    {0x85001024, 0x34, {}},
    {0x85001020, 0x50, {}},
    {0x84001028, 0x7F, {}},
    {0x85001028, 0x7F, {}},
    {0x40000420, 0x69, {}},
}};

enum class I2cState { Idle, Addressed, Writing, AwaitRestart, Reading };

struct I2cBus {
  u32 commandRegister;
  I2cState state = I2cState::Idle;
  I2cDevice* device = nullptr;  // the device that acknowledged, or none
  u8 pointer = 0;
  u32 result = 0;               // what the register reads once the transfer is done
  int busyReads = 0;
  bool hung = false;
};
std::array<I2cBus, 7> buses{{{0x84001020}, {0x84001024}, {0x84001028}, {0x85001020}, {0x85001024},
                             {0x85001028}, {0x40000420}}};

I2cBus* findBus(u32 adr) {
  for (auto& b : buses) {
    if (b.commandRegister == adr) return &b;
  }
  return nullptr;
}

I2cDevice* findDevice(u32 commandRegister, u8 adr) {
  for (auto& s : i2cSlots) {
    if (s.commandRegister == commandRegister && s.adr == adr) return &s.device;
  }
  return nullptr;
}

// Command words: 0x100 | byte sends a byte (the first after idle is the address with the
// read/write bit), 0x200 adds a stop, 0x400 a repeated start after the byte; 0x3FF reads a byte,
// except while writing, where it is the last byte 0xFF.
void i2cCommand(I2cBus& bus, u32 w) {
  bus.busyReads = 1;
  bus.result = w & ~0x200u;
  const u8 byte = w & 0xFF;
  const bool stop = (w & 0x200) != 0;
  if (w == 0x3FF && bus.state != I2cState::Writing) {
    u8 data = 0xFF;
    if (bus.state == I2cState::Reading && bus.device != nullptr) {
      data = bus.device->regs[bus.pointer++];
      if (bus.device->wrongReads > 0) {
        --bus.device->wrongReads;
        data = static_cast<u8>(~data);
      }
    }
    bus.result = data;
    bus.state = I2cState::Idle;
    return;
  }
  switch (bus.state) {
    case I2cState::Idle:
    case I2cState::AwaitRestart: {
      const bool restart = bus.state == I2cState::AwaitRestart;
      I2cDevice* d = findDevice(bus.commandRegister, byte >> 1);
      bus.device = (d != nullptr && !d->noAck) ? d : nullptr;
      bus.state = (byte & 1) ? (restart ? I2cState::Reading : I2cState::Idle) : I2cState::Addressed;
      break;
    }
    case I2cState::Addressed:
      bus.pointer = byte;
      bus.state = (w & 0x400) ? I2cState::AwaitRestart : I2cState::Writing;
      break;
    case I2cState::Writing:
      if (bus.device != nullptr) {
        bus.device->regs[bus.pointer++] = byte;
        ++bus.device->writes;
      }
      break;
    case I2cState::Reading:
      break;
  }
  if (stop) bus.state = I2cState::Idle;
}

// ---- clock parts ---------------------------------------------------------------------------------
struct ClockPartModel {
  u32 control;
  ClockPart part;
  bool started = false;
  bool lockable = false;
  u64 startTick = 0;
  u32 last = 0;  // the control word as last written
};
ClockPartModel gsModel{0x84000010, {}};
ClockPartModel ispModel{0x85000010, {}};

// 1, then 3 starts the part; a word with bit 1 clear stops it. The same word holds the DVI
// receivers' reset (2, then 3), which leaves the part as it is.
void clockPartWrite(ClockPartModel& m, u32 value) {
  const bool run = (value & 2) != 0, start = (value & 3) == 3 && (m.last & 3) == 1;
  m.last = value;
  if (start) {
    ++m.part.starts;
    m.started = true;
    m.startTick = clockNow();
    m.lockable = m.part.failStarts >= 0 && m.part.starts > m.part.failStarts;
  } else if (!run) {
    m.started = false;
  }
}

u32 clockPartStatus(const ClockPartModel& m) {
  bool locked = m.started && m.lockable && clockNow() - m.startTick >= static_cast<u64>(m.part.lockDelayUs) * TICKS_PER_US;
  return locked ? 3 : 0;
}

// ---- SDI transceivers ----------------------------------------------------------------------------
std::array<SdiTransceiver, 4> sdi;
int sdiFailTries = 0;
int sdiTryCount = 0;

// ---- PLL reconfiguration ports -------------------------------------------------------------------
struct PllPort {
  u32 base;
  std::array<Pll, 4> plls;
  std::array<bool, 4> locked{};
  u32 control = 0;
  u8 reg = 0;
  int port = 0;
  u32 data = 0;
  int busyReads = 0;
  bool stuck = false;
};
std::array<PllPort, 5> pllPorts{{{0x82000400, {}}, {0x83000400, {}}, {0x84000400, {}}, {0x85000400, {}}, {0x40004400, {}}}};

PllPort* findPllPort(u32 base) {
  for (auto& p : pllPorts) {
    if (p.base == base) return &p;
  }
  return nullptr;
}

u32 pllBusyBit(const PllPort& p) { return p.base == 0x82000400 ? 1u << (p.port + 16) : 1u << 15; }

void pllWrite(PllPort& p, u32 off, u32 value) {
  if (off == 0) {
    for (int i = 0; i < 4; ++i) {
      bool wasReset = (p.control >> i) & 1, reset = (value >> i) & 1;
      if (reset) {
        p.locked[i] = false;
      } else if (wasReset) {
        Pll& pll = p.plls[i];
        ++pll.releases;
        p.locked[i] = pll.failLocks >= 0 && pll.releases > pll.failLocks;
      }
    }
    p.control = value & 0xFFFF;
  } else if (off == 4) {
    p.reg = value & 0x7F;
    p.port = (value >> 8) & 3;
  } else if (off == 8) {
    p.plls[p.port].drp[p.reg] = static_cast<u16>(value);
    p.busyReads = 2;
  }
}

bool pllRead(PllPort& p, u32 off, u32& value) {
  switch (off) {
    case 0: {
      u32 v = p.control;
      for (int i = 0; i < 4; ++i) v |= static_cast<u32>(p.locked[i]) << (i + 16);
      value = v;
      return true;
    }
    case 4:
      if (p.stuck || p.busyReads > 0) {
        if (p.busyReads > 0) --p.busyReads;
        value |= pllBusyBit(p);
      } else {
        value &= ~pllBusyBit(p);
      }
      return true;
    case 8:  // a read of the data word starts a port read
      p.data = p.plls[p.port].drp[p.reg];
      p.busyReads = 2;
      return false;
    case 12:
      value = p.data;
      return true;
    default:
      return false;
  }
}

// ---- XADC ----------------------------------------------------------------------------------------
struct Xadc {
  u32 port;
  std::array<u16, 128> regs{};
  u8 adr = 0;
  double celsius = 40.0;
  bool alarm = false;
  int busyReads = 0;
  bool stuck = false;
};
std::array<Xadc, 5> xadcs{{{0x40000080}, {0x82000080}, {0x83000080}, {0x84000080}, {0x85000080}}};

Xadc* findXadc(u32 port) {
  for (auto& x : xadcs) {
    if (x.port == port) return &x;
  }
  return nullptr;
}

// The sensor's code: 12-bit conversion result in bits 4..15.
u32 temperatureCode(double celsius) { return static_cast<u32>((celsius + 273.15) * 8.127387 * 16); }

// Whether the alarm bit is set; false leaves the register's stored value (no threshold programmed).
bool xadcOverTemperature(Xadc& x, u32& value) {
  u32 upper = x.regs[0x50], lower = x.regs[0x54];
  if (upper == 0) return false;
  u32 code = temperatureCode(x.celsius);
  if (code >= upper) x.alarm = true;
  else if (code < lower) x.alarm = false;
  value = x.alarm ? 1 : 0;
  return true;
}

// ---- the register-file model ---------------------------------------------------------------------
struct BoardDevices : RegisterDevice {
  bool read(u32 adr, u32& value) override {
    if (I2cBus* b = findBus(adr)) {
      if (b->hung || b->busyReads > 0) {
        if (b->busyReads > 0) --b->busyReads;
        value = b->result | 0x200;
      } else {
        value = b->result;
      }
      return true;
    }
    if (adr == 0x84000014 || adr == 0x85000014) {
      value = clockPartStatus(adr == 0x84000014 ? gsModel : ispModel);
      return true;
    }
    u32 fpga = adr & 0xFF000000, off = adr & 0xFFFFFF;
    if (fpga >= 0x82000000 && fpga <= 0x85000000 && (off == 0xB00 || off == 0xB50)) {
      const SdiTransceiver& t = sdi[(fpga - 0x82000000) >> 24];
      bool failing = sdiFailTries > 0 && sdiTryCount <= sdiFailTries;
      if (off == 0xB00) value = (value & 0xFFFF) | (failing ? 0 : t.lockB00 << 16);
      else value = failing ? 0 : t.lockB50;
      return true;
    }
    if (sdiReceiverRead(adr, value)) return true;
    if (PllPort* p = findPllPort(adr & ~0xFu)) return pllRead(*p, adr & 0xF, value);
    if (Xadc* x = findXadc(adr & ~0xFu)) {
      if ((adr & 0xF) == 0) {
        bool busy = x->stuck || x->busyReads > 0;
        if (x->busyReads > 0) --x->busyReads;
        value = busy ? value | 0x8000 : value & ~0x8000u;
        return true;
      }
      if ((adr & 0xF) == 0x8) {
        value = temperatureCode(x->celsius);  // the sensor's conversion result
        return true;
      }
      if ((adr & 0xF) == 0xC) return xadcOverTemperature(*x, value);
    }
    return false;
  }

  void write(u32 adr, u32 value) override {
    if (I2cBus* b = findBus(adr)) return i2cCommand(*b, value);
    if (adr == gsModel.control) return clockPartWrite(gsModel, value);
    if (adr == ispModel.control) return clockPartWrite(ispModel, value);
    if (adr == 0x82000B00 && value == 15) ++sdiTryCount;
    sdiReceiverWrite(adr, value);
    if (PllPort* p = findPllPort(adr & ~0xFu)) return pllWrite(*p, adr & 0xF, value);
    if (Xadc* x = findXadc(adr & ~0xFu)) {
      if ((adr & 0xF) == 0) x->adr = value & 0x7F;
      if ((adr & 0xF) == 4) {
        x->regs[x->adr] = static_cast<u16>(value);
        x->busyReads = 2;
      }
    }
  }
};
BoardDevices model;
bool installed = false;

// The register ranges the model answers.
struct Range {
  u32 base, size;
};
constexpr Range RANGES[] = {
    {0x84001020, 12}, {0x85001020, 12}, {0x40000420, 4},                     // I2C command registers
    {0x84000010, 8},  {0x85000010, 8},                                         // clock parts
    // SDI transceivers (+ 0xB00, + 0xB50) and receiver counter ports (+ 0xD00, Platform/sdi_inputs.h)
    {0x82000B00, 0x280}, {0x83000B00, 0x280}, {0x84000B00, 0x280}, {0x85000B00, 0x280},
    {0x82000400, 16}, {0x83000400, 16}, {0x84000400, 16}, {0x85000400, 16}, {0x40004400, 16},  // PLL ports
    {0x40000080, 16}, {0x82000080, 16}, {0x83000080, 16}, {0x84000080, 16}, {0x85000080, 16},  // XADC
};

}  // namespace

void installBoardDevices() {
  if (!installed) {
    for (const Range& r : RANGES) attachDevice(r.base, r.size, &model);
    installed = true;
  }
  resetBoardDevices();
}

void removeBoardDevices() {
  detachDevice(&model);
  installed = false;
}

void resetBoardDevices() {
  for (auto& s : i2cSlots) s.device = I2cDevice{};
  for (auto& b : buses) b = I2cBus{b.commandRegister};
  gsModel = ClockPartModel{gsModel.control, {}};
  ispModel = ClockPartModel{ispModel.control, {}};
  sdi = {SdiTransceiver{7, 0}, SdiTransceiver{0xF, 0xFFF}, SdiTransceiver{1, 3}, SdiTransceiver{1, 3}};
  sdiFailTries = 0;
  sdiTryCount = 0;
  for (auto& p : pllPorts) p = PllPort{p.base, {}};
  for (auto& x : xadcs) x = Xadc{x.port};
  regPoke(BOARD_STATUS_REG, BOARD_STATUS_OK);
  regPoke(BOARD_WORD_REG, BOARD_WORD_NO_UNITS);
  sdiInputsReset();
}

I2cDevice& i2cDevice(u32 commandRegister, u8 adr) {
  I2cDevice* d = findDevice(commandRegister, adr);
  if (d == nullptr) fault("board: no I2C device 0x%02x at 0x%08x", adr, commandRegister);
  return *d;
}

void i2cSetHung(u32 commandRegister, bool hung) {
  I2cBus* b = findBus(commandRegister);
  if (b == nullptr) fault("board: no I2C controller at 0x%08x", commandRegister);
  b->hung = hung;
}

ClockPart& gs4915() { return gsModel.part; }
ClockPart& ispClock() { return ispModel.part; }

SdiTransceiver& sdiTransceiver(int k) {
  if (k < 0 || k > 3) fault("board: no SDI transceiver %d", k);
  return sdi[k];
}
void sdiSetFailTries(int tries) { sdiFailTries = tries; }
int sdiTries() { return sdiTryCount; }

Pll& pll(u32 base, int port) {
  PllPort* p = findPllPort(base);
  if (p == nullptr || port < 0 || port > 3) fault("board: no PLL %d at 0x%08x", port, base);
  return p->plls[port];
}

void pllSetStuck(u32 base, bool stuck) {
  PllPort* p = findPllPort(base);
  if (p == nullptr) fault("board: no PLL port at 0x%08x", base);
  p->stuck = stuck;
}

void setFpgaTemperature(u32 port, double celsius) {
  Xadc* x = findXadc(port);
  if (x == nullptr) fault("board: no XADC at 0x%08x", port);
  x->celsius = celsius;
}

u32 xadcRegister(u32 port, u32 adr) {
  Xadc* x = findXadc(port);
  if (x == nullptr || adr >= 128) fault("board: no XADC register 0x%x at 0x%08x", adr, port);
  return x->regs[adr];
}

void xadcSetStuck(u32 port, bool stuck) {
  Xadc* x = findXadc(port);
  if (x == nullptr) fault("board: no XADC at 0x%08x", port);
  x->stuck = stuck;
}

}  // namespace platform
