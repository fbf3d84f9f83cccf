#pragma once
// Type indexes of the front-end link and their names.
namespace category {

constexpr int N_ME = 4;
constexpr int N_TYPES = 104;
// Indexes below this are record types; from it on command, event and message types.
constexpr int FIRST_COMMAND_TYPE = 65;

constexpr int TYPE_EVENT_MEMORY = 14;
constexpr int TYPE_DUAL_SOURCE_TALLY = 54;
constexpr int TYPE_WAIT = 74;
constexpr int TYPE_SWITCHING_CMD = 76;
constexpr int TYPE_BUTTON_EVENT = 94;

// The name of a type index as error lines print it; "" for an index outside 0..103.
const char* typeNameOf(int type);

}  // namespace category
