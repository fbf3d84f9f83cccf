#include "Main/panel/switching.h"

#include "Lib/Include/log.h"
#include "Main/system/system.h"

namespace category {
namespace {

using Cmd = MxifSwitchingCmd;

// Reads a command from the packet body: the head, then the bus record when the no-record flag asks
// for one. False (logged as a short record) when the body holds less than that.
bool readCommand(RequestReceiver& rx, Cmd& cmd) {
  if (rx.remaining() < Cmd::HEAD_BYTES) {
    rx.reportShort();
    return false;
  }
  cmd.command1 = rx.readU8();
  cmd.command2 = rx.readU8();
  cmd.kind = rx.readS16();
  cmd.reply = rx.readS16();
  cmd.noRecord = rx.readU8();
  return !cmd.hasBus() || rx.readRecord(cmd.bus);
}

// The command as answered: with the bus record as received when it carried one.
void reply(const Cmd& cmd) {
  AcknowledgeSender& tx = AcknowledgeSender::instance();
  if (cmd.hasBus()) {
    if (!tx.writeRecord(Cmd::TYPE_INDEX, cmd)) reportSendBufferFull();
    return;
  }
  if (!tx.beginPacket(Cmd::TYPE_INDEX, Cmd::HEAD_BYTES)) {
    reportSendBufferFull();
    return;
  }
  tx.writeU8(cmd.command1);
  tx.writeU8(cmd.command2);
  tx.writeU16(static_cast<u16>(cmd.kind));
  tx.writeU16(static_cast<u16>(cmd.reply));
  tx.writeU8(cmd.noRecord);
}

}  // namespace

void SwitchingCmdQueue::push(const MxifSwitchingCmd& cmd) {
  MX_CHECK(full() == false);
  slots_[write_] = cmd;
  write_ = (write_ + 1) % N_SLOTS;
}

MxifSwitchingCmd SwitchingCmdQueue::pop() {
  MX_CHECK(empty() == false);
  const MxifSwitchingCmd cmd = slots_[read_];
  read_ = (read_ + 1) % N_SLOTS;
  return cmd;
}

CategorySwitchingCmd& CategorySwitchingCmd::instance() {
  static CategorySwitchingCmd category;
  return category;
}

void CategorySwitchingCmd::initInternal() {
  queue_.clear();
  gate_ = 0;
}

void CategorySwitchingCmd::update() { gate_ = isSwitchingGateOpen() ? 1 : 0; }

void CategorySwitchingCmd::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  Cmd cmd;
  if (!readCommand(rx, cmd)) return;
  rx.clearHeader();
  if (gate_ != 0) {
    execute(cmd);
    return;
  }
  if (queue_.full()) {
    MX_LOG(libmx::ERR, "switching cmd buffer full");
    drain();
  }
  queue_.push(cmd);
}

void CategorySwitchingCmd::runQueue() {
  if (gate_ != 0) drain();
}

void CategorySwitchingCmd::drain() {
  while (!queue_.empty()) {
    Cmd cmd = queue_.pop();
    execute(cmd);
  }
}

void CategorySwitchingCmd::execute(Cmd& cmd) {
  cmd.reply = Cmd::REPLY_REFUSED;
  // Only MEs 0..3 have bus categories; any other ME number is refused before the registry is asked.
  if (limits::takes(cmd, cmd.kind) && cmd.hasBus() && limits::takes(cmd, cmd.bus.me)) {
    auto* bus = CategoryRegistry::instance().find<CategoryCommon<MxifBus>>(TYPE_BUS, cmd.bus.me);
    if (bus != nullptr) {
      bus->assign(cmd.bus, 0);
      cmd.reply = Cmd::REPLY_DONE;
    }
  }
  reply(cmd);
}

}  // namespace category
