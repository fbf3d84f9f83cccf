#include "Tools/frontend_lib.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "Main/framework/typenames.h"
#include "Platform/board.h"
#include "Lib/Include/data_internal.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/console_lines.h"

namespace frontend {
namespace {

using cli::parseNumber;
using cli::parseSeconds;
using Clock = std::chrono::steady_clock;

constexpr double DEFAULT_TIMEOUT = 2.0;
constexpr auto POLL = std::chrono::milliseconds(1);

Clock::time_point deadline(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
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
      std::string known;
      for (int j = 0; j < n; ++j) known += std::string(j ? ", " : "") + names[j] + "=0.." + std::to_string(max[j]);
      error = "bad word " + words[i] + " (takes " + known + ")";
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

std::string unknownType(const std::string& name) {
  std::string error = "unknown type " + name;
  const std::vector<std::string> near = nearestTypeNames(name);
  for (size_t i = 0; i < near.size(); ++i) error += (i == 0 ? " (nearest: " : ", ") + near[i];
  return error + (near.empty() ? "" : ")") + "; frontend types lists them all";
}

bool sendPacket(const std::vector<std::string>& words, Bytes& packet, std::string& error) {
  if (words.empty()) {
    error = "send: a type name is needed";
    return false;
  }
  const int type = typeIndexOf(words[0]);
  if (type < 0) {
    error = unknownType(words[0]);
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

const char HELP[] =
    "usage: frontend [--board DIR] [--timeout S] COMMAND ...\n"
    "The front-end processor's side of the link to the back end running on board directory DIR.\n"
    "  --board DIR     board directory of the back end (every command but types and fields)\n"
    "  --timeout S     upper bound of every wait, in seconds (default 2)\n"
    "  --help          this text\n"
    "Commands that write a request wait for the back end's start-up to pass:\n"
    "  send TYPE [me=N|channel=N] field=value ...   a record or command by type name\n"
    "  raw HEX...                                   bytes as they stand, e.g. 5a81 00000000 0049\n"
    "  wait N                                       the back end reads no request for N frames\n"
    "  button CODE press|release [me=N] [panel=N] [index=N]   a button event\n"
    "  fader LEVER VALUE [panel=N]                  a fader event: lever 0..3, raw value 0..4095\n"
    "Commands that read:\n"
    "  watch [--count N] [--timeout S]              acknowledgement packets, a line each\n"
    "  console [--follow]                           new console lines (--follow: until interrupted)\n"
    "  show TYPE [me=N] [channel=N]                 a record as last backed up in DIR/nvram.mem\n"
    "  types                                        type names with their indexes\n"
    "  fields TYPE                                  a record's fields with their ranges\n"
    "Exit status: 0 done; 1 failed (no back end, a refused request, a time-out); 2 usage error.\n";

int usage(std::ostream& err, const std::string& problem) {
  err << "frontend: " << problem << "\nusage: frontend --board DIR [--timeout S] COMMAND ... (frontend --help lists them)\n";
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
    if (a.empty() || !parseHex(a, packet)) return error = "raw takes hexadecimal bytes, two digits each", 2;
    return 0;
  }
  if (command == "wait") {
    long n = 0;
    if (a.size() != 1 || !parseNumber(a[0], -32768, 32767, n)) return error = "wait takes one frame count", 2;
    packet = linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(static_cast<s16>(n)));
    return 0;
  }
  if (command == "button") {
    long code = 0;
    if (a.size() < 2 || !parseNumber(a[0], 0, 0xFFFF, code) || (a[1] != "press" && a[1] != "release")) {
      return error = "button takes CODE (0..65535) and press or release", 2;
    }
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
    if (a.size() < 2 || !parseNumber(a[0], 0, 0xFF, lever) || !parseNumber(a[1], 0, 0xFFFF, value)) {
      return error = "fader takes LEVER and VALUE", 2;
    }
    static const char* const names[] = {"panel"};
    static const long max[] = {0xFF};
    long v[] = {0};
    if (!shortOptions(a, 2, names, v, max, 1, error)) return 2;
    packet = linkpeer::packetBytes(
        category::TYPE_FADER_EVENT,
        faderEventBody(static_cast<u8>(lever), static_cast<u16>(value), static_cast<u8>(v[0])));
    return 0;
  }
  return error = "unknown command " + command, 2;
}

// Bytes that are not whole packets put the back end's sync search out of step.
void warnStrayBytes(const Bytes& bytes, std::ostream& err) {
  std::vector<Packet> packets;
  size_t garbage = 0;
  const size_t used = linkpeer::parsePackets(bytes, packets, garbage);
  const size_t stray = garbage + bytes.size() - used;
  if (stray == 0) return;
  err << "frontend: warning: " << stray << " of the bytes are not part of a whole packet; the back end skips them, "
      << "and an odd count puts its sync search out of step until the next odd count\n";
}

// Waits until the back end holding dir has passed its start-up (its rings are reset until then).
bool waitForStartUp(const std::string& dir, double timeout, std::string& error) {
  const auto until = deadline(timeout);
  for (;;) {
    const cli::Backend state = cli::backendOn(dir);
    if (state == cli::Backend::Running) return true;
    if (state == cli::Backend::None) {
      error = "no back end is running on " + dir;
      return false;
    }
    if (Clock::now() >= until) {
      error = "the back end on " + dir + " has not passed its start-up in time (--timeout S waits longer)";
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
}

int watch(Link& link, const std::vector<std::string>& a, double timeout, std::ostream& out, std::ostream& err) {
  long count = -1;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--count" && i + 1 < a.size() && parseNumber(a[i + 1], 1, 1000000, count)) {
      ++i;
    } else if (!(a[i] == "--timeout" && i + 1 < a.size() && parseSeconds(a[++i], timeout))) {
      return usage(err, "watch takes --count N (N > 0) and --timeout S");
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

int console(const std::string& board, const std::vector<std::string>& a, double timeout, std::ostream& out,
            std::ostream& err) {
  bool follow = false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--follow") {
      follow = true;
    } else if (!(a[i] == "--timeout" && i + 1 < a.size() && parseSeconds(a[++i], timeout))) {
      return usage(err, "console takes --follow");
    }
  }
  const bool running = cli::backendOn(board) != cli::Backend::None;
  if (!running) err << "frontend: no back end is running on " << board << "; its console ring holds:\n";
  Link link;
  std::string error;
  if (!link.open(board, running ? timeout : 0, error)) return refuse(err, error);
  for (;;) {
    out << cli::withoutEsc(link.takeConsole());
    out.flush();
    if (!follow) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int show(const std::string& board, const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.empty()) return usage(err, "show takes TYPE [me=N] [channel=N]");
  const int type = typeIndexOf(a[0]);
  if (type < 0) return refuse(err, unknownType(a[0]));
  static const char* const names[] = {"me", "channel"};
  static const long max[] = {category::N_ME - 1, 0xFF};
  long v[] = {0, 0};
  std::string text, error;
  if (!shortOptions(a, 1, names, v, max, 2, error)) return usage(err, "show: " + error);
  if (!showBackedUp(board, type, static_cast<int>(v[0]), static_cast<int>(v[1]), text, error)) return refuse(err, error);
  out << text << "\n";
  return 0;
}

int types(std::ostream& out) {
  for (int type = 0; type < category::N_TYPES; ++type) {
    char line[80];
    std::snprintf(line, sizeof line, "%3d %s", type, category::typeNameOf(type));
    out << line;
    if (type == category::TYPE_WAIT_CMD) {
      out << "  (frontend wait)";
    } else if (type == TYPE_FADER_EVENT) {
      out << "  (frontend fader)";
    } else if (!isRecordBuilt(type)) {
      out << "  (bytes only: frontend raw)";
    }
    out << "\n";
  }
  return 0;
}

int fields(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 1) return usage(err, "fields takes one TYPE");
  const int type = typeIndexOf(a[0]);
  if (type < 0) return refuse(err, unknownType(a[0]));
  std::string text, error;
  if (!fieldList(type, text, error)) return refuse(err, error);
  out << text;
  return 0;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string board;
  double timeout = DEFAULT_TIMEOUT;
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      out << HELP;
      return 0;
    } else if (args[i] == "--board" && i + 1 < args.size()) {
      board = args[++i];
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      if (!parseSeconds(args[++i], timeout)) return usage(err, "--timeout takes seconds from 0 to 3600");
    } else {
      return usage(err, "unknown option " + args[i]);
    }
  }
  if (i >= args.size()) return usage(err, "a command is needed");
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i + 1), args.end());
  if (command == "types") return types(out);
  if (command == "fields") return fields(rest, out, err);

  Bytes packet;
  std::string error;
  const bool writes = command != "watch" && command != "console" && command != "show";
  if (writes) {
    const int status = requestPacket(command, rest, packet, error);
    if (status == 2) return usage(err, error);
    if (status != 0) return refuse(err, error);
  }
  if (board.empty()) return usage(err, "--board DIR is needed");
  if (!cli::checkBoardDir(board, error)) return refuse(err, error);
  if (command == "show") return show(board, rest, out, err);
  if (command == "console") return console(board, rest, timeout, out, err);
  if (writes && !waitForStartUp(board, timeout, error)) return refuse(err, error);
  Link link;
  if (!link.open(board, timeout, error)) return refuse(err, error);
  if (command == "watch") return watch(link, rest, timeout, out, err);
  if (command == "raw") warnStrayBytes(packet, err);
  if (!link.write(packet, timeout)) return refuse(err, "the request ring has no room: the back end has not read it in time");
  return 0;
}

}  // namespace frontend
