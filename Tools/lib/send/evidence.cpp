// What became of a request that send wrote, gathered once: the back end's answer among its reports,
// the state an on-air request reached a frame later, the backup image after the frames, the notes the
// back end made as it took the request, and whether the back end that took it still runs.
//
// The back end answers a record request with one report of the record instance, sent in the frame
// that takes the request: a field it takes keeps its presence bit until that report goes out, so one
// report answers every request of the instance in a frame. `send` follows its request with a wait of
// one frame, so no later request shares that frame, and once the back end has read both it writes a
// wait of no frames: the back end reads that in a later frame only, after the one that took the
// request has sent its reports. The answer is then among the reports of the instance written since
// the request; a field that none of them carries as sent was not taken.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <thread>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/commands/commands.h"
#include "Tools/lib/send/send.h"

namespace frontend {

std::string sentText(const Request& request) {
  std::string out = request.instance();
  for (const Refusal& r : request.fields()) out += " " + r.field + "=" + r.sent;
  return out;
}

Bytes waitPacket(s16 frames) { return linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(frames)); }

// ---- The reports -----------------------------------------------------------------------------------------

using Follow = linkpeer::AckReader::Follow;

AckReports::AckReports(Link& link)
    : dir_(link.dir()), ring_(link.ackRing()), reader_(link.dir(), link.ackRing(), linkpeer::AckReader::From::Now, link.timeout()) {
  if (!reader_.error().empty()) lost_ = Follow::Failed;  // its first follow
}

size_t AckReports::poll() {
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
  while (linkpeer::nextPacket(bytes, parsed_, p, garbage_, &start)) {
    if (reports_.empty()) leading_ = garbage_;  // a reader that starts inside a packet cut by a full ring
    reports_.push_back({start, std::move(p)});
  }
  return bytes.size();
}

std::string AckReports::lostWhy() const {
  switch (lost_) {
    case Follow::Restarted:
      return std::string(cli::backendOn(dir_) != cli::Backend::None ? "the back end started again" : "the back end stopped") +
             ", resetting its rings (the request may have gone with them)";
    case Follow::TableLost: return "the tools' table frontend.link was lost while this read, and the reports went before they were read";
    case Follow::Failed: return reader_.error();
    default: return "a reader outside these tools took the reports before they were read";
  }
}

namespace {

// Whether the back end has read the request ring past index end (into its receive buffer; it acts on
// what it read in that frame unless a wait holds it back).
bool readPast(Link& link, u32 end) {
  const u32 at = linkpeer::readIndex(link.requestRing());
  const u32 toEnd = linkpeer::ringAhead(at, end);
  const u32 toWrite = linkpeer::ringAhead(at, linkpeer::writeIndex(link.requestRing()));
  return toEnd == 0 || toEnd > toWrite;
}

// "sent ...; no answer seen": the request went out, and what became of it is not known. With a
// time-out, after waiting that long; without, as soon as no answer can come.
std::string unansweredLine(const std::string& request, const std::string& why, double timeout = -1) {
  char within[48] = "";
  if (timeout >= 0) std::snprintf(within, sizeof within, " within %g s", timeout);
  return "frontend: sent " + request + "; no answer seen" + within + ": " + why + "\n";
}

// A word of the back end's notes header of this build (0 for another's, or none).
u32 notesWord(Link& link, size_t at) {
  return linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::ThisBuild ? linkpeer::loadIndex(link.notes() + at) : 0;
}

// What the link shows while a request waits for its answer: ring index words that no writer moves so
// (a word beyond its ring, bytes in the acknowledgement ring that start no report), and whether the
// back end's frames go on, as its notes count them.
class LinkWatch {
 public:
  LinkWatch(Link& link, const std::string& board) : link_(link), board_(board) {}

  void sample(const AckReports& acks) {
    struct Word {
      const u8* ring;
      u32 at, size;
      const char* name;
    };
    const Word words[] = {{link_.console(), LINK_RING_WRITE_INDEX, LINK_CONSOLE_DATA, "the console ring's write index"},
                          {link_.console(), LINK_RING_READ_INDEX, LINK_CONSOLE_DATA, "the console ring's read index"},
                          {link_.ackRing(), LINK_RING_WRITE_INDEX, LINK_RING_DATA, "the acknowledgement ring's write index"},
                          {link_.ackRing(), LINK_RING_READ_INDEX, LINK_RING_DATA, "the acknowledgement ring's read index"},
                          {link_.requestRing(), LINK_RING_WRITE_INDEX, LINK_RING_DATA, "the request ring's write index"},
                          {link_.requestRing(), LINK_RING_READ_INDEX, LINK_RING_DATA, "the request ring's read index"}};
    for (size_t i = 0; i < std::size(words); ++i) {
      const Word& w = words[i];
      const u32 v = linkpeer::loadIndex(w.ring + w.at);
      if (!counted_) first_[i] = v;  // a word left outside its ring before is not moved while it waits
      if (damage_.empty() && v >= w.size && v != first_[i]) {
        char text[160];
        std::snprintf(text, sizeof text, "%s read %u, outside its ring", w.name, v);
        damage_ = text;
      }
    }
    if (damage_.empty() && acks.garbage() > 0) damage_ = "the acknowledgement ring held bytes that start no report";
    // The back end puts such words back within a frame: its count of the frames that found them says so.
    const u32 overwritten = notesWord(link_, offsetof(rules::NotesHeader, overwritten));
    if (damage_.empty() && counted_ && overwritten != overwritten_) damage_ = "the back end found them written over";
    overwritten_ = overwritten;
    const u32 frames = notesWord(link_, offsetof(rules::NotesHeader, frames));
    if (frames != frames_ || !counted_) frames_ = frames, counted_ = true, since_ = Clock::now();
  }

  // Why the link cannot be trusted: its ring indexes were moved by no writer ("" none seen so).
  std::string damage() const {
    return damage_.empty() ? "" : "the link's ring indexes were moved by no writer while it waited (" + damage_ + ")";
  }

  // Why the back end reads no request: stopped, running no frames, or held by a wait ("" none of these).
  std::string stall() const {
    long pid = 0;
    std::ifstream(board_ + "/backend.pid") >> pid;
    std::string stat;
    if (pid > 0 && std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat)) {
      const size_t name = stat.rfind(')');
      if (name != std::string::npos && name + 2 < stat.size() && (stat[name + 2] == 'T' || stat[name + 2] == 't')) {
        return "the back end is stopped (process " + std::to_string(pid) + " is in state T)";
      }
    }
    const double still = std::chrono::duration<double>(Clock::now() - since_).count();
    if (counted_ && frames_ != 0 && still >= 0.5) {
      char text[96];
      std::snprintf(text, sizeof text, "the back end runs no frames (its frame count stood at %u for %.1f s)", frames_, still);
      return text;
    }
    if (const u32 left = notesWord(link_, offsetof(rules::NotesHeader, waitLeft)); left > 0) {
      return "a wait holds requests back, " + std::to_string(left) + " frames more (--timeout S waits longer)";
    }
    return "";
  }

 private:
  Link& link_;
  std::string board_;
  std::string damage_;
  u32 first_[6] = {};  // each index word as first seen
  u32 frames_ = 0;
  u32 overwritten_ = 0;  // the back end's count of frames that found them written over, as last seen
  bool counted_ = false;
  Clock::time_point since_{};
};

std::string whyUnseen(Link& link, AckReports& acks, u32 requestEnd, const LinkWatch* watch = nullptr) {
  if (watch != nullptr && !watch->damage().empty()) return watch->damage();
  if (acks.lost()) return acks.lostWhy();
  if (InterruptHandlers::interrupted()) return "stopped by a signal before it was seen";
  if (acks.wasFull()) return "the acknowledgement ring was full: " + acks.holder();
  if (watch != nullptr && !watch->stall().empty()) return watch->stall();
  if (!readPast(link, requestEnd)) return "the back end has not read the request (--timeout S waits longer)";
  if (linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::ThisBuild && watch != nullptr) {
    return "the back end read it but has sent no whole pass of its reports since (--timeout S waits longer)";
  }
  return "the back end has not acted on it yet (a wait holds requests back; --timeout S waits longer)";
}

// Whether the back end says that every request before ring index `end` has its answer out: its notes'
// index of the last whole pass of reports lies at or past it (not while its reports go out in turns).
bool answeredPast(Link& link, u32 end) {
  if ((linkpeer::notesFlags(link.notes()) & (rules::ANSWERED | rules::IN_TURNS)) != rules::ANSWERED) return false;
  const u32 at = notesWord(link, offsetof(rules::NotesHeader, answered)) % LINK_RING_DATA;
  return linkpeer::ringAhead(end, at) <= linkpeer::ringAhead(end, linkpeer::writeIndex(link.requestRing()));
}

// Whether the back end sends its status reports in turns, as it says (a back end of another build, or
// one that publishes no notes: as the event memory record in the backup image says).
bool reportsInTurns(Link& link, const std::string& board) {
  if (linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::ThisBuild) {
    return (linkpeer::notesFlags(link.notes()) & rules::IN_TURNS) != 0;
  }
  Bytes record;
  std::string why;
  MxifEventMemory eventMemory{};
  if (!backedUpRecord(board, MxifEventMemory::TYPE_INDEX, 0, 0, record, why) || record.size() < sizeof eventMemory) return false;
  std::memcpy(&eventMemory, record.data(), sizeof eventMemory);
  return eventMemory.sendsInTurns();
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

// Whether the backup image holds every request before ring index `end`, as the back end's notes say
// (a back end that publishes none: after a frame's backup copy); false after the time-out.
bool backedUpPast(Link& link, u32 end, double timeout) {
  if (linkpeer::notesFrom(link.notes()) != linkpeer::NotesFrom::ThisBuild) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    return true;
  }
  const auto until = deadline(timeout);
  for (;;) {
    const u8* notes = link.notes();
    const u32 at = linkpeer::loadIndex(notes + offsetof(rules::NotesHeader, backedUp)) % LINK_RING_DATA;
    if ((linkpeer::notesFlags(notes) & rules::BACKED_UP) != 0 &&
        linkpeer::ringAhead(end, at) <= linkpeer::ringAhead(end, linkpeer::writeIndex(link.requestRing()))) {
      return true;
    }
    if (Clock::now() >= until || InterruptHandlers::interrupted()) return false;
    std::this_thread::sleep_for(POLL);
  }
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

}  // namespace

// A command whose answer carries a reply code: the answer is the request as sent (as far as the
// answer goes) with the code filled in; a negative code is a refusal.
int checkReply(Link& link, AckReports& acks, u32 requestEnd, const Request& request, const Bytes& body, double timeout,
               std::ostream& err) {
  const int type = request.type();
  const int at = replyOffset(type);
  if (at < 0) return 0;
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
    // Read before the reports: once the back end says every answer to the request is out, those
    // polled after hold it, if any does.
    const bool allOut = linkpeer::answeredTo(link.notes(), requestEnd);
    acks.poll();
    for (const Report& r : acks.reports()) {
      if (!answers(r.packet)) continue;
      if (static_cast<s16>(r.packet.body[code] << 8 | r.packet.body[code + 1]) >= 0) return 0;
      return refuse(err, "refused: " + describe(r.packet));
    }
    if (allOut) {
      err << unansweredLine(sentText(request), "the back end sent no answer to it, and says every answer to it is out");
      return 3;
    }
    if (acks.lost() || Clock::now() >= until || InterruptHandlers::interrupted()) {
      err << unansweredLine(sentText(request), whyUnseen(link, acks, requestEnd),
                            acks.lost() || InterruptHandlers::interrupted() ? -1 : timeout);
      return 3;
    }
    std::this_thread::sleep_for(POLL);
  }
}

void Evidence::takeReported(const Request& request, const std::vector<Refusal>& report) {
  for (const Refusal& r : answer) {
    if (!request.isOnAirRequest(r.field)) continue;
    const auto carried = std::find_if(report.begin(), report.end(), [&](const Refusal& x) { return x.field == r.field; });
    if (carried != report.end() && carried->answered.empty()) continue;  // the report leaves it out
    Refusal& held = reported[r.field] = r;
    if (carried != report.end()) held.answered = carried->answered, held.answeredValues = carried->answeredValues;
    if (carried == report.end()) held.answered = r.sent, held.answeredValues = r.sentValues;
  }
}

bool gatherEvidence(Link& link, const std::string& board, AckReports& acks, const Request& request,
                    const Link::Written& written, u32 notesBefore, double timeout, Evidence& evidence, std::string& unseen) {
  const u32 requestEnd = written.end;
  const std::vector<Refusal> asked = request.fields();
  const std::string instance = sentText(request);
  // Frames after the one that takes the request that must have ended before the answer is known to
  // be out: one, or the turn of the status reports while they go out in turns (which an event memory
  // request may turn on in the frame that takes it).
  const int turn = MxifEventMemory::TURN_FRAMES;
  int frames = request.type() == category::TYPE_EVENT_MEMORY || reportsInTurns(link, board) ? turn : 1;
  const auto until = deadline(timeout);
  int waits = 0;              // waits written after the request
  u32 awaited = requestEnd;   // the end of what the back end is to read next
  size_t before = acks.sentFrom();  // reports that start before this went out before the back end read the request
  std::optional<size_t> out;  // the answer starts before this
  // The reports of this record instance: where each starts, and the fields of the request that it
  // leaves out or holds otherwise.
  std::vector<std::pair<size_t, std::vector<Refusal>>> seen;
  std::vector<bool> taken(asked.size(), false);
  const auto leaves = [](const std::vector<Refusal>& refused, const std::string& field) {
    return std::any_of(refused.begin(), refused.end(), [&](const Refusal& r) { return r.field == field; });
  };
  cli::LongWait answering;
  size_t examined = 0;
  const auto examine = [&] {
    for (; examined < acks.reports().size(); ++examined) {
      std::vector<Refusal> refused;
      if (!request.refusalsIn(acks.reports()[examined].packet, refused)) continue;
      for (size_t i = 0; i < asked.size(); ++i) taken[i] = taken[i] || !leaves(refused, asked[i].field);
      seen.emplace_back(acks.reports()[examined].at, std::move(refused));
    }
  };
  const auto notesOf = [&] {
    const u32 at = static_cast<u32>((requestEnd + LINK_RING_DATA - waitPacket(1).size()) % LINK_RING_DATA);
    evidence.notes = linkpeer::notesOf(link.notes(), at, requestEnd, notesBefore);
  };
  // An answer is the request's only where the evidence agrees: no ring index was seen moved by no
  // writer while it waited, and a back end that publishes its notes took a request of its type that
  // ends where this one was written (not bytes of it inside another packet, nor a request elsewhere).
  LinkWatch watch(link, board);
  const auto agrees = [&] {
    notesOf();
    watch.sample(acks);
    using Found = linkpeer::RequestNotes::Found;
    std::string why = watch.damage();
    if (why.empty() && (evidence.notes.found == Found::Notes || evidence.notes.found == Found::None) &&
        evidence.notes.takenType != request.type()) {
      why = "the back end's notes show no request of its type taken where it was written";
    }
    if (!why.empty()) unseen = "frontend: sent " + instance + "; whether it holds it is not known: " + why + "\n";
    return why.empty();
  };
  for (;;) {
    const size_t polled = acks.poll();
    watch.sample(acks);
    // A back end of this build says when every answer to the request is out (a whole pass of its
    // reports went after it read the request); of another build, the frames after it tell.
    const bool says = linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::ThisBuild;
    if (!out && frames < turn && answeredPast(link, requestEnd)) {
      out = acks.poll();
    } else if (!readPast(link, awaited)) {
      if (waits == 0) before = polled;
    } else if (waits < frames) {
      Link::Written wait;
      if (link.write(waitPacket(waits + 1 < frames ? 1 : 0), 0.1, &wait)) awaited = wait.end, ++waits;
    } else if (frames < turn && reportsInTurns(link, board)) {
      frames = turn;  // turned on meanwhile by another request
    } else if (!out && (frames == turn || !says)) {
      out = acks.poll();
    }
    examine();
    if (std::all_of(taken.begin(), taken.end(), [](bool t) { return t; })) return agrees();
    if ((out && acks.wasFull()) || acks.lost() || !watch.damage().empty()) {
      return unseen = unansweredLine(instance, whyUnseen(link, acks, requestEnd, &watch)), false;
    }
    if (out) break;
    if (Clock::now() >= until || InterruptHandlers::interrupted()) {
      unseen = unansweredLine(instance, whyUnseen(link, acks, requestEnd, &watch), InterruptHandlers::interrupted() ? -1 : timeout);
      return false;
    }
    answering.check([&] { return "the back end's answer to " + instance; });
    std::this_thread::sleep_for(POLL);
  }
  // The answer went out after the back end read the request and before `out`: the first report there
  // that carries a field as sent, or else the first report there. Reports that a full ring held back
  // go out in the frame that reads the request too, holding the instance as before it: one that holds
  // a typed value otherwise where the back end noted no rule for it counts only where no other does.
  const std::vector<Refusal>* answer = nullptr;
  size_t answerAt = 0;
  notesOf();
  const auto pick = [&](bool ownOnly) {
    for (const auto& [at, refused] : seen) {
      if (at < before || at >= *out || (ownOnly && request.judge(refused, evidence.notes).unexplained)) continue;
      if (answer == nullptr || refused.size() < asked.size()) answer = &refused, answerAt = at;
      if (refused.size() < asked.size()) break;
    }
  };
  pick(true);
  if (answer == nullptr) pick(false);
  // A request that the back end stores without reporting it (time stamps) is judged by what the
  // backup image holds once it holds the request: where that shows every field as sent, or the back
  // end noted why it held one otherwise, every field counts as left out of the answer.
  if (answer == nullptr) {
    std::string why;
    if (imageKeeps(request.type(), request.me(), request.channel(), why) && backedUpPast(link, requestEnd, timeout) &&
        backedUpRecord(board, request.type(), request.me(), request.channel(), evidence.after, why)) {
      if (!agrees()) return false;
      const auto held = [&](const Refusal& r) { return request.heldIn(evidence.after.data(), r.field); };
      if (std::all_of(asked.begin(), asked.end(), held) || !evidence.notes.notes.empty()) {
        evidence.answer = asked;
        if (startedSince(link, board, written.start, notesBefore)) evidence.lost = "the back end started again since it went out";
        return true;
      }
    }
    evidence.after.clear();
    return unseen = unansweredLine(instance, "the back end sent no report of the record for it, nor does its backup image hold it"), false;
  }
  for (const Refusal& r : *answer) {
    const size_t i = static_cast<size_t>(
        std::find_if(asked.begin(), asked.end(), [&](const Refusal& a) { return a.field == r.field; }) - asked.begin());
    if (i >= taken.size() || !taken[i]) evidence.answer.push_back(r);  // else another report carries it as sent
  }
  // An on-air request reaches its state in the update of a frame after the answer went out: the back
  // end's last report of the instance that carries the field gives it.
  const auto onAir = [&](const Refusal& r) { return request.isOnAirRequest(r.field); };
  if (std::any_of(evidence.answer.begin(), evidence.answer.end(), onAir)) {
    settle(link, timeout, frames);
    acks.poll();
    examine();
    if (acks.lost()) evidence.lost = acks.lostWhy();  // the answer was seen; what came after went
    for (const auto& [at, refused] : seen) {
      if (at > answerAt) evidence.takeReported(request, refused);
    }
  }
  // The instance's record as backed up after those frames, read once, where a field is left to it; the
  // notes; and last, whether the back end that took the request is still the one that runs.
  if (!evidence.answer.empty()) {
    std::string why;
    if (imageKeeps(request.type(), request.me(), request.channel(), why) &&
        (!backedUpPast(link, requestEnd, timeout) ||
         !backedUpRecord(board, request.type(), request.me(), request.channel(), evidence.after, why))) {
      evidence.after.clear();
      evidence.unread = why.empty() ? "the back end did not back up the request in time" : why;
    }
  }
  if (!agrees()) return false;
  // An answer that holds a field otherwise while the image that holds the request has it as sent is
  // not the request's (bytes of the ring read as reports).
  for (const Refusal& r : evidence.answer) {
    if (r.answered.empty() || request.isOnAirRequest(r.field) || evidence.after.empty() || !request.heldIn(evidence.after.data(), r.field)) continue;
    unseen = "frontend: sent " + instance + "; whether it holds it is not known: its answer holds " + r.field + "=" + r.answered +
             ", its backup image " + r.field + "=" + r.sent + "\n";
    return false;
  }
  if (evidence.lost.empty() && startedSince(link, board, written.start, notesBefore)) {
    evidence.lost = "the back end started again since it went out";
  }
  return true;
}

}  // namespace frontend
