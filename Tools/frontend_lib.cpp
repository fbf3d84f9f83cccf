#include "Tools/frontend_lib.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "Main/framework/typenames.h"
#include "Platform/board.h"
#include "Lib/Include/data_internal.h"

namespace frontend {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double DEFAULT_TIMEOUT = 2.0;
constexpr auto POLL = std::chrono::milliseconds(1);

Clock::time_point deadline(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

bool parseNumber(const std::string& s, long min, long max, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (*end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

bool parseSeconds(const std::string& s, double& out) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !(v >= 0 && v <= 3600)) return false;
  out = v;
  return true;
}

void putU16(Bytes& b, u16 v) {
  b.push_back(static_cast<u8>(v >> 8));
  b.push_back(static_cast<u8>(v));
}

// "name=value" into its two parts; false without '='.
bool splitAssignment(const std::string& word, std::string& name, std::string& value) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  name = word.substr(0, eq);
  value = word.substr(eq + 1);
  return true;
}

// Options "name=N" of the short forms, each within 0..max.
bool shortOptions(const std::vector<std::string>& words, size_t first, const char* const* names, long* values,
                  const long* max, int n, std::string& error) {
  for (size_t i = first; i < words.size(); ++i) {
    std::string name, value;
    bool ok = splitAssignment(words[i], name, value);
    int k = 0;
    while (ok && k < n && name != names[k]) ++k;
    if (!ok || k == n || !parseNumber(value, 0, max[k], values[k])) {
      error = "bad option: " + words[i];
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- Link ----------------------------------------------------------------------------------------------

bool Link::open(const std::string& dir, double timeout, std::string& error) {
  close();
  const std::string path = dir + "/link.mem";
  const auto until = deadline(timeout);
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct stat st = {};
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(platform::LINK_SIZE)) {
      void* p = mmap(nullptr, platform::LINK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      ::close(fd);
      if (p == MAP_FAILED) {
        error = "cannot map " + path;
        return false;
      }
      base_ = static_cast<u8*>(p);
      return true;
    }
    if (fd >= 0) ::close(fd);
    if (Clock::now() >= until) {
      error = "no link memory at " + path + " (is the back end running on this board directory?)";
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
}

void Link::close() {
  if (base_ != nullptr) munmap(base_, platform::LINK_SIZE);
  base_ = nullptr;
}

bool Link::write(const Bytes& bytes, double timeout) {
  if (bytes.size() > LINK_RING_DATA - LINK_RING_RESERVE) return false;
  const auto until = deadline(timeout);
  while (linkpeer::ringRoom(requestRing()) < bytes.size()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(POLL);
  }
  return linkpeer::ringWrite(requestRing(), bytes.data(), bytes.size()) == bytes.size();
}

std::vector<Packet> Link::takePackets(size_t max) {
  std::vector<Packet> packets;
  const Bytes unread = linkpeer::ringPeek(ackRing());
  linkpeer::ringConsume(ackRing(), linkpeer::parsePackets(unread, packets, garbage_, max));
  return packets;
}

// ---- Request bodies ------------------------------------------------------------------------------------

Bytes buttonEventBody(u16 code, bool pressed, u8 me, u8 panel, u8 index) {
  internal::MxifButtonEvent event;
  event.panel = panel;
  event.me = me;
  event.index = index;
  event.code = code;
  event.state = pressed ? internal::MxifButtonEvent::PRESSED : internal::MxifButtonEvent::RELEASED;
  Bytes b(codec::wireSize<internal::MxifButtonEvent>());
  codec::encode(event, b.data(), b.size());
  return b;
}

Bytes faderEventBody(u8 lever, u16 value, u8 panel) {
  // u16, flag, u16, lever, raw value, u16, panel, two bytes; only lever, value and panel are used.
  Bytes b;
  putU16(b, 0);
  b.push_back(0);
  putU16(b, 0);
  b.push_back(lever);
  putU16(b, value);
  putU16(b, 0);
  b.push_back(panel);
  b.push_back(0);
  b.push_back(0);
  return b;
}

Bytes waitBody(s16 frames) {
  Bytes b(6, 0);
  putU16(b, static_cast<u16>(frames));
  return b;
}

bool sendPacket(const std::vector<std::string>& words, Bytes& packet, std::string& error) {
  if (words.empty()) {
    error = "send: a type name is needed";
    return false;
  }
  const int type = typeIndexOf(words[0]);
  if (type < 0) {
    error = "send: unknown type " + words[0];
    return false;
  }
  Assignments fields;
  for (size_t i = 1; i < words.size(); ++i) {
    std::string name, value;
    if (!splitAssignment(words[i], name, value)) {
      error = "send: expected field=value: " + words[i];
      return false;
    }
    fields.emplace_back(name, value);
  }
  Bytes body;
  if (!buildBody(type, fields, body, error)) return false;
  packet = linkpeer::packetBytes(type, body);
  return true;
}

bool parseHex(const std::vector<std::string>& words, Bytes& bytes) {
  bytes.clear();
  for (const std::string& w : words) {
    if (w.size() % 2 != 0) return false;
    if (w.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    for (size_t i = 0; i < w.size(); i += 2) {
      bytes.push_back(static_cast<u8>(std::strtol(w.substr(i, 2).c_str(), nullptr, 16)));
    }
  }
  return true;
}

std::string describe(const Packet& p) { return frontend::describe(p.type, p.body.data(), p.body.size()); }

// ---- The program -----------------------------------------------------------------------------------

namespace {

int usage(std::ostream& err) {
  err << "usage: frontend --board DIR [--timeout S] COMMAND ...\n"
         "  send TYPE [me=N|channel=N] field=value ...\n"
         "  raw HEX...\n"
         "  wait N\n"
         "  button CODE press|release [me=N] [panel=N] [index=N]\n"
         "  fader LEVER VALUE [panel=N]\n"
         "  watch [--count N] [--timeout S]\n"
         "  console [--follow] [--timeout S]\n";
  return 2;
}

int refuse(std::ostream& err, const std::string& message) {
  err << "frontend: " << message << "\n";
  return 1;
}

// Builds the request packet of a writing command; 2 for a usage error, 1 when refused, 0 done.
int requestPacket(const std::string& command, const std::vector<std::string>& a, Bytes& packet, std::string& error) {
  if (command == "send") return sendPacket(a, packet, error) ? 0 : 1;
  if (command == "raw") {
    if (a.empty() || !parseHex(a, packet)) return 2;
    return 0;
  }
  if (command == "wait") {
    long n = 0;
    if (a.size() != 1 || !parseNumber(a[0], -32768, 32767, n)) return 2;
    packet = linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(static_cast<s16>(n)));
    return 0;
  }
  if (command == "button") {
    long code = 0;
    if (a.size() < 2 || !parseNumber(a[0], 0, 0xFFFF, code) || (a[1] != "press" && a[1] != "release")) return 2;
    static const char* const names[] = {"me", "panel", "index"};
    static const long max[] = {0xFF, 0xFF, 0xFF};
    long v[] = {0, 0, 0};
    if (!shortOptions(a, 2, names, v, max, 3, error)) return 2;
    packet = linkpeer::packetBytes(category::TYPE_BUTTON_EVENT,
                                   buttonEventBody(static_cast<u16>(code), a[1] == "press", static_cast<u8>(v[0]),
                                                   static_cast<u8>(v[1]), static_cast<u8>(v[2])));
    return 0;
  }
  if (command == "fader") {
    long lever = 0, value = 0;
    if (a.size() < 2 || !parseNumber(a[0], 0, 0xFF, lever) || !parseNumber(a[1], 0, 0xFFFF, value)) return 2;
    static const char* const names[] = {"panel"};
    static const long max[] = {0xFF};
    long v[] = {0};
    if (!shortOptions(a, 2, names, v, max, 1, error)) return 2;
    packet = linkpeer::packetBytes(
        category::TYPE_FADER_EVENT,
        faderEventBody(static_cast<u8>(lever), static_cast<u16>(value), static_cast<u8>(v[0])));
    return 0;
  }
  return 2;
}

int watch(Link& link, const std::vector<std::string>& a, double timeout, std::ostream& out, std::ostream& err) {
  long count = -1;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--count" && i + 1 < a.size() && parseNumber(a[i + 1], 1, 1000000, count)) {
      ++i;
    } else if (!(a[i] == "--timeout" && i + 1 < a.size() && parseSeconds(a[++i], timeout))) {
      return usage(err);
    }
  }
  const auto until = deadline(timeout);
  long seen = 0;
  size_t garbage = link.garbage();
  for (;;) {
    const size_t max = count < 0 ? SIZE_MAX : static_cast<size_t>(count - seen);
    for (const Packet& p : link.takePackets(max)) {
      out << describe(p) << "\n";
      ++seen;
    }
    if (link.garbage() != garbage) {
      out << "(" << link.garbage() - garbage << " bytes skipped before a packet)\n";
      garbage = link.garbage();
    }
    out.flush();
    if (count >= 0 && seen >= count) return 0;
    if (Clock::now() >= until) break;
    std::this_thread::sleep_for(POLL);
  }
  if (count < 0) return 0;
  err << "frontend: watch: " << seen << " of " << count << " packets before the time-out\n";
  return 1;
}

int console(Link& link, const std::vector<std::string>& a, double timeout, std::ostream& out, std::ostream& err) {
  bool follow = false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--follow") {
      follow = true;
    } else if (!(a[i] == "--timeout" && i + 1 < a.size() && parseSeconds(a[++i], timeout))) {
      return usage(err);
    }
  }
  const auto until = deadline(timeout);
  for (;;) {
    out << link.takeConsole();
    out.flush();
    if (!follow || Clock::now() >= until) return 0;
    std::this_thread::sleep_for(POLL);
  }
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string board;
  double timeout = DEFAULT_TIMEOUT;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    if (args[i] == "--board" && i + 1 < args.size()) {
      board = args[++i];
    } else if (args[i] == "--timeout" && i + 1 < args.size() && parseSeconds(args[i + 1], timeout)) {
      ++i;
    } else {
      return usage(err);
    }
  }
  if (board.empty() || i >= args.size()) return usage(err);
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i + 1), args.end());

  Bytes packet;
  std::string error;
  const bool writes = command != "watch" && command != "console";
  if (writes) {
    const int status = requestPacket(command, rest, packet, error);
    if (status == 2 && error.empty()) return usage(err);
    if (status != 0) {
      refuse(err, error);
      return status;
    }
  }
  Link link;
  if (!link.open(board, timeout, error)) return refuse(err, error);
  if (command == "watch") return watch(link, rest, timeout, out, err);
  if (command == "console") return console(link, rest, timeout, out, err);
  if (!link.write(packet, timeout)) return refuse(err, "the request ring has no room (is the back end running?)");
  return 0;
}

}  // namespace frontend
