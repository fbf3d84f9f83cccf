#include "Tools/lib/record_types.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <type_traits>

#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Main/framework/typenames.h"
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

// ---- A record seen through its field list -----------------------------------------------------------

struct Field {
  codec::Leaf leaf;
  std::string prefix;  // the walker's prefix buffer changes as it goes; each leaf keeps a copy
  std::string name;    // full dotted name
  size_t offset;       // of the field in the record
  int textCapacity;    // > 0: this is a text's count and the next field its characters
};

// The fields of a record in wire order. Leaves point into the record.
class RecordView : public codec::LeafSink {
 public:
  template <class T>
  explicit RecordView(T& r) : base_(reinterpret_cast<u8*>(&r)) {
    codec::walk(r, *this);
  }
  void leaf(const codec::Leaf& f) override {
    Field& x = fields_.emplace_back(Field{f, f.prefix, std::string(f.prefix) + f.name, 0, 0});
    x.leaf.prefix = x.prefix.c_str();
    x.offset = static_cast<size_t>(f.data - base_);
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

  // Wire form of a record with texts: every field big-endian at its width, a text as its u16
  // count and then count + 1 characters (zero beyond the capacity), nothing more when the count
  // is negative.
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

  // Reads the wire form above; false when the body is too short.
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
  u8* base_;
  std::deque<Field> fields_;
  mutable std::map<std::string, const Field*> byName_;  // built on the first find
  bool hasText_ = false;
};

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

// ---- Per-type operations ---------------------------------------------------------------------------

struct Ops {
  bool (*build)(const Assignments& fields, Bytes& body, std::string& error, std::string* defaulted);
  std::string (*describe)(const u8* body, size_t size);
  std::string (*fieldList)();
  std::vector<FieldInfo> (*settable)();
  std::string (*describeStored)(const u8* record, int me, int channel);
  bool (*sameStored)(const u8* a, const u8* b);
  bool (*probe)(const std::string& name, int index, const Assignments& with, std::vector<Interval>& out,
                std::string& error, bool edgesOnly);
  bool (*echoRefusals)(const u8* sent, size_t sentSize, const u8* echo, size_t echoSize, std::vector<Refusal>& out);
  RecordShape shape;
};

// Records with an index byte take "me=N" (per ME) or "channel=N"; the limit of that index.
template <class T>
int indexLimit() {
  return isPerMe<T>() ? category::N_ME : channelsOf<T>();
}

// The fields that say which instance a record is for: the ME of a record per ME (the index byte, or
// a field "me" where the index byte holds the channel) and the channel of a record with several.
struct IndexFields {
  Field* me = nullptr;
  Field* channel = nullptr;
};
template <class T>
IndexFields indexFields(RecordView& view) {
  IndexFields out;
  auto named = [&](const char* name) -> Field* {
    for (Field& f : view.fields()) {
      if (f.name == name && !f.leaf.isMask && f.leaf.count == 1) return &f;
    }
    return nullptr;
  };
  if (isPerMe<T>()) {
    out.me = named("me");
    if (out.me == nullptr) out.me = view.indexField();
    // A per-ME record names its channel "channel", or "panel" where its channels are the panels.
    if (channelsOf<T>() > 1) {
      out.channel = named("channel");
      if (out.channel == nullptr) out.channel = named("panel");
    }
  } else if (channelsOf<T>() > 1) {
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

// Offers values of one element of a field to the back end's category of T through the request ring,
// with every stored record of the type put back before each offer, and says which the category
// keeps: the stored element equals the value offered, and its presence bit is set where the value was
// already there.
template <class T>
class FieldProbe {
 public:
  FieldProbe(T& message, RecordView& view, const Field& field, int element, Field* index, int indexValue,
             const Assignments& with, T& live)
      : message_(message),
        view_(view),
        field_(field),
        element_(element),
        index_(index),
        indexValue_(indexValue),
        with_(with) {
    liveLeaf_ = field.leaf;
    liveLeaf_.data = reinterpret_cast<u8*>(&live) + field.offset;
    if (field.leaf.mask != nullptr) {
      liveLeaf_.mask = reinterpret_cast<u32*>(reinterpret_cast<u8*>(&live) +
                                              (reinterpret_cast<u8*>(field.leaf.mask) - reinterpret_cast<u8*>(&message)));
    }
    auto& registry = category::CategoryRegistry::instance();
    for (int m = 0; m < category::N_ME; ++m) {
      u8* area = registry.at(T::TYPE_INDEX, m) != nullptr ? registry.storageOf(T::TYPE_INDEX, m) : nullptr;
      if (area != nullptr) saved_.push_back({area, Bytes(area, area + registry.boundBytes(T::TYPE_INDEX, m))});
    }
    before_ = codec::loadElement(liveLeaf_, element);
  }
  ~FieldProbe() { restore(); }

  bool accepts(double value) {
    if (packet_.empty()) prepare();
    restore();
    const u32 bits = bitsOf(value);
    const int width = codec::widthOf(field_.leaf.kind);
    for (int b = 0; b < width; ++b) packet_[at_ + b] = static_cast<u8>(bits >> (8 * (width - 1 - b)));
    linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet_.data(), packet_.size());
    try {
      category::CategoryRegistry::instance().receiveAll();
    } catch (const assert::AssertException&) {
      return false;  // a failed check refuses the value
    }
    codec::storeElement(field_.leaf, element_, bits);
    const u32 now = codec::loadElement(liveLeaf_, element_);
    const u32 expected = codec::loadElement(field_.leaf, element_);
    const int bit = liveLeaf_.bit + (liveLeaf_.perElement ? element_ : 0);
    return now == expected && (now != before_ || liveLeaf_.mask == nullptr || codec::presenceBit(liveLeaf_.mask, bit));
  }

 private:
  // The request with the field alone, and where the element's bytes lie in it (found by writing it
  // with two values).
  Bytes packetWith(u32 bits) {
    message_ = T{};
    for (const auto& [name, value] : with_) view_.setValue(name, value);
    if (index_ != nullptr) codec::storeElement(index_->leaf, 0, static_cast<u32>(indexValue_));
    codec::storeElement(field_.leaf, element_, bits);
    if (field_.leaf.mask != nullptr) {
      codec::setPresenceBit(field_.leaf.mask, field_.leaf.bit + (field_.leaf.perElement ? element_ : 0));
    }
    Bytes body;
    if (view_.hasText()) {
      view_.write(body);
    } else {
      body.resize(codec::wireSize<T>());
      codec::encode(message_, body.data(), body.size());
    }
    // The packet: sync bytes, body length and type (big-endian), then the body.
    const u32 n = static_cast<u32>(body.size());
    Bytes packet = {LINK_SYNC0, LINK_SYNC1, static_cast<u8>(n >> 24), static_cast<u8>(n >> 16),
                    static_cast<u8>(n >> 8), static_cast<u8>(n), static_cast<u8>(T::TYPE_INDEX >> 8),
                    static_cast<u8>(T::TYPE_INDEX)};
    packet.resize(LINK_HEADER_BYTES + body.size());
    std::copy(body.begin(), body.end(), packet.begin() + LINK_HEADER_BYTES);
    return packet;
  }
  void prepare() {
    const Bytes other = packetWith(0xFFFFFFFFu);
    packet_ = packetWith(0);
    at_ = static_cast<size_t>(std::mismatch(packet_.begin(), packet_.end(), other.begin()).first - packet_.begin());
  }

  u32 bitsOf(double value) const {
    if (field_.leaf.kind == codec::Kind::F32) {
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

  T& message_;
  RecordView& view_;
  const Field& field_;
  int element_;
  Field* index_;
  int indexValue_;
  const Assignments& with_;
  codec::Leaf liveLeaf_;
  u32 before_ = 0;
  std::vector<std::pair<u8*, Bytes>> saved_;
  Bytes packet_;
  size_t at_ = 0;
};

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

template <class T>
bool probeRecord(const std::string& name, int index, const Assignments& with, std::vector<Interval>& out,
                 std::string& error, bool edgesOnly) {
  const std::string typeName = category::typeNameOf(T::TYPE_INDEX);
  T message{};
  RecordView view(message);
  int element = -1;
  const Field* field = view.find(name, element);
  const IndexFields indexes = indexFields<T>(view);
  Field* indexField = isPerMe<T>() ? indexes.me : indexes.channel;
  if (field == nullptr || field->textCapacity > 0 || field == indexes.me || field == indexes.channel) {
    error = typeName + " has no field " + name + " that takes a number";
    return false;
  }
  if (element < 0) element = 0;
  if (element >= field->leaf.count || index < 0 || index >= indexLimit<T>()) {
    error = typeName + ": no element " + name + " of " + (isPerMe<T>() ? "ME " : "channel ") + std::to_string(index);
    return false;
  }
  useScratchSystem();
  auto& registry = category::CategoryRegistry::instance();
  // A record per ME with channels takes its channel as "channel", whatever its field's name.
  for (const auto& [field, value] : with) {
    const bool isChannel = field == "channel" && isPerMe<T>() && indexes.channel != nullptr;
    if (!view.setValue(isChannel ? indexes.channel->name : field, value)) {
      error = typeName + ": cannot set " + field + "=" + value;
      return false;
    }
  }
  int channel = isPerMe<T>() ? 0 : index;
  if (const Field* c = isPerMe<T>() ? indexes.channel : nullptr) {
    channel = static_cast<int>(codec::loadElement(c->leaf, 0));
    if (channel >= channelsOf<T>()) {
      error = typeName + ": no channel " + std::to_string(channel);
      return false;
    }
  }
  const int me = isPerMe<T>() ? index : 0;
  const int row = registry.at(T::TYPE_INDEX, me) != nullptr ? me : 0;
  u8* stored = registry.at(T::TYPE_INDEX, row) != nullptr ? registry.storageOf(T::TYPE_INDEX, row) : nullptr;
  if (stored == nullptr || registry.boundBytes(T::TYPE_INDEX, row) < static_cast<int>(sizeof(T)) * (channel + 1)) {
    error = typeName + " is kept by no category of the back end";
    return false;
  }
  const RecordShape shape{sizeof(T), isPerMe<T>(), channelsOf<T>()};
  T& live = *reinterpret_cast<T*>(stored + recordOffset(registry.boundBytes(T::TYPE_INDEX, row), shape, channel));
  FieldProbe<T> probe(message, view, *field, element, indexField, index, with, live);
  std::vector<std::pair<double, bool>> seen;
  const auto candidates = edgesOnly ? edgeCandidates(field->leaf.kind) : candidateValues(field->leaf.kind);
  for (double v : candidates) seen.emplace_back(v, probe.accepts(v));
  // Between two neighbours that the checks tell apart lies an edge: close in on it.
  const bool isFloat = field->leaf.kind == codec::Kind::F32;
  std::vector<std::pair<double, bool>> edges;
  for (size_t i = 0; i + 1 < seen.size(); ++i) {
    if (seen[i].second == seen[i + 1].second) continue;
    double a = seen[i].first, b = seen[i + 1].first;
    for (int step = 0; step < 64; ++step) {
      const double mid = isFloat ? static_cast<double>(static_cast<float>((a + b) / 2)) : std::floor((a + b) / 2);
      if (mid <= a || mid >= b) break;
      (probe.accepts(mid) == seen[i].second ? a : b) = mid;
    }
    edges.emplace_back(a, seen[i].second);
    edges.emplace_back(b, seen[i + 1].second);
  }
  seen.insert(seen.end(), edges.begin(), edges.end());
  std::sort(seen.begin(), seen.end());
  seen.erase(std::unique(seen.begin(), seen.end(), [](const auto& x, const auto& y) { return x.first == y.first; }),
             seen.end());
  out.clear();
  for (size_t i = 0; i < seen.size(); ++i) {
    if (!seen[i].second) continue;
    size_t j = i;
    while (j + 1 < seen.size() && seen[j + 1].second) ++j;
    out.push_back({seen[i].first, seen[j].first});
    i = j;
  }
  return true;
}

template <class T>
bool buildRecord(const Assignments& fields, Bytes& body, std::string& error, std::string* defaulted) {
  T r{};
  RecordView view(r);
  const std::string typeName = category::typeNameOf(T::TYPE_INDEX);
  const IndexFields indexes = indexFields<T>(view);
  bool meGiven = false, channelGiven = false;
  for (const auto& [name, value] : fields) {
    const bool isMe = indexes.me != nullptr && name == "me";
    const bool isChannel = indexes.channel != nullptr && name == "channel";
    if (isMe || isChannel) {
      const long limit = isMe ? category::N_ME : channelsOf<T>();
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
    const bool ok = f->textCapacity > 0 ? view.setText(name, value) : view.setValue(name, value);
    if (!ok) {
      error = typeName + ": " + name + "=" + value + ": " + valueProblem(*f, element, value);
      return false;
    }
  }
  if (defaulted != nullptr) {
    defaulted->clear();
    if (indexes.me != nullptr && !meGiven) *defaulted += " me=0";
    if (indexes.channel != nullptr && !channelGiven) *defaulted += " channel=0";
    if (!defaulted->empty()) defaulted->erase(0, 1);
  }
  body.clear();
  if (view.hasText()) {
    view.write(body);
  } else {
    body.resize(codec::wireSize<T>());
    codec::encode(r, body.data(), body.size());
  }
  return true;
}

template <class T>
std::string fieldListOf() {
  T r{};
  RecordView view(r);
  const IndexFields indexes = indexFields<T>(view);
  std::string out;
  auto line = [&out](std::string name, const std::string& range) {
    name.resize(std::max<size_t>(name.size() + 2, 32), ' ');
    out += "  " + name + range + "\n";
  };
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel) continue;
    const int count = f->textCapacity == 0 ? f->leaf.count : 1;
    if (f->textCapacity > 0) {
      line(f->name, rangeText(*f));
      continue;
    }
    // Each element of a short array is probed: elements may take different ranges. A run of
    // elements that take the same values is one line.
    const int probed = count <= 16 ? count : 1;
    std::vector<std::string> ranges;
    for (int e = 0; e < probed; ++e) {
      std::vector<Interval> taken;
      std::string ignored;
      const std::string element = count > 1 ? f->name + "[" + std::to_string(e) + "]" : f->name;
      ranges.push_back(probeRecord<T>(element, 0, {}, taken, ignored, false) ? intervalsText(taken) : rangeText(*f));
    }
    for (int e = 0; e < probed;) {
      int last = e;
      while (last + 1 < probed && ranges[last + 1] == ranges[e]) ++last;
      if (probed < count) last = count - 1;
      const bool whole = e == 0 && last == count - 1;
      std::string name = f->name;
      if (count > 1) name += whole || e != last ? "[" + std::to_string(e) + ".." + std::to_string(last) + "]" : "[" + std::to_string(e) + "]";
      line(name, ranges[e]);
      e = last + 1;
    }
  }
  return out;
}

template <class T>
std::vector<FieldInfo> settableOf() {
  T r{};
  RecordView view(r);
  const IndexFields indexes = indexFields<T>(view);
  std::vector<FieldInfo> out;
  for (const Field* f : view.settable()) {
    if (f != indexes.me && f != indexes.channel) out.push_back({f->name, f->leaf.count, f->textCapacity, f->leaf.kind});
  }
  return out;
}

// The type name, the indexes of records that have them, then the carried fields.
template <class T>
std::string recordText(RecordView& view) {
  const IndexFields indexes = indexFields<T>(view);
  return category::typeNameOf(T::TYPE_INDEX) + indexText(indexes) + view.text(indexes.me, indexes.channel);
}

template <class T>
std::string describeRecord(const u8* body, size_t size) {
  T r{};
  RecordView view(r);
  const bool ok = view.hasText() ? view.read(body, size) : codec::read(body, size, r);
  if (!ok) return unknownText(T::TYPE_INDEX, body, size, ", short");
  return recordText<T>(view);
}

// A record as the back end keeps it: every field, whatever its presence bit says.
template <class T>
std::string describeStoredRecord(const u8* record, int me, int channel) {
  T r;
  std::memcpy(static_cast<void*>(&r), record, sizeof r);
  codec::setAllPresence(r);
  RecordView view(r);
  const IndexFields indexes = indexFields<T>(view);
  if (indexes.me != nullptr) codec::storeElement(indexes.me->leaf, 0, static_cast<u32>(me));
  if (indexes.channel != nullptr) codec::storeElement(indexes.channel->leaf, 0, static_cast<u32>(channel));
  return recordText<T>(view);
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

template <class T>
bool readBody(RecordView& view, T& r, const u8* body, size_t size) {
  return view.hasText() ? view.read(body, size) : codec::read(body, size, r);
}

// Each field carried by the request that its answer does not carry with the same value.
template <class T>
bool echoRefusalsOf(const u8* sent, size_t sentSize, const u8* echo, size_t echoSize, std::vector<Refusal>& out) {
  T asked{}, answered{};
  RecordView a(asked), b(answered);
  // Without an answer, every field of the request counts as left out.
  if (!readBody(a, asked, sent, sentSize) || (echo != nullptr && !readBody(b, answered, echo, echoSize))) return false;
  const IndexFields ia = indexFields<T>(a), ib = indexFields<T>(b);
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

template <class T>
bool sameStoredRecords(const u8* a, const u8* b) {
  // The index field, which the record's place names (as describeStored sets it), is not compared.
  static const size_t indexBytes = [] {
    T r{};
    RecordView view(r);
    const Field* index = indexLimit<T>() > 1 ? view.indexField() : nullptr;
    return index != nullptr ? static_cast<size_t>(codec::widthOf(index->leaf.kind)) : 0;
  }();
  T ra, rb;
  std::memcpy(static_cast<void*>(&ra), a, sizeof ra);
  std::memcpy(static_cast<void*>(&rb), b, sizeof rb);
  std::memcpy(reinterpret_cast<u8*>(&rb) + 4, a + 4, indexBytes);
  // Most records compare equal byte for byte once their presence bits agree; the field walk,
  // which leaves padding out, is for the others.
  codec::setAllPresence(ra);
  codec::setAllPresence(rb);
  if (std::memcmp(&ra, &rb, sizeof ra) == 0) return true;
  return codec::sameValues(ra, rb);
}

template <class T>
constexpr Ops opsOf(int type) {
  if constexpr (std::is_void_v<T>) {
    (void)type;
    return {};
  } else {
    // A struct of the same name that is not this type's record is not used.
    if (T::TYPE_INDEX != type) return {};
    return {&buildRecord<T>,       &describeRecord<T>,   &fieldListOf<T>,
            &settableOf<T>,        &describeStoredRecord<T>, &sameStoredRecords<T>,
            &probeRecord<T>,       &echoRefusalsOf<T>,
            {sizeof(T), isPerMe<T>(), channelsOf<T>()}};
  }
}

#define MX_OPS(name) opsOf<Defined<::name, ::internal::name>>(__COUNTER__ - FIRST_COUNTER - 1),
constexpr int FIRST_COUNTER = __COUNTER__;
constexpr Ops OPS[] = {MX_LINK_TYPES(MX_OPS)};
#undef MX_OPS
static_assert(sizeof OPS / sizeof OPS[0] == category::N_TYPES);

const Ops* opsAt(int type) {
  if (type < 0 || type >= category::N_TYPES || OPS[type].build == nullptr) return nullptr;
  return &OPS[type];
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

bool isRecordBuilt(int type) { return opsAt(type) != nullptr; }

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
  const Ops* ops = opsAt(type);
  if (ops == nullptr) return notBuilt(type, error);
  const RecordShape& shape = ops->shape;
  out = std::string(category::typeNameOf(type)) + ": type " + std::to_string(type);
  if (shape.perMe) out += ", a record per ME (me=0.." + std::to_string(category::N_ME - 1) + ")";
  if (shape.channels > 1) out += ", " + std::to_string(shape.channels) + " channels (channel=0.." + std::to_string(shape.channels - 1) + ")";
  if (type >= category::FIRST_COMMAND_TYPE) out += "; a command keeps no record to read back: the ranges are the fields' widths";
  out += "; an array takes name[i]=v or name=v1,v2,...\n" + ops->fieldList();
  return true;
}

bool settableFields(int type, std::vector<FieldInfo>& out) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr) return false;
  out = ops->settable();
  return true;
}

int recordOffset(int bytes, const RecordShape& shape, int channel) {
  const int records = static_cast<int>(shape.size) * shape.channels;
  return (bytes - records) / 4 * 4 + static_cast<int>(shape.size) * channel;
}

bool recordShape(int type, RecordShape& shape) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr) return false;
  shape = ops->shape;
  return true;
}

std::string describeStored(int type, const u8* record, int me, int channel) {
  return opsAt(type)->describeStored(record, me, channel);
}

bool sameStoredValues(int type, const u8* a, const u8* b) { return opsAt(type)->sameStored(a, b); }

bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error, std::string* defaulted) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr) return notBuilt(type, error);
  return ops->build(fields, body, error, defaulted);
}

std::string describe(int type, const u8* body, size_t size) {
  const Ops* ops = opsAt(type);
  return ops != nullptr ? ops->describe(body, size) : unknownText(type, body, size, "");
}

bool acceptedValues(int type, const std::string& field, int index, const Assignments& with, std::vector<Interval>& out,
                    std::string& error, bool edgesOnly) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr) return notBuilt(type, error);
  return ops->probe(field, index, with, out, error, edgesOnly);
}

bool echoRefusals(int type, const Bytes& sent, const linkpeer::Packet& echo, std::vector<Refusal>& out) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr || echo.type != type) return false;
  return ops->echoRefusals(sent.data(), sent.size(), echo.body.data(), echo.body.size(), out);
}

bool requestFields(int type, const Bytes& sent, std::vector<Refusal>& out) {
  const Ops* ops = opsAt(type);
  return ops != nullptr && ops->echoRefusals(sent.data(), sent.size(), nullptr, 0, out);
}

std::string intervalsText(const std::vector<Interval>& intervals) {
  if (intervals.empty()) return "none";
  std::string out;
  char b[64];
  for (const Interval& i : intervals) {
    if (i.lo == i.hi) {
      std::snprintf(b, sizeof b, "%.9g", i.lo);
    } else {
      std::snprintf(b, sizeof b, "%.9g..%.9g", i.lo, i.hi);
    }
    out += (out.empty() ? "" : ", ") + std::string(b);
  }
  return out;
}

}  // namespace frontend
