#pragma once
// Attaches every board model (interrupts, watchdog, DMA engine, semaphores, memory ports, I2C and
// board devices, NAND flash, configuration ports, DDR3, serdes, clip status words) to the simulated
// board, as the host programs need a whole board.
namespace platform {
void attachBoardModels();
}
