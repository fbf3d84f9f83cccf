#include "Main/framework/typenames.h"

namespace category {
namespace {

const char* const TYPE_NAMES[N_TYPES] = {
    "MxifKey", "MxifChromaKey", "MxifBkgd", "MxifImage",
    "MxifBkgdColorCorrect", "MxifDsk", "MxifCbgd", "MxifUpStreamKey",
    "MxifUpStreamKeyAssign", "MxifBkgdWipe", "MxifClipPlay", "MxifClipRec",
    "MxifClipRegister", "MxifClipStatus", "MxifEventMemory", "MxifEventMemoryEditPoint",
    "MxifEventMemoryStatus", "MxifEventMemoryHistory", "MxifDataHeaderN", "MxifKeyPreset",
    "MxifMacro", "MxifShotMemory", "MxifShotMemoryStatus", "MxifStillMemory",
    "MxifStillStatus", "MxifControlPanelConfig", "MxifMainframeConfig", "MxifMaintenance",
    "MxifPeripheral", "MxifSystem", "MxifSystemMenuLock", "MxifGpiInOut",
    "MxifExtendedDisplay", "MxifCustomInfo", "MxifButtonInhibit", "MxifConfigMenuLock",
    "MxifOperate", "MxifSourceLink", "MxifXptAssign", "MxifSourceName",
    "MxifMultiView", "MxifInputDvi", "MxifInputVideo", "MxifOutput",
    "MxifPlugin", "MxifPluginStatus", "MxifColorCorrect", "MxifBus",
    "MxifBusStatus", "MxifLed", "MxifMeLed", "MxifRecentColor",
    "MxifBusTally", "MxifSourceTally", "MxifDualSourceTally", "MxifInitialStatus",
    "MxifTransitionStatus", "MxifTest", "MxifEventMemoryAttr", "MxifStorage",
    "MxifMacroStatus", "MxifPluginStorage", "MxifGpiInStatus", "MxifSystemInfomation",
    "MxifPositionerBlock", "MxifEventMemoryCmd", "MxifShotMemoryCmd", "MxifStillMemoryCmd",
    "MxifClipPlayCmd", "MxifClipRecCmd", "MxifMaintenanceCmd", "MxifColorCorrectCmd",
    "MxifBkgdColorCorrectCmd", "SystemInitialCmd", "waitCmd", "MxifKeyCmd",
    "MxifSwitchingCmd", "MxifChromaKeyCmd", "MxifPluginCmd", "MxifStorageCmd",
    "MxifThumbnailCmd", "MxifClipRegisterCmd", "MxifMacroCmd", "MxifGpiCmd",
    "MxifSourceNameCmd", "initialCmd", "ackReceiveCmd", "loadSetupCmd",
    "MxifTransitionCmd", "MxifXptAssignCmd", "MxifPluginActionCmd", "MxifBkgdCmd",
    "MxifSelectEvent", "MxifDefaultSettingEvent", "MxifButtonEvent", "MxifFaderEvent",
    "MxifMenu", "MxifMenuWidget", "MxifMenuValue", "MxifSelectMenu",
    "MxifSelectError", "MxifMessageBox", "MxifDelegationEvent", "MxifLogMessage",
};

}  // namespace

const char* typeNameOf(int type) { return (0 <= type && type < N_TYPES) ? TYPE_NAMES[type] : ""; }

}  // namespace category
