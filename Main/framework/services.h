#pragma once
// Shared pieces of the categories of the inputs and outputs, memories, stills and clips.
#include <initializer_list>

#include "Main/framework/bp.h"

namespace category {

// A record category whose channels carry their own number in the index byte (byte 4), so that a
// channel changed here rather than by a request is still reported as that channel.
template <class T>
class CategoryChannels : public CategoryCommon<T> {
 public:
  void initData() override {
    CategoryCommon<T>::initData();
    for (int ch = 0; ch < CategoryCommon<T>::N_CHANNELS; ++ch) {
      reinterpret_cast<u8*>(&this->record(ch))[4] = static_cast<u8>(ch);
    }
  }
};

// A record category whose records live in the object, outside the backup image: every start
// begins from the defaults.
template <class T>
class CategoryInObject : public CategoryCommon<T> {
 public:
  int bindStorage(void* area) override {
    (void)area;
    for (auto& r : own_) r = T{};
    this->records = own_;
    return 0;
  }
  void resume(const void* saved, int flag = 0) override {
    (void)saved;
    (void)flag;
    this->initData();
  }

 private:
  T own_[CategoryCommon<T>::N_CHANNELS] = {};
};

// A record category that also owns command types (or record types without a category of their
// own). Such a message is taken whole and not acted on: the dispatcher has already taken its body
// out of the request stream, so the stream stays in step whatever the body holds.
template <class T>
class CategoryWithCommands : public CategoryChannels<T> {
 public:
  void receiveCommand(int type, RequestReceiver& rx) override {
    (void)type;
    (void)rx;
  }

 protected:
  explicit CategoryWithCommands(std::initializer_list<int> types) {
    for (int type : types) CategoryRegistry::instance().setCommandOwner(type, T::TYPE_INDEX);
  }
};

}  // namespace category
