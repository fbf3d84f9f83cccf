#pragma once
// The records exchanged with the front end, one header per area under records/.
#include "types.h"

#if __has_include("records/system.h")
#include "records/system.h"
#endif
#if __has_include("records/bkgd.h")
#include "records/bkgd.h"
#endif
#if __has_include("records/bus.h")
#include "records/bus.h"
#endif
#if __has_include("records/xpt.h")
#include "records/xpt.h"
#endif
#if __has_include("records/button.h")
#include "records/button.h"
#endif
#if __has_include("records/io.h")
#include "records/io.h"
#endif
#if __has_include("records/memory.h")
#include "records/memory.h"
#endif
#if __has_include("records/clip.h")
#include "records/clip.h"
#endif
