// What send says of an answer: the back end's categories in this program stand in for the board's
// back end; each send is taken by them, answered as the back end answers it, and judged from the
// backup image they held before it.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/rules.h"
#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Platform/platform.h"
#include "Tools/lib/frontend.h"
#include "Tools/lib/scratch_system.h"

namespace {

using frontend::Bytes;

// A send to the categories here, as a back end takes it: what was typed, the answer's refusals,
// the verdict on them, and the rules the back end noted while it took the request.
struct Sent {
  int type = -1;
  Bytes body;
  std::set<std::string> typed;
  std::vector<frontend::Refusal> refusals;
  frontend::Verdict verdict;
  std::vector<rules::Note> notes;
  Bytes after;  // the instance's record after the frame
  bool built = false;
};

// The record of an instance as the categories here keep it.
Bytes heldRecord(int type, int me, int channel) {
  frontend::RecordShape shape;
  auto& registry = category::CategoryRegistry::instance();
  const int row = registry.at(type, me) != nullptr ? me : 0;
  if (!frontend::recordShape(type, shape) || registry.at(type, row) == nullptr) return {};
  const int bytes = registry.boundBytes(type, row);
  if (bytes < static_cast<int>(shape.size) * (channel + 1)) return {};
  const u8* at = registry.storageOf(type, row) + frontend::recordOffset(bytes, shape, channel);
  return Bytes(at, at + shape.size);
}

Sent send(const std::vector<std::string>& words) {
  Sent s;
  frontend::RequestContext context;
  context.current = [&](int me, int channel, Bytes& record, std::string&) {
    record = heldRecord(frontend::typeIndexOf(words[0]), me, channel);
    return !record.empty();
  };
  Bytes packet;
  std::string error;
  if (!frontend::sendPacket(words, packet, error, &context)) return s;
  s.built = true;
  s.type = frontend::typeIndexOf(words[0]);
  s.body.assign(packet.begin() + 8, packet.end());
  s.typed = context.typed;
  const Bytes before = frontend::scratchImage();
  // The frame that takes it, and its answer.
  u8* const ack = platform::memory(LINK_ACK_RING, 8 + LINK_RING_DATA);
  linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
  linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet.data(), packet.size());
  auto& registry = category::CategoryRegistry::instance();
  rules::clear();
  registry.receiveAll();
  registry.updatePass();
  for (int i = 0; i < rules::count(); ++i) s.notes.push_back(rules::noteAt(i));
  registry.sendAll(AcknowledgeSender::instance());
  std::vector<linkpeer::Packet> reports;
  size_t garbage = 0;
  linkpeer::parsePackets(linkpeer::ringPeek(ack), reports, garbage);
  linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
  int me = 0, channel = 0;
  frontend::requestInstance(s.type, s.body, me, channel);
  s.after = heldRecord(s.type, me, channel);
  // The answer: the instance's report; without one every field sent is left out.
  bool answered = false;
  for (const linkpeer::Packet& p : reports) answered = answered || frontend::echoRefusals(s.type, s.body, p, s.refusals);
  if (!answered) frontend::requestFields(s.type, s.body, s.refusals);
  // A field left out that the record holds as sent was taken (no change).
  std::erase_if(s.refusals, [&](const frontend::Refusal& r) {
    return r.answered.empty() && frontend::storedHolds(s.type, s.after.data(), s.body, r.field);
  });
  const Bytes afterImage = frontend::scratchImage();
  s.verdict = frontend::judgeAnswer(s.type, s.body, s.typed, s.refusals, before, s.after);
  frontend::loadScratchImage(afterImage);
  return s;
}

class Verdicts : public ::testing::Test {
 protected:
  void SetUp() override { frontend::loadScratchImage({}); }
};

// Each line of a send, refusals and notes, set against what the operator typed and the answer: a
// typed value held as typed is no refusal, a rule's move of a field the tool filled in is a note,
// and each reason is the rule that decided with the value that made it decide.
TEST_F(Verdicts, EachLineIsTheRuleThatDecidedWithTheValueThatMadeIt) {
  struct Case {
    std::vector<std::vector<std::string>> before;
    std::vector<std::string> words;
    std::vector<std::string> refused, notes;  // each line's start, after "field=value: "
  };
  const Case cases[] = {
      {{{"MxifKey", "me=0", "channel=1", "maskBox=0,0,0,0"}},
       {"MxifKey", "me=0", "channel=1", "maskBox[0]=3000"},
       {},
       {"maskBox[3] (sent as last backed up: 0): it holds 3000: the edge rule (edges left, top, bottom, right)"}},
      {{},
       {"MxifKey", "me=1", "channel=2", "maskBox=5000,0,0,0"},
       {"maskBox[3]=0: it holds 5000: the edge rule (edges left, top, bottom, right): a changed edge pushes its opposite, "
        "so right stays at least left and top at least bottom; decided by maskBox[0]=5000, sent with it"},
       {}},
      {{},
       {"MxifKey", "dveScale.first=7500", "dveScale.second=4999"},
       {"dveScale.first=7500: kept its value: dveScale.first and dveScale.second sent together are taken together",
        "dveScale.second=4999: takes 0, 5000..10000"},
       {}},
      {{{"MxifKey", "dveScale.first=7500"}}, {"MxifKey", "dveScale.first=0"}, {}, {"dveScale.first=0: it holds 10000: a dveScale value of 0"}},
      {{},
       {"MxifBkgd", "patFree1.size=5", "patFree1.edges[0]=-5001"},
       {"patFree1.size=5: kept its value: the free-pattern sub-record is taken whole or not at all",
        "patFree1.edges[0]=-5001: takes -5000..5000"},
       {}},
      {{{"MxifXptAssign", "channel=0", "source[7]=150"}, {"MxifBus", "me=1", "entries[4]=7"}},
       {"MxifBus", "me=0", "entries[1]=1178"},
       {"entries[1]=1178: it holds 1247 (takes 1034..1065, 1164..1165, 1205..1206, 1208..1209, 1211..1212, 1214..1215, "
        "1225..1226, 1228..1229, 1231..1232, 1234..1235, 1244..1247): entries 0..11 take neither the ME's own output nor "
        "that of an ME that takes this ME's output, directly or through another ME (a loop); decided by MxifXptAssign "
        "channel=0 source[7]=150, as the back end holds it"},
       {}},
      {{}, {"MxifBus", "entries[0]=0"}, {"entries[0]=0: it holds 1247 (takes 1034..1065"}, {}},
      {{},
       {"MxifSystem", "format=2", "genlockReference=1", "genlockSetup=1"},
       {"genlockReference=1: it holds 2: the format in force decides the genlock reference",
        "genlockSetup=1: it holds 0: the format in force decides the genlock setup"},
       {}},
      {{{"MxifSystem", "genlockSetup=1"}},
       {"MxifSystem", "format=1", "genlockSetup=3", "genlockReference=0"},
       {"genlockSetup=3: it holds 0 (takes 0..1): the format in force decides the genlock setup: formats 1, 2, 5, 7, 9 "
        "and 11 take none (genlockSetup 0), the others 0 or 1; decided by format=1, sent with it"},
       {}},
      {{},
       {"MxifUpStreamKeyAssign", "source[7]=213"},
       {"source[7]=213: it holds 223 (takes 10..41, 140..141"},
       {}},
      {{},
       {"MxifKey", "me=1", "dveShape.cropMode=1", "dveCrop=100,0,0,0"},
       {"dveCrop[3]=0: it holds 100: the edge rule with the crop mode that the channel held before this request "
        "(dveShape.cropMode=0"},
       {}},
  };
  for (const Case& c : cases) {
    frontend::loadScratchImage({});
    for (const auto& words : c.before) ASSERT_TRUE(send(words).verdict.refused.empty()) << words[1];
    const Sent s = send(c.words);
    ASSERT_TRUE(s.built) << c.words[1];
    ASSERT_EQ(s.verdict.refused.size(), c.refused.size()) << c.words[1] << ": " << testing::PrintToString(s.verdict.refused);
    ASSERT_EQ(s.verdict.notes.size(), c.notes.size()) << c.words[1] << ": " << testing::PrintToString(s.verdict.notes);
    for (size_t i = 0; i < c.refused.size(); ++i) EXPECT_EQ(s.verdict.refused[i].rfind(c.refused[i], 0), 0u) << s.verdict.refused[i];
    for (size_t i = 0; i < c.notes.size(); ++i) EXPECT_EQ(s.verdict.notes[i].rfind(c.notes[i], 0), 0u) << s.verdict.notes[i];
  }
}

}  // namespace
