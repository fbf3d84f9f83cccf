#include "Tools/lib/link/table.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "Tools/lib/cli.h"

namespace linkpeer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* TABLE_FILE = "/frontend.link";
constexpr const char* NEW_FILE = "/frontend.link.new";
constexpr const char* LINK_FILE = "/link.mem";  // each running reader holds a read lock on it
// A reader with nothing new to copy still visits the table this often, so that one made anew has
// it back well within REBUILD_GRACE.
constexpr auto REVISIT = REBUILD_GRACE / 10;
// A pause this long between two tries of a lock is time the process did not run.
constexpr auto NOT_RUN = std::chrono::milliseconds(100);

std::string contents(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

std::string contentsOf(const std::string& path) {
  const int fd = cli::openFile(path, O_RDONLY);
  if (fd < 0) return {};
  std::string text = contents(fd);
  ::close(fd);
  return text;
}

using cli::reason;

std::string checksum(const std::string& text) {
  u64 h = 0xcbf29ce484222325ull;  // FNV-1a
  for (char c : text) h = (h ^ static_cast<u8>(c)) * 0x100000001b3ull;
  std::ostringstream out;
  out << std::hex << h;
  return out.str();
}

// The request stream's stored state: the words after "request" (body bytes owed, the header begun).
void putRequests(std::ostream& out, const RequestFraming& s) {
  static const char digits[] = "0123456789abcdef";
  out << s.owed() << " ";
  const u8* held = s.heldBytes();
  for (int i = 0; i < s.held(); ++i) out << digits[held[i] >> 4] << digits[held[i] & 15];
  out << (s.held() == 0 ? "-" : "");
}
void getRequests(std::istream& words, RequestFraming& s) {
  std::string head;
  u32 owed = 0;
  Bytes held;
  words >> owed >> head;
  for (size_t i = 0; i + 1 < head.size() && head != "-"; i += 2) {
    held.push_back(static_cast<u8>(std::strtoul(head.substr(i, 2).c_str(), nullptr, 16)));
  }
  s.resume(owed, held.data(), static_cast<int>(held.size()));
}

// Lines "table MADE", "grace 0|1", "start STAMP", "waiting AT TYPE:DROPPED...", "taken AT...", "request OWED HEAD",
// "reader PID SERIAL AT [claims]", then "sum CHECKSUM" of all before it. False when the text is not a whole
// table (missing, cut, or changed by anything but the tools).
bool parsed(const std::string& text, LinkTable& t) {
  const size_t sum = text.rfind("sum ");
  if (sum == std::string::npos || (sum > 0 && text[sum - 1] != '\n') || text.back() != '\n' ||
      text.substr(sum + 4, text.size() - sum - 5) != checksum(text.substr(0, sum))) {
    return false;
  }
  std::istringstream lines(text.substr(0, sum));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    const std::string rest = line.substr(std::min(line.size(), word.size() + 1));
    if (word == "table") {
      t.made = rest;
    } else if (word == "grace") {
      words >> t.grace;
    } else if (word == "start") {
      t.start = rest;
    } else if (word == "waiting") {
      words >> t.waiting;
      for (int type = 0; words >> type && words.get() == ':';) words >> t.dropped[type];
    } else if (word == "taken") {
      for (u32 at = 0; words >> at;) t.taken.insert(at % LINK_RING_DATA);
    } else if (word == "request") {
      getRequests(words, t.requests);
    } else if (LinkTable::Reader r; word == "reader" && words >> r.pid >> r.serial >> r.at) {
      r.claims = words >> word && word == "claims";
      t.readers.push_back(r);
    }
  }
  return !t.made.empty();
}

std::string printed(const LinkTable& t) {
  std::ostringstream out;
  out << "table " << t.made << "\ngrace " << t.grace << "\nstart " << t.start << "\nwaiting " << t.waiting;
  for (const auto& [type, count] : t.dropped) out << " " << type << ":" << count;
  out << "\ntaken";
  for (u32 at : t.taken) out << " " << at;
  out << "\nrequest ";
  putRequests(out, t.requests);
  out << "\n";
  for (const LinkTable::Reader& r : t.readers) {
    out << "reader " << r.pid << " " << r.serial << " " << r.at << (r.claims ? " claims" : "") << "\n";
  }
  const std::string text = out.str();
  return text + "sum " + checksum(text) + "\n";
}

long long monotonicNs() {
  timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000ll + now.tv_nsec;
}

// Whether the table was made anew within REBUILD_GRACE while readers ran.
bool inGrace(const LinkTable& t) {
  const size_t dot = t.made.find('.');
  const long long at = dot == std::string::npos ? 0 : std::atoll(t.made.c_str() + dot + 1);
  const long long age = monotonicNs() - at;
  return t.grace && age >= 0 && age < std::chrono::nanoseconds(REBUILD_GRACE).count();
}

// A lock on the whole of a file.
struct flock wholeLock(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;
}

// Whether a reader of dir's acknowledgement ring runs, in any process: each holds a read lock on
// link.mem from its entry into the table on. True when that cannot be told.
bool readersRun(const std::string& dir) {
  const int fd = cli::openFile(dir + LINK_FILE, O_RDONLY);
  struct flock probe = wholeLock(F_WRLCK);
  const bool run = fd < 0 || fcntl(fd, F_OFD_GETLK, &probe) != 0 || probe.l_type != F_UNLCK;
  if (fd >= 0) ::close(fd);
  return run;
}

// A process that has ended, whether or not its parent has collected it yet.
bool gone(long pid) {
  if (kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  const std::string stat = contentsOf("/proc/" + std::to_string(pid) + "/stat");
  const size_t name = stat.rfind(')');
  return name != std::string::npos && name + 2 < stat.size() && (stat[name + 2] == 'Z' || stat[name + 2] == 'X');
}

// "process 123 (frontend, stopped)": the holder of a lock as the user can find it.
std::string processName(long pid) {
  const std::string stat = contentsOf("/proc/" + std::to_string(pid) + "/stat");
  const size_t open = stat.find('('), close = stat.rfind(')');
  std::string text = "process " + std::to_string(pid);
  if (open == std::string::npos || close == std::string::npos || close < open) return text;
  text += " (" + stat.substr(open + 1, close - open - 1);
  if (close + 2 < stat.size() && (stat[close + 2] == 'T' || stat[close + 2] == 't')) text += ", stopped";
  return text + ")";
}

// The process holding a flock on fd's file, from /proc/locks ("1: FLOCK ADVISORY WRITE PID
// MAJ:MIN:INODE 0 EOF"); 0 when none is named there.
long lockHolder(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return 0;
  char file[64];
  std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::istringstream lines(contentsOf("/proc/locks"));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string number, kind, advisory, mode, where;
    long pid = 0;
    if (line.find("->") == std::string::npos && words >> number >> kind >> advisory >> mode >> pid >> where &&
        kind == "FLOCK" && where == file) {
      return pid;
    }
  }
  return 0;
}

// Where the waiting reports from t.waiting are to start so that at most WAITING_KEPT bytes of them
// stay: the first report from which that many remain. Those dropped that no one took are counted.
void keepWaiting(const u8* ring, LinkTable& t) {
  if (ringAhead(t.waiting, t.write) <= WAITING_KEPT) return;
  const Bytes bytes = ringBytes(ring, t.waiting, t.write);
  size_t pos = 0, garbage = 0, start = 0;
  Packet p;
  u32 to = t.write;
  while (nextPacket(bytes, pos, p, garbage, &start)) {
    const u32 at = static_cast<u32>((t.waiting + start) % LINK_RING_DATA);
    if (bytes.size() - start <= WAITING_KEPT) {
      to = at;
      break;
    }
    if (t.taken.erase(at) == 0) ++t.dropped[p.type];
  }
  t.waiting = to;
}

// Moves the start of what waits past the reports taken there.
void passTaken(const u8* ring, LinkTable& t) {
  const Bytes bytes = ringBytes(ring, t.waiting, t.write);
  size_t pos = 0, garbage = 0, start = 0;
  Packet p;
  const u32 from = t.waiting;
  while (nextPacket(bytes, pos, p, garbage, &start) && t.taken.erase(static_cast<u32>((from + start) % LINK_RING_DATA)) != 0) {
    t.waiting = static_cast<u32>((from + pos) % LINK_RING_DATA);
  }
}

// Of the reports taken, only those after the start of what waits and written still count.
void pruneTaken(LinkTable& t) {
  const u32 waits = ringAhead(t.waiting, t.write);
  std::erase_if(t.taken, [&](u32 at) { return ringAhead(t.waiting, at) >= waits; });
}

// Where the read index of a live table is to stand: at the oldest position still needed, or where
// it is while a table made anew waits for its readers.
u32 readFrom(const u8* ring, LinkTable& t) {
  keepWaiting(ring, t);
  pruneTaken(t);
  u32 oldest = t.waiting;
  for (const LinkTable::Reader& r : t.readers) oldest = ringAhead(t.read, r.at) < ringAhead(t.read, oldest) ? r.at : oldest;
  return inGrace(t) ? t.read : oldest;
}

std::string runningStart(const std::string& dir) {
  std::string start;
  return cli::backendOn(dir, &start) == cli::Backend::Running ? start : std::string();
}

// Tries done() until it holds (true) or until has passed (false). Time that this process did not run
// (stopped, by SIGSTOP or Ctrl-Z) does not count: the wait is bounded for the holder's sake. Past a
// second it says once what it waits for (what()).
bool waitWithin(Clock::time_point until, const std::function<bool()>& done, const std::function<std::string()>& what) {
  cli::LongWait wait;
  for (auto last = Clock::now();;) {
    if (done()) return true;
    const auto now = Clock::now();
    if (now - last > NOT_RUN) until += now - last;
    last = now;
    if (now >= until) return false;
    wait.check(what);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

bool lockWithin(int fd, Clock::time_point until, const std::string& what, std::string& error) {
  const auto holder = [&] {
    const long pid = lockHolder(fd);
    return pid > 0 ? processName(pid) : std::string("another process");
  };
  int failed = 0;  // errno of a failure other than the lock being held
  const auto locked = [&] {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    failed = errno != EWOULDBLOCK && errno != EINTR ? errno : 0;
    return failed != 0;
  };
  if (waitWithin(until, locked, [&] { return what + ", held by " + holder(); })) {
    return failed == 0 || (errno = failed, error = reason(what), false);
  }
  error = what + " is held by " + holder() + ", which has not let it go within the time-out";
  return false;
}

bool withTable(const std::string& dir, u8* ackRing, const std::function<void(LinkTable&)>& change, double timeout,
               std::string* error) {
  std::string unused;
  std::string& why = error != nullptr ? *error : unused;
  const std::string path = dir + TABLE_FILE;
  // The lock is on the directory: the table itself is replaced at every change.
  const int lock = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock < 0) return why = reason(dir), false;
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) != 0) {
    why = reason(path);
    ::close(lock);
    return false;
  }
  // A stop from the terminal (Ctrl-Z) waits until the lock is let go: the other tools would wait on it.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int s : {SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&stops, s);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  bool ok = lockWithin(lock, until, "the tools' table " + path, why);
  const int fd = ok ? cli::openFile(path, O_RDONLY) : -1;
  if (ok && fd < 0 && errno != ENOENT && errno != ESPIPE) ok = (why = reason(path), false);  // another file: made anew
  LinkTable t;
  if (ok && (fd < 0 || !parsed(contents(fd), t))) {
    t = {};
    t.made = std::to_string(getpid()) + "." + std::to_string(monotonicNs());
    t.grace = readersRun(dir);
    t.rebuilt = true;
  }
  if (fd >= 0) ::close(fd);
  std::string start;
  t.live = ok && ackRing != nullptr && cli::backendOn(dir, &start) == cli::Backend::Running;
  std::erase_if(t.readers, [](const LinkTable::Reader& r) { return gone(r.pid); });
  // A position counts from the read index; one past the write index is no longer in the ring.
  const auto distance = [&](u32 at) { return ringAhead(t.read, at); };
  if (t.live) {
    if (t.start != start) {
      t.start = start;
      t.waiting = 0;
      t.dropped.clear();
      t.taken.clear();
      t.requests = {};
      for (LinkTable::Reader& r : t.readers) r.at = 0;
    }
    t.read = loadIndex(ackRing + 4) % LINK_RING_DATA;
    t.write = loadIndex(ackRing) % LINK_RING_DATA;
    const u32 used = distance(t.write);
    if (distance(t.waiting) > used) t.waiting = t.read;
    pruneTaken(t);
    for (LinkTable::Reader& r : t.readers) r.at = distance(r.at) > used ? t.read : r.at;
  }
  if (ok) change(t);
  // The read index is not written into the rings of another start (one that began during this visit).
  if (t.live && runningStart(dir) == t.start) {
    if (const u32 from = readFrom(ackRing, t); from != t.read) storeIndex(ackRing + 4, from);
  }
  if (ok) {
    // Written whole to a new file, then put in place: a tool ended at any instant leaves the old table
    // or the new one.
    const std::string text = printed(t), fresh = dir + NEW_FILE;
    const int out = cli::openFile(fresh, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const ssize_t n = out < 0 ? -1 : write(out, text.data(), text.size());
    if (n >= 0 && n != static_cast<ssize_t>(text.size())) errno = ENOSPC;  // written in part: no room for the rest
    if (n != static_cast<ssize_t>(text.size())) {
      ok = (why = reason(fresh), false);
    } else if (rename(fresh.c_str(), path.c_str()) != 0) {
      ok = (why = reason("cannot put " + fresh + " in place of " + path), false);
    }
    if (out >= 0) ::close(out);
    if (!ok && out >= 0) unlink(fresh.c_str());  // none is left behind (a full disk leaves it cut)
  }
  flock(lock, LOCK_UN);
  ::close(lock);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return ok;
}

bool readTable(const std::string& dir, LinkTable& t) { return parsed(contentsOf(dir + TABLE_FILE), t); }

std::vector<long> tableReaders(const std::string& dir) {
  std::vector<long> pids;
  withTable(dir, nullptr, [&](LinkTable& t) {
    for (const LinkTable::Reader& r : t.readers) pids.push_back(r.pid);
  });
  return pids;
}

// ---- A reader -------------------------------------------------------------------------------------------

namespace {
std::atomic<unsigned> serials{0};
}

AckReader::AckReader(const std::string& dir, u8* ackRing, From from, double timeout)
    : dir_(dir), ring_(ackRing), from_(from), timeout_(timeout), serial_(++serials),
      running_(cli::openFile(dir + LINK_FILE, O_RDONLY)) {
  const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  const auto entered = [&] { return follow() != Follow::Copied || registered_ || claimant_ == 0; };
  if (!waitWithin(until, entered, [&] { return "the waiting reports, held by " + processName(claimant_); })) {
    error_ = "the waiting reports are held by " + processName(claimant_) + ", which has not let them go within the time-out";
    claimWaited_ = true;
  }
}

AckReader::~AckReader() {
  withTable(dir_, ring_, [&](LinkTable& t) {
    std::erase_if(t.readers, [&](const LinkTable::Reader& r) { return r.pid == getpid() && r.serial == serial_; });
  }, timeout_);
  if (running_ >= 0) ::close(running_);
}

bool AckReader::visit(const std::function<void(LinkTable&, LinkTable::Reader&)>& f) {
  bool done = false;
  const bool ok = withTable(dir_, ring_, [&](LinkTable& t) {
    if (!t.live) return;
    auto me = std::find_if(t.readers.begin(), t.readers.end(),
                           [&](const LinkTable::Reader& r) { return r.pid == getpid() && r.serial == serial_; });
    // At first from now or from what is waiting; then from where it stands (in its own memory, the
    // table being rebuilt from the readers if it was lost). An entry of a process gone that had this
    // one's id and serial is taken over.
    if (!registered_ && from_ == From::Waiting) {
      // The waiting reports are one claimant's at a time, from its entry to its first take.
      for (auto r = t.readers.begin(); r != t.readers.end(); ++r) {
        if (r->claims && r != me) claimant_ = r->pid;
      }
      if (claimant_ != 0) return;
      claims_ = true;
    }
    if (!registered_) {
      start_ = t.start;
      first_ = at_ = from_ == From::Now ? t.write : t.waiting;
      if (from_ == From::Waiting) {
        for (u32 taken : t.taken) skip_.insert(ringAhead(at_, taken));
        droppedBefore_ = t.dropped;
        t.dropped.clear();
      }
      made_ = t.made;
      registered_ = true;
      // From its entry on, a table made anew waits for it (taken under the table's lock, so that no
      // visit finds it in neither).
      const struct flock lock = wholeLock(F_RDLCK);
      if (running_ >= 0) fcntl(running_, F_OFD_SETLK, &lock);
      if (me != t.readers.end()) me->at = at_;
    }
    if (me == t.readers.end()) {
      t.readers.push_back({getpid(), serial_, at_, claims_});
      me = t.readers.end() - 1;
    }
    me->claims = claims_;
    f(t, *me);
    done = true;
  }, timeout_, &error_);
  return ok && done;
}

AckReader::Follow AckReader::follow() {
  if (claimWaited_) return Follow::Failed;
  claimant_ = 0;
  const std::string now = runningStart(dir_);
  if (now.empty()) return Follow::Copied;  // nothing to copy until a back end runs
  const auto time = Clock::now();
  if (registered_ && now == start_ && loadIndex(ring_) % LINK_RING_DATA == at_ && time - visited_ < REVISIT) {
    return Follow::Copied;
  }
  Follow result = Follow::Copied;
  const auto restart = [&](const std::string& start) {
    start_ = start;
    bytes_.clear();
    skip_.clear();
    first_ = at_ = 0;
  };
  error_.clear();
  const bool ran = visit([&](LinkTable& t, LinkTable::Reader& me) {
    if (t.start != start_) {
      // An empty start_: this reader has said so already, when it saw the back end go.
      result = start_.empty() ? Follow::Copied : Follow::Restarted;
      restart(t.start);
    }
    if (ringAhead(t.read, at_) > ringAhead(t.read, t.write)) {
      // The read index passed this reader: while the table was lost, or by a reader outside the tools.
      if (result == Follow::Copied) result = t.made != made_ ? Follow::TableLost : Follow::Taken;
      bytes_.clear();
      skip_.clear();
      first_ = at_ = t.read;
    }
    made_ = t.made;
    const Bytes added = ringBytes(ring_, at_, t.write);
    bytes_.insert(bytes_.end(), added.begin(), added.end());
    me.at = at_ = t.write;
  });
  if (!error_.empty()) {
    timeout_ = 0;  // it has waited its time for the lock: leaving the table waits no more
    return Follow::Failed;
  }
  visited_ = time;
  // A back end that started again while this copied: what was copied may be of either start.
  if (ran && runningStart(dir_) != start_) {
    restart("");
    return Follow::Restarted;
  }
  return result;
}

void AckReader::drop(size_t n) {
  n = std::min(n, bytes_.size());
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  first_ = static_cast<u32>((first_ + n) % LINK_RING_DATA);
  consumed_ += n;
  std::erase_if(skip_, [&](size_t at) { return at < consumed_; });
}

void AckReader::take(const std::vector<size_t>& starts) {
  if (starts.empty() && !claims_) return;
  visit([&](LinkTable& t, LinkTable::Reader& me) {
    me.claims = claims_ = false;
    if (t.start != start_) return;
    const u32 waits = ringAhead(t.waiting, t.write);
    for (size_t start : starts) {
      const u32 at = static_cast<u32>((first_ + start) % LINK_RING_DATA);
      if (ringAhead(t.waiting, at) < waits) t.taken.insert(at);
    }
    passTaken(ring_, t);
  });
}

bool AckReader::fullHeldBy(std::string& holder) {
  bool full = false;
  visit([&](LinkTable& t, LinkTable::Reader& me) {
    if (!t.live) return;
    const u32 from = readFrom(ring_, t);  // as this visit leaves the read index
    if (ringAhead(from, loadIndex(ring_) % LINK_RING_DATA) < LINK_RING_DATA - LINK_RING_RESERVE) return;
    full = true;
    std::string names;
    for (const LinkTable::Reader& r : t.readers) {
      if (&r != &me && r.at == from) names += (names.empty() ? "" : ", ") + processName(r.pid);
    }
    holder = !names.empty() ? "a reader that read no more held it (" + names + ")"
             : inGrace(t)   ? "the tools held it while their table frontend.link, made anew, waited for its readers"
                            : "a reader outside these tools held it";
  });
  return full;
}

}  // namespace linkpeer
