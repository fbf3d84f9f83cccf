#pragma once
// The tools' own table of a board's link, DIR/frontend.link (a file of the tools, not one of the
// board's memory files), read and written under a lock on the board directory: the running readers
// of the acknowledgement ring, each with its position; which reports still wait for a
// `watch --waiting`; and the request stream as the tools wrote it.
//
// A change is written to a new file that is then renamed over the table, so a tool ended at any
// instant leaves the table as it was before or after the change, never cut. The text ends in a
// checksum: a table that is missing, cut or damaged by anything else is made anew. Every reader
// keeps its own position and start in its memory and writes them into the table at each visit, so a
// table made anew is rebuilt from the readers still running. Each holds a read lock on the board's
// link.mem from its entry into the table on: when the table is made anew while one is held, the read
// index stays where it is for REBUILD_GRACE, so that each of them is back in the table before it
// moves. A table made where no reader runs (the board's first) has none to wait for.
//
// The acknowledgement ring has one read index, which the back end honours for room. The tools keep
// it at the oldest position still needed: that of a running reader, or the oldest report waiting
// for a `watch --waiting` (at most WAITING_KEPT bytes of them, so that the back end always has
// room). Readers whose process is gone are dropped. A back end that starts again resets the rings:
// every position goes back to the new start.
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Tools/lib/link/ring.h"

namespace linkpeer {

constexpr u32 WAITING_KEPT = LINK_RING_DATA / 2;
constexpr auto REBUILD_GRACE = std::chrono::milliseconds(500);
constexpr double LOCK_TIMEOUT = 2.0;  // the bound of a wait for the table's lock unless one is given

struct LinkTable {
  struct Reader {
    long pid = 0;
    unsigned serial = 0;  // of the readers of that process
    u32 at = 0;           // the ring index it reads next
    bool claims = false;  // a `watch --waiting` that has copied the waiting reports and not yet taken them
  };
  std::string made;        // who made this table and when ("PID.NANOSECONDS", a monotonic clock)
  bool grace = false;      // whether readers ran when it was made: the read index waits for them
  std::string start;       // the back end's start that the positions belong to
  u32 waiting = 0;         // where the oldest report still waiting begins
  std::set<u32> taken;     // starts of later reports that a `watch --waiting --type` took
  std::map<int, u32> dropped;  // waiting reports dropped for room since a `watch --waiting` said so, by type
  RequestFraming requests;  // the request stream as the tools wrote it
  std::vector<Reader> readers;
  // Not kept: whether a back end that has passed its start-up holds the link (otherwise its rings
  // are not touched), the ring's indexes as they stood when the table was read, and whether the
  // table was found missing or damaged and made anew in this visit.
  bool live = false;
  u32 read = 0, write = 0;
  bool rebuilt = false;
};

// Runs change on the table of dir, locked (waiting for the lock at most timeout seconds). When
// live, the table was first brought to the ring (a new start of the back end resets it, readers gone
// are dropped, positions the ring no longer holds move to its read index), and after change the
// read index is moved to the oldest position still needed. False with the reason ("DIR/frontend.link:
// Permission denied", or the process that holds the lock) when the table cannot be read or written.
bool withTable(const std::string& dir, u8* ackRing, const std::function<void(LinkTable&)>& change,
               double timeout = LOCK_TIMEOUT, std::string* error = nullptr);

// Reads dir's table as it stands, without the lock; false when it is not whole.
bool readTable(const std::string& dir, LinkTable& t);

// The process ids of the running readers of dir's acknowledgement ring.
std::vector<long> tableReaders(const std::string& dir);

// Takes an exclusive flock on fd, waiting at most until `until`; false with the reason, naming what
// is locked (`what`) and the process that holds it, when it is not let go in time.
bool lockWithin(int fd, std::chrono::steady_clock::time_point until, const std::string& what, std::string& error);

// A running reader of the acknowledgement ring, in the table while it lives: it copies what the back
// end writes from its start on, and the read index stays behind what it has not copied.
// A reader From::Waiting claims the reports waiting as it enters the table, until its first take():
// one that starts meanwhile waits (at most timeout seconds, then its follow() fails naming the
// claimant), so that a waiting report is shown by one of them only, however they start. A claimant
// that ends without taking them, its output not written, leaves them waiting.
class AckReader {
 public:
  enum class From { Now, Waiting };
  AckReader(const std::string& dir, u8* ackRing, From from, double timeout = LOCK_TIMEOUT);
  ~AckReader();
  AckReader(const AckReader&) = delete;
  AckReader& operator=(const AckReader&) = delete;

  // Copies what was written since the last call. Unless Copied, bytes() then holds only what
  // follows: the back end has started again (resetting the ring); the ring's read index passed this
  // reader while the table was made anew (TableLost), or with nothing in the table to explain it, so
  // that a reader outside the tools took them (Taken); or the table could not be read or written
  // (Failed, error() says why; nothing was copied).
  enum class Follow { Copied, Restarted, TableLost, Taken, Failed };
  Follow follow();
  const Bytes& bytes() const { return bytes_; }
  const std::string& error() const { return error_; }
  // The back end's start that bytes() come from ("" before the first copy).
  const std::string& start() const { return start_; }
  // Forgets the first n bytes of bytes().
  void drop(size_t n);
  // Whether the packet starting at byte offset of bytes() was taken by an earlier
  // `watch --waiting --type` (From::Waiting only).
  bool wasTaken(size_t offset) const { return skip_.count(consumed_ + offset) != 0; }
  // The reports starting at these offsets of bytes() are no longer waiting; the first call ends the
  // claim of a reader From::Waiting.
  void take(const std::vector<size_t>& starts);
  // How many older waiting reports of each type the tools had dropped for room when this reader
  // started (From::Waiting only; it says so, so the count starts again).
  const std::map<int, u32>& droppedBefore() const { return droppedBefore_; }
  // Whether the ring is full as the table's lock is held and the read index moved; if so, says who
  // holds it then: the readers other than this one at the read index ("a reader that read no more
  // held it (process 123 (frontend, stopped))"), the tools' table made anew waiting for its readers,
  // or a reader outside the tools.
  bool fullHeldBy(std::string& holder);

 private:
  bool visit(const std::function<void(LinkTable&, LinkTable::Reader&)>& f);
  std::string dir_;
  u8* ring_;
  From from_;
  double timeout_;
  unsigned serial_;
  int running_;  // the board's link.mem, read-locked while this reader is in the table
  bool registered_ = false;
  bool claims_ = false;  // the waiting reports are this reader's until its first take
  long claimant_ = 0;    // the process whose claim this reader, not yet in the table, waits out
  bool claimWaited_ = false;  // it waited its time-out in vain
  std::string start_;  // the back end's start that at_ belongs to
  std::string made_;   // the table as last seen
  std::chrono::steady_clock::time_point visited_{};
  u32 at_ = 0;     // the ring index that follows bytes()
  u32 first_ = 0;  // the ring index of bytes()[0]
  Bytes bytes_;
  std::set<size_t> skip_;  // reports taken before this reader started, by bytes read since then
  size_t consumed_ = 0;    // bytes dropped since it started
  std::map<int, u32> droppedBefore_;
  std::string error_;
};

}  // namespace linkpeer
