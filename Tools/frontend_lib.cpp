#include "Tools/frontend_lib.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <thread>

#include "Main/bkgd/bkgd.h"
#include "Main/fader/faderevent.h"
#include "Main/framework/typenames.h"
#include "Main/key/usk.h"
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
// How long after the back end has read a record request its answer may still come: the status
// sender takes the categories in turn over sixteen frames.
constexpr int ANSWER_MS = 600;

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

bool sendPacket(const std::vector<std::string>& words, Bytes& packet, std::string& error, RequestContext* context) {
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
  if (!buildBody(type, fields, body, error, context)) return false;
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
    "  --board DIR     board directory of the back end (every command but types, fields and buttons)\n"
    "  --timeout S     upper bound of every wait, in seconds (default 2)\n"
    "  --help          this text\n"
    "Commands that write a request wait for the back end's start-up to pass:\n"
    "  send TYPE [me=N] [channel=N] field=value ...  a record or command by type name; a record's\n"
    "                                               answer is checked: each field the back end\n"
    "                                               refused is named with what it takes (status 1)\n"
    "  raw HEX...                                   bytes as they stand, e.g. 5a81 00000000 0049\n"
    "  wait N                                       the back end reads no request for N frames (0..32767)\n"
    "  button CODE press|release [me=N] [panel=N] [index=N]   a button event (codes: frontend buttons)\n"
    "  fader LEVER VALUE [panel=N]                  a fader event: lever 0..3, raw value 0..4095, panel 0..2\n"
    "Commands that read:\n"
    "  watch [--count N] [--timeout S] [--type NAME[,NAME]]   reports and answers, a line each; with\n"
    "                                               --type only those types (and --count counts them)\n"
    "  console [--follow]                           new console lines (--follow: until interrupted)\n"
    "  show TYPE [me=N] [channel=N]                 a record as last backed up in DIR/nvram.mem\n"
    "  types                                        type names with their indexes\n"
    "  fields TYPE                                  a record's fields with the values its checks take\n"
    "  buttons                                      the button codes of the panels by name\n"
    "Exit status: 0 done; 1 failed (no back end, a refused request, a time-out); 2 usage error\n"
    "(unknown command, option, type or field name, or a value the field cannot hold).\n";

int usage(std::ostream& err, const std::string& problem) {
  err << "frontend: " << problem << "\nusage: frontend --board DIR [--timeout S] COMMAND ... (frontend --help lists them)\n";
  return 2;
}

int refuse(std::ostream& err, const std::string& message) {
  err << "frontend: " << message << "\n";
  return 1;
}

// The button codes by name, from the constants the back end dispatches on.
struct ButtonName {
  const char* name;
  int first, last;
  const char* what;
};
using Fader = category::CategoryFaderEvent;
using Bkgd = category::CategoryBkgd;
using Event = internal::MxifButtonEvent;
constexpr ButtonName BUTTONS[] = {
    {"crosspoint", Event::BTN_XPT_FIRST, Event::BTN_XPT_LAST,
     "crosspoint button 0..191 of a bus row (code = first + button); index=ENTRY names the bus entry\n"
     "                          (0 A bus, 1 B bus, 2..9 key fill/source, 16..23 DSK fill/source, 24.. AUX)"},
    {"cut", Fader::BTN_CUT, Fader::BTN_CUT, "cut of the layers selected for the next transition (me=ME)"},
    {"auto", Fader::BTN_AUTO, Fader::BTN_AUTO, "auto transition of the selected layers (me=ME)"},
    {"bkgd-auto", Fader::BTN_BKGD_AUTO, Fader::BTN_BKGD_AUTO, "auto transition of the background alone (me=ME)"},
    {"bkgd-cut", Fader::BTN_BKGD_CUT, Fader::BTN_BKGD_CUT, "cut of the background alone (me=ME)"},
    {"trans-type", Fader::BTN_TYPE0, Fader::BTN_TYPE0 + 2, "transition type 0..2 of the selected layers (background: 0 mix, 1 wipe)"},
    {"next-bkgd", Bkgd::BTN_NEXT_BKGD, Bkgd::BTN_NEXT_BKGD, "selects the background for the next transition"},
    {"next-key", Bkgd::BTN_NEXT_KEY1, Bkgd::BTN_NEXT_KEY1 + 3, "selects key 1..4 for the next transition"},
    {"dir-normal", Bkgd::BTN_DIR_NORMAL, Bkgd::BTN_DIR_NORMAL, "background direction normal"},
    {"nr-toggle", Bkgd::BTN_NR_TOGGLE, Bkgd::BTN_NR_TOGGLE, "normal/reverse alternation on/off"},
    {"dir-reverse", Bkgd::BTN_DIR_REVERSE, Bkgd::BTN_DIR_REVERSE, "background direction reverse"},
    {"partial", Bkgd::BTN_PARTIAL_TOGGLE, Bkgd::BTN_PARTIAL_TOGGLE, "partial transition on/off"},
    {"nam", Bkgd::BTN_NAM_TOGGLE, Bkgd::BTN_NAM_TOGGLE, "non-additive mix on/off"},
    {"key-trans", Fader::BTN_KEY_TRANS, Fader::BTN_KEY_TRANS + Fader::N_KEYS - 1,
     "transition button of key 1..4 (what it does: MxifOperate keyFaderButton.mode)"},
    {"key-auto", Fader::BTN_KEY_AUTO, Fader::BTN_KEY_AUTO + Fader::N_KEYS - 1, "auto transition of key 1..4 (me=ME)"},
    {"key-cut", Fader::BTN_KEY_CUT, Fader::BTN_KEY_CUT + Fader::N_KEYS - 1, "cut of key 1..4 (me=ME)"},
    {"dsk-trans", Fader::BTN_DSK_TRANS, Fader::BTN_DSK_TRANS + Fader::N_DSK - 1,
     "transition button of downstream key 1..4 (keyFaderButton.mode2)"},
    {"dsk-auto", Fader::BTN_DSK_AUTO, Fader::BTN_DSK_AUTO + Fader::N_DSK - 1,
     "auto transition of downstream key 1..4 (any me=0..3)"},
    {"dsk-cut", Fader::BTN_DSK_CUT, Fader::BTN_DSK_CUT + Fader::N_DSK - 1, "cut of downstream key 1..4 (any me=0..3)"},
    {"fader-select", Fader::BTN_ME_BLOCK, Fader::BTN_ME_BLOCK + 3, "fader selection 4 x ME + 0..3"},
    {"fader-select-dsk", Fader::BTN_DSK_BLOCK, Fader::BTN_DSK_BLOCK + 3, "fader selection 16..19"},
    {"fader-select-me2", Fader::BTN_ME2_BLOCK, Fader::BTN_ME2_BLOCK + 3, "fader selection 8..11"},
    {"key-on", category::CategoryUpStreamKeyAssign::FIRST_BUTTON, category::CategoryUpStreamKeyAssign::FIRST_BUTTON + 3,
     "on/off of up-stream key 1..4"},
    {"image", Event::BTN_IMAGE_FIRST, Event::BTN_IMAGE_LAST, "image effect targets"},
    {"macro-attach", Event::BTN_TR_MACRO_ATTCH, Event::BTN_TR_MACRO_ATTCH, "attaches a macro to the transition"},
    {"panel-option", Event::BTN_PANEL_OPTION1, Event::BTN_PANEL_OPTION1, "toggles the display's first option (any me)"},
    {"panel-option", Event::BTN_PANEL_OPTION2, Event::BTN_PANEL_OPTION2, "toggles the display's second option (any me)"},
    {"all-released", Event::BTN_ALL_RELEASED, Event::BTN_ALL_RELEASED, "every button released, on every ME"},
};

int buttons(std::ostream& out) {
  out << "Button codes for: frontend button CODE press|release [me=N] [panel=N] [index=N]\n"
         "A button acts on ME me=N (0..3) unless said otherwise; a press acts, a release only ends a hold.\n";
  for (const ButtonName& b : BUTTONS) {
    char line[64];
    if (b.first == b.last) {
      std::snprintf(line, sizeof line, "  %-18s %d", b.name, b.first);
    } else {
      std::snprintf(line, sizeof line, "  %-18s %d..%d", b.name, b.first, b.last);
    }
    std::string text = line;
    text.resize(std::max<size_t>(text.size() + 1, 36), ' ');
    out << text << b.what << "\n";
  }
  out << "Fade to black has no button code: send MxifOperate ftb.target=1 (0 clears it); its state\n"
         "comes back as ftb.onAir and ftb.transitioning.\n";
  return 0;
}

// A type name that must name a type: its index, or -1 with a usage error written.
int typeArgument(const std::string& name, std::ostream& err) {
  const int type = typeIndexOf(name);
  if (type < 0) usage(err, unknownType(name));
  return type;
}

// Builds the request packet of a writing command; 2 for a usage error, 1 when refused, 0 done.
// note gets what the request took for indexes left out, and for the elements that go with a given
// one: their values in the backup image of the board directory.
int requestPacket(const std::string& command, const std::vector<std::string>& a, const std::string& board, Bytes& packet,
                  std::string& error, std::string& note) {
  if (command == "send") {
    RequestContext context;
    context.refuseStatus = true;
    context.current = [&](int me, int channel, Bytes& record, std::string& why) {
      if (board.empty()) return why = "no --board DIR given to read them from", false;
      return backedUpRecord(board, typeIndexOf(a[0]), me, channel, record, why);
    };
    if (!sendPacket(a, packet, error, &context)) {
      const int type = a.empty() ? -1 : typeIndexOf(a[0]);
      return type >= 0 && !isRecordBuilt(type) ? 1 : 2;  // no field list: not a usage error
    }
    if (!context.defaulted.empty()) note = a[0] + ": sent to " + context.defaulted + " (none given)";
    if (!context.filled.empty()) {
      note += (note.empty() ? "" : "\nfrontend: ") + a[0] + ": sent as last backed up: " + context.filled;
    }
    return 0;
  }
  if (command == "raw") {
    if (a.empty() || !parseHex(a, packet)) return error = "raw takes hexadecimal bytes, two digits each", 2;
    return 0;
  }
  if (command == "wait") {
    long n = 0;
    if (a.size() != 1 || !parseNumber(a[0], 0, 32767, n)) return error = "wait takes one frame count 0..32767", 2;
    packet = linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(static_cast<s16>(n)));
    return 0;
  }
  if (command == "button") {
    long code = 0;
    if (a.size() < 2 || !parseNumber(a[0], 0, 0xFFFF, code) || (a[1] != "press" && a[1] != "release")) {
      return error = "button takes CODE (0..65535, frontend buttons lists them) and press or release", 2;
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
    if (a.size() < 2 || !parseNumber(a[0], 0, Fader::N_PANEL_LEVERS - 1, lever) || !parseNumber(a[1], 0, 4095, value)) {
      return error = "fader takes LEVER (0..3) and VALUE (0..4095)", 2;
    }
    static const char* const names[] = {"panel"};
    static const long max[] = {Fader::N_PANELS - 1};
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

// The packets of the acknowledgement ring that start at or after offset `from` of its unread bytes,
// without taking them (a watch still sees them).
std::vector<Packet> packetsFrom(u8* ring, u32 fromIndex) {
  const Bytes unread = linkpeer::ringPeek(ring);
  const u32 read = linkpeer::loadIndex(ring + 4) % LINK_RING_DATA;
  const size_t skip = (fromIndex + LINK_RING_DATA - read) % LINK_RING_DATA;
  std::vector<Packet> out;
  if (skip > unread.size()) return out;  // a reader took them meanwhile: start where it stopped
  size_t at = 0, garbage = 0;
  while (at < unread.size()) {
    std::vector<Packet> one;
    const Bytes rest(unread.begin() + static_cast<std::ptrdiff_t>(at), unread.end());
    const size_t before = garbage;
    const size_t used = linkpeer::parsePackets(rest, one, garbage, 1);
    if (one.empty()) break;
    const size_t start = at + (garbage - before);
    if (start >= skip) out.push_back(std::move(one.front()));
    at += used;
  }
  return out;
}

// The head of a request's text form: "MxifKey me=1 channel=2"; the ME and channel in me, channel.
std::string instanceOf(int type, const Bytes& body, int& me, int& channel) {
  const std::string text = describe(type, body.data(), body.size());
  std::string head = text.substr(0, text.find(' '));
  me = channel = 0;
  for (size_t at = head.size(); at < text.size();) {
    const size_t end = std::min(text.find(' ', at + 1), text.size());
    const std::string word = text.substr(at + 1, end - at - 1);
    long v = 0;
    if (word.starts_with("me=") && parseNumber(word.substr(3), 0, 255, v)) {
      me = static_cast<int>(v);
    } else if (word.starts_with("channel=") && parseNumber(word.substr(8), 0, 0xFFFF, v)) {
      channel = static_cast<int>(v);
    } else {
      break;
    }
    head += " " + word;
    at = end;
  }
  return head;
}

// Whether the back end has read the request ring past requestEnd.
bool readPast(Link& link, u32 requestEnd) {
  const u32 at = linkpeer::loadIndex(link.requestRing() + 4) % LINK_RING_DATA;
  const u32 toEnd = (requestEnd + LINK_RING_DATA - at) % LINK_RING_DATA;
  const u32 toWrite = (linkpeer::loadIndex(link.requestRing()) + LINK_RING_DATA - at) % LINK_RING_DATA;
  return toEnd == 0 || toEnd > toWrite;
}

// A command whose answer carries a reply code: a negative one is a refusal. A command that is not
// answered in time counts as taken (not every command answers).
int checkReply(Link& link, u32 ackFrom, u32 requestEnd, int type, const Bytes& body, double timeout, std::ostream& err) {
  if (describe(type, body.data(), body.size()).find(" reply=") == std::string::npos) return 0;
  const auto until = deadline(timeout);
  std::optional<Clock::time_point> read;
  while (!(read && Clock::now() - *read > std::chrono::milliseconds(ANSWER_MS)) && Clock::now() < until) {
    for (const Packet& p : packetsFrom(link.ackRing(), ackFrom)) {
      if (p.type != type) continue;
      const std::string answer = describe(p);
      const size_t at = answer.find(" reply=");
      if (at == std::string::npos || std::atol(answer.c_str() + at + 7) >= 0) return 0;
      return refuse(err, "refused: " + answer);
    }
    if (!read && readPast(link, requestEnd)) read = Clock::now();
    std::this_thread::sleep_for(POLL);
  }
  return 0;
}

size_t carried(const std::vector<Refusal>& refused, size_t asked) {
  return asked - static_cast<size_t>(std::count_if(refused.begin(), refused.end(), [](const Refusal& r) {
           return r.answered.empty();
         }));
}

// After a record request: finds the back end's answer for the same record instance and names each
// field that it did not take as sent, with the values its checks take. 0 when all were taken (or
// the request is a command or sets no field); 1 when some were refused or the answer cannot be read.
int checkAnswer(Link& link, u32 ackFrom, u32 requestEnd, const Bytes& packet, double timeout, std::ostream& err) {
  const int type = packet[6] << 8 | packet[7];
  const Bytes body(packet.begin() + 8, packet.end());
  if (type >= category::FIRST_COMMAND_TYPE) return checkReply(link, ackFrom, requestEnd, type, body, timeout, err);
  std::vector<Refusal> refused;
  if (!requestFields(type, body, refused) || refused.empty()) return 0;
  // Until an answer comes, every field counts as left out of it.
  const size_t asked = refused.size();
  size_t best = 0;
  const auto until = deadline(timeout);
  std::optional<Clock::time_point> read;  // when the back end had read past the request
  while (best < asked) {
    for (const Packet& p : packetsFrom(link.ackRing(), ackFrom)) {
      std::vector<Refusal> r;
      if (!echoRefusals(type, body, p, r) || carried(r, asked) <= best) continue;
      refused = r, best = carried(r, asked);
    }
    if (!read && readPast(link, requestEnd)) read = Clock::now();
    if ((read && Clock::now() - *read > std::chrono::milliseconds(ANSWER_MS)) || Clock::now() >= until) break;
    std::this_thread::sleep_for(POLL);
  }
  const std::string name = category::typeNameOf(type);
  if (!read) return refuse(err, name + ": the back end did not read the request in time");
  if (best == 0 && linkpeer::ringRoom(link.ackRing()) < LINK_RING_DATA / 4) {
    return refuse(err, name + ": cannot check the answer: the acknowledgement ring is full (frontend watch reads it)");
  }
  if (refused.empty()) return 0;
  int me = 0, channel = 0;
  const std::string instance = instanceOf(type, body, me, channel);
  RecordShape shape;
  recordShape(type, shape);
  Assignments with;
  if (shape.perMe && shape.channels > 1) with.emplace_back("channel", std::to_string(channel));
  for (const Refusal& r : refused) {
    std::vector<Interval> takes;
    std::string range, ignored;
    if (acceptedValues(type, r.field, shape.perMe ? me : channel, with, takes, ignored)) range = intervalsText(takes);
    err << "frontend: refused: " << instance << " " << r.field << "=" << r.sent << ": ";
    if (r.answered.empty()) {
      err << (range.empty() ? "" : "takes " + range + "; ") << "kept its value\n";
    } else {
      err << "it holds " << r.answered << (range.empty() ? "" : " (takes " + range + ")") << "\n";
    }
  }
  return 1;
}

// The type names of --type NAME[,NAME]; false with a usage error written.
bool typeFilter(const std::string& list, std::vector<int>& types, std::ostream& err) {
  for (size_t start = 0; start <= list.size();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const int type = typeArgument(list.substr(start, comma - start), err);
    if (type < 0) return false;
    types.push_back(type);
    start = comma + 1;
  }
  return true;
}

struct WatchOptions {
  long count = -1;
  std::vector<int> types;
  double timeout = 0;
};

// 0, or 2 with a usage error written.
int watchOptions(const std::vector<std::string>& a, WatchOptions& o, std::ostream& err) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--count" && i + 1 < a.size() && parseNumber(a[i + 1], 1, 1000000, o.count)) {
      ++i;
    } else if (a[i] == "--type" && i + 1 < a.size()) {
      if (!typeFilter(a[++i], o.types, err)) return 2;
    } else if (!(a[i] == "--timeout" && i + 1 < a.size() && parseSeconds(a[++i], o.timeout))) {
      return usage(err, "watch takes --count N (N > 0), --timeout S and --type NAME[,NAME]");
    }
  }
  return 0;
}

int watch(Link& link, const WatchOptions& o, std::ostream& out, std::ostream& err) {
  const long count = o.count;
  const std::vector<int>& types = o.types;
  const double timeout = o.timeout;
  const auto until = deadline(timeout);
  long seen = 0;
  size_t garbage = link.garbage();
  for (;;) {
    // Without a filter, only as many packets as are still to be counted are taken from the ring.
    const size_t max = count < 0 || !types.empty() ? SIZE_MAX : static_cast<size_t>(count - seen);
    for (const Packet& p : link.takePackets(max)) {
      if (count >= 0 && seen >= count) break;
      if (!types.empty() && std::find(types.begin(), types.end(), p.type) == types.end()) continue;
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
  const int type = typeArgument(a[0], err);
  if (type < 0) return 2;
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
    } else if (type == category::TYPE_BUTTON_EVENT) {
      out << "  (frontend button)";
    } else if (!isRecordBuilt(type)) {
      out << "  (bytes only: frontend raw)";
    }
    out << "\n";
  }
  return 0;
}

int fields(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 1) return usage(err, "fields takes one TYPE");
  const int type = typeArgument(a[0], err);
  if (type < 0) return 2;
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
  if (command == "buttons") return buttons(out);

  Bytes packet;
  std::string error, note;
  const bool writes = command != "watch" && command != "console" && command != "show";
  if (writes) {
    const int status = requestPacket(command, rest, board, packet, error, note);
    if (status == 2) return usage(err, error);
    if (status != 0) return refuse(err, error);
  }
  WatchOptions watching;
  watching.timeout = timeout;
  if (command == "watch" && watchOptions(rest, watching, err) != 0) return 2;
  if (command == "show" && !rest.empty() && typeArgument(rest[0], err) < 0) return 2;
  if (board.empty()) return usage(err, "--board DIR is needed");
  if (!cli::checkBoardDir(board, error)) return refuse(err, error);
  if (command == "show") return show(board, rest, out, err);
  if (command == "console") return console(board, rest, timeout, out, err);
  if (writes && !waitForStartUp(board, timeout, error)) return refuse(err, error);
  Link link;
  if (!link.open(board, timeout, error)) return refuse(err, error);
  if (command == "watch") return watch(link, watching, out, err);
  if (command == "raw") warnStrayBytes(packet, err);
  if (!note.empty()) err << "frontend: " << note << "\n";
  const u32 ackFrom = linkpeer::loadIndex(link.ackRing()) % LINK_RING_DATA;
  if (!link.write(packet, timeout)) return refuse(err, "the request ring has no room: the back end has not read it in time");
  if (command != "send") return 0;
  const u32 requestEnd = linkpeer::loadIndex(link.requestRing()) % LINK_RING_DATA;
  return checkAnswer(link, ackFrom, requestEnd, packet, timeout, err);
}

}  // namespace frontend
