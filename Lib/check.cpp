#include "Lib/Include/check.h"

#include "Lib/Include/log.h"

namespace assert {

void check(const char* file, int line, const char* exprText, bool cond) {
  if (cond) return;
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s\n", file, line, exprText);
  throwAssertException(file, line);
}

void checkValue(const char* file, int line, const char* exprText, int value, const char* expectedText, int expected) {
  if (value == expected) return;
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s is %d must be %s\n", file, line, exprText, value, expectedText);
  throwAssertException(file, line);
}

void checkFloatValue(const char* file, int line, const char* exprText, float value, const char* expectedText,
                     float expected) {
  // The bounds are computed in single precision, as the target does.
  float low = expected - 1e-5f;
  float high = expected + 1e-5f;
  if (value >= low && value <= high) return;
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s is %f must be %s\n", file, line, exprText, static_cast<double>(value),
         expectedText);
  throwAssertException(file, line);
}

void throwAssertException(const char* file, int line) { throw AssertException(file, line); }

}  // namespace assert
