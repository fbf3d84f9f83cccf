#pragma once
// Type indexes of the front-end link and their names.
#include "Lib/Include/type_index.h"

namespace category {

constexpr int N_ME = 4;

// The name of a type index as error lines print it; "" for an index outside 0..103.
const char* typeNameOf(int type);

}  // namespace category
