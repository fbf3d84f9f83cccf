// The frontend program: its options, the table of its commands, and what they share.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <ostream>
#include <thread>

#include "Lib/Include/records/button.h"
#include "Lib/Include/records/panel.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/commands/commands.h"
#include "Tools/lib/records/types.h"

namespace frontend {

using cli::parseNumber;
using cli::parseSeconds;

// "name=value" into its two parts; false without '='.
bool splitAssignment(const std::string& word, std::string& name, std::string& value) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = word.substr(0, eq);
  value = word.substr(eq + 1);
  return true;
}

// Options "name=N" of the short forms, each within 0..max and given once.
bool shortOptions(const std::vector<std::string>& words, size_t first, const char* const* names, long* values,
                  const long* max, int n, std::string& error) {
  std::vector<size_t> givenAt(static_cast<size_t>(n), SIZE_MAX);
  for (size_t i = first; i < words.size(); ++i) {
    std::string name, value;
    bool ok = splitAssignment(words[i], name, value);
    int k = 0;
    while (ok && k < n && name != names[k]) ++k;
    if (ok && k < n && givenAt[k] != SIZE_MAX) return error = cli::givenTwice(words[givenAt[k]], words[i], name), false;
    if (ok && k < n) givenAt[k] = i;
    if (!ok || k == n || !parseNumber(value, 0, max[k], values[k])) {
      std::string known;
      for (int j = 0; j < n; ++j) known += std::string(j ? ", " : "") + names[j] + "=0.." + std::to_string(max[j]);
      error = "bad word " + words[i] + (n == 0 ? " (takes none)" : " (takes " + known + ")");
      return false;
    }
  }
  return true;
}

bool put(std::ostream& out, std::string_view text, std::ostream& err) { return cli::put(out, text, err, "frontend"); }

void sayEnded(const std::string& board, std::ostream& err) { err << "frontend: the back end on " << board << " has ended\n"; }

int usage(std::ostream& err, const std::string& problem) {
  err << "frontend: " << problem << "\nusage: frontend --board DIR [--timeout S] COMMAND ... (frontend --help lists them)\n";
  return 2;
}

int refuse(std::ostream& err, const std::string& message) {
  err << "frontend: " << message << "\n";
  return 1;
}

int typeArgument(const std::string& name, std::ostream& err) {
  const int type = typeIndexOf(name);
  if (type < 0) usage(err, unknownType(name));
  return type;
}

// A time-out option (--timeout S, or the name given) that sets seconds, and *given where named.
cli::Option timeoutOption(double& seconds, const char* help, const char* name, bool* given) {
  return {name, "S", help, [&seconds, name, given](const std::string& v, std::string& error) {
            if (!parseSeconds(v, seconds)) return error = std::string(name) + " takes seconds from 0 to 3600, not " + v, false;
            if (given != nullptr) *given = true;
            return true;
          }};
}

int noWords(const char* command, const Invocation& in) {
  return in.args.empty() ? 0 : usage(in.err, std::string(command) + " takes no words: " + in.args[0]);
}

// Waits until a back end holding dir has passed its start-up (its rings are reset until then). A back
// end started a moment ago may not have made the directory or taken its lock yet: both are awaited
// too, so that only at the time-out is there no back end; a path that cannot become its directory (a
// file there) is said at once. A start-up under way is awaited for startTimeout from when it is first
// seen: a new board's takes seconds, more on a loaded host.
bool waitForStartUp(const std::string& dir, double timeout, double startTimeout, std::string& error) {
  const auto until = deadline(timeout);
  std::optional<Clock::time_point> startUntil;
  cli::LongWait wait;
  for (;;) {
    const cli::Backend state = cli::backendOn(dir);
    if (state == cli::Backend::Running) return true;
    if (state == cli::Backend::None && !cli::checkBoardDir(dir, error) && errno != ENOENT) return false;
    if (state == cli::Backend::Starting && !startUntil) startUntil = deadline(startTimeout);
    wait.check([&] {
      return state == cli::Backend::Starting ? "the back end on " + dir + " to pass its start-up"
                                             : "a back end to start on " + dir;
    });
    if (InterruptHandlers::interrupted()) return error = "stopped by a signal", false;
    if (Clock::now() >= (state == cli::Backend::Starting ? *startUntil : until)) {
      if (state == cli::Backend::Starting) {
        error = "the back end on " + dir + " has not passed its start-up in time (--start-timeout S waits longer)";
      } else if (cli::checkBoardDir(dir, error)) {
        error = "no back end is running on " + dir;
      }
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
}


namespace {

volatile sig_atomic_t interruptSeen = 0;
constexpr int INTERRUPTS[2] = {SIGINT, SIGTERM};

void onInterrupt(int signal) { interruptSeen = signal; }

}  // namespace

InterruptHandlers::InterruptHandlers(Mode mode) {
  interruptSeen = 0;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 2; ++i) {
    sigaction(INTERRUPTS[i], nullptr, &previous_[i]);
    caught_[i] = mode == Stop || previous_[i].sa_handler != SIG_IGN;
    if (caught_[i]) sigaction(INTERRUPTS[i], &action, nullptr);
  }
}

InterruptHandlers::~InterruptHandlers() { restore(); }

void InterruptHandlers::restore() {
  for (int i = 0; i < 2; ++i) {
    if (caught_[i]) sigaction(INTERRUPTS[i], &previous_[i], nullptr);
    caught_[i] = false;
  }
}

void InterruptHandlers::raiseAgain() {
  const int signal = interruptSeen;
  restore();
  if (signal != 0) raise(signal);
}

bool InterruptHandlers::interrupted() { return interruptSeen != 0; }

namespace {

const char ABOUT[] =
    "The front-end processor's side of the link to the back end running on board directory DIR.\n"
    "An option's value may also follow it after '=': --board=DIR; -- ends the options, and one given twice\n"
    "is a usage error. frontend COMMAND --help tells of one.\n";

const char WRITES[] =
    "Commands that write a request, and watch, wait for a back end on DIR and its start-up to pass:\n";
const char READS[] = "Commands that read:\n";

const char STATUS[] =
    "Numbers are decimal as written (010 is 10).\n"
    "Exit status: 0 done; 1 failed (no back end, a refused request or format not applied, a negative reply\n"
    "code, a time-out, a request not sent, standard output not written); 2 usage error (unknown command,\n"
    "option, type or field name, a type with no field list here, a value the field cannot hold, a word or\n"
    "option given twice or one the command does not take, --version with other words, a record with no\n"
    "field given, which would change nothing, or more bytes than the request ring takes at once); 3 a\n"
    "request sent whose outcome is not known: its answer not seen (a wait holds requests back, a watch\n"
    "that reads no more holds the acknowledgement ring full, bytes written before left a packet\n"
    "unfinished), a command the back end answers none of, its answer cannot be followed (the tools' table\n"
    "could not be written after it went out), an on-air state that the backup image cannot give, a\n"
    "restart of the back end between the request and the reading of what became of it, or a value\n"
    "refused on ME 2 or 3 that the record starts with; 130 or 143 (as a shell reports it) stopped by\n"
    "SIGINT or SIGTERM: a command that writes once it has left the tools' table (watch and console\n"
    "--follow end as at their time-out).\n";

// The ranges of the button and fader commands' words, as the events' records declare them.
constexpr limits::Range BUTTON_MES = limits::runOf(&internal::MxifButtonEvent::me);
constexpr limits::Range BUTTON_PANELS = limits::runOf(&internal::MxifButtonEvent::panel);
constexpr auto BUTTON_HELP = rules::compose("a button event (codes: frontend buttons; a name\n"
                                            "there that stands for one code is taken as it):\n"
                                            "me ", BUTTON_MES.lo, "..", BUTTON_MES.hi, ", panel ", BUTTON_PANELS.lo,
                                            "..", BUTTON_PANELS.hi, ", index 0..255");
constexpr limits::Range LEVERS = limits::runOf(&internal::MxifFaderEvent::lever);
constexpr limits::Range LEVER_VALUES = limits::runOf(&internal::MxifFaderEvent::value);
constexpr limits::Range LEVER_PANELS = limits::runOf(&internal::MxifFaderEvent::panel);
constexpr auto FADER_HELP = rules::compose("a fader event: lever ", LEVERS.lo, "..", LEVERS.hi, ", raw value ",
                                           LEVER_VALUES.lo, "..", LEVER_VALUES.hi, ", panel ", LEVER_PANELS.lo, "..",
                                           LEVER_PANELS.hi);

const Command COMMANDS[] = {
    {"send", "TYPE [me=N] [channel=N] field=value ...",
     "a record or command by type name; its answer\n"
     "is checked: each field of a record that the back\n"
     "end refused is named with what it takes, a format\n"
     "the board cannot run as not applied, a command's\n"
     "negative reply code as refused (status 1); no\n"
     "answer seen: the reason (status 3)",
     Command::Writes, runSend},
    {"raw", "HEX...", "bytes as they stand, e.g. 5a81 00000000 0049", Command::Writes, runRaw},
    {"wait", "N", "the back end reads no request for N frames (0..32767)", Command::Writes, runWait},
    {"button", "CODE|NAME press|release [me=N] [panel=N] [index=N]", BUTTON_HELP.chars, Command::Writes, runButton},
    {"fader", "LEVER VALUE [panel=N]", FADER_HELP.chars, Command::Writes, runFader},
    {"watch", nullptr,
     "reports and answers that arrive while it runs, a\n"
     "line each (watches side by side each see all);\n"
     "--type prints only those types (and --count counts\n"
     "them); --waiting: first those waiting, which no\n"
     "watch --waiting has taken yet (the last 64 KB at\n"
     "most), and it takes those it prints once written\n"
     "(one at a time, so each shows only those no other\n"
     "took); SIGINT or SIGTERM ends it, and so does the\n"
     "back end's end",
     Command::Writes, runWatch, watchOptionHelp},
    {"console", nullptr,
     "new console lines (--follow: until interrupted,\n"
     "the back end has ended or a --timeout given)",
     Command::Reads, runConsole, consoleOptionHelp},
    {"show", "TYPE [me=N] [channel=N]", "a record as last backed up in DIR/nvram.mem", Command::Reads, runShow},
    {"types", "", "type names with their indexes (those not built into\nthis program marked)", Command::Reads,
     runTypes},
    {"fields", "TYPE", "a record's fields with the values its checks take", Command::Reads, runFields},
    {"buttons", "", "the button codes of the panels by name", Command::Reads, runButtons},
};

const Command* commandNamed(const std::string& name) {
  for (const Command& c : COMMANDS) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// "NAME WORDS...": a command with options of its own names them from their table.
std::string commandLine(const Command& c) {
  const std::string words = c.options != nullptr ? cli::optionSynopsis(c.options(), 0, 1000) : c.synopsis;
  return c.name + (words.empty() ? "" : " " + words);
}

// The help lines of a command: its synopsis, then its help from column `column`.
std::string commandHelp(const Command& c, size_t column) {
  std::string text = "  " + commandLine(c);
  text += text.size() + 1 > column ? "\n" + std::string(column, ' ') : std::string(column - text.size(), ' ');
  for (const char* p = c.help; *p != 0; ++p) {
    text += *p;
    if (*p == '\n') text += std::string(column, ' ');
  }
  return text + "\n";
}

constexpr size_t HELP_COLUMN = 47;

}  // namespace

namespace {

int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Invocation in{"", DEFAULT_TIMEOUT, false, START_TIMEOUT, {}, out, err};
  const cli::WaitNotices notices(err, "frontend: ");
  bool help = false, version = false;
  const cli::Options table = {
      {"--board", "DIR", "board directory of the back end (every command but types, fields and buttons)",
       [&in](const std::string& v, std::string&) {
         in.board = v;
         return true;
       }},
      timeoutOption(in.timeout,
                    "upper bound of every wait but the one below, in seconds (default 2); it ends\n"
                    "watch, and console --follow where given",
                    "--timeout", &in.timed),
      timeoutOption(in.startTimeout,
                    "upper bound of the wait for a back end's start-up, from when it is seen under way\n"
                    "(default 30)",
                    "--start-timeout"),
      {"--help", nullptr, "this text", [&help](const std::string&, std::string&) { return help = true; }, "-h"},
      {"--version", nullptr, "the version of the system and of the backup image it reads",
       [&version](const std::string&, std::string&) { return version = true; }},
  };
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    std::string error;
    if (args[i] == "--") {  // the end of the options
      ++i;
      break;
    }
    if (!cli::readOption(args, i, table, error)) return usage(err, error);
    if (help) {
      std::string text = "usage: frontend " + cli::optionSynopsis(table, 16) + " COMMAND ...\n" + ABOUT +
                         cli::optionHelp(table, 21);
      for (const Command& c : COMMANDS) {
        if (&c == COMMANDS || c.group != (&c)[-1].group) text += c.group == Command::Writes ? WRITES : READS;
        text += commandHelp(c, HELP_COLUMN);
      }
      put(out, text + STATUS, err);
      return 0;
    }
  }
  if (version) {
    if (const std::string error = cli::versionAlone(args, 0); !error.empty()) return usage(err, error);
    put(out, cli::versionLine("frontend") + "\n", err);
    return 0;
  }
  if (i >= args.size()) return usage(err, "a command is needed");
  const Command* command = commandNamed(args[i]);
  if (command == nullptr) {
    std::vector<std::string> names;
    for (const Command& c : COMMANDS) names.emplace_back(c.name);
    return usage(err, "unknown command " + args[i] + cli::nearestNote(args[i], names));
  }
  in.args.assign(args.begin() + static_cast<std::ptrdiff_t>(i + 1), args.end());
  if (in.args.size() == 1 && (in.args[0] == "--help" || in.args[0] == "-h")) {
    put(out, "usage: frontend " + cli::optionSynopsis(table, 16) + " " + commandLine(*command) + "\n" +
                 commandHelp(*command, HELP_COLUMN) +
                 (command->options != nullptr ? "Its options:\n" + cli::optionHelp(command->options(), 18) : ""),
        err);
    return 0;
  }
  return command->run(in);
}

}  // namespace

// A command's status, or 1 when what it wrote to out could not all be written.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const int status = runCommand(args, out, err);
  return put(out, {}, err) || status != 0 ? status : 1;
}

}  // namespace frontend
