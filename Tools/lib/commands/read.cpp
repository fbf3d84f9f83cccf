// The reading commands: console, show, types, fields.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <ostream>
#include <thread>

#include "Lib/Include/type_names.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/commands/commands.h"
#include "Tools/lib/link/console_lines.h"

namespace frontend {

using cli::parseNumber;

namespace {

// Prints the console lines; a follow goes on until interrupted, until the back end has ended (after
// its last lines) or, where a time-out was given, until it has passed.
struct ConsoleOptions {
  bool follow = false;
  double timeout = 0;
  bool timed = false;
};

// console's options, setting o.
cli::Options consoleOptionTable(ConsoleOptions& o) {
  return {timeoutOption(o.timeout, "stop waiting, and following, after S seconds", "--timeout", &o.timed),
          {"--follow", nullptr, "until interrupted, the back end has ended or a\n--timeout given has passed",
           [&o](const std::string&, std::string&) { return o.follow = true; }}};
}

// 0, or 2 with a usage error written.
int consoleOptions(const std::vector<std::string>& a, ConsoleOptions& o, std::ostream& err) {
  const cli::Options table = consoleOptionTable(o);
  for (size_t i = 0; i < a.size(); ++i) {
    std::string error;
    if (!cli::readOption(a, i, table, error)) {
      return usage(err, "console: " + error + "; it takes " + cli::optionSynopsis(table, 0, 1000));
    }
  }
  return 0;
}

int console(const std::string& board, const ConsoleOptions& o, std::ostream& out, std::ostream& err) {
  const bool follow = o.follow;
  const auto until = deadline(o.timeout);
  const bool running = cli::backendOn(board) != cli::Backend::None;
  Link link;
  std::string error;
  if (!running && access((board + "/link.mem").c_str(), F_OK) != 0) {
    return refuse(err, "no back end is running on " + board + ", and no console ring is there (no link.mem)");
  }
  if (!link.open(board, running ? o.timeout : 0, error, true)) return refuse(err, error);
  if (!running) err << "frontend: no back end is running on " << board << "; its console ring holds:\n";
  if (link.readOnly()) {
    err << "frontend: " << board << "/link.mem cannot be written here: the lines are shown, and stay new for the next console\n";
  }
  std::optional<InterruptHandlers> handlers;
  if (follow) handlers.emplace();
  for (;;) {
    const bool ended = cli::backendOn(board) == cli::Backend::None;  // before the take: its last lines come
    if (!link.takeConsole([&](const std::string& lines) { return put(out, cli::withoutEsc(lines), err); })) return 1;
    if (!follow || InterruptHandlers::interrupted() || (o.timed && Clock::now() >= until)) return 0;
    if (ended) {
      if (running) sayEnded(board, err);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct ShowWhat {
  int type = -1;
  long me = 0, channel = 0;
};

// The record that show names; 0, or 2 with a usage error written. The instance words are those the
// record has, within their ranges, as send takes them.
int showArguments(const std::vector<std::string>& a, ShowWhat& what, std::ostream& err) {
  if (a.empty()) return usage(err, "show takes TYPE [me=N] [channel=N]");
  what.type = typeArgument(a[0], err);
  if (what.type < 0) return 2;
  RecordShape shape;
  std::string text, error;
  if (!recordShape(what.type, shape)) return fieldList(what.type, text, error), usage(err, error);  // not built
  const char* names[2];
  long max[2];
  long* values[2];
  int n = 0;
  if (shape.perMe) names[n] = "me", max[n] = category::N_ME - 1, values[n++] = &what.me;
  if (shape.channels > 1) names[n] = "channel", max[n] = shape.channels - 1, values[n++] = &what.channel;
  long v[2] = {0, 0};
  if (!shortOptions(a, 1, names, v, max, n, error)) return usage(err, "show " + a[0] + ": " + error);
  for (int k = 0; k < n; ++k) *values[k] = v[k];
  return 0;
}

int show(const std::string& board, const ShowWhat& what, std::ostream& out, std::ostream& err) {
  std::string text, note, error;
  if (!showBackedUp(board, what.type, static_cast<int>(what.me), static_cast<int>(what.channel), text, note, error)) {
    return refuse(err, error);
  }
  if (!note.empty()) err << "frontend: note: " << note << "\n";
  return put(out, text + "\n", err) ? 0 : 1;
}

int types(std::ostream& out, std::ostream& err) {
  std::string text;
  for (int type = 0; type < category::N_TYPES; ++type) {
    char line[80];
    std::snprintf(line, sizeof line, "%3d %s", type, category::typeNameOf(type));
    text += line;
    if (type == category::TYPE_WAIT_CMD) {
      text += "  (frontend wait)";
    } else if (type == category::TYPE_FADER_EVENT) {
      text += "  (frontend fader)";
    } else if (type == category::TYPE_BUTTON_EVENT) {
      text += "  (frontend button)";
    } else if (!isRecordBuilt(type)) {
      text += "  (not built into this program: frontend raw only)";
    }
    text += "\n";
  }
  return put(out, text, err) ? 0 : 1;
}

int fields(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 1) return usage(err, "fields takes one TYPE");
  const int type = typeArgument(a[0], err);
  if (type < 0) return 2;
  std::string text, error;
  if (!fieldList(type, text, error)) return usage(err, error);
  return put(out, text, err) ? 0 : 1;
}

}  // namespace

int runConsole(Invocation& in) {
  ConsoleOptions o;
  o.timeout = in.timeout;
  o.timed = in.timed;
  if (consoleOptions(in.args, o, in.err) != 0) return 2;
  if (in.board.empty()) return usage(in.err, "--board DIR is needed");
  std::string error;
  if (!cli::checkBoardDir(in.board, error)) return refuse(in.err, error);
  return console(in.board, o, in.out, in.err);
}

cli::Options consoleOptionHelp() {
  static ConsoleOptions unused;
  return consoleOptionTable(unused);
}

int runShow(Invocation& in) {
  ShowWhat what;
  if (showArguments(in.args, what, in.err) != 0) return 2;
  if (in.board.empty()) return usage(in.err, "--board DIR is needed");
  std::string error;
  if (!cli::checkBoardDir(in.board, error)) return refuse(in.err, error);
  return show(in.board, what, in.out, in.err);
}

int runTypes(Invocation& in) { return noWords("types", in) != 0 ? 2 : types(in.out, in.err); }
int runFields(Invocation& in) { return fields(in.args, in.out, in.err); }

}  // namespace frontend
