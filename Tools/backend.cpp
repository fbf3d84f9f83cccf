// The back end on the simulated board (backend --help for its options). A watchdog restart starts
// main again on the same board directory (without --power-on); a halt and a hand-off end the
// program.
// --frames N bounds the whole run, restarts included: frames count once interrupts are on, and a
// restart counts as one frame, so a board whose start-up keeps failing restarts at most N times.
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Lib/Include/log.h"
#include "Main/framework/startup.h"
#include "Platform/board.h"
#include "Platform/board_models.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/console_lines.h"

namespace {

std::vector<std::string> arguments;
u64 frameLimit = 0;
u64 firstFrame = ~0ull;  // VSYNC count at the first frame of this run
cli::BackendLock lock;
int echoLevel = libmx::INFO;  // console lines below it are not copied to standard output
constexpr int ECHO_NONE = libmx::FATAL + 1;

volatile sig_atomic_t stopSignal = 0;  // SIGINT or SIGTERM received, handled at the next timer read

const char HELP[] =
    "usage: backend --board DIR [--power-on] [--frames N] [--fast] [--trace FILE [--trace-range LO-HI]...]\n"
    "               [--log LEVEL | --quiet]\n"
    "Runs the back end on the simulated board in DIR (created when missing, not its parents). A new\n"
    "board, or --power-on, takes the cold start; a later start the warm one, with the settings that\n"
    "DIR/nvram.mem has backed up. Console lines are copied to standard output.\n"
    "  --board DIR    board directory: memory files, NAND image, backend.pid while running\n"
    "  --power-on     clear the volatile memory first, as a power cycle does (nvram.mem stays)\n"
    "  --frames N     end after N frames (N > 0) with exit status 0\n"
    "  --fast         run the board clock as fast as the host can instead of in real time\n"
    "  --trace FILE   write every register write to FILE: frame stage address value (about 75 KB a\n"
    "                 frame); stage 1..5 the driver update's timed stages, 6 its untimed tail, 7 the\n"
    "                 early update, 0 outside the update\n"
    "  --trace-range LO-HI   trace only writes to addresses LO..HI (hexadecimal); may be repeated\n"
    "  --trace-addr ADR      trace only writes to ADR (hexadecimal); may be repeated, with ranges too\n"
    "  --log LEVEL    copy only console lines of LEVEL and above: info, warn, err, fatal\n"
    "  --quiet        copy no console lines (the console ring keeps them all)\n"
    "  --help         this text\n"
    "SIGINT (Ctrl-C) or SIGTERM stops it within a frame: \"stopped by signal\" on the console, exit 0.\n"
    "Exit status: 0 the --frames count was reached or a signal stopped it; 1 the board could not be\n"
    "opened or faulted (the reason is printed); 2 usage error; 4 the system halted; 5 the system\n"
    "handed off to another program. A watchdog restart prints \"board: restart\" and starts the back\n"
    "end again. DIR/backend.pid names the running back end; it is removed when the back end ends.\n";

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "backend: %s\nusage: backend --board DIR [options] (backend --help lists them)\n", problem.c_str());
  std::exit(2);
}

[[noreturn]] void fail(const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "backend: %s\n", problem.c_str());
  std::_Exit(1);
}

void boardFault(const char* message) { fail(message); }

// The copy of the console on standard output, a line at a time, by level and without the ESC byte.
// The line that ends start-up is noted in the lock file.
void echo(const char* data, size_t n) {
  static std::string line;
  for (size_t i = 0; i < n; ++i) {
    line += data[i];
    if (data[i] != '\n') continue;
    if (cli::lineLevel(line) >= echoLevel) std::fputs(cli::withoutEsc(line).c_str(), stdout);
    if (line.find("Start Timer task") != std::string::npos) {
      std::fflush(stdout);
      platform::boardReleaseZeroPages();
      lock.markStarted();
    }
    line.clear();
  }
  std::fflush(stdout);
}

int levelOf(const std::string& name) {
  for (int level = libmx::INFO; level <= libmx::FATAL; ++level) {
    std::string known = libmx::LogInstance::levelName(level);
    for (char& c : known) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == known) return level;
  }
  return -1;
}

// Ends the program; the board directory no longer holds a back end.
[[noreturn]] void finish(int code) {
  std::fflush(stdout);
  platform::boardClose();
  lock.release();
  std::_Exit(code);
}

void onSignal(int) { stopSignal = 1; }

// A signal ends the run at the next timer read (at most a frame away): said on the console.
void signalHook(u64) {
  if (stopSignal == 0) return;
  MX_LOG(libmx::INFO, "stopped by signal");
  finish(0);
}

// "LO-HI" (a range) or "ADR" (one address), hexadecimal with or without 0x.
bool traceRange(const std::string& text, bool isRange, std::pair<u32, u32>& out) {
  auto hex = [](const std::string& word, u32& v) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long x = std::strtoull(word.c_str(), &end, 16);
    if (word.empty() || *end != '\0' || errno != 0 || x > 0xFFFFFFFFull || word.find('-') != std::string::npos) return false;
    v = static_cast<u32>(x);
    return true;
  };
  const size_t dash = text.find('-');
  if (!isRange) return dash == std::string::npos && hex(text, out.first) && hex(text, out.second);
  return dash != std::string::npos && hex(text.substr(0, dash), out.first) && hex(text.substr(dash + 1), out.second) &&
         out.first <= out.second;
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
    const std::string a = argv[i];
    const bool takesValue =
        a == "--board" || a == "--frames" || a == "--trace" || a == "--log" || a == "--trace-range" || a == "--trace-addr";
    if (takesValue && i + 1 >= argc) usage(a + " needs a value");
    if (a == "--help" || a == "-h") {
      std::fputs(HELP, stdout);
      return 0;
    } else if (a == "--board") {
      options.dir = argv[++i];
    } else if (a == "--power-on") {
      options.powerOn = true;
    } else if (a == "--frames") {
      long n = 0;
      if (!cli::parseNumber(argv[++i], 1, 0x7FFFFFFF, n)) usage(std::string("--frames takes a count above 0, not ") + argv[i]);
      frameLimit = static_cast<u64>(n);
    } else if (a == "--fast") {
      options.clock = platform::ClockMode::Fast;
    } else if (a == "--trace") {
      options.traceFile = argv[++i];
    } else if (a == "--trace-range" || a == "--trace-addr") {
      std::pair<u32, u32> range;
      if (!traceRange(argv[++i], a == "--trace-range", range)) {
        usage(a + (a == "--trace-range" ? " takes LO-HI" : " takes ADR") + " in hexadecimal, not " + argv[i]);
      }
      options.traceRanges.push_back(range);
    } else if (a == "--log") {
      echoLevel = levelOf(argv[++i]);
      if (echoLevel < 0) usage(std::string("--log takes info, warn, err or fatal, not ") + argv[i]);
    } else if (a == "--quiet") {
      echoLevel = ECHO_NONE;
    } else {
      usage("unknown option " + a);
    }
  }
  if (options.dir.empty()) usage("--board DIR is needed");
  if (!options.traceRanges.empty() && options.traceFile.empty()) usage("--trace-range and --trace-addr need --trace FILE");

  std::string error;
  if (!cli::prepareBoardDir(options.dir, error) || !lock.acquire(options.dir, error)) fail(error);
  platform::setFaultHandler(boardFault);
  platform::boardOpen(options);
  platform::setDebugSink(echo);
  platform::setEndHandler(onEnd);
  platform::attachBoardModels();
  if (frameLimit > 0) platform::addTimerHook(frameLimitHook);
  // Handlers of its own: a back end started in the background of a script, where SIGINT is ignored,
  // still stops on it.
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  platform::addTimerHook(signalHook);
  bpMain();
}
