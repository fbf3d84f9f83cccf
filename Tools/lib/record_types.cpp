#include "Tools/lib/record_types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <type_traits>

#include "Main/framework/typenames.h"
#include "Lib/Include/codec.h"
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

  // The index byte (ME or channel) at byte 4, if the record has one there.
  Field* indexField() {
    for (Field& f : fields_) {
      if (f.offset == 4 && !f.leaf.isMask && f.leaf.count == 1 && codec::widthOf(f.leaf.kind) == 1) return &f;
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

  bool setValue(const std::string& name, const std::string& value) {
    for (Field& f : fields_) {
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

  // The carried fields as " name=value" words; the index field is left out.
  std::string text(const Field* skip) const {
    std::string out;
    for (size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      if (&f == skip) continue;
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
      codec::appendTextLeaf(f.leaf, lines);
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

// ---- Per-type operations ---------------------------------------------------------------------------

struct Ops {
  bool (*build)(const Assignments& fields, Bytes& body, std::string& error);
  std::string (*describe)(const u8* body, size_t size);
};

template <class T>
bool buildRecord(const Assignments& fields, Bytes& body, std::string& error) {
  T r{};
  RecordView view(r);
  const char* typeName = category::typeNameOf(T::TYPE_INDEX);
  for (const auto& [name, value] : fields) {
    bool ok = view.isText(name) ? view.setText(name, value) : view.setValue(name, value);
    if (!ok && (name == "me" || name == "channel")) {
      Field* index = view.indexField();
      char* end = nullptr;
      const unsigned long v = std::strtoul(value.c_str(), &end, 0);
      ok = index != nullptr && !value.empty() && *end == '\0' && v <= 0xFF;
      if (ok) codec::storeElement(index->leaf, 0, static_cast<u32>(v));
    }
    if (!ok) {
      error = std::string(typeName) + ": unknown field or bad value: " + name + "=" + value;
      return false;
    }
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
std::string describeRecord(const u8* body, size_t size) {
  T r{};
  RecordView view(r);
  const bool ok = view.hasText() ? view.read(body, size) : codec::read(body, size, r);
  if (!ok) return unknownText(T::TYPE_INDEX, body, size, ", short");
  std::string out = category::typeNameOf(T::TYPE_INDEX);
  Field* index = (isPerMe<T>() || channelsOf<T>() > 1) ? view.indexField() : nullptr;
  if (index != nullptr) {
    out += (isPerMe<T>() ? " me=" : " channel=") + std::to_string(codec::loadElement(index->leaf, 0));
  }
  return out + view.text(index);
}

template <class T>
constexpr Ops opsOf(int type) {
  if constexpr (std::is_void_v<T>) {
    (void)type;
    return {nullptr, nullptr};
  } else {
    // A struct of the same name that is not this type's record is not used.
    if (T::TYPE_INDEX != type) return {nullptr, nullptr};
    return {&buildRecord<T>, &describeRecord<T>};
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

bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error) {
  const Ops* ops = opsAt(type);
  if (ops == nullptr) {
    const char* name = category::typeNameOf(type);
    error = std::string(*name ? name : "type " + std::to_string(type)) +
            ": the record of this type is not built into this program (send its bytes with raw)";
    return false;
  }
  return ops->build(fields, body, error);
}

std::string describe(int type, const u8* body, size_t size) {
  const Ops* ops = opsAt(type);
  return ops != nullptr ? ops->describe(body, size) : unknownText(type, body, size, "");
}

}  // namespace frontend
