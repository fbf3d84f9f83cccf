#include "Tools/lib/link_table.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "Tools/lib/cli.h"

namespace linkpeer {
namespace {

constexpr const char* TABLE_FILE = "/frontend.link";

std::string contents(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(text.size()))) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

std::string contentsOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text = contents(fd);
  ::close(fd);
  return text;
}

// Lines "start STAMP", "waiting AT", "request OWED HEAD", "reader PID SERIAL AT"; what does not read
// as one of them is left out.
LinkTable parsed(const std::string& text) {
  LinkTable t;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "start") {
      t.start = line.substr(std::min(line.size(), word.size() + 1));
    } else if (word == "waiting") {
      words >> t.waiting;
    } else if (word == "request") {
      std::string head;
      u32 owed = 0;
      Bytes held;
      words >> owed >> head;
      for (size_t i = 0; i + 1 < head.size() && head != "-"; i += 2) {
        held.push_back(static_cast<u8>(std::strtoul(head.substr(i, 2).c_str(), nullptr, 16)));
      }
      t.requests.resume(owed, held.data(), static_cast<int>(held.size()));
    } else if (LinkTable::Reader r; word == "reader" && words >> r.pid >> r.serial >> r.at) {
      t.readers.push_back(r);
    }
  }
  return t;
}

std::string printed(const LinkTable& t) {
  std::ostringstream out;
  out << "start " << t.start << "\nwaiting " << t.waiting << "\nrequest " << t.requests.owed() << " ";
  static const char digits[] = "0123456789abcdef";
  const u8* held = t.requests.heldBytes();
  for (int i = 0; i < t.requests.held(); ++i) out << digits[held[i] >> 4] << digits[held[i] & 15];
  out << (t.requests.held() == 0 ? "-" : "") << "\n";
  for (const LinkTable::Reader& r : t.readers) out << "reader " << r.pid << " " << r.serial << " " << r.at << "\n";
  return out.str();
}

// A process that has ended, whether or not its parent has collected it yet.
bool gone(long pid) {
  if (kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  const std::string stat = contentsOf("/proc/" + std::to_string(pid) + "/stat");
  const size_t name = stat.rfind(')');
  return name != std::string::npos && name + 2 < stat.size() && (stat[name + 2] == 'Z' || stat[name + 2] == 'X');
}

// Where the waiting reports from `from` to `to` are to start so that at most WAITING_KEPT bytes of
// them stay: the first packet from which that many remain.
u32 keptFrom(const u8* ring, u32 from, u32 to) {
  const Bytes bytes = ringBytes(ring, from, to);
  size_t pos = 0, garbage = 0, start = 0;
  Packet p;
  while (nextPacket(bytes, pos, p, garbage, &start)) {
    if (bytes.size() - start <= WAITING_KEPT) return static_cast<u32>((from + start) % LINK_RING_DATA);
  }
  return to;
}

}  // namespace

bool withTable(const std::string& dir, u8* ackRing, const std::function<void(LinkTable&)>& change) {
  const int fd = ::open((dir + TABLE_FILE).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // A stop from the terminal (Ctrl-Z) waits until the lock is let go: the other tools would wait on it.
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int s : {SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&stops, s);
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  LinkTable t = parsed(contents(fd));
  std::string start;
  t.live = ackRing != nullptr && cli::backendOn(dir, &start) == cli::Backend::Running;
  std::erase_if(t.readers, [](const LinkTable::Reader& r) { return gone(r.pid); });
  // A position counts from the read index; one past the write index is no longer in the ring.
  const auto distance = [&](u32 at) { return ringAhead(t.read, at); };
  if (t.live) {
    if (t.start != start) {
      t.start = start;
      t.waiting = 0;
      t.requests = {};
      for (LinkTable::Reader& r : t.readers) r.at = 0;
    }
    t.read = loadIndex(ackRing + 4) % LINK_RING_DATA;
    t.write = loadIndex(ackRing) % LINK_RING_DATA;
    const u32 used = distance(t.write);
    if (distance(t.waiting) > used) t.waiting = t.read;
    for (LinkTable::Reader& r : t.readers) r.at = distance(r.at) > used ? t.read : r.at;
  }
  change(t);
  if (t.live) {
    if (ringAhead(t.waiting, t.write) > WAITING_KEPT) t.waiting = keptFrom(ackRing, t.waiting, t.write);
    u32 oldest = t.waiting;
    for (const LinkTable::Reader& r : t.readers) oldest = distance(r.at) < distance(oldest) ? r.at : oldest;
    if (oldest != t.read) storeIndex(ackRing + 4, oldest);
  }
  const std::string text = printed(t);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) < 0) {
    // The next one to lock it reads what is there.
  }
  flock(fd, LOCK_UN);
  ::close(fd);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return true;
}

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

AckReader::AckReader(const std::string& dir, u8* ackRing, From from)
    : dir_(dir), ring_(ackRing), from_(from), serial_(++serials) {
  follow();
}

AckReader::~AckReader() {
  withTable(dir_, ring_, [&](LinkTable& t) {
    std::erase_if(t.readers, [&](const LinkTable::Reader& r) { return r.pid == getpid() && r.serial == serial_; });
  });
}

bool AckReader::update(const std::function<void(LinkTable&, LinkTable::Reader&)>& f) {
  bool done = false;
  withTable(dir_, ring_, [&](LinkTable& t) {
    if (!t.live) return;
    auto me = std::find_if(t.readers.begin(), t.readers.end(),
                           [&](const LinkTable::Reader& r) { return r.pid == getpid() && r.serial == serial_; });
    if (me == t.readers.end()) {
      // At first from now or from what is waiting; an entry lost since, from what the ring holds.
      const u32 at = registered_ ? t.read : from_ == From::Now ? t.write : t.waiting;
      t.readers.push_back({getpid(), serial_, at});
      me = t.readers.end() - 1;
      if (!registered_) start_ = t.start, first_ = at_ = at;
      registered_ = true;
    }
    f(t, *me);
    done = true;
  });
  return done;
}

AckReader::Follow AckReader::follow() {
  if (registered_ && loadIndex(ring_) % LINK_RING_DATA == at_) return Follow::Copied;
  Follow result = Follow::Copied;
  update([&](LinkTable& t, LinkTable::Reader& me) {
    result = t.start != start_ ? Follow::Restarted : me.at != at_ ? Follow::Taken : Follow::Copied;
    if (result != Follow::Copied) {
      start_ = t.start;
      bytes_.clear();
      first_ = me.at;
    }
    const Bytes added = ringBytes(ring_, me.at, t.write);
    bytes_.insert(bytes_.end(), added.begin(), added.end());
    me.at = at_ = t.write;
  });
  return result;
}

void AckReader::drop(size_t n) {
  n = std::min(n, bytes_.size());
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  first_ = static_cast<u32>((first_ + n) % LINK_RING_DATA);
}

void AckReader::take(size_t end) {
  const u32 to = static_cast<u32>((first_ + std::min(end, bytes_.size())) % LINK_RING_DATA);
  update([&](LinkTable& t, LinkTable::Reader&) {
    const u32 at = ringAhead(t.read, to);
    if (t.start == start_ && at <= ringAhead(t.read, t.write) && at > ringAhead(t.read, t.waiting)) t.waiting = to;
  });
}

std::string AckReader::holders() {
  std::string names;
  update([&](LinkTable& t, LinkTable::Reader& me) {
    for (const LinkTable::Reader& r : t.readers) {
      if (&r != &me && r.at == t.read) names += (names.empty() ? "process " : ", process ") + std::to_string(r.pid);
    }
  });
  return names;
}

}  // namespace linkpeer
