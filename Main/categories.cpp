// The category singletons in their start-up order. Each registers itself from its constructor; a
// per-ME category creates its four instances here.
#include "Main/startup.h"

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
}
