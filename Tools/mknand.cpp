// Writes a NAND flash image as the factory programs it: the sector table and every FPGA
// configuration image in both banks, their variants, and the length-prefixed boot data.
//
//   mknand FILE     (FILE is usually BOARD_DIR/nand.img; an existing file is overwritten)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "Platform/nand_device.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int fd = open(argv[1], O_RDWR | O_CREAT, 0644);
  if (fd < 0 || ftruncate(fd, 0) != 0 || ftruncate(fd, platform::NAND_BYTES) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  void* p = mmap(nullptr, platform::NAND_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    std::perror("mmap");
    return 1;
  }
  platform::nandProgramFactory(static_cast<u8*>(p));
  munmap(p, platform::NAND_BYTES);
  return 0;
}
