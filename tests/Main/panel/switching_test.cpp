// Switching commands through the request ring, in the categories that start-up creates: the gate of
// the field flag one frame late, the ring of ten slots, and the answers.
#include <gtest/gtest.h>

#include <vector>

#include "Main/bus/bus.h"
#include "Main/panel/switching.h"
#include "Main/system/system.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategorySwitchingCmd;
using testing_support::AckPacket;
using Cmd = MxifSwitchingCmd;

constexpr u16 SDI3 = 1024 + 12;  // the direct code of SDI input 3

class SwitchingTest : public test_categories::SystemCategoriesTest {
 protected:
  static CategorySwitchingCmd& queue() { return CategorySwitchingCmd::instance(); }
  static u16 entry0(int me) { return category::CategoryBus::instance()[me].record(0).entries[0]; }
  static void setSystem(int format, int recallPhaseMode) {
    MxifSystem& r = category::CategorySystem::instance().record(0);
    r.format = static_cast<u8>(format), r.recallPhaseMode = static_cast<u8>(recallPhaseMode);
  }

  // A bus command selecting code on entry 0 of an ME; command byte 1 tells commands apart.
  static Cmd busCommand(int me, u16 code, u8 tag = 0) {
    Cmd c;
    c.command1 = tag, c.bus.me = static_cast<u8>(me);
    c.bus.setEntry(0, code);
    return c;
  }
  void send(const Cmd& c, size_t bytes = 203) {
    testing_support::Bytes body = testing_support::recordBytes(c);
    body.resize(bytes);
    peer.sendPacket(Cmd::TYPE_INDEX, body);
  }
  // Runs a frame; returns the answers it sent.
  std::vector<AckPacket> frame(int field = 0) {
    runFrame(field);
    std::vector<AckPacket> out;
    for (auto& p : peer.readPackets()) if (p.type == Cmd::TYPE_INDEX) out.push_back(p);
    return out;
  }
};

// The gate that the update of one frame computes from its field flag governs the next frame; none
// is open before the first update.
TEST_F(SwitchingTest, GateOfTheFieldFlagOneFrameLate) {
  send(busCommand(0, SDI3));
  EXPECT_TRUE(frame().empty());
  EXPECT_EQ(frame().size(), 1u);
  EXPECT_EQ(entry0(0), SDI3);

  struct Case { int format, mode, field; bool atOnce; } cases[] = {  // field of the frame before the command's
      {8, 0, 1, false}, {8, 0, 0, true}, {4, 0, 1, true}, {4, 2, 0, true},
      {0, 0, 1, true},  {0, 1, 1, false}, {0, 2, 0, false}, {0, 2, 1, true}};
  u8 tag = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " mode " << c.mode << " field " << c.field);
    setSystem(c.format, c.mode);
    runFrame(c.field);
    ++tag;
    send(busCommand(0, static_cast<u16>(SDI3 + tag % 2), tag));
    // The command's frame has the other field, which opens the gate for the frame after it.
    auto answers = frame(1 - c.field);
    EXPECT_EQ(std::tuple(answers.size(), queue().queued()), std::tuple(c.atOnce ? 1u : 0u, c.atOnce ? 0u : 1u));
    if (!c.atOnce) answers = frame();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].as<Cmd>().command1, tag);
    EXPECT_EQ(entry0(0), SDI3 + tag % 2);
  }
}

TEST_F(SwitchingTest, TenthCommandOnAClosedGateRunsTheNineQueuedFirst) {
  setSystem(8, 0);
  runFrame(1);
  for (u8 tag = 1; tag <= 10; ++tag) send(busCommand(0, SDI3, tag));
  auto answers = frame(1);
  EXPECT_EQ(testing_support::consoleCount("[ERR] switching cmd buffer full"), 1);
  ASSERT_EQ(answers.size(), 9u);
  for (u8 i = 0; i < 9; ++i) EXPECT_EQ(answers[i].as<Cmd>().command1, i + 1);
  EXPECT_EQ(queue().queued(), 1u);
  frame(0);  // the gate opens for the next frame
  answers = frame();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].as<Cmd>().command1, 10);
}

// Refused commands are answered -3 and change nothing; a body is read as long as it is, whatever
// its no-record flag says, and one too short for its flag is dropped. Only the first is applied.
TEST_F(SwitchingTest, AnswersAndRefusals) {
  // Kind, no-record flag, ME, body sent, body answered (0: none), reply.
  struct Case { s16 kind; u8 noRecord, me; size_t bytes, answer; s16 reply; } cases[] = {
      {0, 0, 2, 203, 203, 0},   {1, 1, 0, 7, 7, -3},   {1, 0, 0, 203, 203, -3}, {0, 0, 4, 203, 203, -3},
      {0, 0, 12, 203, 203, -3}, {0, 1, 0, 203, 7, -3}, {0, 0, 0, 7, 0, 0}};
  runFrame(0);  // the gate opens in format 0
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    testing_support::consoleClear();
    Cmd cmd = busCommand(c.me, SDI3, 5);
    cmd.kind = c.kind, cmd.noRecord = c.noRecord;
    send(cmd, c.bytes);
    const auto answers = frame();
    ASSERT_EQ(answers.size(), c.answer != 0 ? 1u : 0u);
    EXPECT_EQ(testing_support::consoleCount("receive short record MxifSwitchingCmd : 7 byte"), c.answer == 0 ? 1 : 0);
    if (c.answer == 0) continue;
    const AckPacket& a = answers[0];
    ASSERT_EQ(a.body.size(), c.answer);
    const u16 reply = static_cast<u16>(c.reply);
    EXPECT_EQ(std::vector<u8>(a.body.begin(), a.body.begin() + 7),
              (std::vector<u8>{5, 0, 0, static_cast<u8>(c.kind), static_cast<u8>(reply >> 8), static_cast<u8>(reply), c.noRecord}));
    EXPECT_TRUE(c.answer == 7 || a.as<Cmd>().bus.entries[0] == SDI3);
  }
  for (int me = 0; me < category::N_ME; ++me) EXPECT_EQ(entry0(me) == SDI3, me == 2) << me;
}

}  // namespace
