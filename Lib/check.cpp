#include "Lib/Include/check.h"

#include "Lib/Include/log.h"

namespace assert {

void checkFailed(const char* file, int line, const char* exprText) {
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s\n", file, line, exprText);
  throwAssertException(file, line);
}

void checkValueFailed(const char* file, int line, const char* exprText, int value, const char* expectedText) {
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s is %d must be %s\n", file, line, exprText, value, expectedText);
  throwAssertException(file, line);
}

void checkFloatValueFailed(const char* file, int line, const char* exprText, float value, const char* expectedText) {
  MX_LOG(libmx::ERR, "Assertion failed: %s(%d) %s is %f must be %s\n", file, line, exprText, static_cast<double>(value),
         expectedText);
  throwAssertException(file, line);
}

void throwAssertException(const char* file, int line) { throw AssertException(file, line); }

}  // namespace assert
