// The commands that write a request (send, raw, wait, button, fader): their packets, what raw's
// bytes do to the back end's receiver, and the button codes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/commands/commands.h"

namespace frontend {

using cli::parseNumber;

namespace {

// A body in its wire form, through the field list that the back end reads it with.
template <class R>
Bytes wireBody(const R& r) {
  Bytes b(codec::wireSize<R>());
  codec::encode(r, b.data(), b.size());
  return b;
}

// What a button event and a fader event take, as their records declare it.
constexpr limits::Range BUTTON_MES = limits::runOf(&internal::MxifButtonEvent::me);
constexpr limits::Range BUTTON_PANELS = limits::runOf(&internal::MxifButtonEvent::panel);
constexpr limits::Range LEVERS = limits::runOf(&internal::MxifFaderEvent::lever);
constexpr limits::Range LEVER_VALUES = limits::runOf(&internal::MxifFaderEvent::value);
constexpr limits::Range LEVER_PANELS = limits::runOf(&internal::MxifFaderEvent::panel);

}  // namespace

Bytes buttonEventBody(u16 code, bool pressed, u8 me, u8 panel, u8 index) {
  internal::MxifButtonEvent event;
  event.panel = panel;
  event.me = me;
  event.index = index;
  event.code = code;
  event.state = pressed ? internal::MxifButtonEvent::PRESSED : internal::MxifButtonEvent::RELEASED;
  return wireBody(event);
}

Bytes faderEventBody(u8 lever, u16 value, u8 panel) {
  internal::MxifFaderEvent event;
  event.lever = lever;
  event.value = value;
  event.panel = panel;
  return wireBody(event);
}

Bytes waitBody(s16 frames) {
  WaitCommand wait{};
  wait.frames = frames;
  return wireBody(wait);
}

std::string unknownType(const std::string& name) {
  return "unknown type " + name + cli::nearestNote(name, typeNames()) + "; frontend types lists them all";
}

namespace {

// The type and the field=value assignments of send's words; false with a usage error.
bool requestWords(const std::vector<std::string>& words, int& type, Assignments& fields, std::string& error) {
  if (words.empty()) return error = "send: a type name is needed", false;
  type = typeIndexOf(words[0]);
  if (type < 0) return error = unknownType(words[0]), false;
  for (size_t i = 1; i < words.size(); ++i) {
    std::string name, value;
    if (!splitAssignment(words[i], name, value)) return error = "send: expected field=value: " + words[i], false;
    fields.emplace_back(name, value);
  }
  return true;
}

}  // namespace

bool parseSendWords(const std::vector<std::string>& words, Request& request, std::string& error, RequestContext* context) {
  int type = -1;
  Assignments fields;
  return requestWords(words, type, fields, error) && parseRequest(type, fields, request, error, context);
}

bool sendPacket(const std::vector<std::string>& words, Bytes& packet, std::string& error, RequestContext* context) {
  int type = -1;
  Assignments fields;
  Bytes body;
  if (!requestWords(words, type, fields, error) || !buildBody(type, fields, body, error, context)) return false;
  packet = linkpeer::packetBytes(type, body);
  return true;
}

bool parseHex(const std::vector<std::string>& words, Bytes& bytes, std::string* bad) {
  bytes.clear();
  for (const std::string& w : words) {
    if (w.size() % 2 != 0 || w.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      if (bad != nullptr) *bad = w;
      return false;
    }
    for (size_t i = 0; i < w.size(); i += 2) {
      bytes.push_back(static_cast<u8>(std::strtol(w.substr(i, 2).c_str(), nullptr, 16)));
    }
  }
  return true;
}

std::string describe(const Packet& p) { return frontend::describe(p.type, p.body.data(), p.body.size()); }

namespace {


// The button codes by name, from the constants the back end dispatches on.
struct ButtonName {
  const char* name;
  int first, last;
  const char* what;
};
using Event = internal::MxifButtonEvent;
constexpr int N_KEYS = MxifKey::N_CHANNELS, N_DSK = MxifDsk::N_CHANNELS;
constexpr ButtonName BUTTONS[] = {
    {"crosspoint", Event::BTN_XPT_FIRST, Event::BTN_XPT_LAST,
     "crosspoint button 0..191 of a bus row (code = first + button); index=ENTRY names the bus entry\n"
     "                          (0 A bus, 1 B bus, 2..9 key fill/source, 16..23 DSK fill/source, 24.. AUX)"},
    {"cut", Event::BTN_CUT, Event::BTN_CUT, "cut of the layers selected for the next transition (me=ME)"},
    {"auto", Event::BTN_AUTO, Event::BTN_AUTO, "auto transition of the selected layers (me=ME)"},
    {"bkgd-auto", Event::BTN_BKGD_AUTO, Event::BTN_BKGD_AUTO, "auto transition of the background alone (me=ME)"},
    {"bkgd-cut", Event::BTN_BKGD_CUT, Event::BTN_BKGD_CUT, "cut of the background alone (me=ME)"},
    {"trans-type", Event::BTN_TYPE0, Event::BTN_TYPE0 + 2, "transition type 0..2 of the selected layers (background: 0 mix, 1 wipe)"},
    {"next-bkgd", Event::BTN_NEXT_BKGD, Event::BTN_NEXT_BKGD, "selects the background for the next transition"},
    {"next-key", Event::BTN_NEXT_KEY1, Event::BTN_NEXT_KEY1 + 3, "selects key 1..4 for the next transition"},
    {"dir-normal", Event::BTN_DIR_NORMAL, Event::BTN_DIR_NORMAL, "background direction normal"},
    {"nr-toggle", Event::BTN_NR_TOGGLE, Event::BTN_NR_TOGGLE, "normal/reverse alternation on/off"},
    {"dir-reverse", Event::BTN_DIR_REVERSE, Event::BTN_DIR_REVERSE, "background direction reverse"},
    {"partial", Event::BTN_PARTIAL_TOGGLE, Event::BTN_PARTIAL_TOGGLE, "partial transition on/off"},
    {"nam", Event::BTN_NAM_TOGGLE, Event::BTN_NAM_TOGGLE, "non-additive mix on/off"},
    {"key-trans", Event::BTN_KEY_TRANS, Event::BTN_KEY_TRANS + N_KEYS - 1,
     "transition button of key 1..4 (what it does: MxifOperate keyFaderButton.mode)"},
    {"key-auto", Event::BTN_KEY_AUTO, Event::BTN_KEY_AUTO + N_KEYS - 1, "auto transition of key 1..4 (me=ME)"},
    {"key-cut", Event::BTN_KEY_CUT, Event::BTN_KEY_CUT + N_KEYS - 1, "cut of key 1..4 (me=ME)"},
    {"dsk-trans", Event::BTN_DSK_TRANS, Event::BTN_DSK_TRANS + N_DSK - 1,
     "transition button of downstream key 1..4 (keyFaderButton.mode2)"},
    {"dsk-auto", Event::BTN_DSK_AUTO, Event::BTN_DSK_AUTO + N_DSK - 1,
     "auto transition of downstream key 1..4 (any me=0..3)"},
    {"dsk-cut", Event::BTN_DSK_CUT, Event::BTN_DSK_CUT + N_DSK - 1, "cut of downstream key 1..4 (any me=0..3)"},
    {"fader-select", Event::BTN_ME_BLOCK, Event::BTN_ME_BLOCK + 3, "fader selection 4 x ME + 0..3"},
    {"fader-select-dsk", Event::BTN_DSK_BLOCK, Event::BTN_DSK_BLOCK + 3, "fader selection 16..19"},
    {"fader-select-me2", Event::BTN_ME2_BLOCK, Event::BTN_ME2_BLOCK + 3, "fader selection 8..11"},
    {"key-on", Event::BTN_USK_ON, Event::BTN_USK_ON + 3, "on/off of up-stream key 1..4"},
    {"image", Event::BTN_IMAGE_FIRST, Event::BTN_IMAGE_LAST, "image effect targets"},
    {"macro-attach", Event::BTN_TR_MACRO_ATTCH, Event::BTN_TR_MACRO_ATTCH, "attaches a macro to the transition"},
    {"panel-option", Event::BTN_PANEL_OPTION1, Event::BTN_PANEL_OPTION1, "toggles the display's first option (any me)"},
    {"panel-option", Event::BTN_PANEL_OPTION2, Event::BTN_PANEL_OPTION2, "toggles the display's second option (any me)"},
    {"all-released", Event::BTN_ALL_RELEASED, Event::BTN_ALL_RELEASED, "every button released, on every ME"},
};

int listButtons(std::ostream& out) {
  out << "Button codes for: frontend button CODE|NAME press|release [me=N] [panel=N] [index=N]\n"
         "(a NAME below that stands for one code is taken for it)\n"
         "A button acts on ME me=N ("
      << BUTTON_MES.lo << ".." << BUTTON_MES.hi << ") unless said otherwise; a press acts, a release only ends a hold.\n";
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

// The code of a button word: a number 0..65535, or a name of the list that stands for one code;
// false with the reason.
bool buttonCode(const std::string& word, long& code, std::string& error) {
  if (parseNumber(word, 0, 0xFFFF, code)) return true;
  std::vector<std::string> names;
  std::string codes;
  int found = 0;
  for (const ButtonName& b : BUTTONS) {
    if (std::find(names.begin(), names.end(), b.name) == names.end()) names.emplace_back(b.name);
    if (word != b.name) continue;
    codes += (codes.empty() ? "" : ", ") + std::to_string(b.first) + (b.first == b.last ? "" : ".." + std::to_string(b.last));
    found += b.last - b.first + 1;
    code = b.first;
  }
  if (found == 1) return true;
  error = found > 1 ? "button " + word + " stands for " + codes + ": give the code"
                    : "button takes CODE (0..65535) or a NAME that frontend buttons lists, not " + word +
                          cli::nearestNote(word, names);
  return false;
}

// The packets of the writing commands but send and raw from their words; false with a usage error.
bool waitRequest(const std::vector<std::string>& a, Bytes& packet, std::string& error) {
  long n = 0;
  if (a.size() != 1 || !parseNumber(a[0], 0, 32767, n)) return error = "wait takes one frame count 0..32767", false;
  packet = linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(static_cast<s16>(n)));
  return true;
}

bool buttonRequest(const std::vector<std::string>& a, Bytes& packet, std::string& error) {
  long code = 0;
  if (a.size() < 2 || (a[1] != "press" && a[1] != "release")) {
    return error = "button takes CODE (0..65535) or NAME (frontend buttons lists them), then press or release", false;
  }
  static const char* const names[] = {"me", "panel", "index"};
  static const long max[] = {BUTTON_MES.hi, BUTTON_PANELS.hi, 0xFF};
  long v[] = {0, 0, 0};
  if (!buttonCode(a[0], code, error) || !shortOptions(a, 2, names, v, max, 3, error)) return false;
  packet = linkpeer::packetBytes(category::TYPE_BUTTON_EVENT,
                                 buttonEventBody(static_cast<u16>(code), a[1] == "press", static_cast<u8>(v[0]),
                                                 static_cast<u8>(v[1]), static_cast<u8>(v[2])));
  return true;
}

bool faderRequest(const std::vector<std::string>& a, Bytes& packet, std::string& error) {
  long lever = 0, value = 0;
  static constexpr auto USAGE = rules::compose("fader takes LEVER (", LEVERS.lo, "..", LEVERS.hi, ") and VALUE (",
                                                LEVER_VALUES.lo, "..", LEVER_VALUES.hi, ")");
  error = USAGE.chars;
  if (a.size() < 2) return false;
  if (!parseNumber(a[0], LEVERS.lo, LEVERS.hi, lever)) return error += ", not LEVER " + a[0], false;
  if (!parseNumber(a[1], LEVER_VALUES.lo, LEVER_VALUES.hi, value)) return error += ", not VALUE " + a[1], false;
  error.clear();
  static const char* const names[] = {"panel"};
  static const long max[] = {LEVER_PANELS.hi};
  long v[] = {0};
  if (!shortOptions(a, 2, names, v, max, 1, error)) return false;
  packet = linkpeer::packetBytes(
      category::TYPE_FADER_EVENT, faderEventBody(static_cast<u8>(lever), static_cast<u16>(value), static_cast<u8>(v[0])));
  return true;
}

// The request of send, parsed once; 0, or 2 with a usage error. note gets what the request took for
// indexes left out.
int sendRequestOf(const Invocation& in, Request& request, std::string& error, std::string& note) {
  const std::vector<std::string>& a = in.args;
  RequestContext context;
  context.refuseStatus = true;
  context.current = [&](int me, int channel, Bytes& record, std::string& why) {
    if (in.board.empty()) return why = "no --board DIR given to read them from", false;
    return backedUpRecord(in.board, typeIndexOf(a[0]), me, channel, record, why);
  };
  if (!parseSendWords(a, request, error, &context)) return 2;
  const int type = request.type();
  // A record with no field given would change nothing (the back end only echoes it); a command
  // may take none.
  const auto isField = [](const std::string& w) { return !w.starts_with("me=") && !w.starts_with("channel="); };
  if (type < category::FIRST_COMMAND_TYPE && std::none_of(a.begin() + 1, a.end(), isField)) {
    return error = a[0] + ": no field=value given, so nothing to change: nothing sent (frontend fields " + a[0] +
                   " lists them)",
           2;
  }
  // The elements that go with those given are filled from the backup image, which keeps MEs 0 and 1.
  if (std::string why; request.needsFill() && !imageKeeps(type, request.me(), request.channel(), why)) {
    return error = request.fillProblem(why), 2;
  }
  if (!request.defaulted().empty()) note = a[0] + ": sent to " + request.defaulted() + " (none given)";
  return 0;
}

// The request stream as the tools wrote it, as far as a back end that has passed its start-up reads
// it: from the start of a packet unless bytes written before left one unfinished.
RequestFraming writtenStream(const std::string& board) {
  linkpeer::LinkTable t;
  std::string start;
  const bool live = cli::backendOn(board, &start) == cli::Backend::Running;
  return live && linkpeer::readTable(board, t) && t.start == start ? t.requests : RequestFraming{};
}

// What the back end's receiver does with the bytes that are not whole packets it takes, as its
// framing splits them from where the stream stands (framing): the body of a packet that bytes written
// before left unfinished is made up of them first; bytes before a sync pair are skipped; a header
// that promises more than its type's reader takes (largestBody) is dropped with its ERR line; a body
// owed is finished by the bytes written next. The start of a header left at the end is held until
// more come: what then becomes of it is what the framing makes of it when a packet follows.
void warnStrayBytes(const Bytes& bytes, RequestFraming framing, std::ostream& err) {
  const auto name = [](int type) {
    const char* known = category::typeNameOf(type);
    return *known != 0 ? std::string(known) : "type " + std::to_string(type);
  };
  const auto count = [](u32 n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); };
  const u32 owedBefore = framing.owed();
  if (owedBefore > 0) {
    err << "frontend: warning: bytes written before left a packet unfinished, " << count(owedBefore) << " short: the back "
        << "end takes " << (owedBefore >= bytes.size() ? "all of these" : count(owedBefore) + " of these") << " into its body\n";
  } else if (framing.held() > 0) {
    err << "frontend: warning: bytes written before began a header (" << framing.held() << " of its " << LINK_HEADER_BYTES
        << " bytes): the back end goes on with these\n";
  }
  const linkpeer::StreamSeen seen = linkpeer::follow(framing, bytes.data(), bytes.size(), largestBody);
  if (seen.stray > 0) {
    err << "frontend: warning: " << seen.stray << " of the bytes are not part of a packet; the back end skips them "
        << "up to the next sync pair (\"receive out of sync\" on its console)\n";
  }
  if (seen.dropped > 0) {
    err << "frontend: warning: the " << name(seen.droppedType) << " header promises " << seen.droppedLength
        << " bytes, more than " << (seen.unheld ? "the back end can hold (" : "its type takes (")
        << (seen.unheld ? static_cast<int>(RequestFraming::MAX_BODY) : largestBody(seen.droppedType)) << ")";
    if (seen.dropped > 1) err << ", and " << seen.dropped - 1 << " more headers promise too much";
    err << "; the back end drops " << (seen.dropped == 1 ? "it" : "each") << " at once (\"receive invalid length\" on "
        << "its console) and hunts on\n";
  }
  if (seen.lines > 1) {
    err << "frontend: warning: of those lines the console writes a run of equal ones once, with its count, and past a "
        << "few a frame counts the rest in one (\"receive: N more lines not written this frame\")\n";
  }
  if (framing.atPacket()) return;
  err << "frontend: warning: ";
  if (framing.owed() > 0 && seen.taken == 0) {
    err << "that packet is still " << count(framing.owed()) << " short; the back end takes the bytes written next for it\n";
    return;
  }
  if (framing.owed() > 0) {
    err << "the " << name(seen.type) << " packet promises " << seen.length << " bytes and " << seen.length - framing.owed()
        << " follow; the back end waits for the rest and takes the bytes written next for it\n";
    return;
  }
  const int held = framing.held();
  err << (held == 1 ? "the last byte may begin a header" : "the last " + std::to_string(held) + " bytes begin a header")
      << "; the back end holds " << (held == 1 ? "it" : "them") << " until more come";
  // Any packet the tools write begins 5A 81 00 00 (no body reaches 64 KB), and those bytes decide it.
  const Bytes next = linkpeer::packetBytes(category::TYPE_WAIT_CMD, waitBody(0));
  const linkpeer::StreamSeen then = linkpeer::follow(framing, next.data(), next.size(), largestBody);
  if (!then.headerAtStart) {
    err << " and takes the bytes written next for it\n";
  } else if (then.dropped > 0) {
    err << ", then drops the header they make with the next packet (\"receive invalid length\") and takes that packet\n";
  } else {
    err << ", then skips " << (held == 1 ? "it" : "them") << " before the next packet (\"receive out of sync\")\n";
  }
}

// Once a writing command's packet is built: waits for the back end's start-up and opens the link; 0,
// or the status with the reason written.
int openLink(const Invocation& in, Link& link) {
  if (in.board.empty()) return usage(in.err, "--board DIR is needed");
  std::string error;
  if (!waitForStartUp(in.board, in.timeout, in.startTimeout, error) || !link.open(in.board, in.timeout, error)) {
    return refuse(in.err, error);
  }
  return 0;
}

// Parses the request, then writes it once the back end's start-up has passed, and judges what became
// of it.
int writeSend(Invocation& in) {
  Request request;
  std::string error, note;
  if (sendRequestOf(in, request, error, note) != 0) return usage(in.err, error);
  Link link;
  if (const int status = openLink(in, link); status != 0) return status;
  return sendRequest(link, in.board, request, note, in.timeout, in.err);
}

// Writes the bytes, first warning in the writer's turn what the back end's receiver makes of them
// where the request stream stands then (said again only if that changed while it waited for room).
int writeRaw(Invocation& in) {
  Bytes bytes;
  std::string bad;
  if (in.args.empty() || !parseHex(in.args, bytes, &bad)) {
    return usage(in.err, "raw takes hexadecimal bytes, two digits each" + (bad.empty() ? "" : ", not " + bad));
  }
  if (bytes.size() > REQUEST_RING_TAKES) return usage(in.err, "raw: " + neverFits(bytes.size()) + ": nothing sent");
  Link link;
  if (const int status = openLink(in, link); status != 0) return status;
  std::string said;
  const Link::Prepare warn = [&](Bytes& written, std::string&) {
    std::ostringstream text;
    warnStrayBytes(written, writtenStream(in.board), text);
    if (text.str() != said) in.err << (said = text.str());
    return true;
  };
  return writeOnly(link, "the bytes", bytes, in.timeout, in.err, nullptr, warn);
}

// Builds the packet from the words (false: a usage error), then writes it once the back end's
// start-up has passed.
int writeBuilt(Invocation& in, bool (*build)(const std::vector<std::string>&, Bytes&, std::string&)) {
  Bytes packet;
  std::string error;
  if (!build(in.args, packet, error)) return usage(in.err, error);
  Link link;
  if (const int status = openLink(in, link); status != 0) return status;
  return writeOnly(link, category::typeNameOf(packet[6] << 8 | packet[7]), packet, in.timeout, in.err);
}

// Runs a writing command: SIGINT or SIGTERM ends it once it has left the tools' table, as the signal
// would have.
int writing(Invocation& in, int (*write)(Invocation&)) {
  InterruptHandlers handlers(InterruptHandlers::Leave);
  const int status = write(in);
  in.out.flush();
  in.err.flush();
  handlers.raiseAgain();
  return status;
}

}  // namespace

int runButtons(Invocation& in) { return noWords("buttons", in) != 0 ? 2 : listButtons(in.out); }
int runSend(Invocation& in) { return writing(in, writeSend); }
int runRaw(Invocation& in) { return writing(in, writeRaw); }
int runWait(Invocation& in) { return writing(in, [](Invocation& i) { return writeBuilt(i, waitRequest); }); }
int runButton(Invocation& in) { return writing(in, [](Invocation& i) { return writeBuilt(i, buttonRequest); }); }
int runFader(Invocation& in) { return writing(in, [](Invocation& i) { return writeBuilt(i, faderRequest); }); }

}  // namespace frontend
