#include "Main/framework/typenames.h"

#include <cstdio>

namespace category {
namespace {

struct TypeName {
  int type;
  const char* name;
};

// In index order; the check below holds every entry to its index in the type table.
constexpr TypeName TYPE_NAMES[] = {
    {TYPE_KEY, "MxifKey"}, {TYPE_CHROMA_KEY, "MxifChromaKey"}, {TYPE_BKGD, "MxifBkgd"},
    {TYPE_IMAGE, "MxifImage"}, {TYPE_BKGD_COLOR_CORRECT, "MxifBkgdColorCorrect"}, {TYPE_DSK, "MxifDsk"},
    {TYPE_CBGD, "MxifCbgd"}, {TYPE_UP_STREAM_KEY, "MxifUpStreamKey"},
    {TYPE_UP_STREAM_KEY_ASSIGN, "MxifUpStreamKeyAssign"}, {TYPE_BKGD_WIPE, "MxifBkgdWipe"},
    {TYPE_CLIP_PLAY, "MxifClipPlay"}, {TYPE_CLIP_REC, "MxifClipRec"},
    {TYPE_CLIP_REGISTER, "MxifClipRegister"}, {TYPE_CLIP_STATUS, "MxifClipStatus"},
    {TYPE_EVENT_MEMORY, "MxifEventMemory"}, {TYPE_EVENT_MEMORY_EDIT_POINT, "MxifEventMemoryEditPoint"},
    {TYPE_EVENT_MEMORY_STATUS, "MxifEventMemoryStatus"},
    {TYPE_EVENT_MEMORY_HISTORY, "MxifEventMemoryHistory"}, {TYPE_DATA_HEADER_N, "MxifDataHeaderN"},
    {TYPE_KEY_PRESET, "MxifKeyPreset"}, {TYPE_MACRO, "MxifMacro"}, {TYPE_SHOT_MEMORY, "MxifShotMemory"},
    {TYPE_SHOT_MEMORY_STATUS, "MxifShotMemoryStatus"}, {TYPE_STILL_MEMORY, "MxifStillMemory"},
    {TYPE_STILL_STATUS, "MxifStillStatus"}, {TYPE_CONTROL_PANEL_CONFIG, "MxifControlPanelConfig"},
    {TYPE_MAINFRAME_CONFIG, "MxifMainframeConfig"}, {TYPE_MAINTENANCE, "MxifMaintenance"},
    {TYPE_PERIPHERAL, "MxifPeripheral"}, {TYPE_SYSTEM, "MxifSystem"},
    {TYPE_SYSTEM_MENU_LOCK, "MxifSystemMenuLock"}, {TYPE_GPI_IN_OUT, "MxifGpiInOut"},
    {TYPE_EXTENDED_DISPLAY, "MxifExtendedDisplay"}, {TYPE_CUSTOM_INFO, "MxifCustomInfo"},
    {TYPE_BUTTON_INHIBIT, "MxifButtonInhibit"}, {TYPE_CONFIG_MENU_LOCK, "MxifConfigMenuLock"},
    {TYPE_OPERATE, "MxifOperate"}, {TYPE_SOURCE_LINK, "MxifSourceLink"}, {TYPE_XPT_ASSIGN, "MxifXptAssign"},
    {TYPE_SOURCE_NAME, "MxifSourceName"}, {TYPE_MULTI_VIEW, "MxifMultiView"},
    {TYPE_INPUT_DVI, "MxifInputDvi"}, {TYPE_INPUT_VIDEO, "MxifInputVideo"}, {TYPE_OUTPUT, "MxifOutput"},
    {TYPE_PLUGIN, "MxifPlugin"}, {TYPE_PLUGIN_STATUS, "MxifPluginStatus"},
    {TYPE_COLOR_CORRECT, "MxifColorCorrect"}, {TYPE_BUS, "MxifBus"}, {TYPE_BUS_STATUS, "MxifBusStatus"},
    {TYPE_LED, "MxifLed"}, {TYPE_ME_LED, "MxifMeLed"}, {TYPE_RECENT_COLOR, "MxifRecentColor"},
    {TYPE_BUS_TALLY, "MxifBusTally"}, {TYPE_SOURCE_TALLY, "MxifSourceTally"},
    {TYPE_DUAL_SOURCE_TALLY, "MxifDualSourceTally"}, {TYPE_INITIAL_STATUS, "MxifInitialStatus"},
    {TYPE_TRANSITION_STATUS, "MxifTransitionStatus"}, {TYPE_TEST, "MxifTest"},
    {TYPE_EVENT_MEMORY_ATTR, "MxifEventMemoryAttr"}, {TYPE_STORAGE, "MxifStorage"},
    {TYPE_MACRO_STATUS, "MxifMacroStatus"}, {TYPE_PLUGIN_STORAGE, "MxifPluginStorage"},
    {TYPE_GPI_IN_STATUS, "MxifGpiInStatus"}, {TYPE_SYSTEM_INFORMATION, "MxifSystemInfomation"},
    {TYPE_POSITIONER_BLOCK, "MxifPositionerBlock"}, {TYPE_EVENT_MEMORY_CMD, "MxifEventMemoryCmd"},
    {TYPE_SHOT_MEMORY_CMD, "MxifShotMemoryCmd"}, {TYPE_STILL_MEMORY_CMD, "MxifStillMemoryCmd"},
    {TYPE_CLIP_PLAY_CMD, "MxifClipPlayCmd"}, {TYPE_CLIP_REC_CMD, "MxifClipRecCmd"},
    {TYPE_MAINTENANCE_CMD, "MxifMaintenanceCmd"}, {TYPE_COLOR_CORRECT_CMD, "MxifColorCorrectCmd"},
    {TYPE_BKGD_COLOR_CORRECT_CMD, "MxifBkgdColorCorrectCmd"}, {TYPE_SYSTEM_INITIAL_CMD, "SystemInitialCmd"},
    {TYPE_WAIT_CMD, "waitCmd"}, {TYPE_KEY_CMD, "MxifKeyCmd"}, {TYPE_SWITCHING_CMD, "MxifSwitchingCmd"},
    {TYPE_CHROMA_KEY_CMD, "MxifChromaKeyCmd"}, {TYPE_PLUGIN_CMD, "MxifPluginCmd"},
    {TYPE_STORAGE_CMD, "MxifStorageCmd"}, {TYPE_THUMBNAIL_CMD, "MxifThumbnailCmd"},
    {TYPE_CLIP_REGISTER_CMD, "MxifClipRegisterCmd"}, {TYPE_MACRO_CMD, "MxifMacroCmd"},
    {TYPE_GPI_CMD, "MxifGpiCmd"}, {TYPE_SOURCE_NAME_CMD, "MxifSourceNameCmd"},
    {TYPE_INITIAL_CMD, "initialCmd"}, {TYPE_ACK_RECEIVE_CMD, "ackReceiveCmd"},
    {TYPE_LOAD_SETUP_CMD, "loadSetupCmd"}, {TYPE_TRANSITION_CMD, "MxifTransitionCmd"},
    {TYPE_XPT_ASSIGN_CMD, "MxifXptAssignCmd"}, {TYPE_PLUGIN_ACTION_CMD, "MxifPluginActionCmd"},
    {TYPE_BKGD_CMD, "MxifBkgdCmd"}, {TYPE_SELECT_EVENT, "MxifSelectEvent"},
    {TYPE_DEFAULT_SETTING_EVENT, "MxifDefaultSettingEvent"}, {TYPE_BUTTON_EVENT, "MxifButtonEvent"},
    {TYPE_FADER_EVENT, "MxifFaderEvent"}, {TYPE_MENU, "MxifMenu"}, {TYPE_MENU_WIDGET, "MxifMenuWidget"},
    {TYPE_MENU_VALUE, "MxifMenuValue"}, {TYPE_SELECT_MENU, "MxifSelectMenu"},
    {TYPE_SELECT_ERROR, "MxifSelectError"}, {TYPE_MESSAGE_BOX, "MxifMessageBox"},
    {TYPE_DELEGATION_EVENT, "MxifDelegationEvent"}, {TYPE_LOG_MESSAGE, "MxifLogMessage"},
};

constexpr bool inIndexOrder() {
  int i = 0;
  for (const TypeName& t : TYPE_NAMES) {
    if (t.type != i++) return false;
  }
  return i == N_TYPES;
}
static_assert(inIndexOrder(), "the name table lists every type index once, in order");

}  // namespace

const char* typeNameOf(int type) { return (0 <= type && type < N_TYPES) ? TYPE_NAMES[type].name : ""; }

TypeLabel::TypeLabel(int type) : text_(typeNameOf(type)) {
  if (*text_ != '\0') return;
  std::snprintf(number_, sizeof number_, "%d", type);
  text_ = number_;
}

}  // namespace category
