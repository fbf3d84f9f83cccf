#pragma once
// Test categories registered under real type indexes, with a shared log of the calls the
// registry makes on them.
#include <string>
#include <vector>

#include "Main/framework/bp.h"

namespace test_categories {

// A small record: head word, index byte, two head fields, and a sub-group word with one field.
template <int TYPE, bool PERME = false, int CH = 1>
struct Rec {
  static constexpr int TYPE_INDEX = TYPE;
  static constexpr bool PER_ME = PERME;
  static constexpr int N_CHANNELS = CH;
  u32 mask;
  u8 me;  // the channel in single-instance records
  u8 a;
  s16 b;
  u32 subMask;
  u16 c;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("me", r.me);
    v.field("a", r.a, r.mask, 0);
    v.field("b", r.b, r.mask, 1);
    v.mask("subMask", r.subMask);
    v.field("c", r.c, r.subMask, 0);
  }
};
constexpr int REC_WIRE = 4 + 1 + 1 + 2 + 4 + 2;

// A command type (system initialise) of two words.
struct InitCmd {
  static constexpr int TYPE_INDEX = category::TYPE_SYSTEM_INITIAL_CMD;
  u32 code;
  u32 arg;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("code", r.code);
    v.field("arg", r.arg);
  }
};

inline std::vector<std::string>& calls() {
  static std::vector<std::string> log;
  return log;
}

inline std::string call(const char* what, int type, int me, int part = -1) {
  std::string s = std::string(what) + " " + std::to_string(type) + "/" + std::to_string(me);
  if (part >= 0) s += ":" + std::to_string(part);
  return s;
}

template <class R>
class TestCategory : public category::CategoryCommon<R> {
 public:
  using Base = category::CategoryCommon<R>;
  bool logSends = false;
  bool markDirtyEachUpdate = false;

  void update() override {
    calls().push_back(call("update", R::TYPE_INDEX, this->me));
    if (markDirtyEachUpdate) {
      for (auto& d : this->dirty) d = 1;
    }
  }
  void storeBackup() override { calls().push_back(call("store", R::TYPE_INDEX, this->me)); }
  void refresh() override { calls().push_back(call("refresh", R::TYPE_INDEX, this->me)); }
  void sendStatus(AcknowledgeSender& tx) override {
    if (logSends) calls().push_back(call("sendStatus", R::TYPE_INDEX, this->me));
    Base::sendStatus(tx);
  }
  void send(AcknowledgeSender& tx, int part) override {
    if (logSends) calls().push_back(call("send", R::TYPE_INDEX, this->me, part));
    Base::send(tx, part);
  }
  bool isDirty(int ch) const { return this->dirty[ch] != 0; }
  void markDirty(int ch) { this->dirty[ch] = 1; }
};

}  // namespace test_categories
