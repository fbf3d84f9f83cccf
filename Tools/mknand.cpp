// Writes a NAND flash image as the factory programs it: the sector table and every FPGA
// configuration image in both banks, their variants, and the length-prefixed boot data.
//
//   mknand FILE     (FILE is usually BOARD_DIR/nand.img; an existing file is replaced whole)
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "Platform/nand_device.h"
#include "Tools/lib/cli.h"

namespace {

const char ABOUT[] =
    "Writes FILE (usually BOARD_DIR/nand.img; an existing file is replaced whole) as the factory\n"
    "programs the flash: the sector table, every FPGA configuration image in both banks with their\n"
    "variants, and the boot data. A back end writes a board's missing nand.img itself. FILE is a new\n"
    "path or a regular file, whose permissions the new one keeps, or a symbolic link to one of them\n"
    "(through other links too), which is written; anything else is left as it is. -- ends the options.\n";

const char AFTER[] =
    "Exit status: 0 written; 1 FILE could not be written or is no file, or standard output could not be\n"
    "written (the reason is printed); 2 usage error (an option given twice, --version with other words\n"
    "among them); 130 or 143 (as a shell reports it) stopped by SIGINT or SIGTERM, FILE as it was (the\n"
    "FILE.partial left is written anew by the next run).\n";

const char* kindOf(mode_t mode) {
  return S_ISDIR(mode) ? "a directory" : S_ISFIFO(mode) ? "a FIFO" : S_ISCHR(mode) ? "a character device"
         : S_ISBLK(mode) ? "a block device" : S_ISSOCK(mode) ? "a socket" : "no regular file";
}

// The file that FILE names for writing: FILE when it is missing or a regular file; for a symbolic link,
// what its chain of links names at last, when that is missing (a new path) or a regular file. False
// with the reason for anything else.
bool flashFile(const std::string& file, std::string& path, std::string& error) {
  constexpr int MAX_LINKS = 40;  // as many as the system follows; more is taken for a loop
  std::string at = file, what;
  for (int links = 0; what.empty(); ++links) {
    struct stat st {};
    if (lstat(at.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return path = at, true;  // a new path, or a file
    char target[PATH_MAX];
    const ssize_t n = S_ISLNK(st.st_mode) && links < MAX_LINKS ? readlink(at.c_str(), target, sizeof target) : -1;
    if (n > 0 && n < static_cast<ssize_t>(sizeof target)) {
      // A relative target is taken from the link's own directory.
      const std::string named(target, static_cast<size_t>(n));
      at = named.starts_with("/") || at.rfind('/') == std::string::npos ? named : at.substr(0, at.rfind('/') + 1) + named;
    } else {
      what = !S_ISLNK(st.st_mode) ? std::string(links == 0 ? "" : "a symbolic link to ") + kindOf(st.st_mode)
             : links < MAX_LINKS  ? "a symbolic link that cannot be read"
                                  : "a loop of symbolic links";
    }
  }
  error = file + " is " + what + ", not a flash file: left as it is";
  return false;
}

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
  bool options = true;
  for (size_t i = 1; i < arguments.size(); ++i) {
    std::string error;
    if (options && arguments[i] == "--") {
      options = false;
    } else if (options && arguments[i].size() > 1 && arguments[i][0] == '-') {
      if (!cli::readOption(arguments, i, table, error)) usage(error);
    } else if (file.empty()) {
      file = arguments[i];
    } else {
      usage("one FILE only, not also " + arguments[i]);
    }
    const auto put = [](const std::string& text) { return cli::put(std::cout, text, std::cerr, "mknand") ? 0 : 1; };
    if (help) return put("usage: mknand " + cli::optionSynopsis(table, 13) + " FILE\n" + ABOUT + cli::optionHelp(table, 15) + AFTER);
  }
  if (version) {
    if (const std::string error = cli::versionAlone(arguments, 1); !error.empty()) usage(error);
    return cli::put(std::cout, cli::versionLine("mknand") + "\n", std::cerr, "mknand") ? 0 : 1;
  }
  if (file.empty()) usage("FILE is needed");
  std::string error, path;
  if (!flashFile(file, path, error) || !platform::nandWriteFactoryFile(path, error, true)) {
    std::fprintf(stderr, "mknand: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
