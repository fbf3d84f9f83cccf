// Interrupt block of the glue FPGA: status (write one to clear), period and enable registers, and
// the VSYNC and early interrupts raised from the clock.
#include "Platform/vsync.h"

#include "Platform/board.h"

namespace platform {
namespace {

struct InterruptBlock : RegisterDevice {
  u32 status = 0;
  bool read(u32 adr, u32& value) override {
    if (adr != IRQ_STATUS) return false;
    value = status;
    return true;
  }
  void write(u32 adr, u32 value) override {
    if (adr == IRQ_STATUS) status &= ~value;
  }
};

constexpr u32 FIELD_REGISTERS[] = {0x40004510, 0x82000510};

InterruptBlock block;
bool attached = false;
bool autoRaise = true;
bool field = false;
u64 nextVsync = 0;  // tick of the next VSYNC
bool earlyPosted = false;
u64 vsyncs = 0;

u64 periodTicks() { return static_cast<u64>(vsyncPeriodUs()) * TICKS_PER_US; }

void deliver() {
  if ((block.status & regPeek(IRQ_ENABLE) & 7u) != 0 && irqIsEnabled(VSYNC_IRQ)) irqRaise(VSYNC_IRQ);
}

// Ticks at which the model has something to do while no status bit is pending: the early interrupt
// (then the VSYNC once it is posted), and the tick it announces to the clock.
u64 nextCheck = 0;
u64 wake = 0;

void schedule() {
  const u64 lead = static_cast<u64>(EARLY_LEAD_US) * TICKS_PER_US;
  nextCheck = earlyPosted ? nextVsync : (nextVsync >= lead ? nextVsync - lead : 0);
  wake = earlyPosted || nextVsync < lead ? nextVsync : nextVsync - lead;
}

void onTime(u64 now) {
  if (autoRaise) {
    if (now >= nextCheck) {
      if (!earlyPosted && now + static_cast<u64>(EARLY_LEAD_US) * TICKS_PER_US >= nextVsync) {
        earlyPosted = true;
        block.status |= IRQ_EARLY;
        deliver();
        now = clockNow();
      }
      if (now >= nextVsync) {
        // VSYNCs missed while the code ran with the interrupt blocked fold into one.
        u64 period = periodTicks();
        while (nextVsync <= now) nextVsync += period;
        earlyPosted = false;
        field = !field;
        ++vsyncs;
        block.status = (block.status & ~IRQ_FIELD) | IRQ_VSYNC | (field ? IRQ_FIELD : 0u);
        // The field registers of the glue and ME1 FPGAs follow (both bits: every format's).
        for (u32 reg : FIELD_REGISTERS) regPoke(reg, field ? 3u : 0u);
      }
      schedule();
    }
    clockWakeBy(wake);
  }
  if ((block.status & 7u) != 0) deliver();
}

}  // namespace

void vsyncAttach() {
  block.status = 0;
  field = false;
  vsyncs = 0;
  earlyPosted = false;
  autoRaise = true;
  attachDevice(IRQ_STATUS, 4, &block);
  nextVsync = clockNow() + periodTicks();
  schedule();
  addTimerHook(onTime);
  attached = true;
}

void vsyncDetach() {
  if (!attached) return;
  removeTimerHook(onTime);
  detachDevice(&block);
  attached = false;
}

void vsyncSetAuto(bool on) {
  if (on && !autoRaise) {
    nextVsync = clockNow() + periodTicks();
    earlyPosted = false;
    schedule();
  }
  autoRaise = on;
}

void vsyncPost(u32 bits) {
  if ((bits & IRQ_VSYNC) != 0) ++vsyncs;
  block.status |= bits & 7u;
  deliver();
}

u32 vsyncPeriodUs() {
  u32 v = regPeek(IRQ_PERIOD);
  return v == 0 ? DEFAULT_PERIOD_US : (v + 50000) / 50;
}

u64 vsyncCount() { return vsyncs; }

}  // namespace platform
