#pragma once
// What the frontend's commands share: the table of commands that `run` dispatches on and that
// writes the help, the waits and their bounds, and the words of the short options.
#include <signal.h>

#include <chrono>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

#include "Tools/lib/cli.h"
#include "Tools/lib/link/link.h"

namespace frontend {

using Clock = std::chrono::steady_clock;

constexpr double DEFAULT_TIMEOUT = 2.0;
constexpr double START_TIMEOUT = 30.0;  // a back end's start-up under way
constexpr auto POLL = std::chrono::milliseconds(1);
// The waiting reports that the tools keep, as watch's help and its note of those dropped say it.
constexpr u32 WAITING_KB = (linkpeer::WAITING_KEPT + 512) / 1024;
static_assert(WAITING_KB == 64, "watch's help says 64 KB");

inline Clock::time_point deadline(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// A command as run: the words after its name and the program's options.
struct Invocation {
  std::string board;  // empty when no --board was given
  double timeout = DEFAULT_TIMEOUT;
  bool timed = false;  // --timeout was given
  double startTimeout = START_TIMEOUT;
  std::vector<std::string> args;
  std::ostream& out;
  std::ostream& err;
};

// One command of the program. The table of them serves dispatch, `frontend --help` and
// `frontend COMMAND --help`, so the three cannot disagree.
struct Command {
  const char* name;
  const char* synopsis;  // the words after the name (null: those of its options)
  const char* help;      // what it does; '\n' starts a further line
  enum Group { Writes, Reads } group;
  int (*run)(Invocation&);
  cli::Options (*options)() = nullptr;  // its own options, for its help (their values unused)
};

// The writing commands (send, raw, wait, button, fader), the reading ones.
int runSend(Invocation& in);
int runRaw(Invocation& in);
int runWait(Invocation& in);
int runButton(Invocation& in);
int runFader(Invocation& in);
int runWatch(Invocation& in);
int runConsole(Invocation& in);
int runShow(Invocation& in);
int runTypes(Invocation& in);
int runFields(Invocation& in);
int runButtons(Invocation& in);
cli::Options watchOptionHelp();
cli::Options consoleOptionHelp();

// "frontend: PROBLEM" and the usage line; returns 2.
int usage(std::ostream& err, const std::string& problem);
// "frontend: MESSAGE"; returns 1.
int refuse(std::ostream& err, const std::string& message);

// Writes text to out and flushes it; false, said on err, when out cannot be written (cli::put).
bool put(std::ostream& out, std::string_view text, std::ostream& err);
// "frontend: the back end on DIR has ended": a follow (console --follow, watch) ends with the back
// end. It looks whether one holds DIR before its last read, so that what the back end wrote last comes.
void sayEnded(const std::string& board, std::ostream& err);

// "name=value" into its two parts; false without '='.
bool splitAssignment(const std::string& word, std::string& name, std::string& value);
// Options "name=N" of the short forms from words[first] on, each within 0..max and given once.
bool shortOptions(const std::vector<std::string>& words, size_t first, const char* const* names, long* values,
                  const long* max, int n, std::string& error);
// "unknown type NAME (nearest: ...); frontend types lists them all".
std::string unknownType(const std::string& name);
// A type name that must name a type: its index, or -1 with a usage error written.
int typeArgument(const std::string& name, std::ostream& err);
// A time-out option (--timeout S, or the name given) that sets seconds, and *given where named.
cli::Option timeoutOption(double& seconds, const char* help, const char* name = "--timeout", bool* given = nullptr);
// 0, or 2 with a usage error written when the command was given words (it takes none).
int noWords(const char* command, const Invocation& in);

// The largest body that the back end's reader of a packet type takes (Lib/Include/type_layout.h): its
// form's, or what the back end's input stream holds where none reads one.
int largestBody(int type);

// Waits until a back end holding dir has passed its start-up, up to timeout for one to hold dir and
// startTimeout for its start-up under way; false with the reason.
bool waitForStartUp(const std::string& dir, double timeout, double startTimeout, std::string& error);

// Writes a send request (filled, where it needs it, in the writer's turn from the backup image
// that holds every request written before it) and judges what became of it (send/send.cpp).
// note: what the tool says of the indexes it chose (written once the request is out).
int sendRequest(Link& link, const std::string& board, Request& request, const std::string& note, double timeout,
                std::ostream& err);
// Writes the packet of a writing command: 0 sent; 1, with the reason, when nothing was sent; 3 when it
// went out but the tools' table could not be written after it, so that its answer cannot be followed.
int writeOnly(Link& link, const std::string& request, const Bytes& packet, double timeout, std::ostream& err,
              Link::Written* written = nullptr, const Link::Prepare& prepare = {});

extern const char NO_ROOM[];
// The most bytes that the request ring takes at once (its writer stops short of the read index), and
// what a write of more says: "N bytes never fit the request ring, which takes at most M at once".
constexpr u32 REQUEST_RING_TAKES = LINK_RING_DATA - LINK_RING_RESERVE;
std::string neverFits(size_t bytes);

// SIGINT and SIGTERM, for as long as this lives (the previous actions back after), end the command's
// waits (interrupted() holds) rather than the process at once, so that it leaves the tools' table
// without it. Stop: a follow (watch, console --follow) ends as at its time-out, even when started in
// a script's background, which ignores SIGINT. Leave: a signal the process ignores stays ignored,
// and once the command has left, raiseAgain() ends the process by the signal as it would have ended.
class InterruptHandlers {
 public:
  enum Mode { Stop, Leave };
  explicit InterruptHandlers(Mode mode = Stop);
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;
  static bool interrupted();
  void raiseAgain();

 private:
  void restore();
  struct sigaction previous_[2] = {};
  bool caught_[2] = {};
};

}  // namespace frontend
