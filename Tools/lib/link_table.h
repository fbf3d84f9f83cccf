#pragma once
// The tools' own table of a board's link, DIR/frontend.link (a file of the tools, not one of the
// board's memory files), read and written under a lock on it: the running readers of the
// acknowledgement ring, each with its position; where the reports still waiting begin; and the
// request stream as the tools wrote it.
//
// The acknowledgement ring has one read index, which the back end honours for room. The tools keep
// it at the oldest position still needed: that of a running reader, or the start of the reports
// waiting for a `watch --waiting` (at most WAITING_KEPT bytes of them, so that the back end always
// has room). Readers whose process is gone are dropped. A back end that starts again resets the
// rings: every position goes back to the new start.
#include <functional>
#include <string>
#include <vector>

#include "Tools/lib/link_ring.h"

namespace linkpeer {

constexpr u32 WAITING_KEPT = LINK_RING_DATA / 2;

struct LinkTable {
  struct Reader {
    long pid = 0;
    unsigned serial = 0;  // of the readers of that process
    u32 at = 0;           // the ring index it reads next
  };
  std::string start;       // the back end's start that the positions belong to
  u32 waiting = 0;         // where the reports still waiting begin
  RequestFraming requests;  // the request stream as the tools wrote it
  std::vector<Reader> readers;
  // Not kept: whether a back end that has passed its start-up holds the link (otherwise its rings
  // are not touched), and the ring's indexes as they stood when the table was read.
  bool live = false;
  u32 read = 0, write = 0;
};

// Runs change on the table of dir, locked. When live, the table was first brought to the ring (a new
// start of the back end resets it, readers gone are dropped, positions the ring no longer holds move
// to its read index), and after change the read index is moved to the oldest position still needed.
// False when the table cannot be opened.
bool withTable(const std::string& dir, u8* ackRing, const std::function<void(LinkTable&)>& change);

// The process ids of the running readers of dir's acknowledgement ring.
std::vector<long> tableReaders(const std::string& dir);

// A running reader of the acknowledgement ring, in the table while it lives: it copies what the back
// end writes from its start on, and the read index stays behind what it has not copied.
class AckReader {
 public:
  enum class From { Now, Waiting };
  AckReader(const std::string& dir, u8* ackRing, From from);
  ~AckReader();
  AckReader(const AckReader&) = delete;
  AckReader& operator=(const AckReader&) = delete;

  // Copies what was written since the last call. Unless Copied, bytes() then holds only what
  // follows: the back end has started again (resetting the ring), or bytes were taken before they
  // were copied (by a reader outside the table).
  enum class Follow { Copied, Restarted, Taken };
  Follow follow();
  const Bytes& bytes() const { return bytes_; }
  // Forgets the first n bytes of bytes().
  void drop(size_t n);
  // The reports waiting up to byte end of bytes() are no longer waiting.
  void take(size_t end);
  // The readers other than this one that hold the ring's read index: "process 123, process 456".
  std::string holders();

 private:
  bool update(const std::function<void(LinkTable&, LinkTable::Reader&)>& f);
  std::string dir_;
  u8* ring_;
  From from_;
  unsigned serial_;
  bool registered_ = false;
  std::string start_;
  u32 at_ = 0;     // the ring index that follows bytes()
  u32 first_ = 0;  // the ring index of bytes()[0]
  Bytes bytes_;
};

}  // namespace linkpeer
