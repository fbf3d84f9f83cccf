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
    for (u32 base : MemoryPorts::FPGAS) attachDevice(base + 0x304, 4, &p);
    return &p;
  }();
  return *ports;
}

bool MemoryPorts::read(u32, u32& value) {
  value = 1;  // ready for a block, not busy
  return true;
}

}  // namespace platform
