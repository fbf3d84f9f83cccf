#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Common/storage.h"
#include "Main/framework/bp.h"
#include "tests/support/board_fixture.h"
#include "Platform/dma_engine.h"
#include "tests/support/frontend_peer.h"
#include "Platform/platform.h"
#include "Lib/Include/storage.h"
#include "tests/Main/test_categories.h"

using category::CategoryRegistry;
using test_categories::calls;
using testing_support::consoleCount;

namespace {

using namespace category;  // type indexes

using PerMe = test_categories::Rec<TYPE_BKGD, true>;       // 16 bytes per instance, four instances
using Single = test_categories::Rec<TYPE_CBGD, false, 2>;  // 32 bytes, one instance

// Logs its start-up calls; field `a` must stay below 100, and a saved `a` of 0xEE fails resume's check.
// Field `b` must not be 0, its default: a saved 0 is refused but loses nothing (a field never set).
template <class R>
class StartCategory : public test_categories::TestCategory<R> {
  using Base = test_categories::TestCategory<R>;

 public:
  void initialize() override { log("initialize"), Base::initialize(); }
  void initInternal() override { log("initInternal"), Base::initInternal(); }
  void resume(const void* saved, int flag = 0) override {
    log("resume");
    MX_CHECK(static_cast<const R*>(saved)->a != 0xEE);
    Base::resume(saved, flag);
  }
  void log(const char* what) { calls().push_back(test_categories::call(what, R::TYPE_INDEX, this->me)); }

 protected:
  bool acceptField(const codec::FieldView& f, const R& in, int) override {
    return f.is(in.a) ? in.a < 100 : !f.is(in.b) || in.b != 0;
  }
};

// Binds a fixed number of bytes without a record.
template <int TYPE>
struct Sized : category::CategoryWithoutStatus<test_categories::Rec<TYPE>> {
  explicit Sized(int n) : bytes(n) {}
  int bindStorage(void*) override { return bytes; }
  int bytes;
};

constexpr u32 NV = 0x81800000, BOOT_MODE = 0xFFFF0000;
CategoryRegistry& reg() { return CategoryRegistry::instance(); }
int count(const std::string& c) { return static_cast<int>(std::count(calls().begin(), calls().end(), c)); }
bool windowHoldsImage(int n) {
  return std::memcmp(platform::memory(NV, n), platform::memory(BACKUP_BUFFER_ADR, n), n) == 0;
}

struct Program { StartCategory<PerMe> perMe[4]; StartCategory<Single> single; };  // one run of the program

class BackupTest : public testing_support::BoardTest {
 protected:
  void SetUp() override { BoardTest::SetUp(), clean(); }
  // The non-volatile window survives the fixture's reset: leave no image, and no engine that would write one.
  void TearDown() override { run.reset(), clean(), platform::dmaEngine().detach(), BoardTest::TearDown(); }
  static void clean() {
    platform::dmaEngine().reset(), reg().reset(), testing_support::FrontendPeer().reset();
    std::memset(platform::memory(NV, 0x20000), 0, 0x20000), platform::writeMem32(BOOT_MODE, 0), calls().clear();
  }
  void start() {  // a new run of the program on the same window
    run.reset(), reg().reset();
    run = std::make_unique<Program>(), reg().initialize();
  }
  std::unique_ptr<Program> run;
};

TEST_F(BackupTest, LayoutFollowsTheRecordSizes) {
  Sized<TYPE_MAINTENANCE_CMD> a(37);
  Sized<TYPE_COLOR_CORRECT_CMD> b(38);
  Sized<TYPE_BKGD_COLOR_CORRECT_CMD> none(0);
  test_categories::TestCategory<PerMe> perMe[4];
  reg().initialize();
  auto r = [](int id, int me) { return reg().boundBytes(id, me); };
  EXPECT_EQ((std::vector<int>{r(TYPE_MAINTENANCE_CMD, 0), r(TYPE_COLOR_CORRECT_CMD, 0),
                              r(TYPE_BKGD_COLOR_CORRECT_CMD, 0), r(TYPE_BKGD, 1)}), (std::vector<int>{40, 40, 0, 16}));
  // ME 0 then ME 1 of type 2, then the types behind it, after the 8-byte header; ME 2 and 3 elsewhere.
  const u8* image = platform::memory(BACKUP_BUFFER_ADR, 16);
  auto s = [](int id, int me) { return reg().storageOf(id, me); };
  EXPECT_EQ((std::vector<const u8*>{s(TYPE_BKGD, 0), s(TYPE_BKGD, 1), s(TYPE_MAINTENANCE_CMD, 0),
                                    s(TYPE_COLOR_CORRECT_CMD, 0)}),
            (std::vector<const u8*>{image + 8, image + 24, image + 40, image + 80}));
  EXPECT_EQ(std::tuple(s(TYPE_BKGD, 2) + 16, s(TYPE_BKGD_COLOR_CORRECT_CMD, 0)),
            std::tuple(s(TYPE_BKGD, 3), static_cast<const u8*>(nullptr)));
  EXPECT_EQ((std::vector<u32>{platform::readMem32(BACKUP_BUFFER_ADR), platform::readMem32(BACKUP_BUFFER_ADR + 4)}),
            (std::vector<u32>{0x08765421, 146}));
  EXPECT_EQ(std::tuple(consoleCount("[INFO] Number of registered categories: 4/104 65"),
                       consoleCount("[INFO] Backup buffer size: 120 bytes")), std::tuple(1, 1));

  reg().reset();
  Sized<TYPE_MAINTENANCE_CMD> big(BUF_SIZE * 4 - 8);
  EXPECT_THROW(reg().initialize(), assert::AssertException);
  reg().reset();
  Sized<TYPE_MAINTENANCE_CMD> fits(BUF_SIZE * 4 - 12);
  EXPECT_NO_THROW(reg().initialize());
}

// Records behind no header cannot be read: one WARN line (another magic or version: the whole-system
// damaged-image test); a window with nothing stored (a new board, or a first start cut short before
// its first copy) is no loss: INFO.
TEST_F(BackupTest, StartUpBranches) {
  struct { u32 bootMode, magic, version, a; const char* line; bool resumed, reset; } cases[] = {
      {0, 0x08765421, 146, 7, "[INFO] backup data resume", true, false},
      {0x4000, 0x08765421, 146, 7, "[INFO] initializeAll()", false, false},
      {0, 0, 0, 7, "[WARN] backup data unreadable (magic 0x00000000, version 0): settings start from defaults\n", false,
       true},  // records behind no header
      {0, 0, 0, 0, "[INFO] no backup data", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    testing_support::consoleClear();
    calls().clear();
    for (auto [adr, v] : {std::pair{NV, c.magic}, {NV + 4, c.version}, {NV + 8, c.a != 0 ? 1u : 0u} /* ME 0's mask: a */,
                          {NV + 12, c.a << 8} /* me 0, a */, {NV + 0x14028, 0u}, {BOOT_MODE, c.bootMode}})
      platform::writeMem32(adr, v);
    start();
    char mode[32];
    std::snprintf(mode, sizeof mode, "[INFO] bootMode = 0x%x", c.bootMode);
    // ME 2 and 3 are initialised every time.
    EXPECT_EQ(std::tuple(consoleCount(mode), consoleCount(c.line), consoleCount("[WARN]"), count("resume 2/0"),
                         count("initialize 2/0"), count("initialize 2/2") + count("initialize 2/3"),
                         int(run->perMe[0].record(0).a)),
              std::tuple(1, 1, c.line[1] == 'W' ? 1 : 0, int(c.resumed), int(!c.resumed), 2, c.resumed ? 7 : 0));
    EXPECT_EQ(std::pair(platform::readMem32(NV + 0x14028), platform::readMem32(NV + 0x1402C)),
              std::pair(c.reset ? 0x54AA1234u : 0u, 0u));
  }
}

// An empty nvram.mem is a new board's when its flash is not yet there, and says nothing was lost;
// on a board started before (nand.img there) it lost the image, which a WARN says.
TEST_F(BackupTest, AnEmptyStoreIsALossOnlyOnABoardStartedBefore) {
  for (bool started : {false, true}) {
    testing_support::BoardDirectory d("backup");
    if (started) std::ofstream(d.dir / platform::FLASH_FILE).put('\0');
    platform::boardOpen(d.options);
    start();
    EXPECT_EQ(consoleCount(started ? "[WARN] backup data holds 0 of 72 bytes: settings start from defaults"
                                   : "[INFO] no backup data"), 1) << started;
  }
}

// nvram.mem cut short (inside the image, past it, to nothing), cut and grown back, lengthened,
// removed or replaced while the program runs: a store past a cut, or else the look at the file within
// a second, writes it back whole at its path with all it held, with one WARN line, and the next start
// resumes from it. A file put in its place is kept aside.
TEST_F(BackupTest, AStoreDamagedWhileRunningIsMadeWholeAgain) {
  // Sizes to cut the file to, one after the other (-1: none); a file put at its path instead (null: none).
  const struct { off_t cut, size; const char* other; std::string warn; } rows[] = {
      {0, -1, nullptr, "was cut to 0 bytes while the back end ran"}, {30, -1, nullptr, "was cut to 30 bytes"},
      {0x14000, -1, nullptr, "was cut to 81920 bytes"}, {0, 0x20000, nullptr, "lost "},
      {200000, -1, nullptr, "was lengthened to 200000 bytes while the back end ran: given back its 131072 bytes\n"},
      {-1, -1, "", "was removed while the back end ran"},
      {-1, -1, "x", "was replaced while the back end ran: the file put in its place is kept as nvram.mem.replaced,"}};
  for (const auto& c : rows) {
    SCOPED_TRACE(c.warn);
    testing_support::BoardDirectory d("backup-cut");
    const std::string path = (d.dir / "nvram.mem").string();
    const auto file = [](const std::string& name) { std::ifstream in(name, std::ios::binary);
                                                    return std::string(std::istreambuf_iterator<char>(in), {}); };
    platform::boardOpen(d.options);
    start();
    run->perMe[0].record(0).a = 5;
    Storage::instance().writeBoardMode(3);
    reg().process();
    const auto before = file(path);
    testing_support::consoleClear();
    for (off_t size : {c.cut, c.size}) ASSERT_TRUE(size < 0 || truncate(path.c_str(), size) == 0);
    if (c.other != nullptr) unlink(path.c_str());
    if (c.other != nullptr && *c.other != 0) std::ofstream(path) << c.other;
    if (c.cut == 0 && c.size < 0) Storage::instance().writeBoardMode(3);  // a store past the cut
    platform::clockAdvance(1000000ull * platform::TICKS_PER_US);
    reg().process();
    EXPECT_EQ(std::tuple(file(path) == before, consoleCount("[WARN]"), consoleCount("[WARN] nvram.mem " + c.warn),
                         file(path + ".replaced")), std::tuple(true, 1, 1, std::string(c.other ? c.other : "")));
    start();
    EXPECT_EQ(std::tuple(int(run->perMe[0].record(0).a), Storage::instance().boardMode()), std::tuple(5, 3));
  }
}

TEST_F(BackupTest, ResumeTakesMe0And1InitialisesMe2And3AndDamagedRecords) {
  start();
  auto a = [&](int me) -> u8& { return run->perMe[me].record(0).a; };
  a(0) = 5, a(1) = 6, a(2) = 8;
  run->perMe[0].record(0).c = 3;
  run->single.record(1).c = 99;
  reg().backupCopy();
  calls().clear();
  start();  // a restart: new objects, the saved image
  // ME 0 is reported whole at the first status.
  EXPECT_EQ((std::vector<int>{consoleCount("backup data resume"), a(0), a(1), a(2), run->single.record(1).c,
                              run->perMe[0].record(0).me, run->perMe[1].record(0).me, run->perMe[0].record(0).mask != 0}),
            (std::vector<int>{1, 5, 6, 0, 99, 0, 1, 1}));
  EXPECT_EQ(calls(), (std::vector<std::string>{"resume 2/0", "resume 2/1", "resume 6/0", "initInternal 2/0",
                                                "initInternal 2/1", "initialize 2/2", "initInternal 2/2",
                                                "initialize 2/3", "initInternal 2/3", "initInternal 6/0"}));

  platform::memory(NV + 8 + 16 + 5, 1)[0] = 200;  // ME 1's `a` out of range (its `b`, 0, refused but not lost)
  platform::memory(NV + 8 + 5, 1)[0] = 0xEE;      // ME 0's record fails its resume check
  testing_support::consoleClear();
  start();
  EXPECT_EQ(std::tuple(consoleCount("[ERR] backup data of MxifBkgd is broken, initialized"),
                       consoleCount("[WARN] backup data of MxifBkgd: 1 fields out of range, reset"),
                       consoleCount("[WARN]")), std::tuple(1, 1, 1));
  EXPECT_EQ((std::vector<int>{a(0), run->perMe[0].record(0).c, a(1), run->single.record(1).c}),
            (std::vector<int>{0, 0, 0, 99}));  // the whole category from defaults; the others as saved
}

// Of an image stored only in part, the records wholly inside the stored part resume; the others
// are initialised, not resumed from the zeroes behind it.
TEST_F(BackupTest, ResumeTakesOnlyTheRecordsWhollyStored) {
  start();
  run->perMe[0].record(0).a = 5, run->perMe[1].record(0).a = 6, run->single.record(1).c = 99;
  reg().backupCopy();
  const struct { int held; std::vector<int> values; } cases[] = {
      {15, {0, 0, 0, 0}}, {16, {5, 0, 0, 1}}, {31, {5, 0, 0, 1}},
      {32, {5, 6, 0, 2}}, {63, {5, 6, 0, 2}}, {64, {5, 6, 99, 3}}};
  for (const auto& c : cases) {
    calls().clear();
    reg().resumeAll(platform::memory(NV + 8, 64), c.held);
    EXPECT_EQ((std::vector<int>{run->perMe[0].record(0).a, run->perMe[1].record(0).a, run->single.record(1).c,
                                count("resume 2/0") + count("resume 2/1") + count("resume 6/0")}), c.values)
        << c.held;
  }
}

TEST_F(BackupTest, EveryFrameCopiesTheImageToTheWindow) {
  start();
  for (s16 b : {0x1234, 0x4321}) {
    run->perMe[1].record(0).b = b;
    reg().process();
    EXPECT_TRUE(windowHoldsImage(8 + 64));  // header and records
  }
  EXPECT_EQ(platform::dmaEngine().completedRuns(3), 2);
  EXPECT_GE(count("store 2/3"), 2);

  platform::writeMem32(BOOT_MODE, 0x4000);  // nothing is ever stored or copied, whatever the word says later
  start();
  platform::writeMem32(BOOT_MODE, 0);
  calls().clear();
  run->perMe[0].record(0).a = 9;
  auto window = [] { return std::vector<u8>(platform::memory(NV, 72), platform::memory(NV, 72) + 72); };
  const auto before = window();
  reg().process();
  reg().process();
  EXPECT_EQ(std::tuple(window(), platform::dmaEngine().completedRuns(3), count("store 2/0")), std::tuple(before, 2, 0));
}

TEST_F(BackupTest, SlowAndHungCopies) {
  auto& dma = platform::dmaEngine();
  start();
  dma.setLatencyUs(3, 50000);  // longer than a frame: waited for, that frame copies nothing
  reg().backupCopy(), reg().backupCopy();
  EXPECT_EQ(dma.completedRuns(3), 0);
  platform::clockAdvance(50000 * platform::TICKS_PER_US);
  reg().backupCopy();
  EXPECT_EQ(std::tuple(dma.completedRuns(3), consoleCount("DMA too slow")), std::tuple(1, 0));

  // A channel kept busy, even by a stop, is reported every 15 frames; after 60 it is stopped and a
  // new copy starts anyway, so the time-out comes once per 60 frames. Once it frees, copies run.
  constexpr u32 LIST = 0x40000360, STATUS = 0x40000364;
  dma.detach();
  platform::regPoke(STATUS, 0x80000000);
  testing_support::consoleClear();
  const struct { int frame, timeouts, slow60; } marks[] = {{60, 0, 1}, {61, 1, 2}, {120, 1, 3}, {121, 2, 4}};
  int frame = 1;  // the copy of frame 1 is running
  for (auto m : marks) {
    while (frame < m.frame) reg().backupCopy(), ++frame;
    EXPECT_EQ(std::tuple(consoleCount("[ERR] DMA timeout"), consoleCount("[WARN] DMA too slow 60")),
              std::tuple(m.timeouts, m.slow60)) << m.frame;
  }
  for (int n : {15, 30, 45}) EXPECT_EQ(consoleCount("[WARN] DMA too slow " + std::to_string(n)), 2) << n;
  EXPECT_NE(platform::regPeek(LIST) & 0x80000000, 0u);  // the copy of frame 121 was started
  platform::dmaEngine();  // the channel frees: the next frame copies the image
  reg().backupCopy();
  EXPECT_EQ(std::tuple(platform::dmaEngine().completedRuns(3), windowHoldsImage(8 + 64)), std::tuple(1, true));
}

}  // namespace
