#include "Platform/hw_semaphore.h"

namespace platform {

HardwareSemaphores& hardwareSemaphores() {
  static HardwareSemaphores* sems = [] {
    static HardwareSemaphores s;
    attachDevice(HardwareSemaphores::BASE, 4 * HardwareSemaphores::COUNT, &s);
    return &s;
  }();
  return *sems;
}

void HardwareSemaphores::reset() {
  for (auto& s : sems_) s = Semaphore{};
}

bool HardwareSemaphores::otherHold(int n, int refusals) {
  Semaphore& s = sems_[n];
  if (s.owner == HERE) return false;
  s.owner = OTHER;
  s.refusals = refusals;
  return true;
}

void HardwareSemaphores::otherRelease(int n) {
  if (sems_[n].owner == OTHER) sems_[n].owner = NONE;
}

bool HardwareSemaphores::heldHere(int n) const { return sems_[n].owner == HERE; }
int HardwareSemaphores::requests(int n) const { return sems_[n].requests; }

bool HardwareSemaphores::read(u32 adr, u32& value) {
  value = sems_[(adr - BASE) / 4].owner == HERE ? 1 : 0;
  return true;
}

void HardwareSemaphores::write(u32 adr, u32 value) {
  Semaphore& s = sems_[(adr - BASE) / 4];
  if (value == 0) {
    if (s.owner == HERE) s.owner = NONE;
    return;
  }
  ++s.requests;
  if (s.owner == OTHER) {
    if (s.refusals > 0 && --s.refusals == 0) s.owner = NONE;  // refused; the other side lets go after it
    return;
  }
  s.owner = HERE;
}

MemoryPorts& memoryPorts() {
  static MemoryPorts* ports = [] {
    static MemoryPorts p;
    for (u32 base : MemoryPorts::FPGAS) attachDevice(base + 0x300, 12, &p);
    return &p;
  }();
  return *ports;
}

int MemoryPorts::portIndex(u32 fpga) {
  for (size_t i = 0; i < std::size(FPGAS); ++i) {
    if (FPGAS[i] == (fpga & 0xFF000000)) return static_cast<int>(i);
  }
  return -1;
}

u32 MemoryPorts::word(u32 fpga, u32 address) const {
  int i = portIndex(fpga);
  if (i < 0) return 0;
  const auto& pages = ports_[i].pages;
  auto page = pages.find(address / (4 * PAGE_WORDS));
  return page == pages.end() ? 0 : page->second[(address / 4) % PAGE_WORDS];
}

void MemoryPorts::clear() {
  for (auto& p : ports_) p = Port{};
}

bool MemoryPorts::read(u32 adr, u32& value) {
  if ((adr & 0xFFF) != 0x304) return false;
  value = 1;  // ready for a block, not busy
  return true;
}

void MemoryPorts::write(u32 adr, u32 value) {
  Port& port = ports_[portIndex(adr)];
  switch (adr & 0xFFF) {
    case 0x300:
      port.address = value;
      break;
    case 0x308: {
      auto& page = port.pages.try_emplace(port.address / (4 * PAGE_WORDS)).first->second;
      page[(port.address / 4) % PAGE_WORDS] = value;
      port.address += 4;
      break;
    }
    default:
      break;
  }
}

}  // namespace platform
