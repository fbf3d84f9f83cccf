// The category singletons in their start-up order. Each registers itself from its constructor; a
// per-ME category creates its four instances here.
#include <initializer_list>

#include "Main/framework/bp.h"
#include "Main/bkgd/bkgd.h"
#include "Main/bkgd/bkgdwipe.h"
#include "Main/bus/bus.h"
#include "Main/bus/busstatus.h"
#include "Main/bus/button.h"
#include "Main/bkgd/cbgd.h"
#include "Main/fader/faderevent.h"
#include "Main/tally/tally.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"
#include "Main/io/io.h"
#include "Main/key/chrkey.h"
#include "Main/key/colorcorrect.h"
#include "Main/key/dsk.h"
#include "Main/key/image.h"
#include "Main/key/key.h"
#include "Main/key/usk.h"
#include "Main/key/keypreset.h"
#include "Main/memory/macro.h"
#include "Main/memory/shotmem.h"
#include "Main/panel/led.h"
#include "Main/panel/operate.h"
#include "Main/panel/panelconfig.h"
#include "Main/panel/peripheral.h"
#include "Main/panel/gpi.h"
#include "Main/panel/inhibit.h"
#include "Main/panel/menulock.h"
#include "Main/panel/recentcolor.h"
#include "Main/panel/switching.h"
#include "Main/bus/sourcelink.h"
#include "Main/framework/startup.h"
#include "Main/media/still.h"
#include "Main/system/initialstatus.h"
#include "Main/system/maintenance.h"
#include "Main/system/mfconfig.h"
#include "Main/system/plugin.h"
#include "Main/system/system.h"
#include "Main/system/testpattern.h"
#include "Main/transition/status.h"
#include "Main/bus/xpt.h"

namespace {

// Categories are singletons built on first use; their constructor registers them. A registry that
// was emptied (a new start of main in the same process) gets the same singletons entered again, in
// the same order, so each keeps its ME row, with the command types they own.
template <class C>
void enter(C& cat, std::initializer_list<int> ownedCommands = {}) {
  auto& reg = category::CategoryRegistry::instance();
  const int id = C::TYPE_INDEX;
  for (int me = 0; me < category::N_ME; ++me) {
    if (reg.at(id, me) == &cat) return;
  }
  reg.add(id, &cat);
  if (id >= category::FIRST_COMMAND_TYPE) reg.setCommandOwner(id, id);
  for (int type : ownedCommands) reg.setCommandOwner(type, id);
}

}  // namespace

void createCategories() {
  // In this order, as the categories are built:
  // MxifKey, MxifChromaKey, MxifBkgd, MxifImage, MxifDsk, MxifCbgd, MxifUpStreamKey,
  // MxifUpStreamKeyAssign, MxifBkgdWipe, MxifClipPlay, MxifClipRec, MxifClipRegister,
  // MxifClipStatus, MxifEventMemory, MxifEventMemoryStatus, MxifKeyPreset, MxifMacro,
  // MxifShotMemory, MxifShotMemoryStatus, MxifStillMemory, MxifStillStatus,
  // MxifControlPanelConfig, MxifMainframeConfig, MxifMaintenance, MxifPeripheral, MxifSystem,
  // MxifSystemMenuLock, MxifGpiInOut, MxifExtendedDisplay, MxifCustomInfo, MxifButtonInhibit,
  // MxifConfigMenuLock, MxifOperate, MxifSourceLink, MxifXptAssign, MxifSourceName,
  // MxifMultiView, MxifInputDvi, MxifInputVideo, MxifOutput, MxifPlugin, MxifPluginStatus,
  // MxifColorCorrect, MxifBus, MxifBusStatus, MxifLed, MxifMeLed, MxifRecentColor, MxifBusTally,
  // MxifSourceTally, MxifInitialStatus, MxifTransitionStatus, MxifTest, SystemInitialCmd,
  // MxifButtonEvent, MxifFaderEvent, MxifSwitchingCmd.
  using namespace category;
  for (int me = 0; me < N_ME; ++me) enter(CategoryKey::instance()[me], {TYPE_KEY_CMD});
  for (int me = 0; me < N_ME; ++me) enter(CategoryChromaKey::instance()[me], {TYPE_CHROMA_KEY_CMD});
  for (int me = 0; me < N_ME; ++me) enter(CategoryBkgd::instance()[me]);
  for (int me = 0; me < N_ME; ++me) enter(CategoryImage::instance()[me]);
  enter(CategoryDsk::instance());
  enter(CategoryCbgd::instance());
  enter(CategoryUpStreamKey::instance());
  enter(CategoryUpStreamKeyAssign::instance());
  for (int me = 0; me < N_ME; ++me) enter(CategoryBkgdWipe::instance()[me]);
  enter(CategoryClipPlay::instance(), {TYPE_CLIP_PLAY_CMD});
  enter(CategoryClipRec::instance(), {TYPE_CLIP_REC_CMD});
  enter(CategoryClipRegister::instance(), {TYPE_CLIP_REGISTER_CMD});
  enter(CategoryClipStatus::instance());
  enter(CategoryEventMemory::instance(),
        {TYPE_EVENT_MEMORY_CMD, TYPE_EVENT_MEMORY_EDIT_POINT, TYPE_EVENT_MEMORY_HISTORY, TYPE_DATA_HEADER_N});
  enter(CategoryEventMemoryStatus::instance());
  enter(CategoryKeyPreset::instance());
  enter(CategoryMacro::instance());
  enter(CategoryShotMemory::instance(), {TYPE_SHOT_MEMORY_CMD});
  enter(CategoryShotMemoryStatus::instance());
  enter(CategoryStillMemory::instance(), {TYPE_STILL_MEMORY_CMD});
  enter(CategoryStillStatus::instance());
  enter(CategoryControlPanelConfig::instance());
  enter(CategoryMainframeConfig::instance());
  enter(CategoryMaintenance::instance(), {TYPE_MAINTENANCE_CMD});
  enter(CategoryPeripheral::instance());
  enter(CategorySystem::instance());
  enter(CategorySystemMenuLock::instance());
  enter(CategoryGpiInOut::instance());
  enter(CategoryExtendedDisplay::instance());
  enter(CategoryCustomInfo::instance());
  enter(CategoryButtonInhibit::instance());
  enter(CategoryConfigMenuLock::instance());
  enter(CategoryOperate::instance());
  enter(CategorySourceLink::instance());
  enter(CategoryXpt::instance());
  enter(CategoryButtonSourceName::instance());
  enter(CategoryMultiView::instance());
  enter(CategoryInputDvi::instance());
  enter(CategoryInputVideo::instance());
  enter(CategoryOutput::instance());
  enter(CategoryPlugin::instance());
  enter(CategoryPluginStatus::instance());
  enter(CategoryColorCorrect::instance(), {TYPE_COLOR_CORRECT_CMD});
  for (int me = 0; me < N_ME; ++me) enter(CategoryBus::instance()[me]);
  for (int me = 0; me < N_ME; ++me) enter(CategoryBusStatus::instance()[me]);
  enter(CategoryLed::instance());
  for (int me = 0; me < N_ME; ++me) enter(CategoryMeLed::instance()[me]);
  enter(CategoryRecentColor::instance());
  for (int me = 0; me < N_ME; ++me) enter(CategoryBusTally::instance()[me]);
  enter(CategorySourceTally::instance());
  enter(CategoryInitialStatus::instance());
  enter(CategoryTransitionStatus::instance());
  for (int me = 0; me < N_ME; ++me) enter(CategoryTest::instance()[me]);
  enter(CategoryInitialize::instance());
  enter(CategoryButtonEvent::instance());
  enter(CategoryFaderEvent::instance());
  enter(CategorySwitchingCmd::instance());
}
