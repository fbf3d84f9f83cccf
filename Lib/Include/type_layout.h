#pragma once
// What the back end keeps and reads of each type, declared once: which categories keep its records,
// and where (in the backup image or in their objects), what else they keep in the image, and the
// form its reader reads. The back end's registry lays the categories it binds out so (a test holds
// the two alike), and the front end's tools read the backup image and follow the request stream by
// this table alone.
//
// The backup image: magic and version (BACKUP_HEADER_BYTES), then for every type in index order the
// bytes of its ME 0 instance and of its ME 1 instance, each rounded up to 4: the data it keeps besides
// its records first, then its records when the image keeps them. The ME 2 and ME 3 instances lie in
// a volatile buffer laid out alike, and are not saved.
#include <array>

#include "Lib/Include/codec.h"
#include "Lib/Include/data_internal.h"
#include "Lib/Include/storage.h"
#include "Lib/Include/type_index.h"

namespace layout {

// Where the back end keeps a type's records.
enum class Records : u8 {
  NONE,    // nowhere: a command, or a type its owner takes unread, or none takes
  OBJECT,  // in the category's object: they start from their defaults at every start
  IMAGE,   // in the backup image
};

struct Type {
  Records records = Records::NONE;
  int instances = 0;    // categories of the type: one per ME for a record kept per ME, else 1; 0 none
  int recordSize = 0;   // one record in memory
  int channels = 1;
  int dataBytes = 0;    // what an instance keeps in the image besides its records, ahead of them
  int formBytes = 0;    // the wire size of the form the type's reader reads; 0: read by none
  // The bytes an instance takes in the image (or in the volatile buffer).
  constexpr int boundBytes() const {
    return (dataBytes + (records == Records::IMAGE ? recordSize * channels : 0) + 3) & ~3;
  }
};

namespace declare {

using Table = std::array<Type, category::N_TYPES>;

template <class T>
constexpr void form(Table& t, Records records = Records::NONE, int instances = 0, int dataBytes = 0) {
  int channels = 1;
  bool perMe = false;
  if constexpr (requires { T::N_CHANNELS; }) channels = T::N_CHANNELS;
  if constexpr (requires { T::PER_ME; }) perMe = T::PER_ME;
  Type& x = t[T::TYPE_INDEX];
  x.records = records;
  x.instances = instances > 0 && perMe ? category::N_ME : instances;
  x.recordSize = static_cast<int>(sizeof(T));
  x.channels = channels;
  x.dataBytes = dataBytes;
  x.formBytes = static_cast<int>(codec::wireSize<T>());
}
// A record that its category keeps in the backup image, after dataBytes of its own.
template <class T>
constexpr void image(Table& t, int dataBytes = 0) {
  form<T>(t, Records::IMAGE, 1, dataBytes);
}
// A record that its category keeps in its object, with dataBytes of its own in the image.
template <class T>
constexpr void object(Table& t, int dataBytes = 0) {
  form<T>(t, Records::OBJECT, 1, dataBytes);
}
// A command of a category of its own, with dataBytes of its own in the image.
template <class T>
constexpr void command(Table& t, int dataBytes = 0) {
  form<T>(t, Records::NONE, 1, dataBytes);
}
// A command that the category of another type reads (or the dispatcher itself).
template <class T>
constexpr void read(Table& t) {
  form<T>(t, Records::NONE, 0);
}

}  // namespace declare

constexpr std::array<Type, category::N_TYPES> TYPES = [] {
  using namespace declare;
  Table t{};
  image<MxifKey>(t);
  image<MxifChromaKey>(t, MxifChromaKey::BACKUP_BLOCK_BYTES);
  image<MxifBkgd>(t);
  image<MxifImage>(t);
  image<MxifDsk>(t);
  image<MxifCbgd>(t);
  image<MxifUpStreamKey>(t);
  image<MxifUpStreamKeyAssign>(t);
  image<MxifBkgdWipe>(t);
  image<MxifClipPlay>(t);
  image<MxifClipRec>(t);
  image<MxifClipRegister>(t);
  image<MxifClipStatus>(t);
  image<MxifEventMemory>(t);
  image<MxifEventMemoryStatus>(t);
  image<MxifKeyPreset>(t);
  image<MxifMacro>(t);
  image<MxifShotMemory>(t);
  image<MxifShotMemoryStatus>(t);
  image<MxifStillMemory>(t);
  image<MxifStillStatus>(t);
  image<MxifControlPanelConfig>(t);
  image<MxifMainframeConfig>(t);
  image<MxifMaintenance>(t);
  image<MxifPeripheral>(t);
  image<MxifSystem>(t);
  image<MxifSystemMenuLock>(t);
  image<MxifGpiInOut>(t);
  image<MxifExtendedDisplay>(t);
  image<MxifCustomInfo>(t);
  image<MxifButtonInhibit>(t);
  image<MxifConfigMenuLock>(t);
  image<MxifOperate>(t);
  image<MxifSourceLink>(t);
  image<MxifXptAssign>(t);
  image<MxifSourceName>(t);
  image<MxifMultiView>(t);
  image<MxifInputDvi>(t);
  object<MxifInputVideo>(t);
  image<MxifOutput>(t);
  image<MxifPlugin>(t);
  object<MxifPluginStatus>(t, MxifPluginStatus::SAVED_BYTES);
  image<MxifColorCorrect>(t);
  image<MxifBus>(t);
  image<MxifBusStatus>(t);
  object<internal::MxifLed>(t);
  object<internal::MxifMeLed>(t);
  image<MxifRecentColor>(t);
  object<MxifBusTally>(t);
  object<MxifSourceTally>(t);
  object<internal::MxifInitialStatus>(t);
  object<MxifTransitionStatus>(t);
  object<MxifTest>(t);
  command<internal::SystemInitialCmd>(t);
  command<internal::MxifButtonEvent>(t);
  command<internal::MxifFaderEvent>(t, static_cast<int>(sizeof(FaderCalibration)));
  command<MxifSwitchingCmd>(t);
  read<MxifKeyCmd>(t);
  read<MxifChromaKeyCmd>(t);
  read<MxifColorCorrectCmd>(t);
  read<MxifMaintenanceCmd>(t);
  read<WaitCommand>(t);
  return t;
}();

// The place of each instance of ME 0 and ME 1 in the backup image (from its start), and the image's
// length.
struct Places {
  int at[category::N_TYPES][2] = {};
  int imageBytes = BACKUP_HEADER_BYTES;
};
constexpr Places PLACES = [] {
  Places p;
  for (int type = 0; type < category::N_TYPES; ++type) {
    for (int me = 0; me < 2; ++me) {
      p.at[type][me] = p.imageBytes;
      if (me < TYPES[type].instances) p.imageBytes += TYPES[type].boundBytes();
    }
  }
  return p;
}();
static_assert(PLACES.imageBytes < BUF_SIZE * 4, "the backup image fits its buffer");

// What an instance of the type for ME me takes in the image (0: none there).
constexpr int imageBytes(int type, int me) { return me < 2 && me < TYPES[type].instances ? TYPES[type].boundBytes() : 0; }
// Where it lies there.
constexpr int imageOffset(int type, int me) { return PLACES.at[type][me]; }
// Where channel `channel` of its records lies, when the image keeps them (behind the instance's data).
constexpr int recordOffset(int type, int me, int channel) {
  return imageOffset(type, me) + TYPES[type].dataBytes + TYPES[type].recordSize * channel;
}

}  // namespace layout
