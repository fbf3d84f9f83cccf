// The start of a board from outside: a first start interrupted at any moment leaves a board that
// the next start runs; SIGINT and SIGTERM stop a start cleanly from its first steps on; watchdog
// restarts count against --frames, and a board that no longer starts ends with the cause.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "Platform/board.h"
#include "Platform/nand_device.h"
#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class StartUp : public EndToEnd {
 protected:
  // Waits for the back end that launch started to end (killing it after the time bound, that of a
  // whole run: its --frames or a signal ends it): its exit status, or -1 when a signal ended it.
  int ended() {
    int status = 0;
    if (!poll([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 6 * WAIT_SECONDS)) kill(pid_, SIGKILL), waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The flash files of board_: nand.img and what is left or kept beside it.
  std::vector<std::string> flashFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(board_)) {
      if (e.path().filename().string().starts_with("nand.img")) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Writes a word of board_'s on-chip memory file (created zeroed when missing) at its target address.
  void putOnChip(u32 adr, u32 value) const {
    const std::string path = board_ + "/ocm.mem";
    if (!fs::exists(path)) std::ofstream(path) << std::string(platform::OCM_SIZE, '\0');
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(adr - ON_CHIP_BASE).write(
        reinterpret_cast<const char*>(&value), 4);
  }

  bool handlersIn() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("SigCgt:")) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
    }
    return false;
  }
};

// A first start on a new board, started as a script's `&` starts it (SIGINT ignored), is stopped at
// a moment of its start: as soon as its signal handlers are in (before it opens the board), once it
// holds the board (the lock file; its flash is then written) or some milliseconds later, or once
// its flash file has appeared. SIGKILL, a power cut, leaves no flash or a whole one; SIGINT and
// SIGTERM let the flash be finished and end the run with status 0, "stopped by signal", and no
// backend.pid. Every board then starts and runs frames.
TEST_F(StartUp, AnInterruptedFirstStartLeavesABoardThatStarts) {
  enum class Moment { HandlersIn, HoldsBoard, FlashAppears };
  struct Row { int signal; Moment moment; int laterMs; };
  const Row rows[] = {{SIGKILL, Moment::FlashAppears, 0}, {SIGKILL, Moment::HoldsBoard, 5},
                      {SIGINT, Moment::HandlersIn, 0},    {SIGTERM, Moment::HoldsBoard, 0},
                      {SIGTERM, Moment::FlashAppears, 0}};
  for (const Row& row : rows) {
    const char* const moments[] = {"as its handlers are in", "once it holds the board", "once its flash file appears"};
    const std::string name = std::string(strsignal(row.signal)) + " " + moments[static_cast<int>(row.moment)] + " +" +
                             std::to_string(row.laterMs) + " ms";
    board_ = dir_ + "/board" + std::to_string(&row - rows);
    fs::create_directory(board_), fs::remove(dir_ + "/backend.log");
    const auto interrupt = signal(SIGINT, SIG_IGN);
    launch({});
    signal(SIGINT, interrupt);
    EXPECT_TRUE(poll([&] {
      if (row.moment == Moment::HandlersIn) return handlersIn();
      if (row.moment == Moment::HoldsBoard) return cli::backendOn(board_) != cli::Backend::None;
      return !flashFiles().empty();
    })) << name;
    std::this_thread::sleep_for(std::chrono::milliseconds(row.laterMs));
    kill(pid_, row.signal);
    const int status = ended();
    if (row.signal != SIGKILL) {
      const std::string log = fileText(dir_ + "/backend.log");
      EXPECT_EQ(std::tuple(status, count(log, "stopped by signal"), fs::exists(board_ + "/backend.pid")), std::tuple(0, 1, false))
          << name << "\n" << log;
    }
    const Outcome next = run(std::string(MX_BACKEND_PATH) + " --board " + board_ + " --fast --frames 1 --quiet");
    EXPECT_EQ(std::tuple(next.status, flashFiles()), std::tuple(0, std::vector<std::string>{"nand.img"}))
        << name << "\n" << next.out << next.err;
  }
}

// A new board on a small file system. The start gives the shared window's pages back instead of
// storing zeroes over them, so a board takes about 2.5 MB of disk; where there is less, the start
// ends with status 1 naming the file without room (never a bus error): the small files are
// allocated whole, and a page of the flash that cannot be stored is caught as it faults. Once there
// is room, the board starts. A file that may not grow as far (RLIMIT_FSIZE) is named too.
TEST_F(StartUp, ANewBoardOnASmallDiskRunsOrNamesTheFileWithoutRoom) {
  const std::string disk = dir_ + "/disk", board = disk + "/board";
  fs::create_directory(disk);
  const std::string start = std::string(MX_BACKEND_PATH) + " --board " + board + " --fast --frames 20 --quiet 2>&1; echo status $?";
  const std::string inTmpfs = "unshare --mount sh -c 'mount -t tmpfs -o size=";
  const std::string grow = " tmpfs " + disk + " && " + start + " && mount -o remount,size=20m " + disk + " && " + start + "'";
  struct Row { std::string command, says; int fails; };  // fails: starts that end with status 1 (the rest 0)
  const Row rows[] = {
      {inTmpfs + "20m" + grow, "", 0},
      {inTmpfs + "1500k" + grow, "board: no room on the file system of " + board + "/nand.img.partial for its page", 1},
      {inTmpfs + "1m" + grow, "board: no room for " + board + "/link.mem (1048576 bytes): No space left on device", 1},
      {"ulimit -f 20000; " + start, "board: cannot make " + board + "/shared.mem 134217728 bytes long: File too large", 1},
  };
  const bool mountable = run("unshare --mount true").status == 0;
  for (const Row& row : rows) {
    if (!mountable && row.command.starts_with("unshare")) continue;
    fs::remove_all(board);
    const Outcome r = run(row.command);
    const int starts = row.command.starts_with("unshare") ? 2 : 1;
    EXPECT_EQ(std::tuple(count(r.out, "status 0\n"), count(r.out, "status 1\n"), r.out.find(row.says) != std::string::npos),
              std::tuple(starts - row.fails, row.fails, true))
        << row.command << "\n" << r.out << r.err;
  }
}

// Watchdog restarts count against --frames. A start-up that never reaches a frame (a flash that is
// programmed but empty: no sector table, no FPGA images) is restarted by the watchdog that the
// power-on sequence armed, after its 10 s (600 frame periods); --frames 700 ends the run after the
// second restart with status 3, the restarts and the cause: the first error of the last start-up.
// A board whose boot mode keeps the watchdog armed restarts after frames have run: the frames of
// both runs count (the statistics line every 120 frames shows how many ran). When its flash is
// emptied and its warm start forgotten while it runs, the restarts that follow fail: status 3
// still, though frames ran before. The reason names nand.img and how to recover: moved aside, the
// next start programs the flash anew and runs.
TEST_F(StartUp, WatchdogRestartsCountAgainstTheFrameLimit) {
  const std::string cause = "; first console error of the last start-up: [ERR] NAND Flash: Invalid sector table";
  const std::string ranOut = "backend: --frames 700 ran out after 2 restarts by the watchdog: ";
  // reason: with the frames that ran before as N.
  struct Row { bool emptyFlash, keepWatchdog, emptiedWhileRunning; int status, restarts, statistics; std::string reason; };
  const Row rows[] = {{true, false, false, 3, 2, 0, ranOut + "no frame ran" + cause},
                      {false, true, false, 0, 1, 5, ""},
                      {false, true, true, 3, 2, 5, ranOut + "its last start-up reached no frame (N ran before)" + cause}};
  for (const Row& row : rows) {
    board_ = dir_ + "/board" + std::to_string(&row - rows);
    fs::create_directory(board_), fs::remove(dir_ + "/backend.log");
    const std::string nand = board_ + "/nand.img";
    if (row.emptyFlash) std::ofstream{nand}, fs::resize_file(nand, platform::NAND_BYTES);
    if (row.keepWatchdog) putOnChip(OCM_BOOT_MODE, BOOT_MODE_KEEP_WATCHDOG), putOnChip(OCM_STAT_TIMING, 1);
    launch({"--frames", "700"});
    if (row.emptiedWhileRunning) {
      EXPECT_TRUE(poll([&] { return cli::backendOn(board_) == cli::Backend::Running; }));
      std::fstream(nand, std::ios::in | std::ios::out | std::ios::binary).write(std::string(platform::NAND_PAGE, '\0').data(),
                                                                              platform::NAND_PAGE);
      putOnChip(OCM_WARM_START, 0);
    }
    const int status = ended();
    const std::string log = fileText(dir_ + "/backend.log");
    std::string reason = log.substr(std::min(log.find("backend: --frames"), log.size()));
    const size_t ran = reason.find(" ran before)");
    if (ran != std::string::npos) reason.replace(reason.rfind('(', ran) + 1, ran - reason.rfind('(', ran) - 1, "N");
    const std::string recovery = "; the flash " + nand + " cannot start the board: removed or moved aside, it is programmed "
                                 "anew at the next start (the settings in nvram.mem stay)\n";
    EXPECT_EQ(std::tuple(status, count(log, "board: restart"), count(log, "executes time "), reason),
              std::tuple(row.status, row.restarts, row.statistics, row.reason.empty() ? "" : row.reason + recovery))
        << log;
    EXPECT_FALSE(fs::exists(board_ + "/backend.pid"));
    if (row.status != 3) continue;  // as the message says: the flash moved aside, the board starts
    fs::rename(nand, nand + ".broken"), launch({"--frames", "1"});
    EXPECT_EQ(ended(), 0);
  }
}

}  // namespace
}  // namespace e2e
