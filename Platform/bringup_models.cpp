// Attaches the models of the cold power-on path.
#include "Platform/bringup_models.h"

#include "Platform/config_port.h"
#include "Platform/ddr3_model.h"
#include "Platform/nand_device.h"
#include "Platform/serdes_model.h"

namespace platform {

void bringUpAttach() {
  nandAttach();
  configPortAttach();
  ddr3Attach();
  serdesAttach();
}

void bringUpReset() {
  nandReset(true);
  configPortReset();
  ddr3Reset();
  serdesReset();
}

void bringUpDetach() {
  serdesDetach();
  ddr3Detach();
  configPortDetach();
  nandDetach();
}

}  // namespace platform
