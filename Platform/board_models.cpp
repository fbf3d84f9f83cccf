#include "board_models.h"

#include "bringup_models.h"
#include "dma_engine.h"
#include "hw_semaphore.h"
#include "i2c_devices.h"
#include "vsync.h"
#include "watchdog.h"

namespace platform {

void attachBoardModels() {
  vsyncAttach();
  watchdogAttach();
  dmaEngine();
  hardwareSemaphores();
  memoryPorts();
  installBoardDevices();
  bringUpAttach();
}

}  // namespace platform
