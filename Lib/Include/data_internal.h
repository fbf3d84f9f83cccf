#pragma once
// The records exchanged with the front end, one header per area under records/.
#include "Lib/Include/types.h"

#include "Lib/Include/records/system.h"
#include "Lib/Include/records/bkgd.h"
#include "Lib/Include/records/cbgd.h"
#include "Lib/Include/records/bus.h"
#include "Lib/Include/records/xpt.h"
#include "Lib/Include/records/button.h"
#include "Lib/Include/records/io.h"
#include "Lib/Include/records/memory.h"
#include "Lib/Include/records/clip.h"
#include "Lib/Include/records/key.h"
#include "Lib/Include/records/panel.h"
#include "Lib/Include/records/operate.h"
#include "Lib/Include/records/periphery.h"
#include "Lib/Include/records/plugin.h"
#include "Lib/Include/records/testpattern.h"
