// send's check of the back end's answer to its request.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <thread>

#include "Lib/Include/data_internal.h"
#include "Main/framework/typenames.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/commands.h"

namespace frontend {
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

// Whether a field is a layer's on-air request.
bool isOnAirRequest(int type, const std::string& field) {
  std::vector<FieldInfo> fields;
  settableFields(type, fields);
  return std::any_of(fields.begin(), fields.end(),
                     [&](const FieldInfo& f) { return f.name == field && f.role == codec::Role::ON_AIR_REQUEST; });
}

// Lets the back end run `frames` frames and one more past what it has read, so that the reports of
// those frames are out (requests written after these wait).
void settle(Link& link, double timeout, int frames) {
  const auto until = deadline(timeout);
  for (int n = 0; n <= frames + 1; ++n) {
    Link::Written wait;
    if (!link.write(waitPacket(n <= frames ? 1 : 0), 0.1, &wait)) return;
    while (!readPast(link, wait.end) && Clock::now() < until && !InterruptHandlers::interrupted()) {
      std::this_thread::sleep_for(POLL);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the frame's backup copy
}

// "sent INSTANCE FIELD=VALUE; whether it holds it is not known: WHY" (the outcome is status 3).
void notKnown(std::ostream& err, const std::string& instance, const Refusal& r, const std::string& why) {
  err << "frontend: sent " << instance << " " << r.field << "=" << r.sent << "; whether it holds it is not known: " << why << "\n";
}

// Whether the back end started again, or stopped, since the request went out into the rings of the
// start `sentUnder` ("" when none ran throughout the write): what is read since may come from another
// start, whose rings and notes were reset and whose settings came back from a backup image that may
// not hold the request.
bool startedSince(Link& link, const std::string& board, const std::string& sentUnder, u32 notesBefore) {
  std::string now;
  return sentUnder.empty() || cli::backendOn(board, &now) != cli::Backend::Running || now != sentUnder ||
         linkpeer::notesWritten(link.notes()) < notesBefore;
}

// After a record request: finds the back end's answer for the same record instance and names each
// field that it did not take as sent, with the values its checks take. 0 when all were taken; 1 when
// some were refused, or when a system format was taken that the board cannot run; 3 when no answer
// could be seen, or what a field holds could not be read, or the back end started again meanwhile.
int checkAnswer(Link& link, const std::string& board, AckReports& acks, const Link::Written& written, u32 notesBefore,
                int type, const Bytes& body, const std::set<std::string>& typed, double timeout, std::ostream& err) {
  const u32 requestEnd = written.end;
  std::vector<Refusal> asked;
  requestFields(type, body, asked);
  int me = 0, channel = 0;
  const std::string instance = requestInstance(type, body, me, channel);
  // Frames after the one that takes the request that must have ended before the answer is known to
  // be out: one, or sixteen while the reports go out in turns (which an event memory request may
  // turn on in the frame that takes it).
  int frames = type == category::TYPE_EVENT_MEMORY || reportsInTurns(board) ? MxifEventMemory::TURN_FRAMES : 1;
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
  size_t examined = 0;
  const auto examine = [&] {
    for (; examined < acks.reports().size(); ++examined) {
      std::vector<Refusal> refused;
      if (!echoRefusals(type, body, acks.reports()[examined].packet, refused)) continue;
      for (size_t i = 0; i < asked.size(); ++i) taken[i] = taken[i] || !leaves(refused, asked[i].field);
      seen.emplace_back(acks.reports()[examined].at, std::move(refused));
    }
  };
  // What the back end noted of the request, read once its answer is out; the verdict on it. A value
  // taken that the hardware does not run is not applied. Evidence read across a start of the back end
  // refuses nothing: whether the values are held is not known then.
  const auto judged = [&](const std::vector<Refusal>& refusals, const Bytes& after) {
    const u32 request = static_cast<u32>((requestEnd + LINK_RING_DATA - waitPacket(1).size()) % LINK_RING_DATA);
    const linkpeer::RequestNotes notes = linkpeer::notesOf(link.notes(), request, requestEnd, notesBefore);
    if (!refusals.empty() && startedSince(link, board, written.start, notesBefore)) {
      for (const Refusal& r : refusals) notKnown(err, instance, r, "the back end started again since it went out");
      return 3;
    }
    const Verdict verdict = judgeAnswer(type, body, typed, refusals, notes, after);
    for (const std::string& line : verdict.refused) err << "frontend: refused: " << instance << " " << line << "\n";
    for (const std::string& line : verdict.notes) err << "frontend: note: " << instance << " " << line << "\n";
    for (const std::string& line : verdict.notRun) err << "frontend: not applied: " << instance << " " << line << "; the record keeps it\n";
    return verdict.refused.empty() && verdict.notRun.empty() ? 0 : 1;
  };
  for (;;) {
    const size_t polled = acks.poll();
    if (!readPast(link, awaited)) {
      if (waits == 0) before = polled;
    } else if (waits < frames) {
      Link::Written wait;
      if (link.write(waitPacket(waits + 1 < frames ? 1 : 0), 0.1, &wait)) awaited = wait.end, ++waits;
    } else if (frames < MxifEventMemory::TURN_FRAMES && reportsInTurns(board)) {
      frames = MxifEventMemory::TURN_FRAMES;  // turned on meanwhile by another request: the backup image shows it by now
    } else if (!out) {
      out = acks.poll();
    }
    examine();
    if (std::all_of(taken.begin(), taken.end(), [](bool t) { return t; })) return judged({}, {});
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
  size_t answerAt = 0;
  for (const auto& [at, refused] : seen) {
    if (at < before || at >= *out) continue;
    if (answer == nullptr || refused.size() < asked.size()) answer = &refused, answerAt = at;
    if (refused.size() < asked.size()) break;
  }
  if (answer == nullptr) return unanswered(err, instance, "the back end sent no report of the record for it");
  std::vector<Refusal> refusals;
  for (const Refusal& r : *answer) {
    const size_t i = static_cast<size_t>(
        std::find_if(asked.begin(), asked.end(), [&](const Refusal& a) { return a.field == r.field; }) - asked.begin());
    if (i >= taken.size() || !taken[i]) refusals.push_back(r);  // else another report carries it as sent
  }
  // An on-air request reaches its state in the update of a frame after the answer went out: the state
  // after that frame decides, as the back end's last report of the instance that carries the field
  // gives it; or else as the backup image holds it; or else (no report of a change, on an ME that the
  // image does not keep) as the answer gave it.
  const auto onAir = [&](const Refusal& r) { return isOnAirRequest(type, r.field); };
  std::vector<bool> reported(refusals.size(), false);
  if (std::any_of(refusals.begin(), refusals.end(), onAir)) {
    settle(link, timeout, frames);
    acks.poll();
    examine();
    if (acks.lost()) {
      // The answer was seen, and then the reports went: the state the request reached is not known.
      for (const Refusal& r : refusals) notKnown(err, instance, r, acks.lostWhy());
      return 3;
    }
    for (size_t i = 0; i < refusals.size(); ++i) {
      Refusal& r = refusals[i];
      for (const auto& [at, refused] : seen) {
        if (at <= answerAt || !onAir(r)) continue;
        const auto carried = std::find_if(refused.begin(), refused.end(), [&](const Refusal& x) { return x.field == r.field; });
        if (carried != refused.end() && carried->answered.empty()) continue;  // the report leaves it out
        reported[i] = true;
        r.answered = carried == refused.end() ? r.sent : carried->answered;
        r.answeredValues = carried == refused.end() ? r.sentValues : carried->answeredValues;
      }
    }
  }
  // The instance's record as backed up after the frames, read once: a category may leave out of its
  // answer a field sent with the value it already holds, and an on-air request that no report showed
  // holds what the image shows.
  Bytes after;
  std::string why;
  bool unread = false;
  if (!backedUpRecord(board, type, me, channel, after, why, &unread)) after.clear();
  bool unknown = false;
  for (size_t i = refusals.size(); i-- > 0;) {
    Refusal& r = refusals[i];
    double held = 0;
    bool holds = !reported[i] && r.answered.empty() && !after.empty() && storedHolds(type, after.data(), body, r.field);
    if (onAir(r) && !reported[i] && !after.empty() && storedNumber(type, after.data(), r.field, 0, held)) {
      r.answered = intervalsText({{held, held}});
      r.answeredValues = {held};
    } else if (onAir(r) && !reported[i] && unread) {
      notKnown(err, instance, r, "the backup image could not be read (" + why + ")");  // no value is claimed unread
      unknown = holds = true;
    }
    holds = holds || (onAir(r) && r.sentValues == r.answeredValues);
    if (holds) refusals.erase(refusals.begin() + static_cast<long>(i));
  }
  const int status = judged(refusals, after);
  return status != 0 ? status : unknown ? 3 : 0;
}

}  // namespace

int writeOnly(Link& link, const std::string& request, const Bytes& packet, double timeout, std::ostream& err,
              Link::Written* written, const Link::Prepare& prepare) {
  if (!link.write(packet, timeout, written, prepare)) return refuse(err, "not sent: " + link.error());
  if (link.error().empty()) return 0;
  err << "frontend: sent " << request << "; its answer cannot be followed: the tools' table could not be written after it "
      << "went out (" << link.error() << ")\n";
  return 3;
}

const char NO_ROOM[] = "the request ring has no room: the back end has not read it in time";

// Writes a send request and checks the back end's answer to it.
// Waits, in the writer's turn, until the back end has backed up every request before the ring's
// write index (none other can be written meanwhile): the backup image then holds the state that they
// leave. At once where no back end of these tools runs, or one publishes no notes.
bool awaitBackedUp(Link& link, const std::string& board, double timeout, std::string& error) {
  const auto until = deadline(timeout);
  for (;;) {
    const u32 at = linkpeer::loadIndex(link.requestRing()) % LINK_RING_DATA;
    if (linkpeer::backedUpTo(link.notes(), at) || linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::None ||
        cli::backendOn(board) != cli::Backend::Running) {
      return true;
    }
    if (Clock::now() >= until || InterruptHandlers::interrupted()) {
      error = "the back end has not backed up the requests written before it, so the values that go with those given "
              "cannot be read from the state they leave (--timeout S waits longer)";
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
}

int sendRequest(Link& link, const std::string& board, const Bytes& packet, const std::set<std::string>& typed,
                const std::string& note, const Refill& refill, double timeout, std::ostream& err) {
  const int type = packet[6] << 8 | packet[7];
  AckReports acks(link);
  const u32 notesBefore = linkpeer::notesWritten(link.notes());
  std::vector<Refusal> fields;
  const bool record = type < category::FIRST_COMMAND_TYPE;
  const bool checked = !record || (requestFields(type, Bytes(packet.begin() + 8, packet.end()), fields) && !fields.empty());
  // A record request is followed by a wait of one frame (see above).
  const auto withWait = [&](const Bytes& request) {
    Bytes bytes = request;
    if (record && checked) {
      const Bytes wait = waitPacket(1);
      bytes.insert(bytes.end(), wait.begin(), wait.end());
    }
    return bytes;
  };
  if (acks.failed()) return refuse(err, "not sent: " + acks.lostWhy());
  Bytes request = packet;
  std::string said = note;
  // Elements that go with those given are filled from the state that every request before it leaves,
  // in the writer's turn: requests sent side by side are taken as if sent one after another.
  const Link::Prepare prepare = [&](Bytes& bytes, std::string& error) {
    if (!awaitBackedUp(link, board, timeout, error) || !refill(request, said, error)) return false;
    bytes = withWait(request);
    return true;
  };
  Link::Written written;
  const int status = writeOnly(link, category::typeNameOf(type), withWait(packet), timeout, err, &written, refill ? prepare : Link::Prepare());
  if (status == 1) return status;
  if (!said.empty()) err << "frontend: " << said << "\n";
  if (status != 0) return status;
  acks.sent(written.start);
  const Bytes body(request.begin() + 8, request.end());
  if (written.unfinished) return unanswered(err, category::typeNameOf(type), INTO_UNFINISHED);
  if (!checked) return 0;
  if (!record) return checkReply(link, acks, written.end, type, body, timeout, err);
  return checkAnswer(link, board, acks, written, notesBefore, type, body, typed, timeout, err);
}

}  // namespace frontend
