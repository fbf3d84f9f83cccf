// watch: the reports the back end writes while it runs.
#include <algorithm>
#include <ostream>
#include <sstream>
#include <thread>

#include "Lib/Include/type_names.h"
#include "Tools/lib/commands/commands.h"

namespace frontend {

using cli::parseNumber;

namespace {

// The type names of --type NAME[,NAME]; false with a usage error written.
bool typeFilter(const std::string& list, std::vector<int>& types, std::ostream& err) {
  for (size_t start = 0; start <= list.size();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    if (comma == start) {
      usage(err, "watch: --type " + (list.empty() ? "takes NAME[,NAME], not an empty word"
                                                  : list + ": its name " + std::to_string(types.size()) + " is empty"));
      return false;
    }
    const int type = typeArgument(list.substr(start, comma - start), err);
    if (type < 0) return false;
    types.push_back(type);
    start = comma + 1;
  }
  return true;
}

// Whether a record's line carries no field but the words of its instance ("MxifKey me=0 channel=2"):
// the back end's answer to a request that changed nothing (a value refused, or one held already).
bool carriesNoField(const Packet& p, const std::string& line) {
  if (p.type >= category::FIRST_COMMAND_TYPE || !isRecordBuilt(p.type)) return false;
  std::istringstream words(line);
  std::string word;
  words >> word;
  while (words >> word) {
    if (!word.starts_with("me=") && !word.starts_with("channel=")) return false;
  }
  return true;
}

struct WatchOptions {
  long count = -1;
  std::vector<int> types;
  double timeout = 0;
  bool waiting = false;
};

// watch's options, setting o; a type name that --type does not know is written to err.
cli::Options watchOptionTable(WatchOptions& o, std::ostream& err) {
  return {
      {"--count", "N", "stop after N reports",
       [&o](const std::string& v, std::string& error) {
         if (!parseNumber(v, 1, 1000000, o.count)) return error = "--count takes a count from 1 to 1000000, not " + v, false;
         return true;
       }},
      timeoutOption(o.timeout, "stop after S seconds"),
      {"--type", "NAME[,NAME]", "print only those types",
       [&o, &err](const std::string& v, std::string&) { return typeFilter(v, o.types, err); }},
      {"--waiting", nullptr, "first what is waiting",
       [&o](const std::string&, std::string&) { return o.waiting = true; }},
  };
}

// 0, or 2 with a usage error written.
int watchOptions(const std::vector<std::string>& a, WatchOptions& o, std::ostream& err) {
  const cli::Options table = watchOptionTable(o, err);
  for (size_t i = 0; i < a.size(); ++i) {
    std::string error;
    if (cli::readOption(a, i, table, error)) continue;
    // A type name that --type does not know has been said already.
    return error.empty() ? 2 : usage(err, "watch: " + error + "; it takes " + cli::optionSynopsis(table, 0, 1000));
  }
  return 0;
}

// Prints the reports that the back end writes while it runs (after those waiting, with --waiting),
// as a running reader of the tools' table: watches side by side each see every report. With
// --waiting it takes the reports it prints; the others stay waiting. SIGINT and SIGTERM end it as
// its time-out does, leaving the table without it.
// Ends with the back end: it looks before each read, so that the back end's last reports come.
int watch(Link& link, const WatchOptions& o, const Clock::time_point until, std::ostream& out, std::ostream& err) {
  using linkpeer::AckReader;
  AckReader reader(link.dir(), link.ackRing(), o.waiting ? AckReader::From::Waiting : AckReader::From::Now, link.timeout());
  std::ostringstream text;  // what is printed next
  if (!reader.droppedBefore().empty()) {
    u32 all = 0;
    std::string types;
    for (const auto& [type, count] : reader.droppedBefore()) {
      all += count;
      types += (types.empty() ? "" : ", ") + std::to_string(count) + " " + category::typeNameOf(type);
    }
    text << "(" << all << " older waiting reports that no watch --waiting took were dropped for room, as the tools keep the "
         << "last " << WAITING_KB << " KB of them: " << types << ")\n";
  }
  long seen = 0;
  size_t parsed = 0, garbage = 0;
  const auto counted = [&] { return o.count >= 0 && seen >= o.count; };
  bool ended = false;
  // At the time-out or a signal, one more look takes in what came since the last; the back end's end
  // is seen before a look, which is then the last.
  for (bool last = false;;) {
    ended = ended || cli::backendOn(link.dir()) == cli::Backend::None;
    const AckReader::Follow followed = reader.follow();
    if (followed == AckReader::Follow::Failed) return refuse(err, "watch: " + reader.error());
    if (followed != AckReader::Follow::Copied) {
      parsed = 0;
      text << (followed == AckReader::Follow::Restarted ? "(the back end started again: what follows is from its new start)\n"
              : followed == AckReader::Follow::TableLost
                  ? "(reports are missing here: the tools' table frontend.link was lost and they went before this watch read them)\n"
                  : "(reports are missing here: a reader outside these tools took them)\n");
    }
    Packet p;
    std::vector<size_t> printed;
    size_t start = 0;
    for (size_t skipped = garbage; !counted() && linkpeer::nextPacket(reader.bytes(), parsed, p, garbage, &start);) {
      if (garbage != skipped) text << "(" << garbage - skipped << " bytes skipped before a packet)\n";
      skipped = garbage;
      if (o.waiting && reader.wasTaken(start)) continue;
      if (!o.types.empty() && std::find(o.types.begin(), o.types.end(), p.type) == o.types.end()) continue;
      const std::string line = describe(p);
      text << line << (carriesNoField(p, line) ? "  (no field: an answer that changed nothing)\n" : "\n");
      printed.push_back(start);
      ++seen;
    }
    // What was printed, once written, no longer waits; what could not be written still does.
    if (!put(out, text.str(), err)) return 1;
    text.str("");
    if (o.waiting) reader.take(printed);
    reader.drop(parsed);
    parsed = 0;
    if (counted()) return 0;
    if (last || ended) break;
    last = Clock::now() >= until || InterruptHandlers::interrupted();
    if (!last) std::this_thread::sleep_for(POLL);
  }
  if (ended) sayEnded(link.dir(), err);
  if (o.count < 0) return 0;
  err << "frontend: watch: " << seen << " of " << o.count << " packets before "
      << (ended ? "the back end ended" : InterruptHandlers::interrupted() ? "it was stopped" : "the time-out") << "\n";
  return 1;
}

}  // namespace

cli::Options watchOptionHelp() {
  static WatchOptions unused;
  static std::ostringstream discard;
  return watchOptionTable(unused, discard);
}

int runWatch(Invocation& in) {
  WatchOptions o;
  o.timeout = in.timeout;
  if (watchOptions(in.args, o, in.err) != 0) return 2;
  if (in.board.empty()) return usage(in.err, "--board DIR is needed");
  InterruptHandlers handlers;
  // A watch waits for the back end within its own time-out, and watches until its end.
  const auto until = deadline(o.timeout);
  std::string error;
  if (!waitForStartUp(in.board, o.timeout, in.startTimeout, error)) return refuse(in.err, error);
  Link link;
  if (!link.open(in.board, in.timeout, error)) return refuse(in.err, error);
  return watch(link, o, until, in.out, in.err);
}

}  // namespace frontend
