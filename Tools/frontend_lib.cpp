#include "Tools/frontend_lib.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "Main/system/system.h"
#include "Platform/board.h"
#include "Lib/Include/data_internal.h"
#include "Tools/lib/backup_image.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/console_lines.h"
#include "Tools/lib/scratch_system.h"

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
      error = "bad word " + words[i] + (n == 0 ? " (takes none)" : " (takes " + known + ")");
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- Link ----------------------------------------------------------------------------------------------

namespace {

// The largest body that the back end's reader of a packet type takes (its own categories, in this
// program, say).
int largestBody(int type) {
  useScratchSystem();
  return category::CategoryRegistry::instance().largestBody(type);
}

}  // namespace

bool Link::open(const std::string& dir, double timeout, std::string& error) {
  close();
  const std::string path = dir + "/link.mem";
  const auto until = deadline(timeout);
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st = {};
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(platform::LINK_SIZE)) {
      void* p = mmap(nullptr, platform::LINK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p == MAP_FAILED) {
        ::close(fd);
        error = "cannot map " + path;
        return false;
      }
      base_ = static_cast<u8*>(p);
      fd_ = fd;
      dir_ = dir;
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
  if (fd_ >= 0) ::close(fd_);
  base_ = nullptr;
  fd_ = -1;
}

bool Link::write(const Bytes& bytes, double timeout, u32* end, bool* unfinished) {
  if (bytes.size() > LINK_RING_DATA - LINK_RING_RESERVE) return false;
  const auto until = deadline(timeout);
  for (;;) {
    // The ring's write index is read, the bytes copied and the index moved by one writer at a time.
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    const bool fits = linkpeer::ringRoom(requestRing()) >= bytes.size();
    if (fits) {
      linkpeer::ringWrite(requestRing(), bytes.data(), bytes.size());
      if (end != nullptr) *end = linkpeer::loadIndex(requestRing()) % LINK_RING_DATA;
      linkpeer::withTable(dir_, ackRing(), [&](linkpeer::LinkTable& t) {
        if (unfinished != nullptr) *unfinished = t.live && !t.requests.atPacket();
        if (t.live) t.requests.add(bytes.data(), bytes.size(), largestBody);
      });
    }
    flock(fd_, LOCK_UN);
    if (fits) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(POLL);
  }
}

std::vector<Packet> Link::takePackets(size_t max) {
  std::vector<Packet> packets;
  linkpeer::withTable(dir_, ackRing(), [&](linkpeer::LinkTable& t) {
    if (!t.live) return;
    const Bytes waiting = linkpeer::ringBytes(ackRing(), t.waiting, t.write);
    t.waiting = static_cast<u32>((t.waiting + linkpeer::parsePackets(waiting, packets, garbage_, max)) % LINK_RING_DATA);
  });
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

const char ABOUT[] =
    "The front-end processor's side of the link to the back end running on board directory DIR.\n"
    "An option's value may also follow it after '=': --board=DIR.\n";

const char WRITING[] =
    "Commands that write a request, and watch, wait for a back end on DIR and its start-up to pass:\n"
    "  send TYPE [me=N] [channel=N] field=value ...  a record or command by type name; its answer\n"
    "                                               is checked: each field of a record that the back\n"
    "                                               end refused is named with what it takes, a format\n"
    "                                               the board cannot run as not applied, a command's\n"
    "                                               negative reply code as refused (status 1); no\n"
    "                                               answer seen: the reason (status 3)\n"
    "  raw HEX...                                   bytes as they stand, e.g. 5a81 00000000 0049\n"
    "  wait N                                       the back end reads no request for N frames (0..32767)\n"
    "  button CODE press|release [me=N] [panel=N] [index=N]   a button event (codes: frontend buttons):\n"
    "                                               me 0..3, panel 0..2, index 0..255\n"
    "  fader LEVER VALUE [panel=N]                  a fader event: lever 0..3, raw value 0..4095, panel 0..2\n"
    "Commands that read:\n";

// Follows watch's synopsis.
const char WATCHING[] =
    "   reports and answers that\n"
    "                                               arrive while it runs, a line each (watches side by\n"
    "                                               side each see all); --type prints only those types\n"
    "                                               (and --count counts them); --waiting: first those\n"
    "                                               waiting, which no watch --waiting has read yet\n"
    "                                               (the last 64 KB at most), and it takes them\n";

const char READING[] =
    "  console [--follow]                           new console lines (--follow: until interrupted or\n"
    "                                               the back end has ended)\n"
    "  show TYPE [me=N] [channel=N]                 a record as last backed up in DIR/nvram.mem\n"
    "  types                                        type names with their indexes\n"
    "  fields TYPE                                  a record's fields with the values its checks take\n"
    "  buttons                                      the button codes of the panels by name\n"
    "Exit status: 0 done; 1 failed (no back end, a refused request, a time-out); 2 usage error\n"
    "(unknown command, option, type or field name, or a value the field cannot hold); 3 a request\n"
    "sent whose answer was not seen (a wait holds requests back, a watch that reads no more holds the\n"
    "acknowledgement ring full, or bytes written before left a packet unfinished).\n";

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
    static const long max[] = {category::N_ME - 1, Fader::N_PANELS - 1, 0xFF};
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

// What the back end's receiver does with the bytes that are not whole packets it takes (when it holds
// no unfinished packet of earlier bytes): bytes before a sync pair are skipped; a header that
// promises more than its type's reader takes (the back end's own categories, in this program, say
// how much) is dropped with its ERR line; a body or header that the bytes leave unfinished is
// finished by the bytes written next.
void warnStrayBytes(const Bytes& bytes, std::ostream& err) {
  linkpeer::RequestStream stream;
  linkpeer::RequestStream::Seen seen;
  stream.add(bytes.data(), bytes.size(), largestBody, &seen);
  const auto name = [](int type) {
    const char* known = category::typeNameOf(type);
    return *known != 0 ? std::string(known) : "type " + std::to_string(type);
  };
  if (seen.stray > 0) {
    err << "frontend: warning: " << seen.stray << " of the bytes are not part of a packet; the back end skips them "
        << "up to the next sync pair and says how many on its console (\"receive out of sync\")\n";
  }
  if (seen.dropped > 0) {
    err << "frontend: warning: the " << name(seen.droppedType) << " header promises " << seen.droppedLength
        << " bytes, more than " << (seen.unheld ? "the back end can hold (" : "its type takes (")
        << (seen.unheld ? RequestReceiver::MAX_BODY : largestBody(seen.droppedType)) << ")";
    if (seen.dropped > 1) err << ", and " << seen.dropped - 1 << " more headers promise too much";
    err << "; the back end drops " << (seen.dropped == 1 ? "it" : "each") << " at once (\"receive invalid length\" on "
        << "its console) and hunts on\n";
  }
  if (stream.atPacket()) return;
  err << "frontend: warning: ";
  if (stream.owed > 0) {
    err << "the " << name(seen.type) << " packet promises " << seen.length << " bytes and " << seen.length - stream.owed
        << " follow";
  } else if (stream.head.size() == 1) {
    err << "the last byte may begin a header";
  } else {
    err << "the last " << stream.head.size() << " bytes begin a header";
  }
  err << "; the back end waits for the rest and takes the bytes written next for it\n";
}

// Waits until a back end holding dir has passed its start-up (its rings are reset until then). A back
// end started a moment ago may not have made the directory or taken its lock yet: both are awaited
// too, so that only at the time-out is there no back end.
bool waitForStartUp(const std::string& dir, double timeout, std::string& error) {
  const auto until = deadline(timeout);
  for (;;) {
    const cli::Backend state = cli::backendOn(dir);
    if (state == cli::Backend::Running) return true;
    if (Clock::now() >= until) {
      if (state == cli::Backend::Starting) {
        error = "the back end on " + dir + " has not passed its start-up in time (--timeout S waits longer)";
      } else if (cli::checkBoardDir(dir, error)) {
        error = "no back end is running on " + dir;
      }
      return false;
    }
    std::this_thread::sleep_for(POLL);
  }
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

// ---- The answer to a request ---------------------------------------------------------------------------
//
// The back end answers a record request with one report of the record instance, sent in the frame
// that takes the request: a field it takes keeps its presence bit until that report goes out, so one
// report answers every request of the instance in a frame. `send` follows its request with a wait of
// one frame, so no later request shares that frame, and once the back end has read both it writes a
// wait of no frames: the back end reads that in a later frame only, after the one that took the
// request has sent its reports. The answer is then among the reports of the instance written since
// the request; a field that none of them carries as sent was not taken.

Bytes waitPacket(s16 frames) { return linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(frames)); }

// A packet of the acknowledgement ring, and where it starts: bytes after the write index that the
// sender saw before writing its request.
struct Report {
  size_t at;
  Packet packet;
};

// The packets written to the acknowledgement ring since this was made, read by ring position as a
// running reader of the tools' table: a watch beside it sees them too, and the ring keeps them until
// they are read.
class AckReports {
  using Follow = linkpeer::AckReader::Follow;

 public:
  explicit AckReports(Link& link) : ring_(link.ackRing()), reader_(link.dir(), link.ackRing(), linkpeer::AckReader::From::Now) {}
  // Takes in what was written since the last call; returns the bytes written since the start.
  size_t poll() {
    const Follow followed = reader_.follow();
    if (lost_ == Follow::Copied) lost_ = followed;  // the answer may be among what went
    full_ = full_ || linkpeer::ringRoom(ring_) == 0;
    if (lost()) return 0;
    const Bytes& bytes = reader_.bytes();
    Packet p;
    size_t start = 0;
    while (linkpeer::nextPacket(bytes, parsed_, p, garbage_, &start)) reports_.push_back({start, std::move(p)});
    return bytes.size();
  }
  const std::vector<Report>& reports() const { return reports_; }
  // Whether the ring was seen full: the back end then holds its reports back until a reader takes some.
  bool wasFull() const { return full_; }
  // Whether reports went before they were read, and why: the back end started again (resetting its
  // rings), or a reader outside the tools' table took them.
  bool lost() const { return lost_ != Follow::Copied; }
  bool restarted() const { return lost_ == Follow::Restarted; }
  std::string holders() { return reader_.holders(); }

 private:
  const u8* ring_;
  linkpeer::AckReader reader_;
  std::vector<Report> reports_;
  size_t parsed_ = 0, garbage_ = 0;
  bool full_ = false;
  Follow lost_ = Follow::Copied;
};

// Whether the back end has read the request ring past index end (into its receive buffer; it acts on
// what it read in that frame unless a wait holds it back).
bool readPast(Link& link, u32 end) {
  const u32 at = linkpeer::loadIndex(link.requestRing() + 4) % LINK_RING_DATA;
  const u32 toEnd = (end + LINK_RING_DATA - at) % LINK_RING_DATA;
  const u32 toWrite = (linkpeer::loadIndex(link.requestRing()) + LINK_RING_DATA - at) % LINK_RING_DATA;
  return toEnd == 0 || toEnd > toWrite;
}

// "sent; no answer seen": the request went out, and what became of it is not known (status 3). With
// a time-out, after waiting that long; without, as soon as no answer can come.
int unanswered(std::ostream& err, const std::string& request, const std::string& why, double timeout = -1) {
  char within[48] = "";
  if (timeout >= 0) std::snprintf(within, sizeof within, " within %g s", timeout);
  err << "frontend: sent " << request << "; no answer seen" << within << ": " << why << "\n";
  return 3;
}

std::string whyUnseen(Link& link, AckReports& acks, u32 requestEnd) {
  if (acks.lost()) {
    return acks.restarted() ? "the back end started again, resetting its rings"
                            : "a reader outside these tools took the reports before they were read";
  }
  if (acks.wasFull()) {
    const std::string holders = acks.holders();
    return "the acknowledgement ring is full: " +
           (holders.empty() ? std::string("a reader outside these tools holds it") : "a reader that reads no more holds it (" + holders + ")");
  }
  if (!readPast(link, requestEnd)) return "the back end has not read the request (--timeout S waits longer)";
  return "the back end has not acted on it yet (a wait holds requests back; --timeout S waits longer)";
}

// The bytes written before a request left a packet unfinished, so the back end took the request into
// that packet: its answer, if any, cannot be told from the answer to those bytes.
const char INTO_UNFINISHED[] =
    "the back end took it into the body of a packet that bytes written before left unfinished (frontend raw)";

// Where a command carries its reply code (a 16-bit "reply" or "result", its answer's; a negative one
// is a refusal): the byte offset in its body, or -1 when it has none.
int replyOffset(int type) {
  std::vector<FieldInfo> fields;
  if (!settableFields(type, fields)) return -1;
  int at = 0;
  for (const FieldInfo& f : fields) {
    if (f.textCapacity > 0) return -1;
    if (f.name == "reply" || f.name == "result") return f.kind == codec::Kind::S16 && f.count == 1 ? at : -1;
    at += codec::widthOf(f.kind) * f.count;
  }
  return -1;
}

// A command whose answer carries a reply code: the answer is the request as sent (as far as the
// answer goes) with the code filled in; a negative code is a refusal.
int checkReply(Link& link, AckReports& acks, u32 requestEnd, int type, const Bytes& body, double timeout,
               std::ostream& err) {
  const int at = replyOffset(type);
  if (at < 0) return 0;
  const size_t code = static_cast<size_t>(at);
  const auto answers = [&](const Packet& p) {
    if (p.type != type || p.body.size() < code + 2) return false;
    for (size_t i = 0; i < std::min(p.body.size(), body.size()); ++i) {
      if ((i < code || i > code + 1) && p.body[i] != body[i]) return false;
    }
    return true;
  };
  const auto until = deadline(timeout);
  for (;;) {
    acks.poll();
    for (const Report& r : acks.reports()) {
      if (!answers(r.packet)) continue;
      if (static_cast<s16>(r.packet.body[code] << 8 | r.packet.body[code + 1]) >= 0) return 0;
      return refuse(err, "refused: " + describe(r.packet));
    }
    if (acks.lost() || Clock::now() >= until) {
      return unanswered(err, category::typeNameOf(type), whyUnseen(link, acks, requestEnd), acks.lost() ? -1 : timeout);
    }
    std::this_thread::sleep_for(POLL);
  }
}

// Whether the back end sends its status reports in turns over sixteen frames (the event memory
// linked to an ME, as the backup image holds it).
bool reportsInTurns(const std::string& board) {
  std::string text, error;
  if (!showBackedUp(board, category::TYPE_EVENT_MEMORY, 0, 0, text, error)) return false;
  text += " ";
  const auto value = [&](const std::string& name) {
    const size_t at = text.find(" " + name + "=");
    return at == std::string::npos ? 0 : std::atol(text.c_str() + at + name.size() + 2);
  };
  return value("enable") != 0 && value("linkedMe") != 0;
}

// A system format that the record took but the board cannot run: the driver says so on the console
// ("Invalid Video format CODE in PAIRED mode") when it is applied, in the frame that took it. The
// reason for the user, or "" when no such line for this format was written since consoleFrom.
std::string formatNotRun(Link& link, u32 consoleFrom, long format) {
  const std::string text = linkpeer::consoleSince(link.console(), consoleFrom);
  const std::string head = "Invalid Video format ";
  for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    int code = -1, paired = -1;
    if (std::sscanf(text.c_str() + at + head.size(), "%d in %d mode", &code, &paired) != 2) continue;
    // The driver code of the format, for a board mode other than 2 and for mode 2.
    if (code != libmx::systemDriverFormatCode(static_cast<int>(format), 0) &&
        code != libmx::systemDriverFormatCode(static_cast<int>(format), 2)) {
      continue;
    }
    const std::string line = text.substr(at, text.find('\n', at) - at);
    if (paired == 1) return "this board has the paired FPGA, which runs formats 10 and 11 only (its console: " + line + ")";
    if (format >= 10) return "formats 10 and 11 need the paired-FPGA board, and this board has none (its console: " + line + ")";
    return "the board cannot run it (its console: " + line + ")";
  }
  return "";
}

// Whether the record instance as last backed up holds the field with the value sent.
bool holdsAsSent(const std::string& board, int type, int me, int channel, const Refusal& r) {
  Bytes record;
  std::string why;
  if (!backedUpRecord(board, type, me, channel, record, why)) return false;
  const std::string text = describeStored(type, record.data(), me, channel) + " ";
  return text.find(" " + r.field + "=" + r.sent + " ") != std::string::npos;
}

// After a record request: finds the back end's answer for the same record instance and names each
// field that it did not take as sent, with the values its checks take. 0 when all were taken; 1 when
// some were refused, or when a system format was taken that the board cannot run; 3 when no answer
// could be seen.
int checkAnswer(Link& link, const std::string& board, AckReports& acks, u32 requestEnd, u32 consoleFrom, int type,
                const Bytes& body, double timeout, std::ostream& err) {
  std::vector<Refusal> asked;
  requestFields(type, body, asked);
  int me = 0, channel = 0;
  const std::string instance = instanceOf(type, body, me, channel);
  // Frames after the one that takes the request that must have ended before the answer is known to
  // be out: one, or sixteen while the reports go out in turns (which an event memory request may
  // turn on in the frame that takes it).
  int frames = type == category::TYPE_EVENT_MEMORY || reportsInTurns(board) ? 16 : 1;
  const auto until = deadline(timeout);
  int waits = 0;              // waits written after the request
  u32 awaited = requestEnd;   // the end of what the back end is to read next
  size_t before = 0;          // reports that start before this went out before the back end read the request
  std::optional<size_t> out;  // the answer starts before this
  // The reports of this record instance: where each starts, and the fields of the request that it
  // leaves out or holds otherwise.
  std::vector<std::pair<size_t, std::vector<Refusal>>> seen;
  std::vector<bool> taken(asked.size(), false);
  const auto leaves = [](const std::vector<Refusal>& refused, const std::string& field) {
    return std::any_of(refused.begin(), refused.end(), [&](const Refusal& r) { return r.field == field; });
  };
  // A system format taken that the board cannot run is not applied.
  const auto formatRuns = [&] {
    for (size_t i = 0; i < asked.size(); ++i) {
      long format = 0;
      if (type != category::TYPE_SYSTEM || asked[i].field != "format" || !taken[i]) continue;
      const std::string why = parseNumber(asked[i].sent, 0, 255, format) ? formatNotRun(link, consoleFrom, format) : "";
      if (why.empty()) continue;
      return refuse(err, "not applied: " + instance + " format=" + asked[i].sent + ": " + why + "; the record keeps it");
    }
    return 0;
  };
  size_t examined = 0;
  for (;;) {
    const size_t written = acks.poll();
    if (!readPast(link, awaited)) {
      if (waits == 0) before = written;
    } else if (waits < frames) {
      u32 end = 0;
      if (link.write(waitPacket(waits + 1 < frames ? 1 : 0), 0, &end)) awaited = end, ++waits;
    } else if (frames < 16 && reportsInTurns(board)) {
      frames = 16;  // turned on meanwhile by another request: the backup image shows it by now
    } else if (!out) {
      out = acks.poll();
    }
    for (; examined < acks.reports().size(); ++examined) {
      std::vector<Refusal> refused;
      if (!echoRefusals(type, body, acks.reports()[examined].packet, refused)) continue;
      for (size_t i = 0; i < asked.size(); ++i) taken[i] = taken[i] || !leaves(refused, asked[i].field);
      seen.emplace_back(acks.reports()[examined].at, std::move(refused));
    }
    if (std::all_of(taken.begin(), taken.end(), [](bool t) { return t; })) return formatRuns();
    if ((out && acks.wasFull()) || acks.lost()) return unanswered(err, instance, whyUnseen(link, acks, requestEnd));
    if (out) break;
    if (Clock::now() >= until) return unanswered(err, instance, whyUnseen(link, acks, requestEnd), timeout);
    std::this_thread::sleep_for(POLL);
  }
  // The answer went out after the back end read the request and before `out`: the first report there
  // that carries a field as sent, or else the first report there.
  const std::vector<Refusal>* answer = nullptr;
  for (const auto& [at, refused] : seen) {
    if (at < before || at >= *out) continue;
    if (answer == nullptr || refused.size() < asked.size()) answer = &refused;
    if (refused.size() < asked.size()) break;
  }
  if (answer == nullptr) return unanswered(err, instance, "the back end sent no report of the record for it");
  std::vector<Refusal> refusals;
  for (const Refusal& r : *answer) {
    const size_t i = static_cast<size_t>(
        std::find_if(asked.begin(), asked.end(), [&](const Refusal& a) { return a.field == r.field; }) - asked.begin());
    if (i < taken.size() && taken[i]) continue;  // another report carries it as sent
    // A category may leave out of its answer a field sent with the value it already holds.
    if (r.answered.empty() && holdsAsSent(board, type, me, channel, r)) continue;
    refusals.push_back(r);
  }
  for (const std::string& line : refusalTexts(type, body, refusals)) err << "frontend: refused: " << instance << " " << line << "\n";
  if (refusals.empty()) return formatRuns();
  formatRuns();
  return 1;
}

const char NO_ROOM[] = "the request ring has no room: the back end has not read it in time";

// Writes a send request and checks the back end's answer to it.
int sendRequest(Link& link, const std::string& board, const Bytes& packet, double timeout, std::ostream& err) {
  const int type = packet[6] << 8 | packet[7];
  const Bytes body(packet.begin() + 8, packet.end());
  AckReports acks(link);
  const u32 consoleFrom = linkpeer::consoleWriteIndex(link.console());
  std::vector<Refusal> fields;
  const bool record = type < category::FIRST_COMMAND_TYPE;
  const bool checked = !record || (requestFields(type, body, fields) && !fields.empty());
  // A record request is followed by a wait of one frame (see above).
  Bytes bytes = packet;
  if (record && checked) {
    const Bytes wait = waitPacket(1);
    bytes.insert(bytes.end(), wait.begin(), wait.end());
  }
  u32 end = 0;
  bool unfinished = false;
  if (!link.write(bytes, timeout, &end, &unfinished)) return refuse(err, NO_ROOM);
  if (unfinished) return unanswered(err, category::typeNameOf(type), INTO_UNFINISHED);
  if (!checked) return 0;
  if (!record) return checkReply(link, acks, end, type, body, timeout, err);
  return checkAnswer(link, board, acks, end, consoleFrom, type, body, timeout, err);
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
  bool waiting = false;
};

// A timeout option (--timeout S) that sets seconds.
cli::Option timeoutOption(double& seconds, const char* help) {
  return {"--timeout", "S", help, [&seconds](const std::string& v, std::string& error) {
            if (!parseSeconds(v, seconds)) return error = "--timeout takes seconds from 0 to 3600, not " + v, false;
            return true;
          }};
}

// watch's options, setting o; a type name that --type does not know is written to err.
cli::Options watchOptionTable(WatchOptions& o, std::ostream& err) {
  return {
      {"--count", "N", "stop after N reports",
       [&o](const std::string& v, std::string& error) {
         if (!parseNumber(v, 1, 1000000, o.count)) return error = "--count takes a count from 1 to 1000000, not " + v, false;
         return true;
       }},
      timeoutOption(o.timeout, "stop after S seconds"),
      {"--type", "NAME[,NAME]", "print only those types",
       [&o, &err](const std::string& v, std::string&) { return typeFilter(v, o.types, err); }},
      {"--waiting", nullptr, "first what is waiting",
       [&o](const std::string&, std::string&) { return o.waiting = true; }},
  };
}

// 0, or 2 with a usage error written.
int watchOptions(const std::vector<std::string>& a, WatchOptions& o, std::ostream& err) {
  const cli::Options table = watchOptionTable(o, err);
  for (size_t i = 0; i < a.size(); ++i) {
    std::string error;
    if (cli::readOption(a, i, table, error)) continue;
    // A type name that --type does not know has been said already.
    return error.empty() ? 2 : usage(err, "watch: " + error + "; it takes " + cli::optionSynopsis(table, 0, 1000));
  }
  return 0;
}

// Prints the reports that the back end writes while it runs (after those waiting, with --waiting),
// as a running reader of the tools' table: watches side by side each see every report.
int watch(Link& link, const WatchOptions& o, const Clock::time_point until, std::ostream& out, std::ostream& err) {
  using linkpeer::AckReader;
  AckReader reader(link.dir(), link.ackRing(), o.waiting ? AckReader::From::Waiting : AckReader::From::Now);
  long seen = 0;
  size_t parsed = 0, garbage = 0;
  const auto counted = [&] { return o.count >= 0 && seen >= o.count; };
  for (;;) {
    const AckReader::Follow followed = reader.follow();
    if (followed != AckReader::Follow::Copied) {
      parsed = 0;
      out << (followed == AckReader::Follow::Restarted ? "(the back end started again: what follows is from its new start)\n"
                                                       : "(reports are missing here: a reader outside these tools took them)\n");
    }
    Packet p;
    for (size_t skipped = garbage; !counted() && linkpeer::nextPacket(reader.bytes(), parsed, p, garbage);) {
      if (garbage != skipped) out << "(" << garbage - skipped << " bytes skipped before a packet)\n";
      skipped = garbage;
      if (!o.types.empty() && std::find(o.types.begin(), o.types.end(), p.type) == o.types.end()) continue;
      out << describe(p) << "\n";
      ++seen;
    }
    out.flush();
    // What was read (up to the last packet counted) no longer waits.
    if (o.waiting && parsed > 0) reader.take(parsed);
    reader.drop(parsed);
    parsed = 0;
    if (counted()) return 0;
    if (Clock::now() >= until) break;
    std::this_thread::sleep_for(POLL);
  }
  if (o.count < 0) return 0;
  err << "frontend: watch: " << seen << " of " << o.count << " packets before the time-out\n";
  return 1;
}

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

// SIGINT and SIGTERM end a follow for as long as this lives, the previous handlers back after: a
// job in a script's background ignores SIGINT, which would leave it running.
class InterruptHandlers {
 public:
  InterruptHandlers() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_[0]);
    sigaction(SIGTERM, &action, &previous_[1]);
  }
  ~InterruptHandlers() {
    sigaction(SIGINT, &previous_[0], nullptr);
    sigaction(SIGTERM, &previous_[1], nullptr);
  }
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  struct sigaction previous_[2] = {};
};

// Prints the console lines; a follow goes on until interrupted or until the back end has ended
// (after its last lines).
struct ConsoleOptions {
  bool follow = false;
  double timeout = 0;
};

// 0, or 2 with a usage error written.
int consoleOptions(const std::vector<std::string>& a, ConsoleOptions& o, std::ostream& err) {
  const cli::Options table = {timeoutOption(o.timeout, "stop waiting after S seconds"),
                              {"--follow", nullptr, "until interrupted or the back end has ended",
                               [&o](const std::string&, std::string&) { return o.follow = true; }}};
  for (size_t i = 0; i < a.size(); ++i) {
    std::string error;
    if (!cli::readOption(a, i, table, error)) {
      return usage(err, "console: " + error + "; it takes " + cli::optionSynopsis(table, 0, 1000));
    }
  }
  return 0;
}

int console(const std::string& board, const ConsoleOptions& o, std::ostream& out, std::ostream& err) {
  const bool follow = o.follow;
  const double timeout = o.timeout;
  const bool running = cli::backendOn(board) != cli::Backend::None;
  if (!running) err << "frontend: no back end is running on " << board << "; its console ring holds:\n";
  Link link;
  std::string error;
  if (!link.open(board, running ? timeout : 0, error)) return refuse(err, error);
  std::optional<InterruptHandlers> handlers;
  if (follow) handlers.emplace();
  for (;;) {
    const bool ended = cli::backendOn(board) == cli::Backend::None;  // before the take: its last lines come
    out << cli::withoutEsc(link.takeConsole());
    out.flush();
    if (!follow || interrupted) return 0;
    if (ended) {
      if (running) err << "frontend: the back end on " << board << " has ended\n";
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct ShowWhat {
  int type = -1;
  long me = 0, channel = 0;
};

// The record that show names; 0, or 2 with a usage error written. The instance words are those the
// record has, within their ranges, as send takes them.
int showArguments(const std::vector<std::string>& a, ShowWhat& what, std::ostream& err) {
  if (a.empty()) return usage(err, "show takes TYPE [me=N] [channel=N]");
  what.type = typeArgument(a[0], err);
  if (what.type < 0) return 2;
  RecordShape shape;
  if (!recordShape(what.type, shape)) return 0;  // not built: show says so
  const char* names[2];
  long max[2];
  long* values[2];
  int n = 0;
  if (shape.perMe) names[n] = "me", max[n] = category::N_ME - 1, values[n++] = &what.me;
  if (shape.channels > 1) names[n] = "channel", max[n] = shape.channels - 1, values[n++] = &what.channel;
  long v[2] = {0, 0};
  std::string error;
  if (!shortOptions(a, 1, names, v, max, n, error)) return usage(err, "show " + a[0] + ": " + error);
  for (int k = 0; k < n; ++k) *values[k] = v[k];
  return 0;
}

int show(const std::string& board, const ShowWhat& what, std::ostream& out, std::ostream& err) {
  std::string text, error;
  if (!showBackedUp(board, what.type, static_cast<int>(what.me), static_cast<int>(what.channel), text, error)) {
    return refuse(err, error);
  }
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
    } else if (type == category::TYPE_FADER_EVENT) {
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
  bool help = false, version = false;
  const cli::Options table = {
      {"--board", "DIR", "board directory of the back end (every command but types, fields and buttons)",
       [&board](const std::string& v, std::string&) {
         board = v;
         return true;
       }},
      timeoutOption(timeout, "upper bound of every wait, in seconds (default 2)"),
      {"--help", nullptr, "this text", [&help](const std::string&, std::string&) { return help = true; }, "-h"},
      {"--version", nullptr, "the version of the system and of the backup image it reads",
       [&version](const std::string&, std::string&) { return version = true; }},
  };
  size_t i = 0;
  for (; i < args.size() && args[i].starts_with("-"); ++i) {
    std::string error;
    if (!cli::readOption(args, i, table, error)) return usage(err, error);
    if (help) {
      WatchOptions unused;
      out << "usage: frontend " << cli::optionSynopsis(table, 16) << " COMMAND ...\n"
          << ABOUT << cli::optionHelp(table, 18) << WRITING << "  watch "
          << cli::optionSynopsis(watchOptionTable(unused, err), 0, 1000) << WATCHING << READING;
      return 0;
    }
    if (version) {
      out << cli::versionLine("frontend") << "\n";
      return 0;
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
  ConsoleOptions consoling;
  consoling.timeout = timeout;
  if (command == "console" && consoleOptions(rest, consoling, err) != 0) return 2;
  ShowWhat shown;
  if (command == "show" && showArguments(rest, shown, err) != 0) return 2;
  if (board.empty()) return usage(err, "--board DIR is needed");
  if (command == "show" || command == "console") {
    if (!cli::checkBoardDir(board, error)) return refuse(err, error);
    return command == "show" ? show(board, shown, out, err) : console(board, consoling, out, err);
  }
  // A watch waits for the back end within its own time-out, and watches until its end.
  const double waitFor = command == "watch" ? watching.timeout : timeout;
  const auto until = deadline(waitFor);
  if (!waitForStartUp(board, waitFor, error)) return refuse(err, error);
  Link link;
  if (!link.open(board, timeout, error)) return refuse(err, error);
  if (command == "watch") return watch(link, watching, until, out, err);
  if (command == "raw") warnStrayBytes(packet, err);
  if (!note.empty()) err << "frontend: " << note << "\n";
  if (command == "send") return sendRequest(link, board, packet, timeout, err);
  if (!link.write(packet, timeout)) return refuse(err, NO_ROOM);
  return 0;
}

}  // namespace frontend
