// Attaches the models of the cold power-on path.
#include "bringup_models.h"

#include "config_port.h"
#include "ddr3_model.h"
#include "nand_device.h"
#include "serdes_model.h"

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
