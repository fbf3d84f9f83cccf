// Writes a NAND flash image as the factory programs it: the sector table and every FPGA
// configuration image in both banks, their variants, and the length-prefixed boot data.
//
//   mknand FILE     (FILE is usually BOARD_DIR/nand.img; an existing file is replaced whole)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/nand_device.h"
#include "Tools/lib/cli.h"

namespace {

const char ABOUT[] =
    "Writes FILE (usually BOARD_DIR/nand.img; an existing file is replaced whole) as the factory\n"
    "programs the flash: the sector table, every FPGA configuration image in both banks with their\n"
    "variants, and the boot data. A back end writes a board's missing nand.img itself.\n";

const char AFTER[] = "Exit status: 0 written; 1 FILE could not be written (the reason is printed); 2 usage error.\n";

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "mknand: %s\nusage: mknand FILE (mknand --help lists the options)\n", problem.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  bool help = false, version = false;
  const auto set = [](bool& flag) {
    return [&flag](const std::string&, std::string&) { return flag = true; };
  };
  const cli::Options table = {
      {"--help", nullptr, "this text", set(help), "-h"},
      {"--version", nullptr, "the version of the system and of its backup image", set(version)},
  };
  std::string file;
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string error;
    if (arguments[i].size() > 1 && arguments[i][0] == '-') {
      if (!cli::readOption(arguments, i, table, error)) usage(error);
    } else if (file.empty()) {
      file = arguments[i];
    } else {
      usage("one FILE only, not also " + arguments[i]);
    }
    if (help) {
      std::printf("usage: mknand %s FILE\n%s%s%s", cli::optionSynopsis(table, 13).c_str(), ABOUT,
                  cli::optionHelp(table, 15).c_str(), AFTER);
      return 0;
    }
    if (version) {
      std::puts(cli::versionLine("mknand").c_str());
      return 0;
    }
  }
  if (file.empty()) usage("FILE is needed");
  std::string error;
  if (!platform::nandWriteFactoryFile(file, error)) {
    std::fprintf(stderr, "mknand: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
