#pragma once
// send's path once its request is parsed (Request, send/request.cpp): the writer's turn, which
// fills and writes it, and the verdict on what became of it (send/send.cpp); the evidence of
// that, gathered once after it went out (send/evidence.cpp).
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Tools/lib/link/link.h"
#include "Tools/lib/link/table.h"
#include "Tools/lib/records/types.h"

namespace frontend {

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
 public:
  explicit AckReports(Link& link);
  // The request goes out now, in the writer's turn: what was written before cannot answer it.
  void sending() { sentFrom_ = poll(); }
  size_t sentFrom() const { return sentFrom_; }
  // The request went out into the rings of that start of the back end ("" none ran throughout).
  void sent(const std::string& start) { sentUnder_ = start; }
  // Takes in what was written since the last call; returns the bytes written since the start.
  size_t poll();
  const std::vector<Report>& reports() const { return reports_; }
  // Whether the ring was seen full: the back end then holds its reports back until a reader takes some.
  bool wasFull() const { return full_; }
  // Bytes between reports that start none: the back end writes whole packets, one after another.
  size_t garbage() const { return reports_.empty() ? 0 : garbage_ - leading_; }
  // Whether reports went before they were read, or could not be read (once so, so for good), and why.
  bool lost() const { return lost_ != linkpeer::AckReader::Follow::Copied; }
  std::string lostWhy() const;
  bool failed() const { return lost_ == linkpeer::AckReader::Follow::Failed; }
  const std::string& holder() const { return holder_; }

 private:
  std::string dir_;
  const u8* ring_;
  linkpeer::AckReader reader_;
  std::optional<std::string> sentUnder_;
  std::vector<Report> reports_;
  size_t parsed_ = 0, garbage_ = 0, leading_ = 0, sentFrom_ = 0;
  bool full_ = false;
  std::string holder_;  // of the full ring
  linkpeer::AckReader::Follow lost_ = linkpeer::AckReader::Follow::Copied;
};

// What became of a record request, gathered once it went out.
struct Evidence {
  // The fields of the request that its answer leaves out or holds otherwise, and that no other report
  // of its frame carries as sent.
  std::vector<Refusal> answer;
  // An on-air request among them as the back end's last report after the answer carries it.
  std::map<std::string, Refusal> reported;
  // Why the reports after the answer, or the state of the back end they come from, are not known: they
  // went before they were read, or the back end started again since the request went out ("" neither).
  std::string lost;
  // The instance's record as backed up after the frames that took the request (empty: not read, or not
  // kept there); why the image could not be read ("" where it was, or does not keep the record).
  Bytes after;
  std::string unread;
  // What the back end noted of the request as it took it.
  linkpeer::RequestNotes notes;

  // Takes the state of the on-air requests among the answer's fields that a report after the answer
  // carries (its refusals, as Request::refusalsIn gives them): of several, the last holds.
  void takeReported(const Request& request, const std::vector<Refusal>& report);
};

// Waits for the back end's answer to a record request that went out (written; notesBefore: the
// notes' slots written before it) and gathers what became of it. False when no answer is seen, with
// the line that says so and why (the outcome is then not known: status 3).
bool gatherEvidence(Link& link, const std::string& board, AckReports& acks, const Request& request,
                    const Link::Written& written, u32 notesBefore, double timeout, Evidence& evidence, std::string& unseen);

// The answer to a command of a type that carries a reply code (body: the request's, as it went): 0
// taken; 1, with the line, when the code is negative; 3, with the line, when no answer is seen or none
// can come.
int checkReply(Link& link, AckReports& acks, u32 requestEnd, const Request& request, const Bytes& body, double timeout,
               std::ostream& err);

// The verdict on a record request: the lines send writes ("frontend: refused: ...", "frontend: note:
// ...", "frontend: sent ...; whether it holds it is not known: ...") and its status (0 every value
// typed held as typed; 1 a value refused or not applied; 3 one not known).
struct Outcome {
  std::vector<std::string> lines;
  int status = 0;
  Verdict verdict;  // the record's judge's, on the values refused
};
Outcome judgeSend(const Request& request, const Evidence& evidence);

// "MxifKey me=0 channel=1 onAir=1": a record request's instance and the fields it carries.
std::string sentText(const Request& request);

// A wait of n frames, as the back end reads it.
Bytes waitPacket(s16 frames);

}  // namespace frontend
