#pragma once
// The board models that a cold power-on reaches: the NAND flash port, the FPGA configuration
// ports, the DDR3 controllers and the serdes delay lines. Host only.
#include "Platform/board.h"

namespace platform {

// Attaches all of them (after boardOpen); the NAND flash is the board directory's nand.img. Its
// reads go through the DMA engine (dma_engine.h), which the caller attaches.
void bringUpAttach();
void bringUpDetach();
// A healthy board again: factory NAND contents, no faults, every model in its power-on state.
void bringUpReset();

// The glue FPGA's first register page: NAND port (0x40000200) and glue configuration port
// (0x40000100) behind one attachment.
struct GluePortDevice : RegisterDevice {
  bool read(u32 adr, u32& value) override;
  void write(u32 adr, u32 value) override;
};

// Configuration ports (config_port.cpp), DDR3 controllers (ddr3_model.cpp), serdes links
// (serdes_model.cpp).
void configPortAttach();
void configPortDetach();
void ddr3Attach();
void ddr3Detach();
void serdesAttach();
void serdesDetach();
// Configuration port accesses, by register address.
bool configPortRead(u32 adr, u32& value);
void configPortWrite(u32 adr, u32 value);

}  // namespace platform
