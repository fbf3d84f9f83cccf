#pragma once
// Driver call log: the setters that the transition engine, the keyers and the test patterns call
// note each call (function, selected ME context, target, arguments) in a bounded ring while a test
// has switched the log on; switched off, a setter pays one test of a flag. The setters' own checks
// run either way.
#include <cstddef>
#include <initializer_list>

#include "Lib/Include/types.h"

namespace calllog {

// Enough for two 3 x 3 transforms and an effect id.
constexpr int MAX_ARGS = 19;
// The ring keeps the most recent calls.
constexpr size_t CAPACITY = 8192;

struct Call {
  const char* function;  // the setter's name, e.g. "mxTransSetType"
  int context;           // the ME context selected at the call (MX_CONTEXT_ME1 + ME)
  int target;            // MX_BKGD for the background setters without a target argument
  int count;             // arguments after the target
  float args[MAX_ARGS];
};

extern bool g_active;
inline bool active() { return g_active; }

// Switching on empties the log; switching off keeps what it holds.
void enable(bool on);
void clear();
// Calls held (at most CAPACITY), the oldest first; total counts the dropped ones too.
size_t size();
size_t total();
const Call& at(size_t i);

void note(const char* function, int target, std::initializer_list<float> args);
// For setters with arrays: begin() opens an entry (nullptr while the log is off), add() appends
// values to it (n values of a null array count as zeros; values beyond MAX_ARGS are dropped).
Call* begin(const char* function, int target);
void add(Call* call, const float* values, int n);
void add(Call* call, float value);

}  // namespace calllog

// Notes the enclosing setter's call when the log is on.
#define MX_NOTE_CALL(target, ...)                                                \
  do {                                                                           \
    if (::calllog::active()) ::calllog::note(__func__, (target), {__VA_ARGS__}); \
  } while (0)
// Notes n values of an array argument.
#define MX_NOTE_ARRAY(target, values, n)                                                         \
  do {                                                                                           \
    if (::calllog::active()) ::calllog::add(::calllog::begin(__func__, (target)), (values), (n)); \
  } while (0)
