// send's check of the back end's answer to its request.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <thread>

#include "Driver/core/core.h"
#include "Lib/Include/data_internal.h"
#include "Lib/Include/storage.h"
#include "Main/framework/typenames.h"
#include "Main/system/system.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/commands.h"

namespace frontend {

using cli::parseNumber;

namespace {

// ---- The answer to a request ---------------------------------------------------------------------------
//
// The back end answers a record request with one report of the record instance, sent in the frame
// that takes the request: a field it takes keeps its presence bit until that report goes out, so one
// report answers every request of the instance in a frame. `send` follows its request with a wait of
// one frame, so no later request shares that frame, and once the back end has read both it writes a
// wait of no frames: the back end reads that in a later frame only, after the one that took the
// request has sent its reports. The answer is then among the reports of the instance written since
// the request; a field that none of them carries as sent was not taken.

Bytes waitPacket(s16 frames) { return linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(frames)); }

// A packet of the acknowledgement ring, and where it starts: bytes after the write index that the
// sender saw before writing its request.
struct Report {
  size_t at;
  Packet packet;
};

// The packets written to the acknowledgement ring since this was made, read by ring position as a
// running reader of the tools' table: a watch beside it sees them too, and the ring keeps them until
// they are read. Only reports of the back end's start whose ring took the request answer it.
class AckReports {
  using Follow = linkpeer::AckReader::Follow;

 public:
  explicit AckReports(Link& link)
      : dir_(link.dir()), ring_(link.ackRing()), reader_(link.dir(), link.ackRing(), linkpeer::AckReader::From::Now, link.timeout()) {
    if (!reader_.error().empty()) lost_ = Follow::Failed;  // its first follow
  }
  // The request went out into the rings of that start of the back end ("" none ran throughout).
  void sent(const std::string& start) { sentUnder_ = start; }
  // Takes in what was written since the last call; returns the bytes written since the start.
  size_t poll() {
    const Follow followed = reader_.follow();
    if (lost_ == Follow::Copied) lost_ = followed;  // the answer may be among what went
    // Reports of another start than the request's cannot answer it, whichever tool saw the restart
    // first; nor can a start that has ended (a new one resets the ring indexes that tell whether the
    // request was read).
    std::string now;
    if (lost_ == Follow::Copied && sentUnder_ &&
        (cli::backendOn(dir_, &now) != cli::Backend::Running || now != *sentUnder_ ||
         (!reader_.start().empty() && reader_.start() != *sentUnder_))) {
      lost_ = Follow::Restarted;
    }
    // Who holds a full ring is said as it stands when it is seen full, under the table's lock: a
    // stopped reader that is continued moves on at once.
    if (!full_ && linkpeer::ringRoom(ring_) == 0) full_ = reader_.fullHeldBy(holder_);
    if (lost()) return 0;
    const Bytes& bytes = reader_.bytes();
    Packet p;
    size_t start = 0;
    while (linkpeer::nextPacket(bytes, parsed_, p, garbage_, &start)) reports_.push_back({start, std::move(p)});
    return bytes.size();
  }
  const std::vector<Report>& reports() const { return reports_; }
  // Whether the ring was seen full: the back end then holds its reports back until a reader takes some.
  bool wasFull() const { return full_; }
  // Whether reports went before they were read, or could not be read, and why.
  bool lost() const { return lost_ != Follow::Copied; }
  std::string lostWhy() const {
    switch (lost_) {
      case Follow::Restarted:
        return std::string(cli::backendOn(dir_) != cli::Backend::None ? "the back end started again" : "the back end stopped") +
               ", resetting its rings (the request may have gone with them)";
      case Follow::TableLost: return "the tools' table frontend.link was lost while this read, and the reports went before they were read";
      case Follow::Failed: return reader_.error();
      default: return "a reader outside these tools took the reports before they were read";
    }
  }
  bool failed() const { return lost_ == Follow::Failed; }
  const std::string& holder() const { return holder_; }

 private:
  std::string dir_;
  const u8* ring_;
  linkpeer::AckReader reader_;
  std::optional<std::string> sentUnder_;
  std::vector<Report> reports_;
  size_t parsed_ = 0, garbage_ = 0;
  bool full_ = false;
  std::string holder_;  // of the full ring
  Follow lost_ = Follow::Copied;
};

// Whether the back end has read the request ring past index end (into its receive buffer; it acts on
// what it read in that frame unless a wait holds it back).
bool readPast(Link& link, u32 end) {
  const u32 at = linkpeer::loadIndex(link.requestRing() + 4) % LINK_RING_DATA;
  const u32 toEnd = (end + LINK_RING_DATA - at) % LINK_RING_DATA;
  const u32 toWrite = (linkpeer::loadIndex(link.requestRing()) + LINK_RING_DATA - at) % LINK_RING_DATA;
  return toEnd == 0 || toEnd > toWrite;
}

// "sent; no answer seen": the request went out, and what became of it is not known (status 3). With
// a time-out, after waiting that long; without, as soon as no answer can come.
int unanswered(std::ostream& err, const std::string& request, const std::string& why, double timeout = -1) {
  char within[48] = "";
  if (timeout >= 0) std::snprintf(within, sizeof within, " within %g s", timeout);
  err << "frontend: sent " << request << "; no answer seen" << within << ": " << why << "\n";
  return 3;
}

std::string whyUnseen(Link& link, AckReports& acks, u32 requestEnd) {
  if (acks.lost()) return acks.lostWhy();
  if (InterruptHandlers::interrupted()) return "stopped by a signal before it was seen";
  if (acks.wasFull()) return "the acknowledgement ring was full: " + acks.holder();
  if (!readPast(link, requestEnd)) return "the back end has not read the request (--timeout S waits longer)";
  return "the back end has not acted on it yet (a wait holds requests back; --timeout S waits longer)";
}

// The bytes written before a request left a packet unfinished, so the back end took the request into
// that packet: its answer, if any, cannot be told from the answer to those bytes.
const char INTO_UNFINISHED[] =
    "the back end took it into the body of a packet that bytes written before left unfinished (frontend raw)";

// A command whose answer carries a reply code: the answer is the request as sent (as far as the
// answer goes) with the code filled in; a negative code is a refusal.
int checkReply(Link& link, AckReports& acks, u32 requestEnd, int type, const Bytes& body, double timeout,
               std::ostream& err) {
  const int at = replyOffset(type);
  if (at < 0) return 0;
  if (std::string why; !commandAnswers(type, body, why)) {
    return unanswered(err, category::typeNameOf(type), why);
  }
  const size_t code = static_cast<size_t>(at);
  const auto answers = [&](const Packet& p) {
    if (p.type != type || p.body.size() < code + 2) return false;
    for (size_t i = 0; i < std::min(p.body.size(), body.size()); ++i) {
      if ((i < code || i > code + 1) && p.body[i] != body[i]) return false;
    }
    return true;
  };
  const auto until = deadline(timeout);
  for (;;) {
    acks.poll();
    for (const Report& r : acks.reports()) {
      if (!answers(r.packet)) continue;
      if (static_cast<s16>(r.packet.body[code] << 8 | r.packet.body[code + 1]) >= 0) return 0;
      return refuse(err, "refused: " + describe(r.packet));
    }
    if (acks.lost() || Clock::now() >= until || InterruptHandlers::interrupted()) {
      return unanswered(err, category::typeNameOf(type), whyUnseen(link, acks, requestEnd),
                        acks.lost() || InterruptHandlers::interrupted() ? -1 : timeout);
    }
    std::this_thread::sleep_for(POLL);
  }
}

// Whether the back end sends its status reports in turns over sixteen frames (by the event memory
// record, as the backup image holds it).
bool reportsInTurns(const std::string& board) {
  Bytes record;
  std::string why;
  MxifEventMemory eventMemory{};
  if (!backedUpRecord(board, MxifEventMemory::TYPE_INDEX, 0, 0, record, why) || record.size() < sizeof eventMemory) return false;
  std::memcpy(&eventMemory, record.data(), sizeof eventMemory);
  return eventMemory.sendsInTurns();
}

// A system format that the record took but the board cannot run: the driver says so on the console
// ("Invalid Video format CODE in PAIRED mode") when it is applied, in the frame that took it. The
// reason for the user, or "" when no such line for this format was written since consoleFrom: the
// formats that the board runs, by the driver's own test of a format code, with the board mode that
// nvram.mem holds where it agrees with the console's paired flag, and the record's mode as the back
// end holds it now.
std::string formatNotRun(Link& link, const std::string& board, u32 consoleFrom, long format) {
  const std::string text = linkpeer::consoleSince(link.console(), consoleFrom);
  const std::string head = "Invalid Video format ";
  Bytes record;
  std::string ignored;
  int recordMode = 0;
  if (backedUpRecord(board, MxifSystem::TYPE_INDEX, 0, 0, record, ignored) && record.size() >= sizeof(MxifSystem)) {
    recordMode = reinterpret_cast<const MxifSystem*>(record.data())->mode;
  }
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t from = line.find(head);
    if (from == std::string::npos) continue;
    std::string words = line.substr(from + head.size());
    while (!words.empty() && (words.back() == '\r' || words.back() == ' ')) words.pop_back();
    const size_t in = words.find(" in ");
    const size_t mode = in == std::string::npos ? in : words.find(" mode", in);
    long code = -1, paired = -1;
    // After "mode" only the count of a run of equal lines may follow (" (3 times)").
    if (mode == std::string::npos || (mode + 5 != words.size() && words.compare(mode + 5, 2, " (") != 0) ||
        !parseNumber(words.substr(0, in), -1, 0xFFFF, code) ||
        !parseNumber(words.substr(in + 4, mode - in - 4), 0, 255, paired) ||
        code != libmx::systemDriverFormatCode(static_cast<int>(format), recordMode)) {
      continue;
    }
    // The board mode read at its start: 4K (2), which has the paired FPGA too, is told apart by the
    // stored word, where that word agrees with the console.
    Bytes nvram;
    bool fourK = false;
    if (readBackupImage(board, nvram, ignored)) {
      u32 marker = 0, word = 0;
      std::memcpy(&marker, nvram.data() + STORAGE_BOARD_MODE_MARKER, 4);
      std::memcpy(&word, nvram.data() + STORAGE_BOARD_MODE, 4);
      fourK = marker == BOARD_MODE_MARKER && (word & 0xFF) == 2 && paired == 1;
    }
    std::vector<Interval> runs;
    for (int f = 0; f < MxifSystem::N_FORMATS; ++f) {
      if (!mxBoardRunsFormat(libmx::systemDriverFormatCode(f, recordMode), paired == 1, fourK)) continue;
      if (!runs.empty() && runs.back().hi == f - 1) {
        runs.back().hi = f;
      } else {
        runs.push_back({static_cast<double>(f), static_cast<double>(f)});
      }
    }
    const std::string board = fourK ? "this 4K board" : paired == 1 ? "this board, which has the paired FPGA," : "this board, which has no paired FPGA,";
    return board + (runs.empty() ? " runs none of them" : " runs formats " + intervalsText(runs)) +
           (recordMode == 2 ? " with mode=2" : "") + " (its console: " + line.substr(from) + ")";
  }
  return "";
}

// Whether a field is a layer's on-air request.
bool isOnAirRequest(int type, const std::string& field) {
  std::vector<FieldInfo> fields;
  settableFields(type, fields);
  return std::any_of(fields.begin(), fields.end(),
                     [&](const FieldInfo& f) { return f.name == field && f.role == codec::Role::ON_AIR_REQUEST; });
}

// Lets the back end run a few frames past what it has read (requests written after these wait).
void settle(Link& link, double timeout) {
  const auto until = deadline(timeout);
  for (const s16 frames : {1, 1, 0}) {
    Link::Written wait;
    if (!link.write(waitPacket(frames), 0.1, &wait)) return;
    while (!readPast(link, wait.end) && Clock::now() < until && !InterruptHandlers::interrupted()) {
      std::this_thread::sleep_for(POLL);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the frame's backup copy
}

// Whether the record instance as last backed up holds the field with the value sent.
bool holdsAsSent(const std::string& board, int type, int me, int channel, const Bytes& body, const Refusal& r) {
  Bytes record;
  std::string why;
  return backedUpRecord(board, type, me, channel, record, why) && storedHolds(type, record.data(), body, r.field);
}

// The on-air requests among the refusals, judged by the state that the backup image shows they
// reached, are taken out when the image cannot be read, each said to be not known, with why: no
// value held is claimed that could not be read. Whether any was.
bool dropUnread(const std::string& board, int type, int me, int channel, const std::string& instance,
                std::vector<Refusal>& refusals, std::ostream& err) {
  Bytes record;
  std::string why;
  bool unread = false;
  if (backedUpRecord(board, type, me, channel, record, why, &unread) || !unread) return false;
  return std::erase_if(refusals, [&](const Refusal& r) {
           if (!isOnAirRequest(type, r.field)) return false;
           err << "frontend: sent " << instance << " " << r.field << "=" << r.sent
               << "; whether it holds it is not known: the backup image could not be read (" << why << ")\n";
           return true;
         }) > 0;
}

// After a record request: finds the back end's answer for the same record instance and names each
// field that it did not take as sent, with the values its checks take. 0 when all were taken; 1 when
// some were refused, or when a system format was taken that the board cannot run; 3 when no answer
// could be seen, or what a field holds could not be read.
int checkAnswer(Link& link, const std::string& board, AckReports& acks, u32 requestEnd, u32 consoleFrom, int type,
                const Bytes& body, const std::set<std::string>& typed, const Bytes& image, double timeout,
                std::ostream& err) {
  std::vector<Refusal> asked;
  requestFields(type, body, asked);
  int me = 0, channel = 0;
  const std::string instance = requestInstance(type, body, me, channel);
  // Frames after the one that takes the request that must have ended before the answer is known to
  // be out: one, or sixteen while the reports go out in turns (which an event memory request may
  // turn on in the frame that takes it).
  int frames = type == category::TYPE_EVENT_MEMORY || reportsInTurns(board) ? 16 : 1;
  const auto until = deadline(timeout);
  int waits = 0;              // waits written after the request
  u32 awaited = requestEnd;   // the end of what the back end is to read next
  size_t before = 0;          // reports that start before this went out before the back end read the request
  std::optional<size_t> out;  // the answer starts before this
  // The reports of this record instance: where each starts, and the fields of the request that it
  // leaves out or holds otherwise.
  std::vector<std::pair<size_t, std::vector<Refusal>>> seen;
  std::vector<bool> taken(asked.size(), false);
  const auto leaves = [](const std::vector<Refusal>& refused, const std::string& field) {
    return std::any_of(refused.begin(), refused.end(), [&](const Refusal& r) { return r.field == field; });
  };
  // A system format taken that the board cannot run is not applied.
  const auto formatRuns = [&] {
    for (size_t i = 0; i < asked.size(); ++i) {
      long format = 0;
      if (type != category::TYPE_SYSTEM || asked[i].field != "format" || !taken[i]) continue;
      const std::string why = parseNumber(asked[i].sent, 0, 255, format) ? formatNotRun(link, board, consoleFrom, format) : "";
      if (why.empty()) continue;
      return refuse(err, "not applied: " + instance + " format=" + asked[i].sent + ": " + why + "; the record keeps it");
    }
    return 0;
  };
  size_t examined = 0;
  for (;;) {
    const size_t written = acks.poll();
    if (!readPast(link, awaited)) {
      if (waits == 0) before = written;
    } else if (waits < frames) {
      Link::Written wait;
      if (link.write(waitPacket(waits + 1 < frames ? 1 : 0), 0.1, &wait)) awaited = wait.end, ++waits;
    } else if (frames < 16 && reportsInTurns(board)) {
      frames = 16;  // turned on meanwhile by another request: the backup image shows it by now
    } else if (!out) {
      out = acks.poll();
    }
    for (; examined < acks.reports().size(); ++examined) {
      std::vector<Refusal> refused;
      if (!echoRefusals(type, body, acks.reports()[examined].packet, refused)) continue;
      for (size_t i = 0; i < asked.size(); ++i) taken[i] = taken[i] || !leaves(refused, asked[i].field);
      seen.emplace_back(acks.reports()[examined].at, std::move(refused));
    }
    if (std::all_of(taken.begin(), taken.end(), [](bool t) { return t; })) return formatRuns();
    if ((out && acks.wasFull()) || acks.lost()) return unanswered(err, instance, whyUnseen(link, acks, requestEnd));
    if (out) break;
    if (Clock::now() >= until || InterruptHandlers::interrupted()) {
      return unanswered(err, instance, whyUnseen(link, acks, requestEnd), InterruptHandlers::interrupted() ? -1 : timeout);
    }
    std::this_thread::sleep_for(POLL);
  }
  // The answer went out after the back end read the request and before `out`: the first report there
  // that carries a field as sent, or else the first report there.
  const std::vector<Refusal>* answer = nullptr;
  for (const auto& [at, refused] : seen) {
    if (at < before || at >= *out) continue;
    if (answer == nullptr || refused.size() < asked.size()) answer = &refused;
    if (refused.size() < asked.size()) break;
  }
  if (answer == nullptr) return unanswered(err, instance, "the back end sent no report of the record for it");
  std::vector<Refusal> refusals;
  for (const Refusal& r : *answer) {
    const size_t i = static_cast<size_t>(
        std::find_if(asked.begin(), asked.end(), [&](const Refusal& a) { return a.field == r.field; }) - asked.begin());
    if (i < taken.size() && taken[i]) continue;  // another report carries it as sent
    // A category may leave out of its answer a field sent with the value it already holds.
    if (r.answered.empty() && holdsAsSent(board, type, me, channel, body, r)) continue;
    refusals.push_back(r);
  }
  // An on-air request reaches its state a frame or two after the answer: that state decides.
  if (std::any_of(refusals.begin(), refusals.end(), [&](const Refusal& r) { return isOnAirRequest(type, r.field); })) {
    settle(link, timeout);
    Bytes now;
    std::string why;
    if (backedUpRecord(board, type, me, channel, now, why)) {
      std::erase_if(refusals, [&](Refusal& r) {
        if (!isOnAirRequest(type, r.field)) return false;
        double held = 0;
        if (!storedNumber(type, now.data(), r.field, 0, held)) return false;
        r.answered = intervalsText({{held, held}});
        r.answeredValues = {held};
        return r.sentValues.size() == 1 && r.sentValues[0] == held;
      });
    }
  }
  const bool unknown = dropUnread(board, type, me, channel, instance, refusals, err);
  Bytes after;
  std::string why;
  if (!backedUpRecord(board, type, me, channel, after, why)) after.clear();
  const Verdict verdict = judgeAnswer(type, body, typed, refusals, image, after);
  for (const std::string& line : verdict.refused) err << "frontend: refused: " << instance << " " << line << "\n";
  for (const std::string& line : verdict.notes) err << "frontend: note: " << instance << " " << line << "\n";
  const int formats = formatRuns();
  return !verdict.refused.empty() || formats != 0 ? 1 : unknown ? 3 : 0;
}

}  // namespace

int writeOnly(Link& link, const std::string& request, const Bytes& packet, double timeout, std::ostream& err,
              Link::Written* written) {
  if (!link.write(packet, timeout, written)) return refuse(err, "not sent: " + link.error());
  if (link.error().empty()) return 0;
  err << "frontend: sent " << request << "; its answer cannot be followed: the tools' table could not be written after it "
      << "went out (" << link.error() << ")\n";
  return 3;
}

const char NO_ROOM[] = "the request ring has no room: the back end has not read it in time";

// Writes a send request and checks the back end's answer to it.
int sendRequest(Link& link, const std::string& board, const Bytes& packet, const std::set<std::string>& typed, double timeout,
                std::ostream& err) {
  const int type = packet[6] << 8 | packet[7];
  const Bytes body(packet.begin() + 8, packet.end());
  AckReports acks(link);
  const u32 consoleFrom = linkpeer::consoleWriteIndex(link.console());
  std::vector<Refusal> fields;
  const bool record = type < category::FIRST_COMMAND_TYPE;
  const bool checked = !record || (requestFields(type, body, fields) && !fields.empty());
  // A record request is followed by a wait of one frame (see above).
  Bytes bytes = packet;
  if (record && checked) {
    const Bytes wait = waitPacket(1);
    bytes.insert(bytes.end(), wait.begin(), wait.end());
  }
  if (acks.failed()) return refuse(err, "not sent: " + acks.lostWhy());
  // The backup image before the request: the state it is judged against.
  Bytes image;
  std::string unread;
  if (record && checked && !readBackupImage(board, image, unread)) image.clear();
  Link::Written written;
  if (const int status = writeOnly(link, category::typeNameOf(type), bytes, timeout, err, &written); status != 0) return status;
  acks.sent(written.start);
  if (written.unfinished) return unanswered(err, category::typeNameOf(type), INTO_UNFINISHED);
  if (!checked) return 0;
  if (!record) return checkReply(link, acks, written.end, type, body, timeout, err);
  return checkAnswer(link, board, acks, written.end, consoleFrom, type, body, typed, image, timeout, err);
}

}  // namespace frontend
