// The back end on the simulated board:
//   backend --board DIR [--power-on] [--frames N] [--fast] [--trace FILE]
// A watchdog restart starts main again on the same board directory (without --power-on); a halt
// and a hand-off end the program. --frames N bounds the whole run, restarts included: frames count
// once interrupts are on, and a restart counts as one frame, so a board whose start-up keeps
// failing restarts at most N times.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Main/framework/startup.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"

namespace {

std::vector<std::string> arguments;
u64 frameLimit = 0;
u64 firstFrame = ~0ull;  // VSYNC count at the first frame of this run

[[noreturn]] void usage(const char* program) {
  std::fprintf(stderr, "usage: %s --board DIR [--power-on] [--frames N] [--fast] [--trace FILE]\n", program);
  std::exit(2);
}

[[noreturn]] void finish(int code) {
  std::fflush(stdout);
  platform::boardClose();
  std::_Exit(code);
}

u64 framesRun() { return firstFrame == ~0ull ? 0 : platform::vsyncCount() - firstFrame; }

// Starts this program again on the same board directory, as the board does after a restart, with
// what is left of the frame limit.
[[noreturn]] void restart() {
  if (frameLimit > 0) {
    u64 used = framesRun() + 1;
    if (used >= frameLimit) finish(0);
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
      if (arguments[i] == "--frames") arguments[i + 1] = std::to_string(frameLimit - used);
    }
  }
  std::vector<char*> argv;
  for (auto& a : arguments) {
    if (a != "--power-on") argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  std::fflush(stdout);
  platform::boardClose();
  execv("/proc/self/exe", argv.data());
  std::perror("backend: restart");
  std::_Exit(1);
}

void onEnd(platform::EndReason reason, u32 arg) {
  switch (reason) {
    case platform::EndReason::Restart:
      std::fprintf(stderr, "board: restart\n");
      restart();
    case platform::EndReason::Halt:
      std::fprintf(stderr, "board: halt\n");
      finish(4);
    case platform::EndReason::HandOff:
      std::fprintf(stderr, "board: hand-off to 0x%08x\n", arg);
      finish(5);
  }
}

// Frames are counted once interrupts are on: a cold start spends its first 0.6 s of board time
// configuring FPGAs before any frame runs.
void frameLimitHook(u64) {
  if (!platform::irqIsEnabled(platform::VSYNC_IRQ)) return;
  if (firstFrame == ~0ull) firstFrame = platform::vsyncCount();
  if (framesRun() >= frameLimit) finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  arguments.assign(argv, argv + argc);
  platform::BoardOptions options;
  options.clock = platform::ClockMode::RealTime;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--board" && hasValue) {
      options.dir = argv[++i];
    } else if (a == "--power-on") {
      options.powerOn = true;
    } else if (a == "--frames" && hasValue) {
      char* end = nullptr;
      frameLimit = std::strtoull(argv[++i], &end, 10);
      if (*end != '\0' || frameLimit == 0) usage(argv[0]);
    } else if (a == "--fast") {
      options.clock = platform::ClockMode::Fast;
    } else if (a == "--trace" && hasValue) {
      options.traceFile = argv[++i];
    } else {
      usage(argv[0]);
    }
  }
  if (options.dir.empty()) usage(argv[0]);

  platform::boardOpen(options);
  platform::setEndHandler(onEnd);
  platform::attachBoardModels();
  if (frameLimit > 0) platform::addTimerHook(frameLimitHook);
  bpMain();
}
