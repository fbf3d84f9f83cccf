// A board whose nvram.mem was damaged from outside: the back end takes what it can of it, says
// what it found at WARN, and keeps an image it cannot read before writing a new one.
#include <sstream>
#include <tuple>

#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;

// The console lines of a run that speak of the image or of nvram.mem.
std::string imageLines(const std::string& out) {
  std::istringstream in(out);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.find("backup data") != std::string::npos || line.find("nvram.mem") != std::string::npos) lines += line + "\n";
  }
  return lines;
}

// Two settings saved, one near the start of the image and one far behind 30000 bytes; then each
// damage on a board of its own. A grown file brings both back, a cut one the first; an image that
// cannot be read is kept as it was found, with one WARN line; a window with nothing stored (a new
// board, or a first start cut short before its first copy) is no loss.
TEST_F(EndToEnd, ADamagedBackupImageIsTakenAsFarAsItGoesOrKeptAside) {
  boot();
  for (const char* request : {"send MxifCbgd channel=0 size=500", "send MxifSourceLink linkMode=1"}) {
    ASSERT_EQ(frontend(request).status, 0) << request;
  }
  ASSERT_TRUE(poll([&] { return frontend("show MxifSourceLink").out.find(" linkMode=1") != std::string::npos; }));
  stopBackend();
  const std::string saved = fileText(board_ + "/nvram.mem");
  ASSERT_EQ(saved.size(), 0x20000u);
  std::string random(saved.size(), '\0');
  for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string magic = saved, version = saved;
  magic[0] ^= 0x40, version[4] = static_cast<char>(145);

  const std::string grown = saved + std::string(4096, 'x'), cut = saved.substr(0, 30000);
  const std::string grownLines =
      "[WARN] nvram.mem holds 135168 bytes, not 131072: its first 131072 taken, the rest left in the file as it is\n"
      "[INFO] backup data resume\n";
  const std::string cutLines =
      "[WARN] nvram.mem holds 30000 bytes, not 131072: taken as far as it goes, the rest of the window holds "
      "nothing stored\n[INFO] backup data resume\n[WARN] backup data holds 30000 of ";
  const std::string unreadable = "[WARN] backup data unreadable (magic 0x0876";
  const std::string kept = ": settings start from defaults; the image is kept as nvram.mem.unreadable\n";
  const struct {
    const char* name;
    std::string file;  // nvram.mem before the start; "-" none
    bool powerOn;
    std::string lines;
    bool size, linkMode, kept;  // the settings that come back; a copy kept aside
  } rows[] = {
      {"grown", grown, false, grownLines, true, true, false},
      {"grown, power-on", grown, true, grownLines, true, true, false},
      {"cut", cut, false, cutLines, true, false, false},
      {"cut, power-on", cut, true, cutLines, true, false, false},
      {"magic", magic, false, unreadable + "5461, version 146)" + kept, false, false, true},
      {"version", version, false, unreadable + "5421, version 145)" + kept, false, false, true},
      {"random", random, false, "", false, false, true},
      {"all zero", std::string(saved.size(), '\0'), false, "[INFO] no backup data\n", false, false, false},
      {"new board", "-", false, "[INFO] no backup data\n", false, false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string board = dir_ + "/" + row.name;
    fs::create_directory(board);
    if (row.file != "-") std::ofstream(board + "/nvram.mem", std::ios::binary) << row.file;
    const Outcome r = run(std::string(MX_BACKEND_PATH) + " --board '" + board + "' --fast --frames 30" +
                          (row.powerOn ? " --power-on" : ""));
    const std::string lines = imageLines(r.out);
    const std::string show = std::string(MX_FRONTEND_PATH) + " --board '" + board + "' show ";
    const bool size = run(show + "MxifCbgd channel=0").out.find(" size=500 ") != std::string::npos;
    const bool linkMode = run(show + "MxifSourceLink").out.find(" linkMode=1") != std::string::npos;
    const bool kept = fs::exists(board + "/nvram.mem.unreadable");
    EXPECT_EQ(std::tuple(r.status, lines.compare(0, row.lines.size(), row.lines), size, linkMode, kept),
              std::tuple(0, 0, row.size, row.linkMode, row.kept))
        << lines;
    EXPECT_EQ(count(lines, "[WARN] backup data unreadable"), row.kept ? 1 : 0) << lines;
    EXPECT_TRUE(!row.kept || fileText(board + "/nvram.mem.unreadable") == row.file);
    if (row.file.size() > saved.size()) {  // never cut: a grown file keeps its tail
      EXPECT_TRUE(fileText(board + "/nvram.mem").substr(saved.size()) == std::string(4096, 'x'));
    }
  }
}

}  // namespace
