#pragma once
// The records exchanged with the front end, one header per area under records/.
#include "types.h"

#include "records/system.h"
#include "records/bkgd.h"
#include "records/bus.h"
#include "records/xpt.h"
#include "records/button.h"
#include "records/io.h"
#include "records/memory.h"
#include "records/clip.h"
