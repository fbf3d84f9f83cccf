// The frontend's access to a board's link memory: mapping link.mem, writing the request ring in
// turn with the other tools, taking the reports that wait in the acknowledgement ring.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "Lib/Include/type_layout.h"
#include "Tools/lib/commands/commands.h"

namespace frontend {

int largestBody(int type) {
  const int form = 0 <= type && type < category::N_TYPES ? layout::TYPES[type].formBytes : 0;
  return form > 0 ? form : static_cast<int>(RequestFraming::MAX_BODY);
}

std::string neverFits(size_t bytes) {
  return std::to_string(bytes) + " bytes never fit the request ring, which takes at most " +
         std::to_string(REQUEST_RING_TAKES) + " at once";
}

bool Link::open(const std::string& dir, double timeout, std::string& error, bool readOnly) {
  close();
  const std::string path = dir + "/link.mem";
  const auto until = deadline(timeout);
  for (;;) {
    int fd = cli::openFile(path, O_RDWR);
    readOnly_ = fd < 0 && readOnly && (errno == EACCES || errno == EROFS);
    if (readOnly_) fd = cli::openFile(path, O_RDONLY);
    if (fd < 0 && errno != ENOENT) {
      error = cli::reason(path);
      return false;
    }
    struct stat st = {};
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(LINK_WINDOW_SIZE)) {
      void* p = mmap(nullptr, LINK_WINDOW_SIZE, readOnly_ ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p == MAP_FAILED) {
        ::close(fd);
        error = "cannot map " + path;
        return false;
      }
      base_ = static_cast<u8*>(p);
      consoleFrom_ = linkring::consoleTaken(console());
      fd_ = fd;
      dir_ = dir;
      timeout_ = timeout;
      return true;
    }
    if (fd >= 0) ::close(fd);
    if (Clock::now() >= until || InterruptHandlers::interrupted()) {
      error = "no link memory at " + path + " (is the back end running on this board directory?)";
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
}

void Link::close() {
  if (base_ != nullptr) munmap(base_, LINK_WINDOW_SIZE);
  if (fd_ >= 0) ::close(fd_);
  base_ = nullptr;
  fd_ = -1;
}

bool Link::write(const Bytes& given, double timeout, Written* written, const Prepare& prepare) {
  if (given.size() > REQUEST_RING_TAKES) return error_ = neverFits(given.size()), false;
  error_ = NO_ROOM;
  Bytes bytes = given;
  const auto until = deadline(timeout);
  const auto start = [&] {
    std::string stamp;
    return cli::backendOn(dir_, &stamp) == cli::Backend::Running ? stamp : std::string();
  };
  cli::LongWait wait;
  for (;;) {
    // The ring's write index is read, the bytes copied and the index moved by one writer at a time.
    if (!linkpeer::lockWithin(fd_, until, "the request ring of " + dir_ + "/link.mem", error_)) return false;
    if (prepare && !prepare(bytes, error_)) {
      flock(fd_, LOCK_UN);
      return false;
    }
    const bool fits = linkpeer::ringRoom(requestRing()) >= bytes.size();
    bool ok = true, sent = false;
    if (fits) {
      const std::string before = start();
      const double left = std::max(0.0, std::chrono::duration<double>(until - Clock::now()).count());
      ok = linkpeer::withTable(dir_, ackRing(), [&](linkpeer::LinkTable& t) {
        // The store of the write index sends the bytes: whatever fails after it, they are out.
        linkpeer::ringWrite(requestRing(), bytes.data(), bytes.size());
        sent = true;
        const bool begins = !t.live || linkpeer::follow(t.requests, bytes.data(), bytes.size(), largestBody).headerAtStart;
        if (written != nullptr) {
          written->end = linkpeer::writeIndex(requestRing());
          written->unfinished = !begins;
        }
      }, left, &error_);
      if (written != nullptr) written->start = before == start() ? before : "";
    }
    flock(fd_, LOCK_UN);
    if (sent) {
      if (ok) error_.clear();
      return true;
    }
    if (!ok) return false;
    if (Clock::now() >= until || InterruptHandlers::interrupted()) return false;
    wait.check([&] { return "room in the request ring of " + dir_ + "/link.mem (the back end has not read it)"; });
    std::this_thread::sleep_for(POLL);
  }
}

std::vector<Packet> Link::takePackets(size_t max) {
  std::vector<Packet> packets;
  linkpeer::withTable(dir_, ackRing(), [&](linkpeer::LinkTable& t) {
    if (!t.live) return;
    t.taken.clear();
    const Bytes waiting = linkpeer::ringBytes(ackRing(), t.waiting, t.write);
    t.waiting = linkring::ahead(t.waiting, static_cast<u32>(linkpeer::parsePackets(waiting, packets, garbage_, max)));
  }, timeout_);
  return packets;
}

}  // namespace frontend
