// Hardware watchdog: armed, kicked and disarmed through two registers; expiry restarts the board.
#include "Platform/watchdog.h"

#include "Platform/board.h"

namespace platform {
namespace {

constexpr u32 CONTROL_KEY = 0x5AF0;
constexpr u32 KICK_KEY = 0xA5F0;

struct Watchdog : RegisterDevice {
  u32 seconds = 0;  // 0: disarmed
  u64 expiry = ~0ull;  // tick at which it expires unless kicked (never while disarmed)
  bool expired = false;
  void kick() { expiry = seconds != 0 ? clockNow() + static_cast<u64>(seconds) * 1000000u * TICKS_PER_US : ~0ull; }
  void write(u32 adr, u32 value) override {
    if (adr == WDT_CONTROL) {
      seconds = (value > CONTROL_KEY && value <= CONTROL_KEY + 15) ? value - CONTROL_KEY : 0;
      kick();
    } else if (adr == WDT_KICK && value == KICK_KEY) {
      kick();
    }
  }
};

Watchdog dog;
bool attached = false;

void onTime(u64 now) {
  if (now >= dog.expiry) dog.expired = true;
  clockWakeBy(dog.expiry);
  if (dog.expired) endRun(EndReason::Restart, dog.seconds);
}

}  // namespace

void watchdogAttach() {
  dog = Watchdog{};
  attachDevice(WDT_CONTROL, 8, &dog);
  addTimerHook(onTime);
  attached = true;
}

void watchdogDetach() {
  if (!attached) return;
  removeTimerHook(onTime);
  detachDevice(&dog);
  attached = false;
}

bool watchdogArmed() { return dog.seconds != 0; }
u32 watchdogSeconds() { return dog.seconds; }

}  // namespace platform
