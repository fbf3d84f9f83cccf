#pragma once
// Test ground: an anonymous simulated board opened once per test program, reset for every test,
// and readers for the console ring.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/board.h"

namespace testing_support {

// Thrown by the board when the code under test touches an unmapped address.
struct BoardFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Everything the console ring holds from index 0 to the write index (no wrap).
std::string consoleText();
// Empties the console ring.
void consoleClear();
// Number of complete lines in consoleText() that contain text.
int consoleCount(const std::string& text);
// The values written to a register among the writes the trace still holds, oldest first.
std::vector<u32> writesTo(u32 adr);

// A board directory of the test's own, made empty (the name tells tests apart); the test program's
// board is opened again and the directory removed when it goes.
struct BoardDirectory {
  explicit BoardDirectory(const std::string& name)
      : dir(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir), std::filesystem::create_directories(dir);
    options.dir = dir.string();
  }
  ~BoardDirectory() { platform::boardOpen(saved), std::filesystem::remove_all(dir); }
  const std::filesystem::path dir;
  const platform::BoardOptions saved = platform::boardOptions();
  platform::BoardOptions options;
};

// Resets every driver block, clears registers, trace, volatile memory and the console and gives the
// board device models a healthy board before each test; empties the category registry after it.
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace testing_support
