#include "Platform/board_models.h"

#include "Platform/bringup_models.h"
#include "Platform/clip_model.h"
#include "Platform/dma_engine.h"
#include "Platform/genlock_model.h"
#include "Platform/hw_semaphore.h"
#include "Platform/i2c_devices.h"
#include "Platform/osd_engine.h"
#include "Platform/vsync.h"
#include "Platform/watchdog.h"

namespace platform {

void attachBoardModels() {
  vsyncAttach();
  watchdogAttach();
  dmaEngine();
  hardwareSemaphores();
  memoryPorts();
  installBoardDevices();
  bringUpAttach();
  clipModelAttach();
  osdEngine();
  genlockReference();
}

}  // namespace platform
