#include "Tools/lib/record_types.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <new>
#include <set>
#include <type_traits>

#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/fader/lamptally.h"
#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Main/framework/typenames.h"
#include "Main/system/mfconfig.h"
#include "Platform/platform.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/scratch_system.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/records/dsk.h"
#include "Lib/Include/records/transstatus.h"
#include "Lib/Include/data_internal.h"
#include "Lib/Include/text.h"

// Every type name of the link, in index order.
#define MX_LINK_TYPES(X)                                                                                   \
  X(MxifKey) X(MxifChromaKey) X(MxifBkgd) X(MxifImage) X(MxifBkgdColorCorrect) X(MxifDsk) X(MxifCbgd)      \
  X(MxifUpStreamKey) X(MxifUpStreamKeyAssign) X(MxifBkgdWipe) X(MxifClipPlay) X(MxifClipRec)              \
  X(MxifClipRegister) X(MxifClipStatus) X(MxifEventMemory) X(MxifEventMemoryEditPoint)                    \
  X(MxifEventMemoryStatus) X(MxifEventMemoryHistory) X(MxifDataHeaderN) X(MxifKeyPreset) X(MxifMacro)     \
  X(MxifShotMemory) X(MxifShotMemoryStatus) X(MxifStillMemory) X(MxifStillStatus)                         \
  X(MxifControlPanelConfig) X(MxifMainframeConfig) X(MxifMaintenance) X(MxifPeripheral) X(MxifSystem)     \
  X(MxifSystemMenuLock) X(MxifGpiInOut) X(MxifExtendedDisplay) X(MxifCustomInfo) X(MxifButtonInhibit)     \
  X(MxifConfigMenuLock) X(MxifOperate) X(MxifSourceLink) X(MxifXptAssign) X(MxifSourceName)               \
  X(MxifMultiView) X(MxifInputDvi) X(MxifInputVideo) X(MxifOutput) X(MxifPlugin) X(MxifPluginStatus)      \
  X(MxifColorCorrect) X(MxifBus) X(MxifBusStatus) X(MxifLed) X(MxifMeLed) X(MxifRecentColor)              \
  X(MxifBusTally) X(MxifSourceTally) X(MxifDualSourceTally) X(MxifInitialStatus) X(MxifTransitionStatus)  \
  X(MxifTest) X(MxifEventMemoryAttr) X(MxifStorage) X(MxifMacroStatus) X(MxifPluginStorage)               \
  X(MxifGpiInStatus) X(MxifSystemInfomation) X(MxifPositionerBlock) X(MxifEventMemoryCmd)                 \
  X(MxifShotMemoryCmd) X(MxifStillMemoryCmd) X(MxifClipPlayCmd) X(MxifClipRecCmd) X(MxifMaintenanceCmd)   \
  X(MxifColorCorrectCmd) X(MxifBkgdColorCorrectCmd) X(SystemInitialCmd) X(waitCmd) X(MxifKeyCmd)          \
  X(MxifSwitchingCmd) X(MxifChromaKeyCmd) X(MxifPluginCmd) X(MxifStorageCmd) X(MxifThumbnailCmd)          \
  X(MxifClipRegisterCmd) X(MxifMacroCmd) X(MxifGpiCmd) X(MxifSourceNameCmd) X(initialCmd)                 \
  X(ackReceiveCmd) X(loadSetupCmd) X(MxifTransitionCmd) X(MxifXptAssignCmd) X(MxifPluginActionCmd)        \
  X(MxifBkgdCmd) X(MxifSelectEvent) X(MxifDefaultSettingEvent) X(MxifButtonEvent) X(MxifFaderEvent)       \
  X(MxifMenu) X(MxifMenuWidget) X(MxifMenuValue) X(MxifSelectMenu) X(MxifSelectError) X(MxifMessageBox)   \
  X(MxifDelegationEvent) X(MxifLogMessage)

// Records live at the top level or in namespace internal. Declaring every name in both places lets
// the table below pick whichever of them the headers define; a name left incomplete is a type whose
// record this program is not built with.
#define MX_DECLARE(name) struct name;
MX_LINK_TYPES(MX_DECLARE)
namespace internal {
MX_LINK_TYPES(MX_DECLARE)
}
#undef MX_DECLARE

namespace frontend {
namespace {

template <class T, class = void>
constexpr bool isComplete = false;
template <class T>
constexpr bool isComplete<T, std::void_t<decltype(sizeof(T))>> = true;

template <class A, class B>
using Defined = std::conditional_t<isComplete<A>, A, std::conditional_t<isComplete<B>, B, void>>;

// ---- A record type ---------------------------------------------------------------------------------

// What the code here needs of a record type that only the type itself knows; everything else works
// on the record's bytes through its field list.
struct RecordType {
  int index = 0;  // the type index
  RecordShape shape;
  // Makes a record of the type at `record` (shape.size bytes, aligned for it) as it starts.
  void (*make)(u8* record) = nullptr;
  // Hands every leaf of the record at `record` to the sink, in wire order.
  void (*walk)(u8* record, codec::LeafSink& sink) = nullptr;
  // The sub-records of the field list that are records of a type of their own: name and type.
  std::vector<std::pair<std::string, int>> (*mirrors)() = nullptr;
};

// The bytes of a record, aligned for any record.
class RecordBytes {
 public:
  // A record as it starts, or a copy of one in its memory form.
  explicit RecordBytes(const RecordType& type, const u8* from = nullptr) : words_((type.shape.size + 7) / 8) {
    type.make(data());
    if (from != nullptr) std::memcpy(data(), from, type.shape.size);
  }
  u8* data() { return reinterpret_cast<u8*>(words_.data()); }

 private:
  std::vector<u64> words_;
};

// Calls fn with every leaf of the record at `record`, in wire order.
template <class Fn>
void forEachLeaf(const RecordType& type, u8* record, Fn&& fn) {
  struct Sink final : codec::LeafSink {
    explicit Sink(Fn& f) : fn(f) {}
    void leaf(const codec::Leaf& f) override { fn(f); }
    Fn& fn;
  } sink(fn);
  type.walk(record, sink);
}

// Sets every presence bit that the type declares.
void setAllPresence(const RecordType& type, u8* record) {
  forEachLeaf(type, record, [](const codec::Leaf& f) { codec::setAllPresence(f); });
}

// ---- A record seen through its field list -----------------------------------------------------------

struct Field {
  codec::Leaf leaf;
  std::string prefix;  // the walker's prefix buffer changes as it goes; each leaf keeps a copy
  std::string name;    // full dotted name
  size_t offset;       // of the field in the record
  int textCapacity;    // > 0: this is a text's count and the next field its characters
};

// A record of a type, which it holds, and its fields in wire order. Leaves point into the record.
class RecordView final : public codec::LeafSink {
 public:
  // A record as it starts, or a copy of one in its memory form.
  explicit RecordView(const RecordType& type, const u8* from = nullptr) : type_(type), record_(type, from) {
    type.walk(record_.data(), *this);
  }
  RecordView(const RecordView&) = delete;
  RecordView& operator=(const RecordView&) = delete;

  void leaf(const codec::Leaf& f) override {
    Field& x = fields_.emplace_back(Field{f, f.prefix, std::string(f.prefix) + f.name, 0, 0});
    x.leaf.prefix = x.prefix.c_str();
    x.offset = static_cast<size_t>(f.data - record_.data());
    // A text is listed as its count and then "<name>.chars", both under the text's presence bit.
    if (fields_.size() >= 2) {
      Field& count = fields_[fields_.size() - 2];
      if (x.name == count.name + ".chars" && count.leaf.kind == codec::Kind::S16 && count.leaf.count == 1 &&
          x.leaf.kind == codec::Kind::U8 && count.leaf.mask == x.leaf.mask && count.leaf.bit == x.leaf.bit) {
        count.textCapacity = x.leaf.count - 1;
        hasText_ = true;
      }
    }
  }

  const RecordType& type() const { return type_; }
  const RecordShape& shape() const { return type_.shape; }
  u8* bytes() { return record_.data(); }
  // Every field back to its start value (the fields keep their places).
  void reset() { type_.make(record_.data()); }

  std::deque<Field>& fields() { return fields_; }
  bool hasText() const { return hasText_; }

  // The index (ME or channel) at byte 4, if the record has one there: a byte, or a u16 whose low
  // byte the back end reads there.
  Field* indexField() {
    for (Field& f : fields_) {
      if (f.offset == 4 && !f.leaf.isMask && f.leaf.count == 1 && codec::widthOf(f.leaf.kind) <= 2) return &f;
    }
    return nullptr;
  }

  bool setText(const std::string& name, const std::string& value) {
    for (size_t i = 0; i + 1 < fields_.size(); ++i) {
      Field& f = fields_[i];
      if (f.textCapacity <= 0 || f.name != name) continue;
      if (value.size() > static_cast<size_t>(f.textCapacity)) return false;
      const codec::Leaf& chars = fields_[i + 1].leaf;
      std::memset(chars.data, 0, static_cast<size_t>(chars.count));
      std::memcpy(chars.data, value.data(), value.size());
      codec::storeElement(f.leaf, 0, static_cast<u32>(value.size()));
      codec::setPresenceBit(f.leaf.mask, f.leaf.bit);
      return true;
    }
    return false;
  }
  bool isText(const std::string& name) const {
    for (const Field& f : fields_) {
      if (f.textCapacity > 0 && f.name == name) return true;
    }
    return false;
  }

  // The field a name sets ("edges", "edges[2]", a text) and the element it names (-1: all of
  // them); null when the record has none of that name.
  const Field* find(const std::string& name, int& element) const {
    if (byName_.empty()) {
      for (size_t i = 0; i < fields_.size(); ++i) {
        const Field& f = fields_[i];
        if (f.textCapacity > 0) ++i;  // the characters go with their count
        if (!f.leaf.isMask) byName_.try_emplace(f.name, &f);
      }
    }
    element = -1;
    if (auto at = byName_.find(name); at != byName_.end()) return at->second;
    const size_t open = name.rfind('[');
    long e = 0;
    if (open == std::string::npos || name.back() != ']' ||
        !cli::parseNumber(name.substr(open + 1, name.size() - open - 2), 0, 0xFFFF, e)) {
      return nullptr;
    }
    auto at = byName_.find(name.substr(0, open));
    if (at == byName_.end() || at->second->textCapacity > 0) return nullptr;
    element = static_cast<int>(e);
    return at->second;
  }

  // The names a front end sets, presence words and the characters of texts left out.
  std::vector<const Field*> settable() const {
    std::vector<const Field*> out;
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (!fields_[i].leaf.isMask) out.push_back(&fields_[i]);
      if (fields_[i].textCapacity > 0) ++i;
    }
    return out;
  }

  bool setValue(const std::string& name, const std::string& value) {
    int element = -1;
    if (const Field* f = find(name, element)) {
      bool found = false;
      return codec::setTextLeaf(f->leaf, name, value, found) && found;
    }
    for (Field& f : fields_) {  // a presence word
      bool found = false;
      bool ok = codec::setTextLeaf(f.leaf, name, value, found);
      if (found) return ok;
    }
    return false;
  }

  // Wire form: every field big-endian at its width, a text as its u16 count and then count + 1
  // characters (zero beyond the capacity), nothing more when the count is negative.
  void write(Bytes& out) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      const int width = codec::widthOf(f.leaf.kind);
      for (int e = 0; e < f.leaf.count; ++e) {
        const u32 v = codec::loadElement(f.leaf, e);
        for (int b = width - 1; b >= 0; --b) out.push_back(static_cast<u8>(v >> (8 * b)));
      }
      if (f.textCapacity > 0) {
        const int count = static_cast<s16>(codec::loadElement(f.leaf, 0));
        const u8* chars = fields_[++i].leaf.data;
        for (int c = 0; c <= count; ++c) out.push_back(c <= f.textCapacity ? chars[c] : 0);
      }
    }
  }

  // Reads the wire form above; false (the record partly read) when the body is too short.
  bool read(const u8* data, size_t size) {
    libmx::WireIn in(data, size);
    for (size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      const int width = codec::widthOf(f.leaf.kind);
      for (int e = 0; e < f.leaf.count; ++e) {
        u32 v = 0;
        for (int b = 0; b < width; ++b) v = (v << 8) | in.readU8();
        codec::storeElement(f.leaf, e, v);
      }
      if (f.textCapacity > 0) {
        const u16 n = static_cast<u16>(codec::loadElement(f.leaf, 0));
        u8* chars = fields_[++i].leaf.data;
        if (n & 0x8000u) continue;
        const int stored = n < f.textCapacity ? n + 1 : f.textCapacity + 1;
        for (int c = 0; c < stored; ++c) chars[c] = in.readU8();
        in.skip(n + 1 - stored);
      }
    }
    return !in.isShort();
  }

  // The carried fields as " name=value" words; the index fields are left out.
  std::string text(const Field* skip, const Field* skip2) const {
    std::string out;
    for (size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      if (&f == skip || &f == skip2) continue;
      if (f.textCapacity > 0) {
        const Field& chars = fields_[++i];
        if (!codec::presenceBit(f.leaf.mask, f.leaf.bit)) continue;
        out += " " + f.name + "=\"";
        for (int c = 0; c <= f.textCapacity && chars.leaf.data[c] != 0; ++c) {
          const u8 ch = chars.leaf.data[c];
          if (ch >= 0x20 && ch < 0x7F) {
            out += static_cast<char>(ch);
          } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", ch);
            out += hex;
          }
        }
        out += "\"";
        continue;
      }
      std::string lines;
      codec::Leaf leaf = f.leaf;
      // An array whose elements are all carried reads as one list, as an array without bits does.
      bool whole = leaf.perElement && leaf.count > 1;
      for (int e = 0; whole && e < leaf.count; ++e) whole = codec::presenceBit(leaf.mask, leaf.bit + e);
      if (whole) leaf.mask = nullptr, leaf.perElement = false;
      codec::appendTextLeaf(leaf, lines);
      for (size_t start = 0; start < lines.size();) {
        const size_t end = lines.find('\n', start);
        out += ' ';
        out.append(lines, start, end - start);
        start = end + 1;
      }
    }
    return out;
  }

 private:
  const RecordType& type_;
  RecordBytes record_;
  std::deque<Field> fields_;
  mutable std::map<std::string, const Field*> byName_;  // built on the first find
  bool hasText_ = false;
};

std::string hexText(const u8* body, size_t size) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, " %02x", body[i]);
    out += b;
  }
  return out;
}

std::string unknownText(int type, const u8* body, size_t size, const char* note) {
  const char* name = category::typeNameOf(type);
  std::string out = *name ? name : "type=" + std::to_string(type);
  return out + " (" + std::to_string(size) + " bytes" + note + ")" + hexText(body, size);
}

// A number as send takes it back: a whole number as an integer ("4294967295", not "4.2949673e+09").
std::string numberText(double v) {
  char b[40];
  if (v == std::floor(v) && std::fabs(v) < 9007199254740992.0) {
    std::snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(b, sizeof b, "%.9g", v);
  }
  return b;
}

// "0..255", or what else the field takes.
std::string rangeText(const Field& f) {
  if (f.textCapacity > 0) return "text of up to " + std::to_string(f.textCapacity) + " characters";
  if (f.leaf.kind == codec::Kind::F32) return "a number";
  long long lo = 0, hi = 0;
  codec::kindRange(f.leaf.kind, lo, hi);
  return std::to_string(lo) + ".." + std::to_string(hi);
}

// Why a value cannot be set into the field (element -1: the whole field, comma-separated).
std::string valueProblem(const Field& f, int element, const std::string& value) {
  if (f.textCapacity > 0) return "longer than " + std::to_string(f.textCapacity) + " characters";
  if (element >= f.leaf.count) return "no element " + std::to_string(element) + " (0.." + std::to_string(f.leaf.count - 1) + ")";
  std::vector<std::string> items;
  for (size_t start = 0;;) {
    const size_t comma = element < 0 ? value.find(',', start) : std::string::npos;
    items.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (static_cast<int>(items.size()) > f.leaf.count) return "takes at most " + std::to_string(f.leaf.count) + " values";
  long long lo = 0, hi = 0;
  codec::kindRange(f.leaf.kind, lo, hi);
  for (const std::string& item : items) {
    char* end = nullptr;
    errno = 0;
    long long v = 0;
    if (f.leaf.kind == codec::Kind::F32) {
      std::strtof(item.c_str(), &end);
    } else {
      v = std::strtoll(item.c_str(), &end, 0);
    }
    const std::string what = items.size() > 1 ? item + " is " : "";
    if (item.empty() || *end != '\0') return what + "not a number";
    if (errno != 0 || v < lo || v > hi) return what + "out of range " + rangeText(f);
  }
  return "not accepted";
}

std::string joinNames(const std::vector<const Field*>& fields) {
  std::string out;
  for (const Field* f : fields) out += (out.empty() ? "" : ", ") + f->name;
  return out;
}

// ---- Instances --------------------------------------------------------------------------------------

// Records with an index byte take "me=N" (per ME) or "channel=N"; the limit of that index.
int indexLimit(const RecordShape& shape) { return shape.perMe ? category::N_ME : shape.channels; }

// The fields that say which instance a record is for: the ME of a record per ME (the index byte, or
// a field "me" where the index byte holds the channel) and the channel of a record with several.
struct IndexFields {
  Field* me = nullptr;
  Field* channel = nullptr;
};
IndexFields indexFields(RecordView& view) {
  const RecordShape& shape = view.shape();
  IndexFields out;
  auto named = [&](const char* name) -> Field* {
    for (Field& f : view.fields()) {
      if (f.name == name && !f.leaf.isMask && f.leaf.count == 1) return &f;
    }
    return nullptr;
  };
  if (shape.perMe) {
    out.me = named("me");
    if (out.me == nullptr) out.me = view.indexField();
    // A per-ME record names its channel "channel", or "panel" where its channels are the panels.
    if (shape.channels > 1) {
      out.channel = named("channel");
      if (out.channel == nullptr) out.channel = named("panel");
    }
  } else if (shape.channels > 1) {
    out.channel = view.indexField();
  }
  return out;
}

// " me=M channel=C" as the record holds them.
std::string indexText(const IndexFields& x) {
  std::string out;
  if (x.me != nullptr) out += " me=" + std::to_string(codec::loadElement(x.me->leaf, 0));
  if (x.channel != nullptr) out += " channel=" + std::to_string(codec::loadElement(x.channel->leaf, 0));
  return out;
}

// ---- Fields the back end sets itself, and names of values -------------------------------------------

// Fields (or one element of a field) that the back end sets itself every frame, whatever a request
// says, and what a front end does to change them.
struct StatusField {
  int type;
  const char* field;
  int element;  // -1: every element
  const char* setBy;
};
constexpr const char* KEY_TRANSITION = "the key's transition (buttons key-cut, key-auto, key-trans: frontend buttons)";
constexpr const char* DSK_TRANSITION =
    "the downstream key's transition (buttons dsk-cut, dsk-auto, dsk-trans: frontend buttons)";
constexpr const char* FADE = "the fade to black, which ftb.target starts";
constexpr const char* POWER_UNITS = "the power units fitted";
constexpr const char* ALARMS = "the board's alarm inputs";
using HourMeter = MaintenanceHourMeter;
const StatusField STATUS_FIELDS[] = {
    {MxifKey::TYPE_INDEX, "onAir", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "stopping", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "inTransition", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "reverse", -1, KEY_TRANSITION},
    {MxifDsk::TYPE_INDEX, "onAir", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "stopping", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "inTransition", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "reverse", -1, DSK_TRANSITION},
    {MxifBkgd::TYPE_INDEX, "status", -1, "the transitions of the ME's background and keys"},
    {MxifOperate::TYPE_INDEX, "ftb.onAir", -1, FADE},
    {MxifOperate::TYPE_INDEX, "ftb.transitioning", -1, FADE},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_A_FITTED, POWER_UNITS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_B_FITTED, POWER_UNITS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_A_ALARM, ALARMS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_B_ALARM, ALARMS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::INPUT_ALARM, ALARMS},
    {MxifSystem::TYPE_INDEX, "genlockStatus", -1, "the genlock's lock on its reference"},
};

// What sets element `element` of a field (-1: any of its elements) that the back end keeps itself;
// null for others.
const char* statusSetter(int type, const std::string& field, int element) {
  for (const StatusField& s : STATUS_FIELDS) {
    if (s.type == type && field == s.field && (s.element < 0 || element < 0 || s.element == element)) return s.setBy;
  }
  return nullptr;
}

// The bus entries' roles and the crosspoint codes, from the constants the bus and lamp code uses.
std::string busEntriesNote() {
  using Fader = category::CategoryFaderEvent;
  using Bus = category::CategoryBus;
  auto plus = [](int base, const char* term) { return base == 0 ? std::string(term) : std::to_string(base) + " + " + term; };
  auto pairs = [&](int first, int n, const std::string& what) {
    return std::to_string(first) + ".." + std::to_string(first + 2 * n - 1) + " " + what + "s 1.." + std::to_string(n) +
           ", " + what + " k's fill " + plus(first - 2, "2k") + " and source " + plus(first - 1, "2k");
  };
  const int background = category::KEY_FILL_ENTRY - 2;
  const int aux = category::DSK_FILL_ENTRY + 2 * Fader::N_DSK;
  return "entries " + std::to_string(background) + ", " + std::to_string(background + 1) + " background A and B; " +
         pairs(category::KEY_FILL_ENTRY, Fader::N_KEYS, "key") + "; " + pairs(category::DSK_FILL_ENTRY, Fader::N_DSK, "DSK") +
         "; " + std::to_string(aux) + ".. AUX buses, AUX n at " + plus(aux - 1, "n") + " (AUX 1.." +
         std::to_string(Bus::N_AUX_MIX) + " mix). A code is panel x 256 + button (0.." +
         std::to_string(Bus::N_PANELS * 256 - 1) + "; the button's source is in MxifXptAssign) or " +
         std::to_string(Bus::DIRECT) + " + source; " + std::to_string(Bus::REPLACEMENT_CODE) +
         " is black, which replaces a code that an entry does not take";
}
std::string keyTypeNote() {
  return std::to_string(category::CategoryMainframeConfig::CHROMA_KEY_TYPE) +
         " chroma key (its settings: MxifChromaKey); with a key type other than 0, style.keySource=1 takes the key "
         "signal from the key's source bus entry (frontend fields MxifBus)";
}
// The pattern kinds as the transition code tells them apart (it has no names for them).
std::string patternKindNote() { return "kinds: 0 wipe, 1 and 2 the DVE effect families, 3 3-D DVE"; }
std::string effectNote() { return "[0] the effect (pattern) number, [1] its kind: as MxifBkgd patternKind"; }

// Names of a field's values, for a front end to set it without reading the code.
struct FieldNote {
  int type;
  const char* field;
  std::string (*text)();
};
const FieldNote FIELD_NOTES[] = {
    {MxifBus::TYPE_INDEX, "entries", busEntriesNote},
    {MxifSwitchingCmd::TYPE_INDEX, "bus.entries", busEntriesNote},
    {MxifKey::TYPE_INDEX, "style.keyType", keyTypeNote},
    {MxifBkgd::TYPE_INDEX, "patternKind", patternKindNote},
    {MxifKey::TYPE_INDEX, "effectA", effectNote},
    {MxifKey::TYPE_INDEX, "effectB", effectNote},
};

std::string noteOf(int type, const std::string& field) {
  for (const FieldNote& n : FIELD_NOTES) {
    if (n.type == type && field == n.field) return n.text();
  }
  return "";
}

// ---- The values a field's checks take ---------------------------------------------------------------

// Values worth offering to a field of kind k: every value of a byte; otherwise the small ones, round
// numbers, powers of two and their neighbours, and a coarse grid over the whole width. The edges
// between them are then found by bisection.
std::vector<double> candidateValues(codec::Kind kind) {
  std::vector<double> out;
  if (kind == codec::Kind::F32) {
    for (double m : {0.0, 1e-6, 1e-5, 1e-4, 1e-3, 0.01, 0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6,
                     1e9, 1e20, static_cast<double>(std::numeric_limits<float>::max())}) {
      out.push_back(m);
      out.push_back(-m);
    }
  } else {
    long long lo = 0, hi = 0;
    codec::kindRange(kind, lo, hi);
    auto add = [&](long long v) {
      if (lo <= v && v <= hi) out.push_back(static_cast<double>(v));
    };
    if (hi - lo <= 0xFF) {
      for (long long v = lo; v <= hi; ++v) add(v);
    } else {
      for (long long v = -32; v <= 32; ++v) add(v);
      for (long long v = -1000; v <= 5000; v += 20) add(v);
      for (long long p = 1; p <= (1LL << 32); p *= 2) {
        for (long long v : {p - 1, p, p + 1}) add(v), add(-v);
      }
      for (long long p = 10; p <= 10000000000LL; p *= 10) {
        for (long long v : {p - 1, p, p + 1}) add(v), add(-v);
      }
      for (long long i = 0; i <= 64; ++i) add(lo + (hi - lo) / 64 * i);
      add(hi);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// Fewer values, for the edges alone: the ends of the kind and a few points between them.
std::vector<double> edgeCandidates(codec::Kind kind) {
  if (kind == codec::Kind::F32) return candidateValues(kind);
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  std::vector<double> out;
  for (long long v : {lo, -10000LL, -1000LL, -1LL, 0LL, 1LL, 2LL, 10LL, 100LL, 1000LL, 5000LL, 10000LL, hi}) {
    if (lo <= v && v <= hi) out.push_back(static_cast<double>(v));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// An element of a field, as values are offered to it.
struct Target {
  const Field* field;
  int element;
};

// The presence word and bit of an element ({null, 0}: it has none).
std::pair<const u32*, int> presenceOf(const codec::Leaf& leaf, int element) {
  if (leaf.mask == nullptr) return {nullptr, 0};
  const int bit = leaf.bit + (leaf.perElement ? element : 0);
  return {leaf.mask + bit / 32, bit % 32};
}

// The number that an element's bits (as loadElement gives them) hold.
double numberOf(codec::Kind kind, u32 bits) {
  if (kind == codec::Kind::F32) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  return lo < 0 ? static_cast<double>(static_cast<s32>(bits)) : static_cast<double>(bits);
}

// A record instance that values are offered to: the request's index (ME or channel), the fields of
// `with` ("channel" of a record per ME with channels, by whatever name the record gives it) and the
// instance's stored record.
class ProbeSite {
 public:
  explicit ProbeSite(const RecordType& type) : view(type), indexes(indexFields(view)) {}
  ProbeSite(const ProbeSite&) = delete;
  ProbeSite& operator=(const ProbeSite&) = delete;

  // False with a message when no category keeps the instance.
  bool open(int instance, const Assignments& fields, std::string& error) {
    const int type = view.type().index;
    const RecordShape& shape = view.shape();
    const std::string typeName = category::typeNameOf(type);
    if (type >= category::FIRST_COMMAND_TYPE) {
      error = typeName + " is a command: it keeps no record to read values back from";
      return false;
    }
    useScratchSystem();
    for (auto [field, value] : fields) {
      if (field == "channel" && shape.perMe && indexes.channel != nullptr) field = indexes.channel->name;
      if (!view.setValue(field, value)) {
        error = typeName + ": cannot set " + field + "=" + value;
        return false;
      }
      with.emplace_back(field, value);
    }
    int channel = shape.perMe ? 0 : instance;
    if (const Field* c = shape.perMe ? indexes.channel : nullptr) channel = static_cast<int>(codec::loadElement(c->leaf, 0));
    if (instance < 0 || instance >= indexLimit(shape) || channel >= shape.channels) {
      error = typeName + ": no " + (shape.perMe ? "ME " + std::to_string(instance) + " or " : "") + "channel " +
              std::to_string(channel);
      return false;
    }
    auto& registry = category::CategoryRegistry::instance();
    const int me = shape.perMe ? instance : 0;
    const int row = registry.at(type, me) != nullptr ? me : 0;
    u8* stored = registry.at(type, row) != nullptr ? registry.storageOf(type, row) : nullptr;
    const int bytes = stored != nullptr ? registry.boundBytes(type, row) : 0;
    if (bytes < static_cast<int>(shape.size) * (channel + 1)) {
      error = typeName + " is kept by no category of the back end";
      return false;
    }
    live = stored + recordOffset(bytes, shape, channel);
    index = shape.perMe ? indexes.me : indexes.channel;
    indexValue = instance;
    return true;
  }

  // A target's value in the stored record.
  double stored(const Target& t) const {
    codec::Leaf leaf = t.field->leaf;
    leaf.data = live + t.field->offset;
    return numberOf(leaf.kind, codec::loadElement(leaf, t.element));
  }

  RecordView view;  // the request
  IndexFields indexes;
  const Field* index = nullptr;
  int indexValue = 0;
  Assignments with;
  u8* live = nullptr;  // the instance's stored record
};

// Offers values to targets of an open site through the request ring, to the back end's category of
// the type, and says which targets the category keeps a value in: the stored element equals it, and
// its presence bit is set where the value was already there. Every stored record of the type is put back
// after each offer. Each target has a presence bit of its own, so that one request offers a value to
// all of them; the other fields under a target's bit go with their stored values, as buildBody
// sends them, or (livePartners false) with the record's defaults.
class Probe {
 public:
  Probe(ProbeSite& site, std::vector<Target> targets, bool livePartners = true)
      : site_(site), targets_(std::move(targets)), livePartners_(livePartners) {
    auto& registry = category::CategoryRegistry::instance();
    const int type = site.view.type().index;
    for (int m = 0; m < category::N_ME; ++m) {
      u8* area = registry.at(type, m) != nullptr ? registry.storageOf(type, m) : nullptr;
      if (area != nullptr) saved_.push_back({area, Bytes(area, area + registry.boundBytes(type, m))});
    }
    u8* const base = site.view.bytes();
    u8* const live = site.live;
    for (const Target& t : targets_) {
      codec::Leaf leaf = t.field->leaf;
      leaf.data = live + t.field->offset;
      if (leaf.mask != nullptr) leaf.mask = reinterpret_cast<u32*>(live + (reinterpret_cast<u8*>(leaf.mask) - base));
      live_.push_back(leaf);
      before_.push_back(codec::loadElement(leaf, t.element));
      std::vector<const Field*> partners;
      const auto bit = presenceOf(t.field->leaf, t.element);
      if (bit.first != nullptr && !t.field->leaf.perElement) {
        for (const Field& g : site.view.fields()) {
          if (!g.leaf.isMask && !g.leaf.perElement && presenceOf(g.leaf, 0) == bit) partners.push_back(&g);
        }
      }
      partners_.push_back(std::move(partners));
    }
    bits_.resize(targets_.size());
    for (const Target& t : targets_) {
      long long lo = 0, hi = 0;
      codec::kindRange(t.field->leaf.kind, lo, hi);
      ranges_.push_back({static_cast<double>(lo), static_cast<double>(hi)});
    }
  }
  ~Probe() { restore(); }
  size_t size() const { return targets_.size(); }
  // Whether other fields or elements go under target i's bit.
  bool hasPartners(size_t i) const {
    return partners_[i].size() > 1 || (!partners_[i].empty() && targets_[i].field->leaf.count > 1);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // The stored value of target i.
  double before(size_t i) const { return numberOf(live_[i].kind, before_[i]); }

  // Offers the value to every target whose kind holds it (the others get their stored value);
  // taken[i]: 1 target i keeps it, 0 it does not, NOT_OFFERED.
  static constexpr char NOT_OFFERED = 2;
  void offer(double value, std::vector<char>& taken) {
    taken.assign(targets_.size(), NOT_OFFERED);
    for (size_t i = 0; i < targets_.size(); ++i) bits_[i] = holds(i, value) ? bitsOf(i, value) : before_[i];
    if (deliver()) {
      for (size_t i = 0; i < targets_.size(); ++i) {
        if (!holds(i, value)) continue;
        const u32 now = codec::loadElement(live_[i], targets_[i].element);
        const auto bit = presenceOf(live_[i], targets_[i].element);
        taken[i] = now == expected(i, bits_[i]) &&
                   (now != before_[i] || bit.first == nullptr || ((*bit.first >> bit.second) & 1u));
      }
    } else {
      for (size_t i = 0; i < targets_.size(); ++i) taken[i] = holds(i, value) ? 0 : NOT_OFFERED;
    }
    restore();
  }

  // Whether target i's kind holds the value.
  bool holds(size_t i, double value) const {
    return targets_[i].field->leaf.kind == codec::Kind::F32 ||
           (value == std::floor(value) && ranges_[i].lo <= value && value <= ranges_[i].hi);
  }

  // Whether the one target keeps `value` offered after `first` (a value it keeps): a category may
  // drop a value equal to the stored one as no change, which does not make the value refused.
  bool keepsAfter(double first, double value) {
    const u32 a = bitsOf(0, first), b = bitsOf(0, value);
    bits_[0] = a;
    bool kept = deliver() && codec::loadElement(live_[0], targets_[0].element) == expected(0, a);
    bits_[0] = b;
    kept = kept && deliver() && codec::loadElement(live_[0], targets_[0].element) == expected(0, b);
    restore();
    return kept;
  }

 private:
  // Writes the request with bits_ in the targets and lets the category read it; false when a check
  // failed on it.
  bool deliver() {
    if (packet_.empty()) prepare();
    for (size_t i = 0; i < targets_.size(); ++i) {
      const int width = codec::widthOf(targets_[i].field->leaf.kind);
      for (int b = 0; b < width; ++b) packet_[at_[i] + b] = static_cast<u8>(bits_[i] >> (8 * (width - 1 - b)));
    }
    linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet_.data(), packet_.size());
    try {
      category::CategoryRegistry::instance().receiveAll();
    } catch (const assert::AssertException&) {
      return false;  // a failed check refuses the value
    }
    return true;
  }

  // Target i's element holding the bits, as the record reads it back (a signed kind sign-extended).
  u32 expected(size_t i, u32 bits) {
    codec::storeElement(targets_[i].field->leaf, targets_[i].element, bits);
    return codec::loadElement(targets_[i].field->leaf, targets_[i].element);
  }

  // The request, and where each target's bytes lie in it (found by writing it with the target at
  // all ones).
  void prepare() {
    packet_ = packetWith(-1);
    for (size_t i = 0; i < targets_.size(); ++i) {
      const Bytes other = packetWith(static_cast<int>(i));
      at_.push_back(static_cast<size_t>(std::mismatch(packet_.begin(), packet_.end(), other.begin()).first - packet_.begin()));
    }
  }
  Bytes packetWith(int ones) {
    RecordView& message = site_.view;
    message.reset();
    for (const auto& [name, value] : site_.with) message.setValue(name, value);
    if (site_.index != nullptr) codec::storeElement(site_.index->leaf, 0, static_cast<u32>(site_.indexValue));
    u8* const base = message.bytes();
    const u8* const live = site_.live;
    for (size_t i = 0; i < targets_.size(); ++i) {
      const codec::Leaf& leaf = targets_[i].field->leaf;
      for (const Field* g : livePartners_ ? partners_[i] : std::vector<const Field*>{}) {
        std::memcpy(base + g->offset, live + g->offset, static_cast<size_t>(codec::widthOf(g->leaf.kind) * g->leaf.count));
      }
      codec::storeElement(leaf, targets_[i].element, static_cast<int>(i) == ones ? 0xFFFFFFFFu : 0);
      if (leaf.mask != nullptr) codec::setPresenceBit(leaf.mask, leaf.bit + (leaf.perElement ? targets_[i].element : 0));
    }
    Bytes body;
    message.write(body);
    return linkpeer::packetBytes(message.type().index, body);
  }

  u32 bitsOf(size_t i, double value) const {
    if (targets_[i].field->leaf.kind == codec::Kind::F32) {
      const float f = static_cast<float>(value);
      u32 b;
      std::memcpy(&b, &f, 4);
      return b;
    }
    return static_cast<u32>(static_cast<long long>(value));
  }
  void restore() {
    for (auto& [area, bytes] : saved_) std::memcpy(area, bytes.data(), bytes.size());
  }

  ProbeSite& site_;
  std::vector<Target> targets_;
  std::vector<codec::Leaf> live_;
  std::vector<u32> before_;
  std::vector<u32> bits_;
  std::vector<Interval> ranges_;  // of each target's kind
  std::vector<std::vector<const Field*>> partners_;
  bool livePartners_;
  std::vector<std::pair<u8*, Bytes>> saved_;
  Bytes packet_;
  std::vector<size_t> at_;
};

// What a probe's targets take, value by value: each value offered once, to every target.
class Answers {
 public:
  static constexpr char NOT_OFFERED = Probe::NOT_OFFERED;
  explicit Answers(Probe& probe) : probe_(probe) {}

  const std::vector<char>& at(double v) {
    auto [it, fresh] = seen_.try_emplace(v);
    if (fresh) probe_.offer(v, it->second);
    return it->second;
  }
  // Whether target t was offered v and refused it.
  bool refused(double v, size_t t) const {
    const auto at = seen_.find(v);
    return at != seen_.end() && at->second[t] == 0;
  }
  void take(double v, size_t t) { seen_.at(v)[t] = 1; }

  // Closes in on every edge of what target t takes between neighbouring values offered to it.
  void bisect(size_t t, bool isFloat) {
    std::vector<std::pair<double, bool>> points;
    for (const auto& [v, taken] : seen_) {
      if (taken[t] != NOT_OFFERED) points.emplace_back(v, taken[t] != 0);
    }
    for (size_t i = 0; i + 1 < points.size(); ++i) {
      if (points[i].second == points[i + 1].second) continue;
      double a = points[i].first, b = points[i + 1].first;
      for (int step = 0; step < 64; ++step) {
        const double mid = isFloat ? static_cast<double>(static_cast<float>((a + b) / 2)) : std::floor((a + b) / 2);
        if (mid <= a || mid >= b) break;
        ((at(mid)[t] == 1) == points[i].second ? a : b) = mid;
      }
    }
  }

  // Each target's runs of values offered to it that it keeps, or does not keep, in order.
  struct Run {
    Interval values;
    bool taken;
  };
  std::vector<std::vector<Run>> runs() const {
    std::vector<std::vector<Run>> out(probe_.size());
    for (const auto& [v, answers] : seen_) {
      for (size_t t = 0; t < out.size(); ++t) {
        if (answers[t] == NOT_OFFERED) continue;
        const bool taken = answers[t] != 0;
        if (!out[t].empty() && out[t].back().taken == taken) {
          out[t].back().values.hi = v;
        } else {
          out[t].push_back({{v, v}, taken});
        }
      }
    }
    return out;
  }
  static std::vector<Interval> takenOf(const std::vector<Run>& runs) {
    std::vector<Interval> out;
    for (const Run& r : runs) {
      if (r.taken) out.push_back(r.values);
    }
    return out;
  }
  // The first value that target t keeps; false when it keeps none.
  bool anyTaken(size_t t, double& v) const {
    for (const auto& [x, answers] : seen_) {
      if (answers[t] == 1) return v = x, true;
    }
    return false;
  }

 private:
  Probe& probe_;
  std::map<double, std::vector<char>> seen_;
};

// Every value of a 16-bit kind.
std::vector<double> everyValue(codec::Kind kind) {
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  std::vector<double> out;
  for (long long v = lo; v <= hi; ++v) out.push_back(static_cast<double>(v));
  return out;
}

// What each target takes, as intervals. The candidates of the targets' kinds are offered to every
// target together and each edge closed in on; a value equal to the stored one is offered again after
// another; a 16-bit target that takes more than one run is offered every value (a list of codes
// has isolated ones). Several targets' answers are checked one target at a time at the ends of
// their runs (a check may read two targets together), and a target whose answers differ there is
// probed alone. A target under one bit with other fields that takes nothing with their stored
// values (which then fail the checks together) is probed with the record's defaults in them.
std::vector<std::vector<Interval>> probeTargets(ProbeSite& site, const std::vector<Target>& targets, bool edgesOnly,
                                                bool livePartners = true) {
  const size_t n = targets.size();
  auto kindOf = [&](size_t t) { return targets[t].field->leaf.kind; };
  std::vector<std::vector<Interval>> out(n);
  std::vector<char> keptAfter(n, 0), done(n, 0);
  Probe probe(site, targets, livePartners);
  Answers answers(probe);
  auto storedValues = [&] {
    for (size_t t = 0; t < n; ++t) {
      const double stored = probe.before(t);
      double other = 0;
      if (keptAfter[t] || !answers.refused(stored, t) || !answers.anyTaken(t, other)) continue;
      Probe alone(site, {targets[t]}, livePartners);
      if (!alone.keepsAfter(other, stored)) continue;
      answers.take(stored, t);
      keptAfter[t] = 1;
      answers.bisect(t, kindOf(t) == codec::Kind::F32);
    }
  };
  std::set<codec::Kind> kinds;
  for (size_t t = 0; t < n; ++t) kinds.insert(kindOf(t));
  for (codec::Kind kind : kinds) {
    for (double v : edgesOnly ? edgeCandidates(kind) : candidateValues(kind)) answers.at(v);
  }
  for (size_t t = 0; t < n; ++t) answers.bisect(t, kindOf(t) == codec::Kind::F32);
  storedValues();
  auto runs = answers.runs();
  // The scattered 16-bit targets, by kind: offered every value here when they are all the targets,
  // else by a probe of their own.
  std::map<codec::Kind, std::vector<size_t>> scattered;
  for (size_t t = 0; t < n; ++t) {
    if (!edgesOnly && codec::widthOf(kindOf(t)) == 2 && Answers::takenOf(runs[t]).size() > 1) {
      scattered[kindOf(t)].push_back(t);
    }
  }
  if (scattered.size() == 1 && scattered.begin()->second.size() == n) {
    for (double v : everyValue(kindOf(0))) answers.at(v);
    storedValues();
    runs = answers.runs();
  } else {
    for (const auto& [kind, of] : scattered) {
      std::vector<Target> some;
      for (size_t t : of) some.push_back(targets[t]);
      const auto results = probeTargets(site, some, edgesOnly, livePartners);
      for (size_t i = 0; i < of.size(); ++i) out[of[i]] = results[i], done[of[i]] = 1;
    }
  }
  std::vector<char> one;
  for (size_t t = 0; t < n; ++t) {
    if (done[t]) continue;
    out[t] = Answers::takenOf(runs[t]);
    if (out[t].empty() && livePartners && probe.hasPartners(t)) {
      out[t] = probeTargets(site, {targets[t]}, edgesOnly, false)[0];
    }
    if (n == 1) continue;
    Probe alone(site, {targets[t]}, livePartners);
    bool same = true;
    for (const auto& run : runs[t]) {
      for (double v : {run.values.lo, run.values.hi}) {
        if (!same || (keptAfter[t] && v == probe.before(t))) continue;
        alone.offer(v, one);
        same = (one[0] != 0) == run.taken;
      }
    }
    if (!same) out[t] = probeTargets(site, {targets[t]}, edgesOnly, livePartners)[0];
  }
  return out;
}

bool probeRecord(const RecordType& type, const std::string& name, int index, const Assignments& with,
                 std::vector<Interval>& out, std::string& error, bool edgesOnly) {
  ProbeSite site(type);
  int element = -1;
  const Field* field = site.view.find(name, element);
  if (field == nullptr || field->textCapacity > 0 || field == site.indexes.me || field == site.indexes.channel) {
    error = std::string(category::typeNameOf(type.index)) + " has no field " + name + " that takes a number";
    return false;
  }
  if (element >= field->leaf.count) {
    error = std::string(category::typeNameOf(type.index)) + ": no element " + name;
    return false;
  }
  if (!site.open(index, with, error)) return false;
  out = probeTargets(site, {{field, std::max(element, 0)}}, edgesOnly)[0];
  return true;
}

// "name[e]" of an array's element, "name" of a single field.
std::string elementName(const Field& f, int element) {
  std::string out = f.name;
  if (f.leaf.count > 1) out.append("[").append(std::to_string(element)).append("]");
  return out;
}

// Completes the fields under one presence bit (an array without a bit per element, or fields that
// share one) of which a request gives some: the back end takes them all, so the others go with
// their current values, as context->current gives them, or the request is refused. given: the
// elements given, by field.
bool completeBitGroups(RecordView& view, const IndexFields& indexes, const std::map<const Field*, std::vector<char>>& given,
                       RequestContext* context, std::string& error) {
  const int type = view.type().index;
  // Texts are left out: none shares its bit.
  std::map<std::pair<const u32*, int>, std::vector<const Field*>> groups;
  for (const Field* f : view.settable()) {
    if (f->leaf.mask == nullptr || f->leaf.perElement || f->textCapacity > 0) continue;
    groups[presenceOf(f->leaf, 0)].push_back(f);
  }
  Bytes current;
  std::string why = "no back end state is read here";
  int looked = 0;  // 1 known, -1 not known
  for (const auto& [bit, members] : groups) {
    std::vector<Target> missing;
    std::string asked, left, whole;
    for (const Field* f : members) {
      const auto at = given.find(f);
      const int count = f->leaf.count;
      for (int e = 0; e < count; ++e) {
        const std::string name = elementName(*f, e);
        if (at != given.end() && at->second[e]) {
          asked += (asked.empty() ? "" : ", ") + name;
        } else {
          left += (left.empty() ? "" : ", ") + name;
          missing.push_back({f, e});
        }
      }
      whole += " " + f->name + "=";
      for (int e = 0; e < count; ++e) whole += (e == 0 ? "v" : ",v") + (count > 1 ? std::to_string(e + 1) : "");
    }
    if (asked.empty() || missing.empty()) continue;
    if (looked == 0) {
      const int me = indexes.me != nullptr ? static_cast<int>(codec::loadElement(indexes.me->leaf, 0)) : 0;
      const int channel = indexes.channel != nullptr ? static_cast<int>(codec::loadElement(indexes.channel->leaf, 0)) : 0;
      const bool known = context != nullptr && context->current && context->current(me, channel, current, why) &&
                         current.size() >= view.shape().size;
      looked = known ? 1 : -1;
    }
    if (looked < 0) {
      const bool several = asked.find(',') != std::string::npos;
      error = std::string(category::typeNameOf(type)) + ": " + asked + (several ? " share" : " shares") +
              " one presence bit with " + left + ", which the back end then takes too, and their values are not known (" +
              why + "): give them all:" + whole;
      return false;
    }
    u8* const bytes = view.bytes();
    for (const Target& m : missing) {
      const size_t width = static_cast<size_t>(codec::widthOf(m.field->leaf.kind));
      const size_t at = m.field->offset + width * static_cast<size_t>(m.element);
      std::memcpy(bytes + at, current.data() + at, width);
      if (!context->filled.empty()) context->filled += ' ';
      context->filled += elementName(*m.field, m.element);
      context->filled += '=';
      context->filled += numberText(numberOf(m.field->leaf.kind, codec::loadElement(m.field->leaf, m.element)));
    }
  }
  return true;
}

bool buildRecord(const RecordType& type, const Assignments& fields, Bytes& body, std::string& error,
                 RequestContext* context) {
  RecordView view(type);
  const std::string typeName = category::typeNameOf(type.index);
  const IndexFields indexes = indexFields(view);
  bool meGiven = false, channelGiven = false;
  std::map<const Field*, std::vector<char>> given;
  for (const auto& [name, value] : fields) {
    const bool isMe = indexes.me != nullptr && name == "me";
    const bool isChannel = indexes.channel != nullptr && name == "channel";
    if (isMe || isChannel) {
      const long limit = isMe ? category::N_ME : type.shape.channels;
      long v = 0;
      if (!cli::parseNumber(value, 0, limit - 1, v)) {
        error = typeName + ": " + name + "=" + value + ": out of range 0.." + std::to_string(limit - 1);
        return false;
      }
      codec::storeElement((isMe ? indexes.me : indexes.channel)->leaf, 0, static_cast<u32>(v));
      (isMe ? meGiven : channelGiven) = true;
      continue;
    }
    int element = -1;
    const Field* f = view.find(name, element);
    if (f == nullptr || f == indexes.me || f == indexes.channel) {
      error = typeName + " has no field " + name + "; its fields: " + joinNames(view.settable());
      return false;
    }
    if (const char* setBy = statusSetter(type.index, f->name, element); setBy != nullptr && context != nullptr &&
                                                                         context->refuseStatus) {
      error = typeName + ": " + name + " is status: the back end sets it from " + setBy + ", not from a request";
      return false;
    }
    const bool ok = f->textCapacity > 0 ? view.setText(name, value) : view.setValue(name, value);
    if (!ok) {
      error = typeName + ": " + name + "=" + value + ": " + valueProblem(*f, element, value);
      return false;
    }
    std::vector<char>& elements = given[f];
    elements.resize(static_cast<size_t>(f->leaf.count));
    for (int e = 0; e < f->leaf.count; ++e) elements[e] = elements[e] || element < 0 || element == e;
  }
  if (!completeBitGroups(view, indexes, given, context, error)) return false;
  if (context != nullptr) {
    std::string& defaulted = context->defaulted;
    defaulted.clear();
    if (indexes.me != nullptr && !meGiven) defaulted += " me=0";
    if (indexes.channel != nullptr && !channelGiven) defaulted += " channel=0";
    if (!defaulted.empty()) defaulted.erase(0, 1);
  }
  body.clear();
  view.write(body);
  return true;
}

// ---- The field list ---------------------------------------------------------------------------------

// A field name with the number of each numbered sub-record as '#' ("entry#.code", "bkgd[#].rate"):
// the same field in every sub-record of a repeated group.
std::string shapeOf(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    size_t end = i;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (end > i && end < name.size() && (name[end] == '.' || name.compare(end, 2, "].") == 0)) {
      out += '#';
      i = end - 1;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The numeric elements of a record in groups that each value is offered to together: as few as
// hold every element once with no two under one presence bit (an array under one bit, or fields
// that share one, spread over as many groups). Status fields and the index fields are left out.
std::vector<std::vector<Target>> targetGroups(RecordView& view, const IndexFields& indexes, int type) {
  std::vector<std::vector<Target>> groups;
  std::vector<std::set<std::pair<const u32*, int>>> bits;
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel || f->textCapacity > 0) continue;
    for (int e = 0; e < f->leaf.count; ++e) {
      if (statusSetter(type, f->name, e) != nullptr) continue;
      const auto bit = presenceOf(f->leaf, e);
      size_t g = 0;
      while (g < groups.size() && bit.first != nullptr && bits[g].count(bit) != 0) ++g;
      if (g == groups.size()) groups.emplace_back(), bits.emplace_back();
      groups[g].push_back({f, e});
      if (bit.first != nullptr) bits[g].insert(bit);
    }
  }
  return groups;
}

// An instance of a record: its ME and channel.
struct Instance {
  int me = 0;
  int channel = 0;
};

// "0..1, 3".
std::string numbersText(const std::set<int>& numbers) {
  std::string out;
  for (auto i = numbers.begin(); i != numbers.end();) {
    auto last = i;
    while (std::next(last) != numbers.end() && *std::next(last) == *last + 1) ++last;
    out += (out.empty() ? "" : ", ") + std::to_string(*i) + (last == i ? "" : ".." + std::to_string(*last));
    i = std::next(last);
  }
  return out;
}

// Instances as what they have in common ("channel=2..3", "me=1 channel=0"), ME by ME when they are
// not every pairing of their MEs and channels.
std::string instancesText(const std::vector<Instance>& all, const std::vector<Instance>& some, bool perMe, bool channels) {
  std::set<int> allMes, allChannels, mes, chs;
  for (const Instance& i : all) allMes.insert(i.me), allChannels.insert(i.channel);
  for (const Instance& i : some) mes.insert(i.me), chs.insert(i.channel);
  if (!perMe) return "channel=" + numbersText(chs);
  if (!channels) return "me=" + numbersText(mes);
  if (mes.size() * chs.size() == some.size()) {
    const std::string me = mes == allMes ? "" : "me=" + numbersText(mes);
    const std::string ch = chs == allChannels ? "" : "channel=" + numbersText(chs);
    return me + (me.empty() || ch.empty() ? "" : " ") + ch;
  }
  std::string out;
  for (int m : mes) {
    std::set<int> of;
    for (const Instance& i : some) {
      if (i.me == m) of.insert(i.channel);
    }
    out += (out.empty() ? "" : ", ") + ("me=" + std::to_string(m)) + " channel=" + numbersText(of);
  }
  return out;
}

// One text per instance as one: the text when all agree, else each text with its instances
// ("0..40000 on channel=0..1; 0..10000 on channel=2..3").
std::string perInstanceText(const std::vector<std::string>& texts, const std::vector<Instance>& instances, bool perMe,
                            bool channels) {
  if (std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == texts[0]; })) return texts[0];
  std::vector<std::string> order;
  std::map<std::string, std::vector<Instance>> by;
  for (size_t i = 0; i < texts.size(); ++i) {
    auto& of = by[texts[i]];
    if (of.empty()) order.push_back(texts[i]);
    of.push_back(instances[i]);
  }
  std::string out;
  for (const std::string& t : order) {
    out += (out.empty() ? "" : "; ") + t + " on " + instancesText(instances, by[t], perMe, channels);
  }
  return out;
}

// A line of the list: a field (or a run of its elements), what it takes, and the names of its values.
struct Line {
  std::string name;
  std::string takes;
  std::string note;
  bool operator==(const Line&) const = default;
};

// The lines of fields in numbered sub-records ("bkgd[3].rate") that read the same in every
// sub-record of the group, as one line each ("bkgd[0..11].rate").
std::vector<Line> collapseRepeats(const std::vector<Line>& lines) {
  // The group ("bkgd") and the number of a line in a bracketed sub-record, -1 for other lines.
  auto split = [](const std::string& name, std::string& group, std::string& rest) {
    const size_t close = name.find("].");
    const size_t open = close == std::string::npos ? close : name.rfind('[', close);
    long k = -1;
    if (open == std::string::npos || !cli::parseNumber(name.substr(open + 1, close - open - 1), 0, 0xFFFF, k)) return -1;
    group = name.substr(0, open);
    rest = name.substr(close + 1);
    return static_cast<int>(k);
  };
  std::vector<Line> out;
  std::set<std::string> done;
  for (const Line& line : lines) {
    std::string group, rest;
    if (split(line.name, group, rest) < 0) {
      out.push_back(line);
      continue;
    }
    if (!done.insert(group).second) continue;
    std::map<int, std::vector<Line>> subs;
    std::vector<Line> all;
    for (const Line& l : lines) {
      std::string g, r;
      const int k = split(l.name, g, r);
      if (k < 0 || g != group) continue;
      all.push_back(l);
      subs[k].push_back({r, l.takes, l.note});
    }
    bool same = true;
    for (const auto& [k, sub] : subs) same = same && sub == subs.begin()->second;
    if (!same) {
      out.insert(out.end(), all.begin(), all.end());
      continue;
    }
    const std::string head = group + "[" + std::to_string(subs.begin()->first) + ".." + std::to_string(subs.rbegin()->first) + "]";
    for (const Line& l : subs.begin()->second) out.push_back({head + l.name, l.takes, l.note});
  }
  return out;
}

// The header line, then a line per field, or per run of its elements, that a front end sets, with
// what the back end's checks take for each instance (ME, channel) of the record.
std::string fieldListOf(const RecordType& type) {
  const int TYPE = type.index;
  const RecordShape& shape = type.shape;
  const bool command = TYPE >= category::FIRST_COMMAND_TYPE;
  RecordView view(type);
  const IndexFields indexes = indexFields(view);
  const bool channels = shape.perMe ? indexes.channel != nullptr : shape.channels > 1;
  std::vector<Instance> instances;
  for (int m = 0; m < (shape.perMe ? category::N_ME : 1); ++m) {
    for (int c = 0; c < (channels ? shape.channels : 1); ++c) instances.push_back({m, c});
  }
  // What each element takes, instance by instance ("" where no category keeps the instance).
  std::map<std::pair<std::string, int>, std::vector<std::string>> taken;
  bool probed = false, startsOutside = false;
  for (size_t i = 0; i < instances.size() && !command; ++i) {
    ProbeSite site(type);
    Assignments with;
    if (shape.perMe && channels) with.emplace_back("channel", std::to_string(instances[i].channel));
    std::string ignored;
    if (!site.open(shape.perMe ? instances[i].me : instances[i].channel, with, ignored)) continue;
    probed = true;
    for (const auto& group : targetGroups(site.view, site.indexes, TYPE)) {
      const auto results = probeTargets(site, group, false);
      for (size_t t = 0; t < group.size(); ++t) {
        auto& texts = taken[{group[t].field->name, group[t].element}];
        texts.resize(instances.size());
        texts[i] = intervalsText(results[t]);
        // A start value that no request can set, as a field that a front end must set first.
        const double start = site.stored(group[t]);
        if (!results[t].empty() && std::none_of(results[t].begin(), results[t].end(), [&](const Interval& v) {
              return v.lo <= start && start <= v.hi;
            })) {
          texts[i] += " (" + numberText(start) + " at start)";
          startsOutside = true;
        }
      }
    }
  }
  std::vector<Line> lines;
  bool none = false, status = false;
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel) continue;
    const int count = f->textCapacity > 0 ? 1 : f->leaf.count;
    std::vector<std::string> texts;
    for (int e = 0; e < count; ++e) {
      if (const char* setBy = statusSetter(TYPE, f->name, e)) {
        texts.push_back(std::string("status, set by ") + setBy);
        status = true;
        continue;
      }
      auto at = taken.find({f->name, e});
      std::vector<std::string> each = at != taken.end() ? at->second : std::vector<std::string>{};
      for (std::string& x : each) {
        if (x.empty()) x = rangeText(*f);
      }
      texts.push_back(each.empty() ? rangeText(*f) : perInstanceText(each, instances, shape.perMe, channels));
      none = none || texts.back().find("none") != std::string::npos;
    }
    // A run of elements that take the same values is one line.
    for (int e = 0; e < count;) {
      int last = e;
      while (last + 1 < count && texts[last + 1] == texts[e]) ++last;
      std::string name = f->name;
      if (count > 1) name += "[" + std::to_string(e) + (e == last ? "" : ".." + std::to_string(last)) + "]";
      lines.push_back({name, texts[e], ""});
      e = last + 1;
    }
    lines.back().note = noteOf(TYPE, f->name);
  }
  std::string out = std::string(category::typeNameOf(TYPE)) + ": type " + std::to_string(TYPE);
  if (shape.perMe) out += ", a record per ME (me=0.." + std::to_string(category::N_ME - 1) + ")";
  if (shape.channels > 1) {
    out += ", " + std::to_string(shape.channels) + " channels (channel=0.." + std::to_string(shape.channels - 1) + ")";
  }
  if (command) {
    out += "; a command keeps no record to read back: the ranges are the fields' widths";
  } else if (!probed) {
    out += "; the back end keeps no record of it to read values back from: the ranges are the fields' widths";
  }
  out += "; an array takes name[i]=v or name=v1,v2,...";
  if (none) out += "; none: the back end takes no value of the field from a request";
  if (status) out += "; status: the back end sets the field itself, a request does not";
  if (startsOutside) out += "; (N at start): the value the back end starts with, which a request does not set";
  out += "\n";
  const std::vector<std::pair<std::string, int>> mirrors = type.mirrors();
  std::set<std::string> mirrored;
  for (const auto& [name, of] : mirrors) {
    const std::string group = shapeOf(std::string(name) + ".");
    if (of == TYPE || !mirrored.insert(group).second) continue;
    const int n = static_cast<int>(
        std::count_if(mirrors.begin(), mirrors.end(), [&](const auto& m) { return shapeOf(m.first + ".") == group; }));
    const std::string typeName = category::typeNameOf(of);
    std::string head = n > 1 ? group.substr(0, group.size() - 1) : name;
    if (n > 1) head.replace(head.find('#'), 1, "0.." + std::to_string(n - 1));
    out += "  " + head + ": " + (n > 1 ? "each " : "") + "a " + typeName + " record (frontend fields " + typeName +
           " lists what the back end takes for " + typeName + " itself)\n";
  }
  for (const Line& line : collapseRepeats(lines)) {
    std::string name = line.name;
    name.resize(std::max<size_t>(name.size() + 2, 32), ' ');
    out += "  " + name + line.takes + "\n";
    // The names, in lines of up to 100 characters.
    for (size_t at = 0; at < line.note.size();) {
      size_t end = line.note.size();
      if (end - at > 94) end = std::max(line.note.rfind(' ', at + 94), at + 1);
      out += "      " + line.note.substr(at, end - at) + "\n";
      at = end + 1;
    }
  }
  return out;
}

std::vector<FieldInfo> settableOf(const RecordType& type) {
  RecordView view(type);
  const IndexFields indexes = indexFields(view);
  std::vector<FieldInfo> out;
  for (const Field* f : view.settable()) {
    if (f != indexes.me && f != indexes.channel) out.push_back({f->name, f->leaf.count, f->textCapacity, f->leaf.kind});
  }
  return out;
}

// The type name, the indexes of records that have them, then the carried fields.
std::string recordText(RecordView& view) {
  const IndexFields indexes = indexFields(view);
  return category::typeNameOf(view.type().index) + indexText(indexes) + view.text(indexes.me, indexes.channel);
}

std::string describeRecord(const RecordType& type, const u8* body, size_t size) {
  RecordView view(type);
  if (!view.read(body, size)) return unknownText(type.index, body, size, ", short");
  return recordText(view);
}

// A record as the back end keeps it: every field, whatever its presence bit says.
std::string describeStoredRecord(const RecordType& type, const u8* record, int me, int channel) {
  RecordView view(type, record);
  setAllPresence(type, view.bytes());
  const IndexFields indexes = indexFields(view);
  if (indexes.me != nullptr) codec::storeElement(indexes.me->leaf, 0, static_cast<u32>(me));
  if (indexes.channel != nullptr) codec::storeElement(indexes.channel->leaf, 0, static_cast<u32>(channel));
  return recordText(view);
}

// The value of one element (or of the whole field, element -1) as the text form writes it.
std::string valueText(const Field& f, const RecordView& view, int element) {
  if (f.textCapacity > 0) {
    const std::string words = " " + view.text(nullptr, nullptr) + " ";
    const size_t at = words.find(" " + f.name + "=");
    if (at == std::string::npos) return "";
    const size_t from = at + f.name.size() + 2;
    return words.substr(from, words.find("\" ", from) + 1 - from);
  }
  codec::Leaf leaf = f.leaf;
  leaf.mask = nullptr;
  leaf.perElement = false;
  if (element >= 0) leaf.data += element * codec::widthOf(leaf.kind), leaf.count = 1;
  std::string line;
  codec::appendTextLeaf(leaf, line);
  return line.substr(line.find('=') + 1, line.size() - line.find('=') - 2);
}

// Each field carried by the request that its answer does not carry with the same value.
bool echoRefusalsOf(const RecordType& type, const u8* sent, size_t sentSize, const u8* echo, size_t echoSize,
                    std::vector<Refusal>& out) {
  RecordView a(type), b(type);
  // Without an answer, every field of the request counts as left out.
  if (!a.read(sent, sentSize) || (echo != nullptr && !b.read(echo, echoSize))) return false;
  const IndexFields ia = indexFields(a), ib = indexFields(b);
  for (Field* x : {ia.me, ia.channel}) {
    Field* y = x == ia.me ? ib.me : ib.channel;
    if (echo != nullptr && x != nullptr && codec::loadElement(x->leaf, 0) != codec::loadElement(y->leaf, 0)) return false;
  }
  out.clear();
  auto& fa = a.fields();
  auto& fb = b.fields();
  for (size_t i = 0; i < fa.size(); ++i) {
    const Field& f = fa[i];
    const Field& g = fb[i];
    if (f.leaf.isMask || f.leaf.mask == nullptr || &f == ia.me || &f == ia.channel) continue;
    const int elements = f.leaf.perElement ? f.leaf.count : 1;
    for (int e = 0; e < elements; ++e) {
      const int bit = f.leaf.bit + e;
      if (!codec::presenceBit(f.leaf.mask, bit)) continue;
      const int element = f.leaf.perElement ? e : -1;
      const std::string want = valueText(f, a, element);
      const std::string got = codec::presenceBit(g.leaf.mask, bit) ? valueText(g, b, element) : "";
      if (got != want) out.push_back({f.name + (element >= 0 ? "[" + std::to_string(e) + "]" : ""), want, got});
    }
    if (f.textCapacity > 0) ++i;
  }
  return true;
}

// The bytes of the index field at byte 4 of the type's records (0: none), which the record's place
// names (as describeStored sets it).
size_t indexBytesOf(const RecordType& type);

bool sameStoredRecords(const RecordType& type, const u8* a, const u8* b) {
  RecordBytes ra(type, a), rb(type, b);
  std::memcpy(rb.data() + 4, a + 4, indexBytesOf(type));
  // Most records compare equal byte for byte once their presence bits agree; the field walk,
  // which leaves padding and presence words out, is for the others.
  setAllPresence(type, ra.data());
  setAllPresence(type, rb.data());
  if (std::memcmp(ra.data(), rb.data(), type.shape.size) == 0) return true;
  bool same = true;
  const u8* const base = ra.data();
  const u8* const other = rb.data();
  forEachLeaf(type, ra.data(), [&](const codec::Leaf& f) {
    const size_t bytes = static_cast<size_t>(codec::widthOf(f.kind) * f.count);
    if (!f.isMask) same = same && std::memcmp(f.data, other + (f.data - base), bytes) == 0;
  });
  return same;
}

// ---- The record types built here --------------------------------------------------------------------

template <class T>
void makeRecord(u8* record) {
  new (record) T{};
}

template <class T>
void walkRecord(u8* record, codec::LeafSink& sink) {
  codec::walk(*std::launder(reinterpret_cast<T*>(record)), sink);
}

// The sub-records in a record's field list that are records of a type of their own ("bkgd[3]" of
// the background wipe memory holds a background record), with that type.
struct MirrorFinder {
  std::vector<std::pair<std::string, int>> found;
  template <class M>
  void mask(const char*, M&) {}
  template <class X>
  void field(const char*, X&) {}
  template <class X, class M>
  void field(const char*, X&, M&, int) {}
  template <class X, class M>
  void each(const char*, X&, M&, int) {}
  template <class S>
  void sub(const char* name, S&) {
    if constexpr (requires { S::TYPE_INDEX; }) found.emplace_back(name, S::TYPE_INDEX);
  }
};

template <class T>
std::vector<std::pair<std::string, int>> mirrorsOf() {
  MirrorFinder mirrors;
  T r{};
  T::fields(mirrors, r);
  return mirrors.found;
}

template <class T>
constexpr bool isPerMe() {
  if constexpr (requires { T::PER_ME; }) return T::PER_ME;
  return false;
}
template <class T>
constexpr int channelsOf() {
  if constexpr (requires { T::N_CHANNELS; }) return T::N_CHANNELS;
  return 1;
}

template <class T>
constexpr RecordType recordTypeOf(int type) {
  if constexpr (std::is_void_v<T>) {
    (void)type;
    return {};
  } else {
    // A struct of the same name that is not this type's record is not used.
    if (T::TYPE_INDEX != type) return {};
    return {type, {sizeof(T), isPerMe<T>(), channelsOf<T>()}, &makeRecord<T>, &walkRecord<T>, &mirrorsOf<T>};
  }
}

#define MX_RECORD_TYPE(name) recordTypeOf<Defined<::name, ::internal::name>>(__COUNTER__ - FIRST_COUNTER - 1),
constexpr int FIRST_COUNTER = __COUNTER__;
constexpr RecordType RECORD_TYPES[] = {MX_LINK_TYPES(MX_RECORD_TYPE)};
#undef MX_RECORD_TYPE
static_assert(sizeof RECORD_TYPES / sizeof RECORD_TYPES[0] == category::N_TYPES);

// The type's record; null for a type whose record is not built here.
const RecordType* recordTypeAt(int type) {
  if (type < 0 || type >= category::N_TYPES || RECORD_TYPES[type].make == nullptr) return nullptr;
  return &RECORD_TYPES[type];
}

size_t indexBytesOf(const RecordType& type) {
  static const std::array<u8, category::N_TYPES> bytes = [] {
    std::array<u8, category::N_TYPES> out{};
    for (int t = 0; t < category::N_TYPES; ++t) {
      if (recordTypeAt(t) == nullptr || indexLimit(RECORD_TYPES[t].shape) <= 1) continue;
      RecordView view(RECORD_TYPES[t]);
      const Field* index = view.indexField();
      if (index != nullptr) out[static_cast<size_t>(t)] = static_cast<u8>(codec::widthOf(index->leaf.kind));
    }
    return out;
  }();
  return bytes[static_cast<size_t>(type.index)];
}

// Types that have a command of their own, and the others whose record is not built here.
bool notBuilt(int type, std::string& error) {
  const char* name = category::typeNameOf(type);
  if (type == category::TYPE_WAIT_CMD) {
    error = std::string(name) + " is sent with: frontend wait N";
  } else if (type == TYPE_FADER_EVENT) {
    error = std::string(name) + " is sent with: frontend fader LEVER VALUE [panel=N]";
  } else {
    error = std::string(*name ? name : "type " + std::to_string(type)) +
            ": the record of this type is not built into this program (send its bytes with raw)";
  }
  return false;
}

}  // namespace

int typeIndexOf(std::string_view name) {
  if (name.empty()) return -1;
  for (int i = 0; i < category::N_TYPES; ++i) {
    if (name == category::typeNameOf(i)) return i;
  }
  int v = 0;
  for (char c : name) {
    if (c < '0' || c > '9' || v > category::N_TYPES) return -1;
    v = v * 10 + (c - '0');
  }
  return v < category::N_TYPES ? v : -1;
}

bool isRecordBuilt(int type) { return recordTypeAt(type) != nullptr; }

std::vector<std::string> nearestTypeNames(std::string_view name) {
  auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  // Edit distance, case ignored; a name that contains the word counts as one edit away.
  const std::string word = lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (int i = 0; i < category::N_TYPES; ++i) {
    const std::string candidate = lower(category::typeNameOf(i));
    std::vector<size_t> row(candidate.size() + 1);
    for (size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (size_t a = 1; a <= word.size(); ++a) {
      size_t diagonal = row[0];
      row[0] = a;
      for (size_t b = 1; b <= candidate.size(); ++b) {
        const size_t next = std::min({row[b] + 1, row[b - 1] + 1, diagonal + (word[a - 1] == candidate[b - 1] ? 0 : 1)});
        diagonal = row[b];
        row[b] = next;
      }
    }
    size_t distance = row.back();
    if (word.size() >= 3 && candidate.find(word) != std::string::npos) distance = 1;
    if (distance <= std::max<size_t>(2, word.size() / 3)) ranked.emplace_back(distance, category::typeNameOf(i));
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (size_t i = 0; i < ranked.size() && i < 3; ++i) out.push_back(ranked[i].second);
  return out;
}

bool fieldList(int type, std::string& out, std::string& error) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  out = fieldListOf(*record);
  return true;
}

bool settableFields(int type, std::vector<FieldInfo>& out) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return false;
  out = settableOf(*record);
  return true;
}

int recordOffset(int bytes, const RecordShape& shape, int channel) {
  const int records = static_cast<int>(shape.size) * shape.channels;
  return (bytes - records) / 4 * 4 + static_cast<int>(shape.size) * channel;
}

bool recordShape(int type, RecordShape& shape) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return false;
  shape = record->shape;
  return true;
}

std::string describeStored(int type, const u8* record, int me, int channel) {
  return describeStoredRecord(*recordTypeAt(type), record, me, channel);
}

bool sameStoredValues(int type, const u8* a, const u8* b) { return sameStoredRecords(*recordTypeAt(type), a, b); }

bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error, RequestContext* context) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  return buildRecord(*record, fields, body, error, context);
}

std::string describe(int type, const u8* body, size_t size) {
  const RecordType* record = recordTypeAt(type);
  return record != nullptr ? describeRecord(*record, body, size) : unknownText(type, body, size, "");
}

bool acceptedValues(int type, const std::string& field, int index, const Assignments& with, std::vector<Interval>& out,
                    std::string& error, bool edgesOnly) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  return probeRecord(*record, field, index, with, out, error, edgesOnly);
}

bool echoRefusals(int type, const Bytes& sent, const linkpeer::Packet& echo, std::vector<Refusal>& out) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr || echo.type != type) return false;
  return echoRefusalsOf(*record, sent.data(), sent.size(), echo.body.data(), echo.body.size(), out);
}

bool requestFields(int type, const Bytes& sent, std::vector<Refusal>& out) {
  const RecordType* record = recordTypeAt(type);
  return record != nullptr && echoRefusalsOf(*record, sent.data(), sent.size(), nullptr, 0, out);
}

std::string intervalsText(const std::vector<Interval>& intervals) {
  if (intervals.empty()) return "none";
  std::string out;
  for (const Interval& i : intervals) {
    out += (out.empty() ? "" : ", ") + numberText(i.lo) + (i.lo == i.hi ? "" : ".." + numberText(i.hi));
  }
  return out;
}

}  // namespace frontend
