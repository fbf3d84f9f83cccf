// FPGA configuration port model.
#include "Platform/config_port.h"

#include <array>

#include "Platform/board.h"
#include "Platform/bringup_models.h"

namespace platform {
namespace {

struct Port {
  u32 mode = 0;
  bool prog = false;
  u64 initAt = 0;     // INIT_B high from this tick on
  bool done = false;
  bool crcFailed = false;
  u32 words = 0;
  u32 received = 0;   // every data write since PROG
  u32 expected = 0;   // image words announced by the length word
  u32 checksum = 0;
  ConfigFault fault = ConfigFault::None;
};
std::array<Port, CONFIG_PORTS> ports;

u32 step(u32 sum, u32 word) { return (sum ^ word) * 16777619u + 1; }

int portOf(u32 adr) {
  for (int i = 0; i < CONFIG_PORTS; ++i) {
    if (adr >= CONFIG_PORT_ADR[i] && adr < CONFIG_PORT_ADR[i] + 16) return i;
  }
  return -1;
}

struct RemoteDevice : RegisterDevice {
  bool read(u32 adr, u32& value) override { return configPortRead(adr, value); }
  void write(u32 adr, u32 value) override { configPortWrite(adr, value); }
};
RemoteDevice remotePorts;

}  // namespace

bool configPortRead(u32 adr, u32& value) {
  int i = portOf(adr);
  if (i < 0 || adr - CONFIG_PORT_ADR[i] != 8) return false;
  const Port& p = ports[i];
  bool initB = !p.prog && clockNow() >= p.initAt && p.fault != ConfigFault::NoInitB && !p.crcFailed;
  value = (initB ? 1u : 0u) | (p.done ? 2u : 0u);
  return true;
}

void configPortWrite(u32 adr, u32 value) {
  int i = portOf(adr);
  if (i < 0) return;
  Port& p = ports[i];
  switch (adr - CONFIG_PORT_ADR[i]) {
    case 0x0:
      p.mode = value;
      break;
    case 0x4:
      if (value != 0) {
        p.prog = true;
        p.done = p.crcFailed = false;
        p.words = p.received = p.expected = p.checksum = 0;
      } else if (p.prog) {
        p.prog = false;
        p.initAt = clockNow() + static_cast<u64>(CONFIG_INIT_US) * TICKS_PER_US;
      }
      break;
    case 0xC:
      if (p.prog) break;
      ++p.received;
      if (p.done || p.crcFailed || (p.expected != 0 && p.words >= p.expected)) break;
      if (p.words == 0) p.expected = value / 4;
      ++p.words;
      p.checksum = step(p.checksum, value);
      if (p.expected != 0 && p.words >= p.expected) {
        p.crcFailed = p.fault == ConfigFault::CrcError;
        p.done = p.fault == ConfigFault::None;
      }
      break;
    default:
      break;
  }
}

void configPortReset() { ports.fill(Port{}); }

// The glue port is answered through the glue page model (nand_device.cpp); the others lie together
// in the glue FPGA's second register space.
void configPortAttach() {
  configPortReset();
  attachDevice(CONFIG_PORT_ADR[3], 0x600, &remotePorts);
}

void configPortDetach() { detachDevice(&remotePorts); }

void configPortSetFault(int port, ConfigFault fault) { ports.at(port).fault = fault; }
bool configPortDone(int port) { return ports.at(port).done; }
u32 configPortMode(int port) { return ports.at(port).mode; }
u32 configPortWords(int port) { return ports.at(port).words; }
u32 configPortReceived(int port) { return ports.at(port).received; }
u32 configPortChecksum(int port) { return ports.at(port).checksum; }

u32 configChecksum(const u32* words, u32 n) {
  u32 sum = 0;
  for (u32 i = 0; i < n; ++i) sum = step(sum, words[i]);
  return sum;
}

}  // namespace platform
