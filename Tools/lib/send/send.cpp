// send once its request is parsed: the writer's turn, in which the elements that go with those given
// are filled from the state every request before it leaves and the request goes out; the evidence of
// what became of it (send/evidence.cpp); and the verdict on that evidence, in one place.
#include <algorithm>
#include <ostream>
#include <thread>

#include "Lib/Include/type_names.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/commands/commands.h"
#include "Tools/lib/send/send.h"

namespace frontend {
namespace {

// The bytes written before a request left a packet unfinished, so the back end took the request into
// that packet: its answer, if any, cannot be told from the answer to those bytes.
const char INTO_UNFINISHED[] =
    "the back end took it into the body of a packet that bytes written before left unfinished (frontend raw)";

// Whether the back end's backup image holds every request before the request ring's write index, as
// far as the back end says (at once where no back end of these tools runs, or one publishes no notes).
bool backedUpNow(Link& link, const std::string& board) {
  const u32 at = linkpeer::writeIndex(link.requestRing());
  return linkpeer::backedUpTo(link.notes(), at) || linkpeer::notesFrom(link.notes()) == linkpeer::NotesFrom::None ||
         cli::backendOn(board) != cli::Backend::Running;
}

const char NOT_BACKED_UP[] =
    "the back end has not backed up the requests written before it, so the values that go with those given cannot be "
    "read from the state they leave (--timeout S waits longer)";

// "sent INSTANCE FIELD=VALUE; whether it holds it is not known: WHY".
std::string notKnown(const std::string& instance, const std::string& sent, const std::string& why) {
  return "frontend: sent " + instance + " " + sent + "; whether it holds it is not known: " + why + "\n";
}
std::string notKnown(const std::string& instance, const Refusal& r, const std::string& why) {
  return notKnown(instance, r.field + "=" + r.sent, why);
}

// 0 sent; 1, with the reason, when nothing was (wrote: whether the bytes went); 3 when they went out but
// the tools' table could not be written after them, so that their answer cannot be followed.
int sentStatus(Link& link, bool wrote, const std::string& request, std::ostream& err) {
  if (!wrote) return refuse(err, "not sent: " + link.error());
  if (link.error().empty()) return 0;
  err << "frontend: sent " << request << "; its answer cannot be followed: the tools' table could not be written after it "
      << "went out (" << link.error() << ")\n";
  return 3;
}

}  // namespace

int writeOnly(Link& link, const std::string& request, const Bytes& packet, double timeout, std::ostream& err,
              Link::Written* written, const Link::Prepare& prepare) {
  return sentStatus(link, link.write(packet, timeout, written, prepare), request, err);
}

const char NO_ROOM[] = "the request ring has no room: the back end has not read it in time";

Outcome judgeSend(const Request& request, const Evidence& evidence) {
  Outcome out;
  const std::string& instance = request.instance();
  std::vector<Refusal> refusals;
  bool unknown = false;
  // An on-air request that the answer carries as sent is refused where the back end noted that it
  // changed nothing, the layer running on to the other state.
  for (Refusal r : request.fields()) {
    const auto same = [&](const Refusal& a) { return a.field == r.field; };
    if (!request.isOnAirRequest(r.field) || std::any_of(evidence.answer.begin(), evidence.answer.end(), same)) continue;
    r.answered = r.sent, r.answeredValues = r.sentValues;
    if (!request.judge({r}, evidence.notes).refused.empty()) refusals.push_back(r);
  }
  for (Refusal r : evidence.answer) {
    // An on-air request holds the state the frame after its answer left: as a report gave it, or else
    // as the backup image holds it, or else (no report of a change, on an ME the image does not keep)
    // as the answer gave it. A field that the answer leaves out holds as the image holds it.
    if (request.isOnAirRequest(r.field)) {
      double held = 0;
      if (const auto at = evidence.reported.find(r.field); at != evidence.reported.end()) {
        r = at->second;
      } else if (!evidence.after.empty() && storedNumber(request.type(), evidence.after.data(), r.field, 0, held)) {
        r.answered = intervalsText({{held, held}});
        r.answeredValues = {held};
      } else if (!evidence.unread.empty()) {
        out.lines.push_back(notKnown(instance, r, "the backup image could not be read (" + evidence.unread + ")"));
        unknown = true;
        continue;
      }
      // Held as sent, unless the back end noted that the request changed nothing (the layer runs on).
      if (r.answeredValues == r.sentValues && request.judge({r}, evidence.notes).refused.empty()) continue;
    } else if (r.answered.empty() && !evidence.after.empty() && request.heldIn(evidence.after.data(), r.field)) {
      continue;
    }
    refusals.push_back(r);
  }
  // Evidence read across a start of the back end, or after its reports went, refuses nothing.
  if (!refusals.empty() && !evidence.lost.empty()) {
    for (const Refusal& r : refusals) out.lines.push_back(notKnown(instance, r, evidence.lost));
    out.status = 3;
    return out;
  }
  out.verdict = request.judge(refusals, evidence.notes, evidence.after);
  const Verdict& verdict = out.verdict;
  if (verdict.unexplained) {
    for (const std::string& line : verdict.refused) {
      const size_t colon = line.find(": ");
      out.lines.push_back(notKnown(instance, line.substr(0, colon),
                                   "the report read as its answer says " + line.substr(colon + 2) +
                                       ", which no answer of its own says: a report of the instance from before it"));
    }
    out.status = 3;
    return out;
  }
  for (const std::string& line : verdict.refused) out.lines.push_back("frontend: refused: " + instance + " " + line + "\n");
  for (const std::string& line : verdict.notKnown) {
    const size_t colon = line.find(": ");
    const std::string sent = line.substr(0, colon);
    out.lines.push_back(notKnown(instance, sent,
                                 "no backup image shows the value the record held, which may be " + sent.substr(sent.find('=') + 1) +
                                     ", the one it starts with: " + line.substr(colon + 2)));
  }
  for (const std::string& line : verdict.notes) out.lines.push_back("frontend: note: " + instance + " " + line + "\n");
  for (const std::string& line : verdict.notRun) {
    out.lines.push_back("frontend: not applied: " + instance + " " + line + "; the record keeps it\n");
  }
  out.status = !verdict.refused.empty() || !verdict.notRun.empty() ? 1 : unknown || !verdict.notKnown.empty() ? 3 : 0;
  return out;
}

int sendRequest(Link& link, const std::string& board, Request& request, const std::string& note, double timeout,
                std::ostream& err) {
  const int type = request.type();
  AckReports acks(link);
  const u32 notesBefore = linkpeer::notesWritten(link.notes());
  const bool record = type < category::FIRST_COMMAND_TYPE;
  const bool checked = !record || !request.fields().empty();
  if (acks.failed()) return refuse(err, "not sent: " + acks.lostWhy());
  // The request encoded as it goes (once, or in each writer's turn that fills it), followed, for a
  // record, by a wait of one frame (send/evidence.cpp).
  Bytes packet;
  const auto bytes = [&] {
    Bytes out = packet = request.packet();
    if (record && checked) {
      const Bytes wait = waitPacket(1);
      out.insert(out.end(), wait.begin(), wait.end());
    }
    return out;
  };
  // Elements that go with those given are filled from the state that every request before it leaves:
  // once the back end has backed up every request before the ring's write index, the writer's turn
  // reads the image and writes, so requests sent side by side are taken as if one after another. The
  // turn is held for that alone: where another request went first meanwhile, the wait starts again.
  std::string filled;
  bool again = false;
  // In the same turn the reports written so far are taken in: none of them can answer it.
  const Link::Prepare prepare = [&](Bytes& out, std::string& error) {
    if (request.needsFill()) {
      if ((again = !backedUpNow(link, board))) return error = NOT_BACKED_UP, false;
      Bytes held;
      if (!backedUpRecord(board, type, request.me(), request.channel(), held, error)) {
        return error = request.fillProblem(error), false;
      }
      filled = request.fill(held.data());
      out = bytes();
    }
    if (record && checked) acks.sending();
    return true;
  };
  Link::Written written;
  const auto until = deadline(timeout);
  bool wrote = false;
  cli::LongWait backup;
  do {
    while (request.needsFill() && !backedUpNow(link, board) && Clock::now() < until && !InterruptHandlers::interrupted()) {
      backup.check([] { return std::string("the back end to back up the requests written before this one"); });
      std::this_thread::sleep_for(POLL);
    }
    const double left = std::max(0.0, std::chrono::duration<double>(until - Clock::now()).count());
    wrote = link.write(request.needsFill() ? Bytes() : bytes(), left, &written, prepare);
  } while (!wrote && again && Clock::now() < until && !InterruptHandlers::interrupted());
  const int status = sentStatus(link, wrote, category::typeNameOf(type), err);
  if (status == 1) return status;
  if (!note.empty()) err << "frontend: " << note << "\n";
  if (!filled.empty()) err << "frontend: " << category::typeNameOf(type) << ": sent as last backed up: " << filled << "\n";
  if (status != 0) return status;
  acks.sent(written.start);
  if (written.unfinished) {
    return err << "frontend: sent " << sentText(request) << "; no answer seen: " << INTO_UNFINISHED << "\n", 3;
  }
  if (!checked) return 0;
  if (!record) return checkReply(link, acks, written.end, request, Bytes(packet.begin() + LINK_HEADER_BYTES, packet.end()), timeout, err);
  Evidence evidence;
  std::string unseen;
  if (!gatherEvidence(link, board, acks, request, written, notesBefore, timeout, evidence, unseen)) return err << unseen, 3;
  const Outcome outcome = judgeSend(request, evidence);
  for (const std::string& line : outcome.lines) err << line;
  return outcome.status;
}

}  // namespace frontend
