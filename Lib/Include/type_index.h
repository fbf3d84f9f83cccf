#pragma once
// The type indexes of the front-end link by name: every record, command, event and message type.
// Records, categories, the registry's tables and tests name their types from here;
// Main/framework/typenames.cpp checks its name table against this one.
namespace category {

constexpr int N_TYPES = 104;
// Indexes below this are record types; from it on command, event and message types.
constexpr int FIRST_COMMAND_TYPE = 65;

// Record types.
constexpr int TYPE_KEY = 0;
constexpr int TYPE_CHROMA_KEY = 1;
constexpr int TYPE_BKGD = 2;
constexpr int TYPE_IMAGE = 3;
constexpr int TYPE_BKGD_COLOR_CORRECT = 4;
constexpr int TYPE_DSK = 5;
constexpr int TYPE_CBGD = 6;
constexpr int TYPE_UP_STREAM_KEY = 7;
constexpr int TYPE_UP_STREAM_KEY_ASSIGN = 8;
constexpr int TYPE_BKGD_WIPE = 9;
constexpr int TYPE_CLIP_PLAY = 10;
constexpr int TYPE_CLIP_REC = 11;
constexpr int TYPE_CLIP_REGISTER = 12;
constexpr int TYPE_CLIP_STATUS = 13;
constexpr int TYPE_EVENT_MEMORY = 14;
constexpr int TYPE_EVENT_MEMORY_EDIT_POINT = 15;
constexpr int TYPE_EVENT_MEMORY_STATUS = 16;
constexpr int TYPE_EVENT_MEMORY_HISTORY = 17;
constexpr int TYPE_DATA_HEADER_N = 18;
constexpr int TYPE_KEY_PRESET = 19;
constexpr int TYPE_MACRO = 20;
constexpr int TYPE_SHOT_MEMORY = 21;
constexpr int TYPE_SHOT_MEMORY_STATUS = 22;
constexpr int TYPE_STILL_MEMORY = 23;
constexpr int TYPE_STILL_STATUS = 24;
constexpr int TYPE_CONTROL_PANEL_CONFIG = 25;
constexpr int TYPE_MAINFRAME_CONFIG = 26;
constexpr int TYPE_MAINTENANCE = 27;
constexpr int TYPE_PERIPHERAL = 28;
constexpr int TYPE_SYSTEM = 29;
constexpr int TYPE_SYSTEM_MENU_LOCK = 30;
constexpr int TYPE_GPI_IN_OUT = 31;
constexpr int TYPE_EXTENDED_DISPLAY = 32;
constexpr int TYPE_CUSTOM_INFO = 33;
constexpr int TYPE_BUTTON_INHIBIT = 34;
constexpr int TYPE_CONFIG_MENU_LOCK = 35;
constexpr int TYPE_OPERATE = 36;
constexpr int TYPE_SOURCE_LINK = 37;
constexpr int TYPE_XPT_ASSIGN = 38;
constexpr int TYPE_SOURCE_NAME = 39;
constexpr int TYPE_MULTI_VIEW = 40;
constexpr int TYPE_INPUT_DVI = 41;
constexpr int TYPE_INPUT_VIDEO = 42;
constexpr int TYPE_OUTPUT = 43;
constexpr int TYPE_PLUGIN = 44;
constexpr int TYPE_PLUGIN_STATUS = 45;
constexpr int TYPE_COLOR_CORRECT = 46;
constexpr int TYPE_BUS = 47;
constexpr int TYPE_BUS_STATUS = 48;
constexpr int TYPE_LED = 49;
constexpr int TYPE_ME_LED = 50;
constexpr int TYPE_RECENT_COLOR = 51;
constexpr int TYPE_BUS_TALLY = 52;
constexpr int TYPE_SOURCE_TALLY = 53;
constexpr int TYPE_DUAL_SOURCE_TALLY = 54;
constexpr int TYPE_INITIAL_STATUS = 55;
constexpr int TYPE_TRANSITION_STATUS = 56;
constexpr int TYPE_TEST = 57;
constexpr int TYPE_EVENT_MEMORY_ATTR = 58;
constexpr int TYPE_STORAGE = 59;
constexpr int TYPE_MACRO_STATUS = 60;
constexpr int TYPE_PLUGIN_STORAGE = 61;
constexpr int TYPE_GPI_IN_STATUS = 62;
constexpr int TYPE_SYSTEM_INFORMATION = 63;
constexpr int TYPE_POSITIONER_BLOCK = 64;

// Command, event and front-end message types.
constexpr int TYPE_EVENT_MEMORY_CMD = 65;
constexpr int TYPE_SHOT_MEMORY_CMD = 66;
constexpr int TYPE_STILL_MEMORY_CMD = 67;
constexpr int TYPE_CLIP_PLAY_CMD = 68;
constexpr int TYPE_CLIP_REC_CMD = 69;
constexpr int TYPE_MAINTENANCE_CMD = 70;
constexpr int TYPE_COLOR_CORRECT_CMD = 71;
constexpr int TYPE_BKGD_COLOR_CORRECT_CMD = 72;
constexpr int TYPE_SYSTEM_INITIAL_CMD = 73;
constexpr int TYPE_WAIT_CMD = 74;
constexpr int TYPE_KEY_CMD = 75;
constexpr int TYPE_SWITCHING_CMD = 76;
constexpr int TYPE_CHROMA_KEY_CMD = 77;
constexpr int TYPE_PLUGIN_CMD = 78;
constexpr int TYPE_STORAGE_CMD = 79;
constexpr int TYPE_THUMBNAIL_CMD = 80;
constexpr int TYPE_CLIP_REGISTER_CMD = 81;
constexpr int TYPE_MACRO_CMD = 82;
constexpr int TYPE_GPI_CMD = 83;
constexpr int TYPE_SOURCE_NAME_CMD = 84;
constexpr int TYPE_INITIAL_CMD = 85;
constexpr int TYPE_ACK_RECEIVE_CMD = 86;
constexpr int TYPE_LOAD_SETUP_CMD = 87;
constexpr int TYPE_TRANSITION_CMD = 88;
constexpr int TYPE_XPT_ASSIGN_CMD = 89;
constexpr int TYPE_PLUGIN_ACTION_CMD = 90;
constexpr int TYPE_BKGD_CMD = 91;
constexpr int TYPE_SELECT_EVENT = 92;
constexpr int TYPE_DEFAULT_SETTING_EVENT = 93;
constexpr int TYPE_BUTTON_EVENT = 94;
constexpr int TYPE_FADER_EVENT = 95;
constexpr int TYPE_MENU = 96;
constexpr int TYPE_MENU_WIDGET = 97;
constexpr int TYPE_MENU_VALUE = 98;
constexpr int TYPE_SELECT_MENU = 99;
constexpr int TYPE_SELECT_ERROR = 100;
constexpr int TYPE_MESSAGE_BOX = 101;
constexpr int TYPE_DELEGATION_EVENT = 102;
constexpr int TYPE_LOG_MESSAGE = 103;

}  // namespace category
