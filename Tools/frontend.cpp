// The front-end peer on a board directory of a running back end (frontend --help).
#include <iostream>
#include <string>
#include <vector>

#include "Tools/lib/link/link.h"

int main(int argc, char** argv) {
  return frontend::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
