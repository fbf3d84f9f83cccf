// The back end on the simulated board (backend --help for its options). A watchdog restart starts
// main again on the same board directory (without --power-on); a halt and a hand-off end the
// program.
// --frames N bounds the whole run, restarts included: frames count once interrupts are on, and a
// run that the watchdog ends counts the frame periods it spent after its last frame (a start-up that
// keeps failing, all of its time), so a board that never reaches a frame ends too, with its reason.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
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
#include "Tools/lib/link/console_lines.h"

namespace {

std::vector<std::string> arguments;
u64 frameLimit = 0;
u64 firstFrame = ~0ull;  // VSYNC count at the first frame of this run
u64 framesSeen = 0;      // frames of this run when the frame hook last looked
u64 lastFrameTick = 0;   // board tick of this run's last frame (0: none ran)

// What the runs before this one left, passed on through the environment of the program started
// again (with this process's id, so that a value inherited from elsewhere is not taken).
constexpr const char* RUN_VARIABLE = "MX_BACKEND_RUN";
struct RunState {
  u64 used = 0;       // of the frame limit
  u64 framesRan = 0;  // frames that ran
  unsigned restarts = 0;
} run;
std::string firstError;  // this run's first console line of level ERR or above
cli::BackendLock lock;
int echoLevel = libmx::INFO;  // console lines below it are not copied to standard output
constexpr int ECHO_NONE = libmx::FATAL + 1;

volatile sig_atomic_t stopSignal = 0;  // SIGINT or SIGTERM received: the run ends at the next check

const char ABOUT[] =
    "An option's value may also follow it after '=': --board=DIR.\n"
    "Runs the back end on the simulated board in DIR (created when missing, not its parents). A new\n"
    "board, or --power-on, takes the cold start; a later start the warm one, with the settings that\n"
    "DIR/nvram.mem has backed up. Console lines are copied to standard output.\n";

const char AFTER[] =
    "SIGINT (Ctrl-C) or SIGTERM stops it within a frame, also during start-up: \"stopped by signal\" on\n"
    "the console (on standard output before the board is open), exit 0.\n"
    "Exit status: 0 the --frames count was reached with frames running, or a signal stopped it; 1 the\n"
    "board could not be opened or faulted, its disk full among the reasons, or the trace file or\n"
    "standard output could not be written (the reason is printed, with the file); 2 usage error (an\n"
    "option given twice among them, --quiet with --log too); 3 the\n"
    "--frames count ran out while the board restarted and its start-up never reached a frame (the\n"
    "restarts and the first console error of the last start-up, its cause, are printed, and for a\n"
    "broken flash how to recover); 4 the system halted; 5 the system handed off to another program.\n"
    "A watchdog restart prints \"board: restart\" and starts the back end again. DIR/backend.pid names\n"
    "the running back end; it is removed when the back end ends.\n";

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "backend: %s\nusage: backend --board DIR [options] (backend --help lists them)\n", problem.c_str());
  std::exit(2);
}

// Writes text to standard output, flushed; false when it could not be written, said on standard error.
bool put(std::string_view text) { return cli::put(std::cout, text, std::cerr, "backend"); }

// Ends the program, saying why when there is a reason; the board directory no longer holds a back end.
// Standard output that could not be written makes it a failure.
[[noreturn]] void finish(int code, const std::string& reason = {}) {
  if (!put({}) && code == 0) code = 1;
  if (!reason.empty()) std::fprintf(stderr, "backend: %s\n", reason.c_str());
  platform::boardClose();
  lock.release();
  std::_Exit(code);
}

[[noreturn]] void fail(const std::string& problem) { finish(1, problem); }

// Writes text to standard output, flushed; a write that fails ends the run (status 1).
void show(std::string_view text) {
  if (!put(text)) finish(1);
}

// A fault of the board ends the program with its message; in the bus-error signal handler only with
// what is safe there (the console lines that the copy on standard output had not yet written stay in
// the console ring).
void boardFault(const char* message) {
  if (!platform::faultInSignalHandler()) fail(message);
  for (const char* part : {"backend: ", message, "\n"}) (void)!::write(STDERR_FILENO, part, std::strlen(part));
  lock.release();
  _exit(1);
}

// The copy of the console on standard output, a line at a time, by level and without the ESC byte.
// The line that ends start-up is noted in the lock file.
void echo(const char* data, size_t n) {
  static std::string line, shown;
  for (size_t i = 0; i < n; ++i) {
    line += data[i];
    if (data[i] != '\n') continue;
    const int level = cli::lineLevel(line);
    if (level >= echoLevel) shown += cli::withoutEsc(line);
    if (level >= libmx::ERR && firstError.empty()) firstError = cli::withoutEsc(line.substr(0, line.size() - 1));
    if (line.find("Start Timer task") != std::string::npos) {
      show(shown);
      shown.clear();
      platform::boardReleaseZeroPages();
      lock.markStarted();
    }
    line.clear();
  }
  show(shown);
  shown.clear();
}

int levelOf(const std::string& name) {
  for (int level = libmx::INFO; level <= libmx::FATAL; ++level) {
    std::string known = libmx::LogInstance::levelName(level);
    for (char& c : known) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == known) return level;
  }
  return -1;
}

void onSignal(int) { stopSignal = 1; }

// A signal ends the run: said on the console, or on standard output before the board (and its
// console) is open. Checked between the steps of the program's start and at every timer read.
void stopIfSignalled() {
  if (stopSignal == 0) return;
  if (platform::boardIsOpen()) {
    MX_LOG(libmx::INFO, "stopped by signal");
  } else {
    show("[INFO] stopped by signal\n");
  }
  finish(0);
}

void signalHook(u64) { stopIfSignalled(); }

// Blocks (SIG_BLOCK) or lets in (SIG_UNBLOCK) the signals that stop the run.
void maskStopSignals(int how) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(how, &stops, nullptr);
}

// The handlers are put in place from the program's pre-initialisation array, as soon as the system
// has loaded and linked it: before the shared libraries' initialisers and any static object, so a
// signal from then on only notes the stop. SIGINT is taken even when the shell started the program
// with it ignored (a script's background job). A restart blocks the two signals across the exec;
// they are let in here again. A file that may not grow (RLIMIT_FSIZE) fails the write, which the
// board names, instead of ending the program by SIGXFSZ.
void catchStopSignals() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  maskStopSignals(SIG_UNBLOCK);
  signal(SIGXFSZ, SIG_IGN);
}
[[gnu::used, gnu::section(".preinit_array")]] void (*const catchStopSignalsFirst)() = catchStopSignals;

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
  return dash != std::string::npos && hex(text.substr(0, dash), out.first) && hex(text.substr(dash + 1), out.second);
}

// --trace-range LO-HI or --trace-addr ADR: one more range of addresses that the trace keeps.
bool traceOption(const std::string& name, const std::string& value, platform::BoardOptions& options, std::string& error) {
  const bool isRange = name == "--trace-range";
  std::pair<u32, u32> range;
  if (!traceRange(value, isRange, range)) {
    error = name + (isRange ? " takes LO-HI" : " takes ADR") + " in hexadecimal, not " + value;
    return false;
  }
  if (range.first > range.second) return error = name + " takes LO-HI with LO not above HI, not " + value, false;
  options.traceRanges.push_back(range);
  return true;
}

u64 framesRun() { return firstFrame == ~0ull ? 0 : platform::vsyncCount() - firstFrame; }

void loadRunState() {
  const char* text = std::getenv(RUN_VARIABLE);
  unsigned long long pid = 0, used = 0, ran = 0;
  unsigned restarts = 0;
  if (text == nullptr || std::sscanf(text, "%llu %llu %llu %u", &pid, &used, &ran, &restarts) < 4 ||
      pid != static_cast<unsigned long long>(getpid())) {
    return;
  }
  run.used = used, run.framesRan = ran, run.restarts = restarts;
}

void saveRunState() {
  const std::string text = std::to_string(getpid()) + " " + std::to_string(run.used) + " " + std::to_string(run.framesRan) +
                           " " + std::to_string(run.restarts);
  setenv(RUN_VARIABLE, text.c_str(), 1);
}

// A run that the watchdog ended: its frames and the frame periods since its last one (all of its
// time when none ran) count against the limit. The limit reached when frames ran ends the program
// normally; reached while start-ups keep failing, it ends it with the reason: the first error of
// the last start-up names its cause (what follows it is its consequence).
void countRestart() {
  const u64 ran = framesRun();
  const u64 period = static_cast<u64>(platform::vsyncPeriodUs()) * platform::TICKS_PER_US;
  const u64 idle = (platform::clockNow() - lastFrameTick) / period;
  run.used += ran + std::max<u64>(idle, 1);
  run.framesRan += ran;
  ++run.restarts;
  if (frameLimit == 0 || run.used < frameLimit) return;
  if (ran > 0) finish(0);
  std::string why = "--frames " + std::to_string(frameLimit) + " ran out after " + std::to_string(run.restarts) +
                    (run.restarts == 1 ? " restart" : " restarts") + " by the watchdog: ";
  why += run.framesRan == 0 ? "no frame ran" : "its last start-up reached no frame (" + std::to_string(run.framesRan) + " ran before)";
  why += firstError.empty() ? "" : "; first console error of the last start-up: " + firstError;
  if (firstError.find("NAND") != std::string::npos || firstError.find("FPGA config data") != std::string::npos) {
    why += "; the flash " + platform::boardOptions().dir + "/nand.img cannot start the board: removed or moved aside, it is "
           "programmed anew at the next start (the settings in nvram.mem stay)";
  }
  finish(3, why);
}

// Starts this program again on the same board directory, as the board does after a restart.
[[noreturn]] void restart() {
  stopIfSignalled();
  countRestart();
  saveRunState();
  maskStopSignals(SIG_BLOCK);
  std::vector<char*> argv;
  for (auto& a : arguments) {
    if (a != "--power-on") argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  show({});
  platform::boardClose();
  execv("/proc/self/exe", argv.data());
  fail(std::string("cannot start again: ") + std::strerror(errno));
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
void frameLimitHook(u64 now) {
  if (!platform::irqIsEnabled(platform::VSYNC_IRQ)) return;
  if (firstFrame == ~0ull) firstFrame = platform::vsyncCount();
  const u64 ran = framesRun();
  if (ran != framesSeen) framesSeen = ran, lastFrameTick = now;
  if (run.used + ran >= frameLimit) finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  arguments.assign(argv, argv + argc);
  loadRunState();
  platform::BoardOptions options;
  options.clock = platform::ClockMode::RealTime;
  bool help = false, version = false;
  const auto set = [](auto& target, auto value) {
    return [&target, value](const std::string&, std::string&) {
      target = value;
      return true;
    };
  };
  constexpr const char* COPY_LEVEL = "the level of the console's copy";
  const cli::Options table = {
      {"--board", "DIR", "board directory: memory files, NAND image, backend.pid while running",
       [&](const std::string& v, std::string&) {
         options.dir = v;
         return true;
       },
       nullptr, true},
      {"--power-on", nullptr, "clear the volatile memory first, as a power cycle does (nvram.mem stays)",
       set(options.powerOn, true)},
      {"--frames", "N",
       "end after N frames (N > 0), counted across watchdog restarts: frames count once\n"
       "interrupts are on, and a run that the watchdog ends adds the frame periods it\n"
       "spent after its last frame (a failed start-up all of its time: about 600)",
       [](const std::string& v, std::string& error) {
         long n = 0;
         if (!cli::parseNumber(v, 1, 0x7FFFFFFF, n)) return error = "--frames takes a count above 0, not " + v, false;
         frameLimit = static_cast<u64>(n);
         return true;
       }},
      {"--fast", nullptr, "run the board clock as fast as the host can instead of in real time",
       set(options.clock, platform::ClockMode::Fast)},
      {"--trace", "FILE",
       "write every register write to FILE: frame stage address value (about 75 KB a\n"
       "frame), each frame's lines as it ends; stage 1..5 the driver update's timed\n"
       "stages, 6 its untimed tail, 7 the early update, 0 outside the update",
       [&](const std::string& v, std::string&) {
         options.traceFile = v;
         return true;
       }},
      {"--trace-range", "LO-HI", "trace only writes to addresses LO..HI (hexadecimal); may be repeated",
       [&](const std::string& v, std::string& error) { return traceOption("--trace-range", v, options, error); },
       nullptr, false, true},
      {"--trace-addr", "ADR", "trace only writes to ADR (hexadecimal); may be repeated, with ranges too",
       [&](const std::string& v, std::string& error) { return traceOption("--trace-addr", v, options, error); },
       nullptr, false, true},
      {"--log", "LEVEL", "copy only console lines of LEVEL and above: info, warn, err, fatal",
       [](const std::string& v, std::string& error) {
         echoLevel = levelOf(v);
         if (echoLevel < 0) return error = "--log takes info, warn, err or fatal, not " + v, false;
         return true;
       },
       nullptr, false, false, COPY_LEVEL},
      {"--quiet", nullptr, "copy no console lines (the console ring keeps them all)", set(echoLevel, ECHO_NONE), nullptr,
       false, false, COPY_LEVEL},
      {"--help", nullptr, "this text", set(help, true), "-h"},
      {"--version", nullptr, "the version of the system and of its backup image", set(version, true)},
  };
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string error;
    if (!cli::readOption(arguments, i, table, error)) usage(error);
    if (help) {
      return put("usage: backend " + cli::optionSynopsis(table, 15) + "\n" + ABOUT + cli::optionHelp(table, 17) + AFTER) ? 0 : 1;
    }
  }
  if (version) {
    if (const std::string error = cli::versionAlone(arguments, 1); !error.empty()) usage(error);
    return put(cli::versionLine("backend") + "\n") ? 0 : 1;
  }
  if (options.dir.empty()) usage("--board DIR is needed");
  if (!options.traceRanges.empty() && options.traceFile.empty()) usage("--trace-range and --trace-addr need --trace FILE");

  std::string error;
  if (!cli::prepareBoardDir(options.dir, error) || !lock.acquire(options.dir, error)) fail(error);
  stopIfSignalled();
  platform::setFaultHandler(boardFault);
  platform::boardOpen(options);
  platform::setDebugSink(echo);
  platform::setEndHandler(onEnd);
  // A new board's flash is written here: a signal meanwhile lets it finish, then stops the run.
  platform::attachBoardModels();
  stopIfSignalled();
  if (frameLimit > 0) platform::addTimerHook(frameLimitHook);
  platform::addTimerHook(signalHook);
  bpMain();
}
