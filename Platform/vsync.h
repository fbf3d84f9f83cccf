#pragma once
// Board model of the glue FPGA's interrupt block: the VSYNC interrupt (id 31) at the frame period of
// the current format, the early interrupt before every VSYNC, the field bit, the write-one-to-clear
// status register and the enable register; the field registers of the glue and ME1 FPGAs follow the
// field of each VSYNC the model raises. Host only: tests and the host programs use it.
#include "Platform/platform.h"

namespace platform {

constexpr int VSYNC_IRQ = 31;
constexpr u32 IRQ_STATUS = 0x40000010;  // write one to clear
constexpr u32 IRQ_PERIOD = 0x40000014;  // 50 x frame period (us) - 50000, set by the driver core
constexpr u32 IRQ_ENABLE = 0x40000018;
// Status bits: the early interrupt, the VSYNC, and the field of the frame that starts.
constexpr u32 IRQ_EARLY = 1u << 0, IRQ_VSYNC = 1u << 1, IRQ_FIELD = 1u << 2;
// The early interrupt comes this long before each VSYNC.
constexpr u32 EARLY_LEAD_US = 1000;
constexpr u32 DEFAULT_PERIOD_US = 16666;

// Attaches the model to the register file and the clock (after boardOpen); the first VSYNC comes
// one frame period later.
void vsyncAttach();
void vsyncDetach();
// Whether the model raises interrupts as time passes (on after vsyncAttach). Tests that post
// interrupts themselves turn it off.
void vsyncSetAuto(bool on);
// Sets status bits and delivers the interrupt when it is enabled and not running already.
void vsyncPost(u32 bits);
// The frame period the model uses: from the period register, or the default while it is 0.
u32 vsyncPeriodUs();
// VSYNCs raised since vsyncAttach.
u64 vsyncCount();

}  // namespace platform
