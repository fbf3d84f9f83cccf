#include "Driver/calllog.h"

#include "Driver/core/core.h"
#include "Lib/Include/check.h"

namespace calllog {

bool g_active = false;

namespace {

struct Ring {
  Call calls[CAPACITY];
  size_t next = 0;   // slot of the next call
  size_t count = 0;  // calls held
  size_t total = 0;  // calls noted since the last clear
};

Ring& ring() {
  static Ring r;
  return r;
}

}  // namespace

void enable(bool on) {
  if (on) clear();
  g_active = on;
}

void clear() {
  Ring& r = ring();
  r.next = r.count = r.total = 0;
}

size_t size() { return ring().count; }
size_t total() { return ring().total; }

const Call& at(size_t i) {
  const Ring& r = ring();
  MX_CHECK(i < r.count);
  return r.calls[(r.next + CAPACITY - r.count + i) % CAPACITY];
}

Call* begin(const char* function, int target) {
  if (!g_active) return nullptr;
  Ring& r = ring();
  Call& c = r.calls[r.next];
  c.function = function;
  c.context = mxCurrentContext();
  c.target = target;
  c.count = 0;
  r.next = (r.next + 1) % CAPACITY;
  if (r.count < CAPACITY) ++r.count;
  ++r.total;
  return &c;
}

void add(Call* call, float value) {
  if (call != nullptr && call->count < MAX_ARGS) call->args[call->count++] = value;
}

void add(Call* call, const float* values, int n) {
  for (int i = 0; i < n; ++i) add(call, values != nullptr ? values[i] : 0.0f);
}

void note(const char* function, int target, std::initializer_list<float> args) {
  Call* c = begin(function, target);
  for (float v : args) add(c, v);
}

}  // namespace calllog
