// The front-end peer as a library: ring rules, packet splitting, console lines, records by name in
// their text form, the panel event bodies and the program's refusals; show reading a backup image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "Lib/Include/type_layout.h"
#include "Lib/Include/type_names.h"
#include "Platform/board.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/link/link.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/send/send.h"
#include "Lib/Include/data_internal.h"
#include "Lib/Include/log.h"
#include "Lib/Include/text.h"

namespace {

using frontend::Bytes;

// One ring (write index, read index and the data) in host memory.
struct Ring {
  Ring(u32 write, u32 read) { linkpeer::storeIndex(p(), write), linkpeer::storeIndex(p() + 4, read); }
  Bytes mem = Bytes(8 + LINK_RING_DATA, 0);
  u8* p() { return mem.data(); }
  u32 word(int at) const { return u32{mem[at]} | u32{mem[at + 1]} << 8 | u32{mem[at + 2]} << 16 | u32{mem[at + 3]} << 24; }
};

// The packet made of the words.
Bytes packetOf(const std::vector<std::string>& words) {
  Bytes packet;
  std::string reason;
  EXPECT_TRUE(frontend::sendPacket(words, packet, reason)) << reason;
  return packet;
}

// The tools' writer takes what room the ring has (its arithmetic is the back end's: LinkTest) and
// writes its own index word alone.
TEST(FrontendRing, WriterTakesTheRoomUpToSixteenBytesShortOfTheReadIndex) {
  Ring r(100, 120);
  const Bytes data(10, 7);
  EXPECT_EQ(linkpeer::ringWrite(r.p(), data.data(), data.size()), 4u);
  EXPECT_EQ(std::tuple(r.word(0), r.word(4), r.mem[8 + 103], r.mem[8 + 104]), std::tuple(104u, 120u, u8{7}, u8{0}));
  EXPECT_EQ(linkpeer::ringWrite(r.p(), data.data(), 1), 0u);
}

TEST(FrontendRing, ReaderTakesWholePacketsAndSkipsGarbage) {
  Ring r(LINK_RING_DATA - 5, LINK_RING_DATA - 5);
  Bytes bytes = {0x00, 0x5A};  // garbage, then packets across the wrap
  for (const Bytes& p : {linkpeer::packetBytes(category::TYPE_SYSTEM, Bytes{1, 2, 3}),
                         linkpeer::packetBytes(category::TYPE_UP_STREAM_KEY, Bytes{})}) {
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  const Bytes partial = linkpeer::packetBytes(category::TYPE_BKGD, Bytes(5, 9));
  bytes.insert(bytes.end(), partial.begin(), partial.end() - 1);
  linkpeer::ringWrite(r.p(), bytes.data(), bytes.size());

  std::vector<linkpeer::Packet> packets;
  size_t garbage = 0;
  const Bytes unread = linkpeer::ringPeek(r.p());
  ASSERT_EQ(unread, bytes);
  EXPECT_EQ(linkpeer::parsePackets(unread, packets, garbage, 1), 2u + 11u);
  const size_t used = linkpeer::parsePackets(unread, packets, garbage);
  EXPECT_EQ(used, 2u + 11u + 8u);  // the partial packet stays
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(std::tuple(packets[1].type, packets[1].body, packets[2].type, garbage), std::tuple(category::TYPE_SYSTEM, Bytes{1, 2, 3}, category::TYPE_UP_STREAM_KEY, 4u));
  linkpeer::ringConsume(r.p(), used);
  EXPECT_EQ(std::tuple(linkpeer::ringUsed(r.p()), r.word(0)),
            std::tuple(partial.size() - 1, (LINK_RING_DATA - 5 + bytes.size()) % LINK_RING_DATA));
}

// The console as the back end writes it, wrapping after its last index, and the complete lines that
// the tools take from it: across the wrap; and past a reader that the writer went round, from the
// first line start of the last ring's worth, after one line that says how many bytes were lost.
TEST(FrontendRing, ConsoleGivesCompleteLinesAndSaysWhatWasWrittenOver) {
  u8* console = platform::memory(LINK_CONSOLE_RING, LINK_CONSOLE_BYTES);
  std::string lines = "ab\n";  // then 5243 lines of 100 bytes: 47 bytes more than the ring holds
  for (int i = 0; i < 5243; ++i) lines += std::string(94, static_cast<char>('a' + i % 26)) + std::to_string(10000 + i) + "\n";
  const std::string lost = "frontend: 103 bytes of console text were written over before they were read (the ring keeps "
                           "the last 524256)\n";
  const std::vector<std::pair<std::string, std::string>> wrap = {{"one\ntw", "one\n"}, {"", ""}, {"o\n", "two\n"}},
                                                         over = {{lines, lost + lines.substr(103)}, {"", ""}, {"c\n", "c\n"}};
  for (const auto& [start, steps] : {std::pair(LINK_CONSOLE_DATA - 4, wrap), std::pair(0u, over)}) {
    linkring::store(console + LINK_CONSOLE_WRITTEN, start), linkring::consoleSetTaken(console, start);
    u32 from = start;  // a reader of its own, as on a link.mem mapped to be read only
    for (const auto& [written, taken] : steps) {
      consoleWrite(written.data(), written.size());
      EXPECT_EQ(std::tuple(linkpeer::consoleTake(console), linkpeer::consoleLines(console, from)), std::tuple(taken, taken));
    }
  }
  EXPECT_EQ(std::tuple(linkpeer::loadIndex(console), linkpeer::loadIndex(console + 4)), std::tuple(49u, 49u));
}

// Types by name or number; a body of a type whose record is not built, or of no type, shown in hex.
TEST(FrontendRecords, TypeNamesAndIndexes) {
  const std::pair<const char*, int> names[] = {{"waitCmd", 74}, {"103", 103}, {"104", -1}, {"Mxif", -1}, {"", -1}};
  for (const auto& [name, index] : names) EXPECT_EQ(frontend::typeIndexOf(name), index) << name;
  const Bytes body = {0x01, 0xAB};
  EXPECT_EQ(frontend::describe(category::TYPE_MESSAGE_BOX, body.data(), body.size()), "MxifMessageBox (2 bytes) 01 ab");
  EXPECT_EQ(frontend::describe(200, body.data(), body.size()), "type=200 (2 bytes) 01 ab");
}

// Every record that a category of the back end keeps goes by field names.
TEST(FrontendRecords, EveryTypeWithACategoryHasItsFieldList) {
  for (int type = 0; type < category::FIRST_COMMAND_TYPE; ++type) {
    const bool kept = layout::TYPES[type].instances > 0;
    EXPECT_TRUE(!kept || frontend::isRecordBuilt(type)) << category::typeNameOf(type);
  }
}

// A record with texts by field names is the system's own wire form (its texts go as they stand,
// numbers as an operator reads them: "0500" is 500); the frontend reads it back, and says when a
// body is short.
TEST(FrontendRecords, KeyRecordByFieldNamesIsTheSystemsOwnWireForm) {
  const Bytes packet = packetOf({"MxifKey", "me=01", "channel=2", "matteColor=1,2,3", "names.name1=Key one",
                                 "transIn.value=0500", "priority=+3", "dveSettings.flag[2]=4"});
  MxifKey r;
  r.me = 1, r.channel = 2, r.mask = 1, r.matteColor[0] = 1, r.matteColor[1] = 2, r.matteColor[2] = 3;
  r.names.mask = 1, r.names.name1.count = 7;
  std::memcpy(r.names.name1.chars, "Key one", 7);
  r.transIn.mask = 4, r.transIn.value = 500, r.mask1 = 1u << 13, r.priority = 3;
  r.dveSettings.mask = 4, r.dveSettings.flag[2] = 4;
  struct Out {
    Bytes b;
    void write(u8 x) { b.push_back(x); }
  } out;
  libmx::writeTextRecord(out, r);
  const Bytes& body = out.b;
  ASSERT_EQ(body.size(), 342u + 7);
  EXPECT_EQ(Bytes(packet.begin() + 8, packet.end()), body);
  EXPECT_EQ(frontend::describe(0, body.data(), body.size()),
            "MxifKey me=1 channel=2 matteColor=1,2,3 transIn.value=500 priority=3 names.name1=\"Key one\" "
            "dveSettings.flag[2]=4");
  EXPECT_EQ(frontend::describe(0, body.data(), 20).rfind("MxifKey (20 bytes, short)", 0), 0u);
}

// A text as show and watch print it goes back by send as the same characters (a word without quotes
// as it stands); what no text holds, or no escape, is refused naming the field.
TEST(FrontendRecords, TextsGoBackAsPrinted) {
  const std::pair<std::string, std::string> cases[] = {  // word, printed
      {R"(secondText="a\"b\\c\x09")", R"(secondText="a\"b\\c\x09")"}, {R"(secondText=\x09)", R"(secondText="\\x09")"},
      {R"(secondText="it\'s")", R"(secondText="it's")"}, {R"(secondText=a"b)", R"(secondText="a\"b")"}};
  for (const auto& [word, printed] : cases) {
    const Bytes packet = packetOf({"MxifSystem", word});
    ASSERT_GT(packet.size(), 8u) << word;
    EXPECT_EQ(frontend::describe(category::TYPE_SYSTEM, packet.data() + 8, packet.size() - 8), "MxifSystem " + printed) << word;
    EXPECT_EQ(packetOf({"MxifSystem", printed}), packet) << word;
  }
  for (const char* bad : {R"(secondText="\x00")", R"(secondText="\n")", R"(secondText="ab)", R"(secondText="ab"c)"}) {
    Bytes packet;
    std::string error;
    EXPECT_TRUE(!frontend::sendPacket({"MxifSystem", bad}, packet, error) && error.starts_with("MxifSystem: secondText=")) << error;
  }
}

// A record per ME carries its ME in byte 4 of the body (the end-to-end requests show it); a channel
// record its channel as a u16 there; a record per ME with channels the channel in its own field.
TEST(FrontendRecords, ChannelRecordsCarryTheirChannelsWhereTheSystemReadsThem) {
  const Bytes assign = packetOf({"MxifXptAssign", "channel=2", "source[010]=012"});
  ASSERT_GT(assign.size(), 14u);
  EXPECT_EQ(std::tuple(assign[8 + 4], assign[8 + 5]), std::tuple(0, 2));
  EXPECT_EQ(frontend::describe(MxifXptAssign::TYPE_INDEX, assign.data() + 8, assign.size() - 8), "MxifXptAssign channel=2 source[10]=12");
  const Bytes chroma = packetOf({"MxifChromaKey", "me=1", "channel=2"});
  ASSERT_GT(chroma.size(), 15u);
  EXPECT_EQ(std::tuple(chroma[8 + 4], chroma[8 + 5], chroma[8 + 6]), std::tuple(1, 0, 2));
}

// A command record by field names, an array of words among them.
TEST(FrontendRecords, SystemInitialiseCommandByFieldNames) {
  const Bytes init = packetOf({"SystemInitialCmd", "mode=2", "date=2024,2,29,23,59,58", "option3=9"});
  EXPECT_EQ(init, (Bytes{0x5A, 0x81, 0, 0, 0, 19, 0, 73, 0, 0, 0, 2, 0, 0, 0x07, 0xE8, 0, 2, 0, 29, 0, 23, 0, 59, 0, 58, 9}));
}

// What differs by instance is given by instance; status fields say what sets them; integer bounds
// read as integers.
TEST(FrontendProgram, TypesAndFieldsListWhatSendTakes) {
  std::ostringstream types, fields, err;
  ASSERT_EQ(frontend::run({"types"}, types, err), 0);
  for (const char* type : {"MxifPlugin", "MxifKey", "MxifBkgd"}) {
    ASSERT_EQ(frontend::run({"fields", type}, fields, err), 0) << err.str();
  }
  const std::string listed = types.str();
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 104);
  for (const char* line : {"\n 29 MxifSystem\n", "\n 47 MxifBus\n", "\n 74 waitCmd  (frontend wait)\n",
                           "\n101 MxifMessageBox  (not built into this program: frontend raw only)\n", "\n  setting1                        0..4294967295\n",
                           "\n  window[0..1]                    -5000..5000\n  window[2..3]                    0..10000\n",
                           "\n  dveSize                         0..40000 on channel=0..1; 0..10000 on channel=2..3\n",
                           "\n  stopping                        status, set by the key's transition (buttons key-cut,",
                           "\n  dveBorder.width                 1..1000 (0 at start)\n", "\n  names.name1                     text of up to 12 bytes\n",
                           // A field whose values depend on another's under its presence bit, value by value.
                           "\n  patternNumber                   with patternKind=0: 0..14, 16, 23\n"
                           "                                  with patternKind=1: 0..14, 16..23\n"
                           "                                  with patternKind=2: 0..15\n"
                           "                                  with patternKind=3: 0..16, 22..23\n  patternKind ",
                           "\n  effectA[0]                      on channel=0..1 with effectA[1]=0: 0..14, 16\n"
                           "                                  on channel=0..1 with effectA[1]=1: 0..19, 23\n"
                           "                                  on channel=0..1 with effectA[1]=2: 0..15\n"
                           "                                  on channel=0..1 with effectA[1]=3: 0..11\n"
                           "                                  on channel=2..3: 0..14, 16\n  effectA[1] "}) {
    EXPECT_NE((listed + fields.str()).find(line), std::string::npos) << line;
  }
}

// Elements under one presence bit with those given, an element alone or the first ones of a list, go
// as the back end holds them; a list for an array with a bit for each element sets only those bits.
TEST(FrontendRecords, ElementsLeftOutGoAsTheBackEndHoldsThem) {
  MxifDsk held{};
  held.matteColor[0] = 365, held.matteColor[2] = 800;
  frontend::RequestContext context;
  context.current = [&](int me, int channel, Bytes& record, std::string&) {
    const auto* bytes = reinterpret_cast<const u8*>(&held);
    record.assign(bytes, bytes + sizeof held);
    return me == 0 && channel == 2;
  };
  const std::tuple<std::vector<std::string>, const char*, const char*> cases[] = {  // words, sent, filled
      {{"MxifDsk", "channel=2", "matteColor[1]=933"}, "MxifDsk channel=2 matteColor=365,933,800", "matteColor[0]=365 matteColor[2]=800"},
      {{"MxifDsk", "channel=2", "matteColor=7,8"}, "MxifDsk channel=2 matteColor=7,8,800", "matteColor[2]=800"},
      {{"MxifXptAssign", "channel=1", "source=12,13"}, "MxifXptAssign channel=1 source[0]=12 source[1]=13", ""},
  };
  for (const auto& [words, sent, filled] : cases) {
    Bytes packet;
    std::string error;
    ASSERT_TRUE(frontend::sendPacket(words, packet, error, &context)) << error;
    EXPECT_EQ(frontend::describe(frontend::typeIndexOf(words[0]), packet.data() + 8, packet.size() - 8), sent);
    EXPECT_EQ(context.filled, filled);
    context.filled.clear();
  }
}

// The values a field takes are what the category's own checks take, for the channel asked about.
TEST(FrontendRecords, AcceptedValuesComeFromTheCategorysChecks) {
  const std::tuple<const char*, const char*, frontend::Assignments, const char*> cases[] = {  // type, field, with, taken
      {"MxifGpiInOut", "entry135.code", {},
       "0..315, 400..615, 700..915, 1000..1215, 1300..1319, 1400..1479, 1500..1511, 1600..1611, 1700..1711, 1800..1811"},
      {"MxifChromaKey", "sampleSize", {{"channel", "3"}}, "100..10000"},  // records behind a data block
      {"MxifSystem", "mode", {}, "0..255"},  // the stored 0 again is no change, but taken
      {"MxifSystem", "bkgdLatency", {}, "0..1"},  // behind a text, which the request carries
  };
  for (const auto& [type, field, with, taken] : cases) {
    std::vector<frontend::Interval> values;
    std::string error;
    ASSERT_TRUE(frontend::acceptedValues(frontend::typeIndexOf(type), field, 0, with, values, error)) << error;
    EXPECT_EQ(frontend::intervalsText(values), taken) << type << " " << field;
  }
}

TEST(FrontendProgram, ShowReadsTheBackupImageOrSaysWhyNot) {
  const std::string dir = testing::TempDir() + "frontend_show_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  auto image = [&](u32 magic, u32 version) {
    Bytes nvram(0x20000, 0);
    std::memcpy(nvram.data(), &magic, 4), std::memcpy(nvram.data() + 4, &version, 4);
    std::ofstream(dir + "/nvram.mem", std::ios::binary).write(reinterpret_cast<const char*>(nvram.data()), nvram.size());
  };
  const std::tuple<u32, u32, std::string, int, const char*> cases[] = {  // magic, version, show ..., status, shown
      {0, 0, "MxifSystem", 1, "no backup image in"},
      {0x08765421, 145, "MxifSystem", 1, "is version 145, this program reads 146"},
      {0x08765421, 146, "MxifBus me=1", 0, "MxifBus me=1 entries=0,0,"},
      {0x08765421, 146, "MxifBusStatus me=1 channel=2", 0, "MxifBusStatus me=1 channel=2 rows=0,"},
      {0x08765421, 146, "MxifBus me=2", 1, "MxifBus: ME 2 is not kept in the backup image"},
      {0x08765421, 146, "MxifCbgd channel=2", 2, "show MxifCbgd: bad word channel=2 (takes channel=0..1)"},
      {0x08765421, 146, "MxifSystem me=1", 2, "show MxifSystem: bad word me=1 (takes none)"},
      {0x58585858, 146, "MxifSystem", 1, "cannot be read: its magic word is 0x58585858, not 0x08765421 (the back end keeps"},
      {0x08765421, 146, "MxifMessageBox", 2, "not built into this program"},
      {0x08765421, 146, "MxifButtonEvent", 1, "MxifButtonEvent is not kept in the backup image"},
  };
  const auto show = [&](const std::string& line, int status, const std::string& shown) {
    std::istringstream words("--board " + dir + " show " + line);
    std::ostringstream out, err;
    EXPECT_EQ(frontend::run({std::istream_iterator<std::string>(words), {}}, out, err), status) << shown;
    EXPECT_NE((out.str() + err.str()).find(shown), std::string::npos) << out.str() << err.str();
  };
  for (const auto& [magic, version, line, status, shown] : cases) image(magic, version), show(line, status, shown);
  // A file cut short, as the back end takes it: the records wholly inside it, not those past its end.
  std::filesystem::resize_file(dir + "/nvram.mem", 30000);
  const std::string past = " holds only 30000 of 53988 bytes of the image: the records from MxifBkgdWipe me=1 on lie past its end";
  show("MxifKey", 0, "MxifKey me=0 channel=0 style.keyType=0 "), show("MxifKey", 0, "note: " + dir + "/nvram.mem" + past);
  show("MxifSystem", 1, "MxifSystem lies past the end of the backup image: " + dir + "/nvram.mem" + past);
  // A usage error's range that depends on a value read from the image says so.
  std::istringstream usage("--board " + dir + " send MxifBkgd patternNumber=300");
  std::ostringstream out, err;
  EXPECT_EQ(frontend::run({std::istream_iterator<std::string>(usage), {}}, out, err), 2);
  EXPECT_NE(err.str().find("patternNumber takes 0..14, 16, 23 with patternKind=0 as last backed up\n"), std::string::npos) << err.str();
  // The reader itself refuses a channel one past the last, as the program does before it.
  Bytes record;
  std::string error;
  EXPECT_FALSE(frontend::backedUpRecord(dir, category::TYPE_CBGD, 0, 2, record, error));
  EXPECT_EQ(error, "MxifCbgd: no such channel 2 (channel=0..1)");
  // A FIFO in its place, which would block open(), is said at once; a directory is named so.
  for (const char* why : {"not a regular file", "Is a directory"}) {
    std::filesystem::remove(dir + "/nvram.mem");
    *why == 'n' ? mkfifo((dir + "/nvram.mem").c_str(), 0644) : mkdir((dir + "/nvram.mem").c_str(), 0755);
    EXPECT_FALSE(frontend::backedUpRecord(dir, category::TYPE_CBGD, 0, 0, record, error));
    EXPECT_EQ(error, "the backup image cannot be read: " + dir + "/nvram.mem: " + why);
  }
  std::filesystem::remove_all(dir);
}

// A board directory with a back end that the test plays: its lock taken and its start-up passed, its
// link.mem mapped.
struct ScriptedBackEnd {
  ScriptedBackEnd() {
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/link.mem").close();
    std::filesystem::resize_file(dir + "/link.mem", platform::LINK_SIZE);
    std::string error;
    EXPECT_TRUE(lock.acquire(dir, error) && link.open(dir, 0, error)) << error;
    lock.markStarted();
  }
  ~ScriptedBackEnd() {
    link.close();
    lock.release();
    std::filesystem::remove_all(dir);
  }
  void readRequests() { linkpeer::ringConsume(link.requestRing(), linkpeer::ringUsed(link.requestRing())); }
  void report(const std::vector<std::string>& words) {
    const Bytes p = packetOf(words);
    linkpeer::ringWrite(link.ackRing(), p.data(), p.size());
  }
  // Starts again: the rings reset, a start-up that takes a while, then another tool that sees the new
  // start first.
  void restart() {
    std::string error;
    EXPECT_TRUE(lock.acquire(dir, error)) << error;
    for (u8* ring : {link.requestRing(), link.ackRing()}) linkpeer::storeIndex(ring, 0), linkpeer::storeIndex(ring + 4, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lock.markStarted();
    linkpeer::withTable(dir, link.ackRing(), [](linkpeer::LinkTable&) {});
  }
  // Runs the program on this board (another thread for start): its status, then its standard output
  // and error.
  std::future<std::pair<int, std::string>> start(const std::string& line) {
    return std::async(std::launch::async, [this, line] { return run(line); });
  }
  // What a wait past a second says of itself is left out: a loaded host can make any wait that long.
  std::pair<int, std::string> run(const std::string& line) {
    std::istringstream words("--board " + dir + " " + line);
    std::ostringstream out, err;
    const int status = frontend::run({std::istream_iterator<std::string>(words), {}}, out, err);
    return {status, out.str() + std::regex_replace(err.str(), std::regex("frontend: waiting for [^\n]*\n"), "")};
  }
  // Whether the tools' table has readers, and each has read all the acknowledgement ring holds.
  bool readersAtEnd(size_t readers = 1) {
    bool at = false;
    linkpeer::withTable(dir, nullptr, [&](linkpeer::LinkTable& t) {
      at = t.readers.size() == readers && std::all_of(t.readers.begin(), t.readers.end(), [&](const auto& r) {
             return r.at == linkpeer::writeIndex(link.ackRing());
           });
    });
    return at;
  }
  std::string dir = testing::TempDir() + "frontend_scripted_" + std::to_string(getpid());
  cli::BackendLock lock;
  frontend::Link link;
};

// Bound of a wait for ready() (await) and of the tools' own waits: a loaded host is many times slower.
constexpr int WAIT_SECONDS = 300;
const std::string TIMEOUT = "--timeout " + std::to_string(WAIT_SECONDS) + " ";
template <class F>
void await(F ready) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(WAIT_SECONDS);
  while (!ready() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Holds a lock as a tool does while it lives: the tools' table's (on the board directory), or the
// request ring's (on link.mem).
struct Held {
  explicit Held(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) { flock(fd, LOCK_EX); }
  ~Held() { ::close(fd); }
  int fd;
};

// The answer to a request is among the reports of its instance that the back end writes once it has
// read the request. A field that a report carried as sent before (the answer to another request, sent
// before this one was read) stays taken though the answer leaves it out, as the back end leaves out a
// value that it holds already. One left out that its checks take is not answered with their set. A
// back end that read the request and started again before its answer was seen may not have acted on
// it: the reports of the start before are no answer.
TEST(FrontendProgram, AFieldTakenInAnEarlierReportStaysTaken) {
  const std::tuple<bool, int, std::string> cases[] = {  // an earlier report carries horizontalPhase=5
      {true, 0, ""},
      {false, 1,
       "frontend: refused: MxifSystem horizontalPhase=5: kept its value: the back end publishes no reasons (the link window "
       "holds no notes)\n"},
      {false, 3, "frontend: sent MxifSystem horizontalPhase=5 secondText=\"ab\"; no answer seen: the back end started again, "
                 "resetting its rings (the request may have gone with them)\n"},
  };
  for (const auto& [earlier, status, refusal] : cases) {
    const bool restart = status == 3;
    ScriptedBackEnd backEnd;
    auto sent = backEnd.start(TIMEOUT + "send MxifSystem horizontalPhase=5 secondText=ab");
    // The request, and the wait of a frame after it; the earlier report, which send has read (as its
    // place in the tools' table shows) before its request is read.
    const Bytes request = packetOf({"MxifSystem", "horizontalPhase=5", "secondText=ab"});
    await([&] { return linkpeer::ringUsed(backEnd.link.requestRing()) >= request.size() + 16; });
    if (earlier) backEnd.report({"MxifSystem", "horizontalPhase=5"});
    await([&] {
      std::vector<u32> at;
      linkpeer::withTable(backEnd.dir, nullptr, [&](linkpeer::LinkTable& t) { at.push_back(t.readers.empty() ? 0 : t.readers[0].at); });
      return at == std::vector<u32>{linkpeer::loadIndex(backEnd.link.ackRing())};
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    backEnd.readRequests();
    if (restart) {  // a report of another request, then the start ends before the send's last wait is read
      backEnd.report({"MxifSystem", "verticalPhase=3"});
      await([&] { return linkpeer::ringUsed(backEnd.link.requestRing()) > 0; });
      backEnd.restart();
    }
    backEnd.report({"MxifSystem", "secondText=ab"});
    while (sent.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) backEnd.readRequests();  // the waits after it
    EXPECT_EQ(sent.get(), std::pair(status, refusal)) << earlier;
  }
}

// An on-air request reaches its state in a frame after its answer: the back end's later report of the
// instance decides, on any ME; where none came, the backup image, which leaves it not known when it
// cannot be read; a back end that starts again after the answer leaves it not known, never refused.
TEST(FrontendProgram, AnOnAirRequestIsJudgedByTheStateAfterItsFrame) {
  const std::string unknown = " channel=1 onAir=1; whether it holds it is not known: ";
  // ME, what comes after the answer (0 a report, 1 none, 2 a restart), status, what send says.
  const std::tuple<int, int, int, std::string> cases[] = {
      {2, 0, 0, ""},
      {2, 1, 1, "frontend: refused: MxifKey me=2 channel=1 onAir=1: it holds 0: " + std::string(MxifKey::ON_AIR_REQUEST) + "\n"},
      {0, 1, 3, "frontend: sent MxifKey me=0" + unknown + "the backup image could not be read ("},
      {3, 2, 3, "frontend: sent MxifKey me=3" + unknown + "the back end started again, resetting its rings"},
  };
  for (const auto& [me, script, status, said] : cases) {
    ScriptedBackEnd backEnd;
    const std::string instance = "MxifKey me=" + std::to_string(me) + " channel=1";
    auto sent = backEnd.start(TIMEOUT + "send " + instance + " onAir=1");
    const size_t request = packetOf({"MxifKey", "me=" + std::to_string(me), "channel=1", "onAir=1"}).size();
    const auto written = [&](size_t waits) { return linkpeer::loadIndex(backEnd.link.requestRing()) >= request + 16 * waits; };
    await([&] { return written(1) && backEnd.readersAtEnd(); });
    backEnd.readRequests();
    backEnd.report({"MxifKey", "me=" + std::to_string(me), "channel=1", "onAir=0"});
    // The frames that let the request's frame pass: the wait that ends the answer's, then those after.
    while (!written(3) && sent.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) backEnd.readRequests();
    if (script == 0) backEnd.report({"MxifKey", "me=" + std::to_string(me), "channel=1", "onAir=1"});
    if (script == 2) backEnd.restart();
    while (sent.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) backEnd.readRequests();
    const auto [got, text] = sent.get();
    EXPECT_EQ(got, status) << text;
    EXPECT_TRUE(text.starts_with(said) && (status != 0 || text.empty())) << text;
  }
}

// What raw warns is what the receiver's framing makes of the bytes from where the stream stands: those
// it skips, a header it drops, a body it waits for (one left unfinished before them too), and the start
// of a header left at the end, which the next packet the tools write makes whole or shows up as stray.
TEST(FrontendProgram, RawWarnsWhatTheReceiverMakesOfTheBytes) {
  ScriptedBackEnd backEnd;
  const std::string warning = "frontend: warning: ", skipsLast = " until more come, then skips it before the next packet (\"receive out of sync\")\n";
  const auto skipped = [&](int n) {
    return warning + std::to_string(n) + " of the bytes are not part of a packet; the back end skips them up to the next sync "
           "pair (\"receive out of sync\" on its console)\n";
  };
  const std::tuple<std::string, std::string, bool> cases[] = {  // bytes, warned, after the bytes before (else a new start)
      {"5a81 00000002 00c8 0102", "", false},
      {"5a", warning + "the last byte may begin a header; the back end holds it" + skipsLast, false},
      {"81 00000000 0049", warning + "bytes written before began a header (1 of its 8 bytes): the back end goes on with these\n", true},
      {"5a5a5a", skipped(2) + warning + "the last byte may begin a header; the back end holds it" + skipsLast, false},
      {"5a8100", warning + "the last 3 bytes begin a header; the back end holds them until more come, then drops the header "
                           "they make with the next packet (\"receive invalid length\") and takes that packet\n", false},
      {"5a81000000", warning + "the last 5 bytes begin a header; the back end holds them until more come and takes the bytes "
                               "written next for it\n", false},
      {"0011 5a81 00000003 00c8 01", skipped(2) + warning + "the type 200 packet promises 3 bytes and 1 follow; the back end "
                                                           "waits for the rest and takes the bytes written next for it\n", false},
      {"02", warning + "bytes written before left a packet unfinished, 2 bytes short: the back end takes all of these into its "
                       "body\n" + warning + "that packet is still 1 byte short; the back end takes the bytes written next for it\n", true},
      {"03 000000000049", warning + "bytes written before left a packet unfinished, 1 byte short: the back end takes 1 byte of "
                                    "these into its body\n" + skipped(6), true},
      {"5a81 0000012c 001d", warning + "the MxifSystem header promises 300 bytes, more than its type takes (184); the back end "
                                       "drops it at once (\"receive invalid length\" on its console) and hunts on\n", false},
      {"00 5a81 0000012c 001d", skipped(1) + warning + "the MxifSystem header promises 300 bytes, more than its type takes (184); "
       "the back end drops it at once (\"receive invalid length\" on its console) and hunts on\n" + warning + "of those lines "
       "the console writes a run of equal ones once, with its count, and past a few a frame counts the rest in one (\"receive: "
       "N more lines not written this frame\")\n", false},
  };
  for (const auto& [bytes, warned, after] : cases) {
    if (!after) backEnd.restart();
    EXPECT_EQ(backEnd.run("raw " + bytes), std::pair(0, warned)) << bytes;
    backEnd.readRequests();
  }
}

// Help and the version go to standard output. A usage error (2) names the word at fault and what it
// would take (numbers in decimal as written), a word given twice, a type not built here; a board without
// a back end: 1. Both to stderr alone.
TEST(FrontendProgram, UsageErrorsAndRefusalsNameTheirCause) {
  const std::string board = "--board /nonexistent-board ", empty = "--board " + testing::TempDir() + " --timeout 0.2 ";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"--help", 0, "fields TYPE"},
      // Each command's help is its line of the table, with its own options.
      {"send --help", 0, "frontend [--board DIR] [--timeout S] [--start-timeout S] [--help] [--version] send TYPE"},
      {"watch -h", 0, "Its options:\n  --count N       stop after N reports\n"},
      {"--version", 0, "frontend 6.22-00-0.00 (backup image version 146)\n"},
      {"--version send MxifSystem format=1", 2, "--version takes no other words: send"},
      {"-- types", 0, "  0 MxifKey\n"},
      {board + "--board /b show MxifSystem", 2, "--board /nonexistent-board and --board /b: --board is given twice"},
      {board + "watch --count 1 --count=2", 2, "watch: --count 1 and --count=2: --count is given twice"},
      {empty + "watch", 1, "frontend: no back end is running on " + testing::TempDir() + "\n"},
      {empty + "send MxifSystem secondText=abc", 1, "frontend: no back end is running on "},
      {"", 2, "a command is needed"},
      {"send MxifSystem format=1", 2, "--board DIR is needed"},
      {"--timeout . console", 2, "--timeout takes seconds from 0 to 3600, not ."},
      {empty + "console", 1, "frontend: no back end is running on " + testing::TempDir() + ", and no console ring is there"},
      {board + "wath", 2, "unknown command wath (nearest: watch, wait)"},
      {"fields dsk", 2, "unknown type dsk (nearest: MxifDsk)"},
      {"fields MxifBkgdColorCorrect", 2, "MxifBkgdColorCorrect: the record of this type is not built into this program"},
      {board + "types extra", 2, "types takes no words: extra"},
      {board + "--timout 3 types", 2, "unknown option --timout (nearest: --timeout)"},
      {board + "watch --cuont 3", 2, "unknown option --cuont (nearest: --count)"},
      {board + "wait 0x10", 2, "wait takes one frame count 0..32767"},
      {board + "button 0x650 press", 2, "button takes CODE (0..65535"},
      {board + "raw 5a81 5a8", 2, "raw takes hexadecimal bytes, two digits each, not 5a8"},
      {board + "button key-cut press", 2, "button key-cut stands for 1732..1735: give the code"},
      {board + "--timeout 0 button cut press", 1, "board directory /nonexistent-board: No such file"},  // a name of one code
      {board + "button 1616 press me=0 me=1", 2, "me=0 and me=1: me is given twice"},
      {board + "button 1616 held", 2, "press or release"},
      {board + "button 1616 press me=4", 2, "bad word me=4 (takes me=0..3, panel=0..2, index=0..255)"},
      {board + "fader 0 1 lever=2", 2, "bad word lever=2 (takes panel=0..2)"},
      {board + "fader 0 4096", 2, "fader takes LEVER (0..3) and VALUE (0..4095), not VALUE 4096"},
      {board + "raw " + std::string(2 * (LINK_RING_DATA - 15), '0'), 2, "raw: 131049 bytes never fit the request ring"},
      {board + "send", 2, "a type name is needed"},
      {board + "send MxifSystem vertcalPhase=1", 2, "MxifSystem has no field vertcalPhase (nearest: verticalPhase); its fields"},
      {board + "send MxifBus entrys[2]=1034", 2, "MxifBus has no field entrys[2] (nearest: entries);"},
      {board + "send MxifKey me=1 channel=2", 2, "MxifKey: no field=value given, so nothing to change: nothing sent"},
      {board + "send MxifMaintenanceCmd", 1, "board directory /nonexistent-board: No such file"},  // a command may take none
      {board + "--start-timeout -1 send MxifSystem format=1", 2, "--start-timeout takes seconds from 0 to 3600, not -1"},
      {board + "send MxifSystem format=256", 2, "format=256: out of range: format takes 0..11"},
      {board + "send MxifKey channel=1 adjust.gain=70000", 2, "adjust.gain=70000: out of range: adjust.gain takes 0..2000"},
      // The set that the field list gives the instance (bus codes in a list: isolated ones among them),
      // with the element it depends on as sent.
      {board + "send MxifBus me=1 entries[0]=70000", 2, "entries[0] takes 1034..1065, 1164..1165, 1174..1176, 1205..1206, "},
      {board + "send MxifBkgd patternNumber=300 patternKind=2", 2, "patternNumber takes 0..15 with patternKind=2\n"},
      {board + "send MxifKey effectA=300,1", 2, "effectA[0] takes 0..19, 23 with effectA[1]=1\n"},
      {board + "send MxifBkgd me=2 patternNumber=300", 2, "takes, with patternKind=0: 0..14, 16, 23; with patternKind=1: 0..14, 16..23;"},
      {board + "send MxifKey adjust.gain=0x20", 2, "MxifKey: adjust.gain=0x20: not a whole decimal number"},
      {board + "send MxifSystem verticalPhase=1,2", 2, "verticalPhase=1,2: takes a single value"},
      {board + "send MxifSystem secondText=\u00e9\u00e9\u00e9\u00e9", 2, "8 bytes, more than the 7 it holds"},
      {board + "send MxifBus entries[-1]=1", 2, "MxifBus: entries[-1]: no element -1 (0..88)"},
      {board + "send MxifSystem multiviewSource[8]=1", 2, "no element 8 (0..7)"},
      {board + "send MxifSystem me=1", 2, "MxifSystem is not kept per ME: one record serves every ME; leave me= out"},
      {board + "send MxifBkgd channel=1", 2, "MxifBkgd has one channel, a record per ME (me=0..3); leave channel= out"},
      {board + "send MxifKey me=2 window=1,2", 2, "(MxifKey: ME 2 is not kept in the backup image (only MEs 0 and 1 are))"},
      {board + "send MxifBus me=0 me=1 entries[0]=1050", 2, "MxifBus: me=0 and me=1: me is given twice"},
      {board + "send MxifKey window=1,2 window[1]=3", 2, "MxifKey: window=1,2 and window[1]=3: window[1] is given twice"},
      {board + "send MxifSystem secondText=a secondText=b", 2, "secondText=a and secondText=b: secondText is given twice"},
      {board + "send MxifKey window=1,,3", 2, "MxifKey: window=1,,3: its element 1 is empty\n"},
      {board + "send MxifKey stopping=1", 2, "MxifKey: stopping is status: the back end sets it from the key's transition"},
      {board + "send MxifBus me=4", 2, "me=4: out of range 0..3"},
      {board + "send MxifXptAssign channel=3", 2, "channel=3: out of range 0..2"},
      {board + "send MxifSystem format", 2, "expected field=value"},
      {board + "send MxifSytem", 2, "unknown type MxifSytem (nearest: MxifSystem)"},
      {board + "send waitCmd x=1", 2, "frontend wait N"},
      {board + "watch --type MxifBus,Lamp", 2, "unknown type Lamp"},
      {board + "watch --type MxifBus,", 2, "watch: --type MxifBus,: its name 1 is empty"},
      {board + "watch --count 0", 2, "watch: --count takes a count from 1 to 1000000, not 0; it takes [--count N]"},
      {board + "console --follow=1", 2, "console: --follow takes no value"},
      {board + "send MxifMessageBox", 2, "MxifMessageBox: the record of this type is not built into this program"},
  };
  for (const auto& [line, status, why] : cases) {
    std::istringstream words(line);
    std::ostringstream out, err;
    EXPECT_EQ(frontend::run({std::istream_iterator<std::string>(words), {}}, out, err), status) << line;
    EXPECT_EQ((status == 0 ? err : out).str(), "") << line;
    EXPECT_NE((status == 0 ? out : err).str().find(why), std::string::npos) << out.str() << err.str();
  }
}

// ---- The link beside the tools, with a back end that the test plays ---------------------------------

// The store of the request ring's write index sends a request: a tools' table that cannot be written
// before it leaves the request unsent (status 1, the file named); after it, the request is out and
// its answer cannot be followed (status 3).
TEST(FrontendProgram, ARequestThatWentOutIsNeverReportedAsNotSent) {
  ScriptedBackEnd backEnd;
  std::filesystem::create_directory(backEnd.dir + "/frontend.link.new");
  const std::string table = backEnd.dir + "/frontend.link.new: Is a directory";
  const std::string unfollowed = "; its answer cannot be followed: the tools' table could not be written after it went out (";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"raw 5a81 00000000 00c8", 3, "frontend: sent the bytes" + unfollowed + table + ")\n"},
      {"wait 1", 3, "frontend: sent waitCmd" + unfollowed + table + ")\n"},
      {"send MxifSystem horizontalPhase=1", 1, "frontend: not sent: " + table + "\n"},
  };
  for (const auto& [line, status, said] : cases) {
    const u32 before = linkpeer::loadIndex(backEnd.link.requestRing());
    EXPECT_EQ(backEnd.run(line), std::pair(status, said));
    EXPECT_EQ(linkpeer::loadIndex(backEnd.link.requestRing()) != before, status == 3) << line;
  }
  // The values that go with those given are read in the writer's turn: here no image holds them.
  std::filesystem::remove(backEnd.dir + "/frontend.link.new");
  EXPECT_EQ(backEnd.run("send MxifKey me=0 channel=3 window=1,2"),
            std::pair(1, "frontend: not sent: MxifKey: window[0], window[1] share one presence bit with window[2], window[3], which "
                         "the back end then takes too, and their values are not known (no backup image: " + backEnd.dir +
                         "/nvram.mem: No such file or directory): give them all: window=v1,v2,v3,v4\n"));
  // A table that cannot be written whole (a full disk; here a limit on the file's size) leaves no new file.
  rlimit limit{}, small{};
  getrlimit(RLIMIT_FSIZE, &limit), small = {16, limit.rlim_max}, signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &small);
  const bool written = linkpeer::withTable(backEnd.dir, nullptr, [](linkpeer::LinkTable&) {});
  setrlimit(RLIMIT_FSIZE, &limit), signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(written || std::filesystem::exists(backEnd.dir + "/frontend.link.new"));
}

// With no answer seen, send says why (status 3): the back end has not read the request, or has read
// it and not acted on it yet; or it started again after send began to follow its reports (here while
// send waited for the request ring), which leaves the answer unknown though the request went into the
// rings of the new start, where nothing looks amiss; or a reader that reads no more (a stopped watch)
// held the acknowledgement ring full, named as it stood when send saw that, though it has moved on.
TEST(FrontendProgram, NoAnswerSeenSaysWhy) {
  const std::string sent = "frontend: sent MxifSystem horizontalPhase=5; no answer seen", within = sent + " within 0.5 s: ";
  const std::pair<int, std::string> cases[] = {  // what the back end and the other tools do, what send says
      {0, within + "the back end has not read the request (--timeout S waits longer)\n"},
      {1, within + "the back end has not acted on it yet (a wait holds requests back; --timeout S waits longer)\n"},
      {2, sent + ": the back end started again, resetting its rings (the request may have gone with them)\n"},
      {3, within + "the acknowledgement ring was full: a reader that read no more held it (process " + std::to_string(getpid()) +
              " (test_Tools))\n"},
  };
  for (const auto& [script, said] : cases) {
    ScriptedBackEnd backEnd;
    u8* const ring = backEnd.link.requestRing();
    auto held = std::make_unique<Held>(backEnd.dir + "/link.mem");
    if (script != 2) held.reset();
    auto stuck = std::make_unique<linkpeer::AckReader>(backEnd.dir, backEnd.link.ackRing(), linkpeer::AckReader::From::Now);
    const Bytes request = packetOf({"MxifSystem", "horizontalPhase=5"});
    while (script == 3 && linkpeer::ringRoom(backEnd.link.ackRing()) > 0) {
      linkpeer::ringWrite(backEnd.link.ackRing(), request.data(), request.size());
    }
    auto sent = backEnd.start((script == 2 ? TIMEOUT : "--timeout 0.5 ") + "send MxifSystem horizontalPhase=5");
    const size_t read = request.size() + frontend::waitBody(1).size() + LINK_HEADER_BYTES;  // and the wait after it
    await([&] { return script == 2 ? linkpeer::tableReaders(backEnd.dir).size() == 2 : linkpeer::ringUsed(ring) >= read; });
    if (script == 1) linkpeer::ringConsume(ring, read);
    if (script == 2) backEnd.restart(), held.reset();
    if (script == 3) std::this_thread::sleep_for(std::chrono::milliseconds(200)), stuck->follow();  // seen full meanwhile
    EXPECT_EQ(sent.get(), std::pair(3, said));
  }
}

// SIGINT and SIGTERM end a watch whatever its time-out, and one with a count says it was stopped;
// what a plain watch printed still waits for a watch --waiting. A follow of the console ends at a
// time-out given.
TEST(FrontendTable, AWatchEndsAtASignalAndLeavesWhatIsWaiting) {
  ScriptedBackEnd backEnd;
  for (const int signal : {SIGINT, SIGTERM}) {
    auto watch = backEnd.start(TIMEOUT + "watch --count 2");
    await([&] { return backEnd.readersAtEnd(); });
    backEnd.report({"MxifSystem", "horizontalPhase=1"});
    await([&] { return backEnd.readersAtEnd(); });
    kill(getpid(), signal);
    EXPECT_EQ(watch.wait_for(std::chrono::seconds(WAIT_SECONDS)), std::future_status::ready);
    EXPECT_EQ(watch.get().second, "MxifSystem horizontalPhase=1\nfrontend: watch: 1 of 2 packets before it was stopped\n");
  }
  EXPECT_EQ(backEnd.run("watch --waiting --timeout 0").second, "MxifSystem horizontalPhase=1\nMxifSystem horizontalPhase=1\n");
  EXPECT_EQ(backEnd.run("console --follow --timeout 0.1"), std::pair(0, std::string()));
}

// A wait for a lock says once, after a second, what holds it; the time that the waiting process was
// stopped is not counted, so that it waits on for the time it has left (once it is surely waiting).
TEST(FrontendTable, ALockWaitSaysItsHolderAndCountsNoTimeStopped) {
  ScriptedBackEnd board;  // its directory, of this process alone
  auto held = std::make_unique<Held>(board.dir);
  const int fd = ::open(board.dir.c_str(), O_RDONLY | O_CLOEXEC);
  std::string error;
  const auto within = [&](int ms) {
    return linkpeer::lockWithin(fd, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), "the lock", error);
  };
  std::ostringstream said;
  EXPECT_FALSE((cli::WaitNotices(said, ""), within(1300)));  // notices said for that wait
  EXPECT_EQ(said.str(), "waiting for the lock, held by process " + std::to_string(getpid()) + " (test_Tools)\n");
  int ready[2] = {-1, -1}, status = -1;
  char byte = 0;
  ASSERT_EQ(pipe(ready), 0);
  const pid_t waiter = fork();
  if (waiter == 0) ::close(held->fd), byte = static_cast<char>(write(ready[1], &byte, 1)), _exit(within(1000) ? 0 : 1);
  const auto third = [&](const char* file) {  // its state in /proc's stat, how often it ran in schedstat
    std::string w[3];
    return std::ifstream("/proc/" + std::to_string(waiter) + "/" + file) >> w[0] >> w[1] >> w[2], w[2];
  };
  EXPECT_EQ(read(ready[0], &byte, 1), 1);  // it is about to wait: stopped once it has tried a few times
  long long runs = std::atoll(third("schedstat").c_str());
  await([&] { return std::atoll(third("schedstat").c_str()) > runs + 2; });
  kill(waiter, SIGSTOP), await([&] { return third("stat") == "T"; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // stopped past its whole time-out
  runs = std::atoll(third("schedstat").c_str());
  kill(waiter, SIGCONT), await([&] { return std::atoll(third("schedstat").c_str()) > runs + 2 || third("stat") == "Z"; });
  held.reset();  // once it has looked at the time again
  waitpid(waiter, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(fd), ::close(ready[0]), ::close(ready[1]);
}

// The table ends in a checksum of all before it: a table edited or cut but left with its old sum is
// not taken (a visit makes it anew), the table as written is.
TEST(FrontendTable, ATableIsTakenOnlyWithItsOwnSum) {
  ScriptedBackEnd backEnd;
  const std::string table = backEnd.dir + "/frontend.link";
  linkpeer::withTable(backEnd.dir, nullptr, [](linkpeer::LinkTable& t) { t.readers.push_back({getpid(), 1, 100}), t.taken = {5}; });
  std::stringstream whole;
  whole << std::ifstream(table).rdbuf();
  const std::pair<std::string, std::string> edits[] = {{"", ""}, {" 1 100\n", " 1 101\n"}, {"\ntaken 5", "\ntaken"}};
  for (const auto& [from, to] : edits) {
    std::string text = whole.str();
    if (!from.empty()) text.replace(text.find(from), from.size(), to);
    std::ofstream(table) << text;
    linkpeer::LinkTable t;
    EXPECT_EQ(linkpeer::readTable(backEnd.dir, t), from.empty()) << text;
  }
}

// A table made anew while a reader runs holds the read index for a while, so that a reader that was
// not visiting it (a stopped watch) is back in it before it moves: reports that a watch --waiting took
// meanwhile stay for that reader. A reader that the read index passed says whether the table was lost
// then, or a reader outside the tools took the reports. Where no reader runs, nothing is held.
TEST(FrontendTable, AReaderOfALostTableKeepsItsReportsOrSaysWhyNot) {
  using Follow = linkpeer::AckReader::Follow;
  ScriptedBackEnd backEnd;
  u8* const ring = backEnd.link.ackRing();
  // The table lost and its reports taken by a watch --waiting within the hold, the same past it (a
  // table made long ago), or the ring read by another.
  for (const Follow followed : {Follow::Copied, Follow::TableLost, Follow::Taken}) {
    linkpeer::AckReader reader(backEnd.dir, ring, linkpeer::AckReader::From::Now);
    frontend::AckReports send(backEnd.link);  // a send's reports, which stay lost once they went
    backEnd.report({"MxifSystem", "horizontalPhase=1"});
    if (followed != Follow::Taken) {
      std::filesystem::remove(backEnd.dir + "/frontend.link");
      backEnd.run("watch --waiting --timeout 0");
    }
    if (followed == Follow::TableLost) linkpeer::withTable(backEnd.dir, ring, [](linkpeer::LinkTable& t) { t.made = "1.0"; });
    if (followed == Follow::Taken) linkpeer::ringConsume(ring, linkpeer::ringUsed(ring));
    const auto age = [&] {  // of the table made anew, as the hold counts it
      linkpeer::LinkTable t;
      linkpeer::readTable(backEnd.dir, t);
      return std::chrono::steady_clock::now().time_since_epoch() - std::chrono::nanoseconds(std::atoll(t.made.c_str() + t.made.find('.') + 1));
    };
    // A loaded host may keep this test from following within the hold: then the table is lost to it.
    const auto before = age();
    const Follow got = reader.follow(), want = followed != Follow::Copied || age() < linkpeer::REBUILD_GRACE ? followed
                                               : before >= linkpeer::REBUILD_GRACE                     ? Follow::TableLost
                                                                                                       : got;
    EXPECT_EQ(got, want);
    EXPECT_EQ(reader.bytes().empty(), want != Follow::Copied);
    send.poll(), backEnd.report({"MxifSystem", "horizontalPhase=2"}), send.poll();
    EXPECT_EQ(send.lost(), want != Follow::Copied);
  }
  backEnd.report({"MxifSystem", "horizontalPhase=1"});
  std::filesystem::remove(backEnd.dir + "/frontend.link");
  backEnd.run("watch --waiting --timeout 0");
  EXPECT_EQ(linkpeer::ringUsed(ring), 0u);
}

// A watch says what it could not show: a new start of the back end, reports that a reader outside the
// tools took, reports that went while the tools' table was lost. A table damaged between its visits
// (deleted, cut, emptied, filled with garbage) is rebuilt from the readers: nothing is missing.
TEST(FrontendTable, AWatchSaysWhyReportsAreMissing) {
  ScriptedBackEnd backEnd;
  u8* const ring = backEnd.link.ackRing();
  const std::string table = backEnd.dir + "/frontend.link";
  auto watch = backEnd.start(TIMEOUT + "watch --count 6");
  await([&] { return backEnd.readersAtEnd(); });
  std::string shown;
  for (int step = 1; step <= 8; ++step) {
    if (step == 2) backEnd.restart();
    {
      Held held(backEnd.dir);  // what is done here is done before the watch reads the report
      backEnd.report({"MxifSystem", "horizontalPhase=" + std::to_string(step)});
      if (step == 4 || step == 5) std::filesystem::remove(table);
      if (step == 6 || step == 7) std::filesystem::resize_file(table, std::filesystem::file_size(table) / 2 * (step - 6));
      if (step == 8) std::ofstream(table) << "reader 1 1 0\nwaiting 1000\nsum 0\n";
      if (step == 3 || step == 4) linkpeer::ringConsume(ring, linkpeer::ringUsed(ring));
    }
    if (step < 8) await([&] { return backEnd.readersAtEnd(); });  // the watch ends with the last
    if (step != 3 && step != 4) shown += "MxifSystem horizontalPhase=" + std::to_string(step) + "\n";
    if (step == 1) shown += "(the back end started again: what follows is from its new start)\n";
    if (step == 2) shown += "(reports are missing here: a reader outside these tools took them)\n";
    if (step == 3) {
      shown += "(reports are missing here: the tools' table frontend.link was lost and they went before this watch read them)\n";
    }
  }
  EXPECT_EQ(watch.get(), std::pair(0, shown));
}

// Of the reports waiting for a watch --waiting the tools keep the last 64 KB: older ones are dropped
// for room, and the next watch --waiting says how many of each type, leaving out those that a watch
// --waiting --type took.
TEST(FrontendTable, WaitingReportsDroppedForRoomAreCountedByType) {
  ScriptedBackEnd backEnd;
  u8* const ring = backEnd.link.ackRing();
  backEnd.report({"MxifSystem", "horizontalPhase=1"});
  for (int i = 0; i < 3; ++i) backEnd.report({"MxifBus", "me=0", "entries[0]=1034"});
  EXPECT_EQ(backEnd.run("watch --waiting --type MxifBus --timeout 0").first, 0);
  const Bytes large = linkpeer::packetBytes(category::TYPE_MESSAGE_BOX, Bytes(1000, 0));
  for (int i = 0; i < 100; ++i) linkpeer::ringWrite(ring, large.data(), large.size());
  linkpeer::withTable(backEnd.dir, ring, [](linkpeer::LinkTable&) {});
  EXPECT_EQ(backEnd.run("watch --waiting --type MxifBus --timeout 0"),
            std::pair(0, std::string("(36 older waiting reports that no watch --waiting took were dropped for room, as the "
                                     "tools keep the last 64 KB of them: 1 MxifSystem, 35 MxifMessageBox)\n")));
}

}  // namespace
