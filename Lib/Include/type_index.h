#pragma once
// The type indexes of the front-end link: every record, command, event and message type.
// Records, categories, the registry's tables and tests name their types from here.
namespace category {

constexpr int N_TYPES = 104;
// The mix/effect banks.
constexpr int N_ME = 4;
// Indexes below this are record types; from it on command, event and message types.
constexpr int FIRST_COMMAND_TYPE = 65;

// Every type in index order: its index, its constant and its name, which is also the name of its
// record's structure where the type has one. The constants below, the name table
// (Lib/type_names.cpp) and the front end's record table (Tools/lib/records/types.cpp)
// are made from this list; the check below holds every entry to its place.
#define MX_LINK_TYPES(X)                                        \
  X(0, TYPE_KEY, MxifKey)                                       \
  X(1, TYPE_CHROMA_KEY, MxifChromaKey)                          \
  X(2, TYPE_BKGD, MxifBkgd)                                     \
  X(3, TYPE_IMAGE, MxifImage)                                   \
  X(4, TYPE_BKGD_COLOR_CORRECT, MxifBkgdColorCorrect)           \
  X(5, TYPE_DSK, MxifDsk)                                       \
  X(6, TYPE_CBGD, MxifCbgd)                                     \
  X(7, TYPE_UP_STREAM_KEY, MxifUpStreamKey)                     \
  X(8, TYPE_UP_STREAM_KEY_ASSIGN, MxifUpStreamKeyAssign)        \
  X(9, TYPE_BKGD_WIPE, MxifBkgdWipe)                            \
  X(10, TYPE_CLIP_PLAY, MxifClipPlay)                           \
  X(11, TYPE_CLIP_REC, MxifClipRec)                             \
  X(12, TYPE_CLIP_REGISTER, MxifClipRegister)                   \
  X(13, TYPE_CLIP_STATUS, MxifClipStatus)                       \
  X(14, TYPE_EVENT_MEMORY, MxifEventMemory)                     \
  X(15, TYPE_EVENT_MEMORY_EDIT_POINT, MxifEventMemoryEditPoint) \
  X(16, TYPE_EVENT_MEMORY_STATUS, MxifEventMemoryStatus)        \
  X(17, TYPE_EVENT_MEMORY_HISTORY, MxifEventMemoryHistory)      \
  X(18, TYPE_DATA_HEADER_N, MxifDataHeaderN)                    \
  X(19, TYPE_KEY_PRESET, MxifKeyPreset)                         \
  X(20, TYPE_MACRO, MxifMacro)                                  \
  X(21, TYPE_SHOT_MEMORY, MxifShotMemory)                       \
  X(22, TYPE_SHOT_MEMORY_STATUS, MxifShotMemoryStatus)          \
  X(23, TYPE_STILL_MEMORY, MxifStillMemory)                     \
  X(24, TYPE_STILL_STATUS, MxifStillStatus)                     \
  X(25, TYPE_CONTROL_PANEL_CONFIG, MxifControlPanelConfig)      \
  X(26, TYPE_MAINFRAME_CONFIG, MxifMainframeConfig)             \
  X(27, TYPE_MAINTENANCE, MxifMaintenance)                      \
  X(28, TYPE_PERIPHERAL, MxifPeripheral)                        \
  X(29, TYPE_SYSTEM, MxifSystem)                                \
  X(30, TYPE_SYSTEM_MENU_LOCK, MxifSystemMenuLock)              \
  X(31, TYPE_GPI_IN_OUT, MxifGpiInOut)                          \
  X(32, TYPE_EXTENDED_DISPLAY, MxifExtendedDisplay)             \
  X(33, TYPE_CUSTOM_INFO, MxifCustomInfo)                       \
  X(34, TYPE_BUTTON_INHIBIT, MxifButtonInhibit)                 \
  X(35, TYPE_CONFIG_MENU_LOCK, MxifConfigMenuLock)              \
  X(36, TYPE_OPERATE, MxifOperate)                              \
  X(37, TYPE_SOURCE_LINK, MxifSourceLink)                       \
  X(38, TYPE_XPT_ASSIGN, MxifXptAssign)                         \
  X(39, TYPE_SOURCE_NAME, MxifSourceName)                       \
  X(40, TYPE_MULTI_VIEW, MxifMultiView)                         \
  X(41, TYPE_INPUT_DVI, MxifInputDvi)                           \
  X(42, TYPE_INPUT_VIDEO, MxifInputVideo)                       \
  X(43, TYPE_OUTPUT, MxifOutput)                                \
  X(44, TYPE_PLUGIN, MxifPlugin)                                \
  X(45, TYPE_PLUGIN_STATUS, MxifPluginStatus)                   \
  X(46, TYPE_COLOR_CORRECT, MxifColorCorrect)                   \
  X(47, TYPE_BUS, MxifBus)                                      \
  X(48, TYPE_BUS_STATUS, MxifBusStatus)                         \
  X(49, TYPE_LED, MxifLed)                                      \
  X(50, TYPE_ME_LED, MxifMeLed)                                 \
  X(51, TYPE_RECENT_COLOR, MxifRecentColor)                     \
  X(52, TYPE_BUS_TALLY, MxifBusTally)                           \
  X(53, TYPE_SOURCE_TALLY, MxifSourceTally)                     \
  X(54, TYPE_DUAL_SOURCE_TALLY, MxifDualSourceTally)            \
  X(55, TYPE_INITIAL_STATUS, MxifInitialStatus)                 \
  X(56, TYPE_TRANSITION_STATUS, MxifTransitionStatus)           \
  X(57, TYPE_TEST, MxifTest)                                    \
  X(58, TYPE_EVENT_MEMORY_ATTR, MxifEventMemoryAttr)            \
  X(59, TYPE_STORAGE, MxifStorage)                              \
  X(60, TYPE_MACRO_STATUS, MxifMacroStatus)                     \
  X(61, TYPE_PLUGIN_STORAGE, MxifPluginStorage)                 \
  X(62, TYPE_GPI_IN_STATUS, MxifGpiInStatus)                    \
  X(63, TYPE_SYSTEM_INFORMATION, MxifSystemInfomation)          \
  X(64, TYPE_POSITIONER_BLOCK, MxifPositionerBlock)             \
  X(65, TYPE_EVENT_MEMORY_CMD, MxifEventMemoryCmd)              \
  X(66, TYPE_SHOT_MEMORY_CMD, MxifShotMemoryCmd)                \
  X(67, TYPE_STILL_MEMORY_CMD, MxifStillMemoryCmd)              \
  X(68, TYPE_CLIP_PLAY_CMD, MxifClipPlayCmd)                    \
  X(69, TYPE_CLIP_REC_CMD, MxifClipRecCmd)                      \
  X(70, TYPE_MAINTENANCE_CMD, MxifMaintenanceCmd)               \
  X(71, TYPE_COLOR_CORRECT_CMD, MxifColorCorrectCmd)            \
  X(72, TYPE_BKGD_COLOR_CORRECT_CMD, MxifBkgdColorCorrectCmd)   \
  X(73, TYPE_SYSTEM_INITIAL_CMD, SystemInitialCmd)              \
  X(74, TYPE_WAIT_CMD, waitCmd)                                 \
  X(75, TYPE_KEY_CMD, MxifKeyCmd)                               \
  X(76, TYPE_SWITCHING_CMD, MxifSwitchingCmd)                   \
  X(77, TYPE_CHROMA_KEY_CMD, MxifChromaKeyCmd)                  \
  X(78, TYPE_PLUGIN_CMD, MxifPluginCmd)                         \
  X(79, TYPE_STORAGE_CMD, MxifStorageCmd)                       \
  X(80, TYPE_THUMBNAIL_CMD, MxifThumbnailCmd)                   \
  X(81, TYPE_CLIP_REGISTER_CMD, MxifClipRegisterCmd)            \
  X(82, TYPE_MACRO_CMD, MxifMacroCmd)                           \
  X(83, TYPE_GPI_CMD, MxifGpiCmd)                               \
  X(84, TYPE_SOURCE_NAME_CMD, MxifSourceNameCmd)                \
  X(85, TYPE_INITIAL_CMD, initialCmd)                           \
  X(86, TYPE_ACK_RECEIVE_CMD, ackReceiveCmd)                    \
  X(87, TYPE_LOAD_SETUP_CMD, loadSetupCmd)                      \
  X(88, TYPE_TRANSITION_CMD, MxifTransitionCmd)                 \
  X(89, TYPE_XPT_ASSIGN_CMD, MxifXptAssignCmd)                  \
  X(90, TYPE_PLUGIN_ACTION_CMD, MxifPluginActionCmd)            \
  X(91, TYPE_BKGD_CMD, MxifBkgdCmd)                             \
  X(92, TYPE_SELECT_EVENT, MxifSelectEvent)                     \
  X(93, TYPE_DEFAULT_SETTING_EVENT, MxifDefaultSettingEvent)    \
  X(94, TYPE_BUTTON_EVENT, MxifButtonEvent)                     \
  X(95, TYPE_FADER_EVENT, MxifFaderEvent)                       \
  X(96, TYPE_MENU, MxifMenu)                                    \
  X(97, TYPE_MENU_WIDGET, MxifMenuWidget)                       \
  X(98, TYPE_MENU_VALUE, MxifMenuValue)                         \
  X(99, TYPE_SELECT_MENU, MxifSelectMenu)                       \
  X(100, TYPE_SELECT_ERROR, MxifSelectError)                    \
  X(101, TYPE_MESSAGE_BOX, MxifMessageBox)                      \
  X(102, TYPE_DELEGATION_EVENT, MxifDelegationEvent)            \
  X(103, TYPE_LOG_MESSAGE, MxifLogMessage)

#define MX_TYPE_CONSTANT(index, constant, name) constexpr int constant = index;
MX_LINK_TYPES(MX_TYPE_CONSTANT)
#undef MX_TYPE_CONSTANT

namespace type_list {
#define MX_TYPE_INDEX(index, constant, name) index,
constexpr int INDEXES[] = {MX_LINK_TYPES(MX_TYPE_INDEX)};
#undef MX_TYPE_INDEX
constexpr bool inIndexOrder() {
  int i = 0;
  for (int index : INDEXES) {
    if (index != i++) return false;
  }
  return i == N_TYPES;
}
static_assert(inIndexOrder(), "the list holds every type index once, in order");
static_assert(FIRST_COMMAND_TYPE == TYPE_EVENT_MEMORY_CMD, "the commands follow the records");
}  // namespace type_list

}  // namespace category
