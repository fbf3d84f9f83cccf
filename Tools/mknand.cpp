// Writes a NAND flash image as the factory programs it: the sector table and every FPGA
// configuration image in both banks, their variants, and the length-prefixed boot data.
//
//   mknand FILE     (FILE is usually BOARD_DIR/nand.img; an existing file is replaced whole)
#include <cstdio>
#include <string>

#include "Platform/nand_device.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  std::string error;
  if (!platform::nandWriteFactoryFile(argv[1], error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
