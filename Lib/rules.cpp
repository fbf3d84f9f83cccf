#include "Lib/Include/rules.h"

#include <cstring>

#include "build_mark.h"

namespace rules {

u32 internal::written = 0;  // since the last clear

namespace {

Note* ring() {
  static Note notes[RING];
  return notes;
}

Note& next() {
  Note& n = ring()[internal::written % RING];  // wraps harmlessly: RING divides 2^32
  ++internal::written;
  n = Note{};
  return n;
}

u16 offsetIn(const void* record, const void* field) {
  return static_cast<u16>(static_cast<const u8*>(field) - static_cast<const u8*>(record));
}

void noteInput(From from, int type, const void* record, const void* field, size_t size, int me, int channel) {
  Note& n = next();
  n.type = type;
  n.at = offsetIn(record, field);
  n.size = static_cast<u16>(size);
  n.me = static_cast<s8>(me);
  n.channel = static_cast<s8>(channel);
  n.from = from;
  std::memcpy(n.value, field, size < VALUE_BYTES ? size : VALUE_BYTES);
}

}  // namespace

const Rule TRUTH_VALUE = {Effect::SAME, "a truth value: any value other than 0 is taken as 1"};

void note(const Rule& rule, int type, const void* record, const void* field, size_t size) {
  Note& n = next();
  n.rule = &rule;
  n.type = type;
  n.at = offsetIn(record, field);
  n.size = static_cast<u16>(size);
  n.record = record;
}

void input(int type, const void* record, const void* field, size_t size, int me, int channel) {
  noteInput(From::HELD, type, record, field, size, me, channel);
}

void sent(int type, const void* record, const void* field, size_t size) {
  noteInput(From::SENT, type, record, field, size, -1, -1);
}

namespace {

// The record being checked (Checking), while one is.
struct Checked {
  int type = -1;
  const u8* base = nullptr;
  size_t size = 0;
};
Checked& checked() {
  static Checked c;
  return c;
}

}  // namespace

Checking::Checking(int type, const void* record, size_t size) : set_(checked().base == nullptr) {
  if (set_) checked() = {type, static_cast<const u8*>(record), size};
}

Checking::~Checking() {
  if (set_) checked() = {};
}

void refusedBy(const void* field, size_t size, s32 lo, s32 hi) {
  const Checked& c = checked();
  const u8* at = static_cast<const u8*>(field);
  if (c.base == nullptr || at < c.base || at + size > c.base + c.size) return;
  Note& n = next();
  n.type = c.type;
  n.at = offsetIn(c.base, at);
  n.size = static_cast<u16>(size);
  n.from = From::RANGE;
  n.record = c.base;
  std::memcpy(n.value, &lo, sizeof lo);
  std::memcpy(n.value + sizeof lo, &hi, sizeof hi);
}

void dependsOn(const void* field, size_t size) {
  const Checked& c = checked();
  const u8* at = static_cast<const u8*>(field);
  if (c.base != nullptr && at >= c.base && at + size <= c.base + c.size) {
    noteInput(From::SENT, c.type, c.base, field, size, -1, -1);
  }
}

void withdrawSince(u32 mark) {
  const u32 first = internal::written < RING ? 0 : internal::written - RING;
  for (u32 k = mark < first ? first : mark; k < internal::written; ++k) {
    Note& n = ring()[k % RING];
    if (n.from == From::RANGE) n.type = -1;  // of no record: neither it nor its inputs are published
  }
}

int count() { return internal::written < RING ? static_cast<int>(internal::written) : RING; }

const Note& noteAt(int i) {
  const u32 first = internal::written < RING ? 0 : internal::written % RING;
  return ring()[(first + static_cast<u32>(i)) % RING];
}

void clear() { internal::written = 0; }

u32 buildMark() { return BUILD_MARK; }

}  // namespace rules
