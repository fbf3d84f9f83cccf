#pragma once
// Switching commands (command type 76): a bus record for one ME applied at a picture boundary. A
// command that arrives while the switching gate is closed waits in a ring of ten slots; the frame's
// queued work drains the ring at the start of the next frame whose gate is open. Every command is
// answered with its body and a reply code.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

// A ring of ten commands that holds at most nine.
class SwitchingCmdQueue {
 public:
  static constexpr u32 N_SLOTS = 10;

  bool empty() const { return write_ == read_; }
  bool full() const { return size() == N_SLOTS - 1; }
  u32 size() const { return (write_ - read_ + N_SLOTS) % N_SLOTS; }
  // Fails "full() == false" on a full ring.
  void push(const MxifSwitchingCmd& cmd);
  // Fails "empty() == false" on an empty ring.
  MxifSwitchingCmd pop();
  void clear() { write_ = read_ = 0; }

 private:
  u32 write_ = 0;
  u32 read_ = 0;
  MxifSwitchingCmd slots_[N_SLOTS];
};

class CategorySwitchingCmd : public CategoryWithoutStatus<MxifSwitchingCmd>, public FrameQueue {
 public:
  static CategorySwitchingCmd& instance();

  // Empties the ring and closes the gate until the first update opens it.
  void initInternal() override;
  // Last update class: the gate for the next frame, from this frame's field flag.
  void update() override;
  // One command: executed at once while the gate is open, else queued.
  void receiveCommand(int type, RequestReceiver& rx) override;
  // Start of frame: the queued commands, oldest first, while the gate is open.
  void runQueue() override;

  bool gateOpen() const { return gate_ != 0; }
  u32 queued() const { return queue_.size(); }

 protected:
  CategorySwitchingCmd() = default;

 private:
  // Applies the command's bus record to the bus category of its ME (reply 0), or refuses it (-3),
  // and answers it.
  void execute(MxifSwitchingCmd& cmd);
  void drain();

  u8 gate_ = 0;
  SwitchingCmdQueue queue_;
};

}  // namespace category
